// Test helpers for the carving tests: a sparse image file with bytes placed at
// sector offsets, hand-made sectors for the types no tool on the system makes,
// and the folder of real files made by carving/testdata/make_real_files.sh.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "carving/carved_file_measure.h"
#include "carving/file_signature.h"
#include "device/byte_view.h"
#include "device/disk_reader.h"
#include "tests/testkit/testkit.h"

namespace sorvane::carvingtest {

using Bytes = std::vector<uint8_t>;
inline constexpr uint32_t kSectorSize = 512;

inline Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }
inline void Append(Bytes& to, const Bytes& more) { to.insert(to.end(), more.begin(), more.end()); }

// A sparse image of `sectors` zero sectors; Put writes bytes at a sector.
class TestImage {
  public:
    TestImage(const std::filesystem::path& path, uint64_t sectors) : path_(path) {
        std::ofstream(path_, std::ios::binary | std::ios::trunc).close();
        std::filesystem::resize_file(path_, sectors * kSectorSize);
    }
    void Put(uint64_t sector, const Bytes& bytes) {
        std::fstream f(path_, std::ios::binary | std::ios::in | std::ios::out);
        f.seekp(static_cast<std::streamoff>(sector * kSectorSize));
        f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    Bytes Read(uint64_t sector, uint64_t bytes) const {
        Bytes out(bytes);
        std::ifstream f(path_, std::ios::binary);
        f.seekg(static_cast<std::streamoff>(sector * kSectorSize));
        f.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(bytes));
        out.resize(static_cast<size_t>(f.gcount()));
        return out;
    }
    Bytes Sector(uint64_t sector) const { return Read(sector, kSectorSize); }
    // Opens `reader` on the image.
    void Open(DiskReader& reader) const { ASSERT_EQ(OpenImageReader(path_, reader), 0); }
    const std::filesystem::path& Path() const { return path_; }

  private:
    std::filesystem::path path_;
};

// Points `job` at `reader` with the file being measured starting at `sector`.
inline void SetJobFor(CarveJob& job, DiskReader* reader, uint64_t sector) {
    job.reader = reader;
    job.sectorSize = kSectorSize;
    job.startSector = sector;
    job.currentSector = sector;
}

// A request to identify the file at `sector` of `reader`, whose first sector is `first`.
inline CarveRequest RequestAt(DiskReader* reader, const Bytes& first, uint64_t sector,
                              uint64_t totalSectors) {
    CarveRequest request;
    request.sectorSize = kSectorSize;
    request.reader = reader;
    request.buffer = first.data();
    request.length = first.size();
    request.startSector = sector;
    request.totalSectors = totalSectors;
    return request;
}

// ---- hand-made files for types no tool here produces -----------------------

inline void PutU32Be(Bytes& b, size_t off, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[off + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

// A JFIF JPEG of `size` bytes (at least 24) that ends with FF D9.
inline Bytes MakeJpeg(size_t size, uint8_t fill = 0x11) {
    Bytes b(size, fill);
    const uint8_t head[] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00, 0x01};
    std::memcpy(b.data(), head, sizeof head);
    b[size - 2] = 0xFF;
    b[size - 1] = 0xD9;
    return b;
}

// A BMP header of a 1 x 1 picture of 24-bit pixels whose size field says `size`.
inline Bytes MakeBmpHeader(uint32_t size) {
    Bytes b(54, 0);
    b[0] = 'B';
    b[1] = 'M';
    PutU32(b.data() + 2, size);
    PutU32(b.data() + 10, 54);
    PutU32(b.data() + 14, 40);
    PutU32(b.data() + 18, 1);
    PutU32(b.data() + 22, 1);
    PutU16(b.data() + 26, 1);
    PutU16(b.data() + 28, 24);
    return b;
}

// A PE header with the given characteristics (0x0002 executable, 0x2000 DLL, 0x1000 system).
inline Bytes MakePe(uint16_t characteristics) {
    Bytes b(1024, 0);
    b[0] = 'M';
    b[1] = 'Z';
    PutU32(b.data() + 60, 0x80);
    std::memcpy(b.data() + 0x80, "PE\0\0", 4);
    PutU16(b.data() + 0x80 + 22, characteristics);
    return b;
}

// A format-1 MIDI file with `tracks` tracks of `trackBytes` bytes each.
inline Bytes MakeMidi(uint16_t tracks, uint32_t trackBytes) {
    Bytes b = Text("MThd");
    Bytes head(10, 0);
    PutU32Be(head, 0, 6);
    head[5] = 1;
    head[6] = static_cast<uint8_t>(tracks >> 8);
    head[7] = static_cast<uint8_t>(tracks);
    head[9] = 96;
    Append(b, head);
    for (uint16_t t = 0; t < tracks; ++t) {
        Append(b, Text("MTrk"));
        Bytes len(4, 0);
        PutU32Be(len, 0, trackBytes);
        Append(b, len);
        Bytes data(trackBytes, static_cast<uint8_t>(0x40 + t));
        if (trackBytes >= 4) {
            data[trackBytes - 3] = 0xFF;  // end-of-track meta event
            data[trackBytes - 2] = 0x2F;
            data[trackBytes - 1] = 0x00;
        }
        Append(b, data);
    }
    return b;
}

// A RAR 4 archive of a marker block, an archive header, some stored bytes and
// the end-of-archive block.
inline Bytes MakeRar(size_t bodyBytes) {
    Bytes b = {'R',  'a',  'r',  '!',  0x1A, 0x07, 0x00, 0xCF, 0x90, 0x73,
               0x00, 0x00, 0x0D, 0x00, 0,    0,    0,    0,    0,    0};
    Bytes body(bodyBytes, 0x5A);
    Append(b, body);
    Append(b, {0xC4, 0x3D, 0x7B, 0x00, 0x40, 0x07, 0x00});
    return b;
}

// A compound file of 512-byte sectors: the header, `dataSectors` sectors of
// one stream (file sectors 0...; the first starts with `firstWord`), one
// allocation sector and one directory sector whose root entry carries
// `rootClass` and whose second entry names the stream `streamName`.
inline Bytes MakeCompoundFile(const std::string& streamName, uint32_t dataSectors,
                              const uint8_t* rootClass = nullptr, uint16_t firstWord = 0x1234) {
    const uint32_t fatSector = dataSectors, dirSector = dataSectors + 1;
    const uint32_t total = 1 + dataSectors + 2;  // header plus file sectors
    Bytes b(size_t{total} * 512, 0);
    const uint8_t magic[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::memcpy(b.data(), magic, 8);
    PutU16(b.data() + 24, 0x3E);
    PutU16(b.data() + 26, 3);
    PutU16(b.data() + 28, 0xFFFE);
    PutU16(b.data() + 30, 9);
    PutU16(b.data() + 32, 6);
    PutU32(b.data() + 44, 1);  // one allocation sector
    PutU32(b.data() + 48, dirSector);
    PutU32(b.data() + 56, 4096);        // mini-stream cutoff
    PutU32(b.data() + 60, 0xFFFFFFFE);  // no mini allocation table
    PutU32(b.data() + 68, 0xFFFFFFFE);  // no extra index sectors
    for (int i = 0; i < 109; ++i) PutU32(b.data() + 76 + 4 * i, 0xFFFFFFFF);
    PutU32(b.data() + 76, fatSector);
    auto fileSector = [&](uint32_t n) { return b.data() + 512 * (size_t{n} + 1); };
    uint8_t* fat = fileSector(fatSector);
    for (int i = 0; i < 128; ++i) PutU32(fat + 4 * i, 0xFFFFFFFF);
    for (uint32_t s = 0; s < dataSectors; ++s) PutU32(fat + 4 * s, s + 1 < dataSectors ? s + 1 : 0xFFFFFFFE);
    PutU32(fat + 4 * fatSector, 0xFFFFFFFD);
    PutU32(fat + 4 * dirSector, 0xFFFFFFFE);
    uint8_t* dir = fileSector(dirSector);
    auto name = [](uint8_t* entry, const std::string& text) {
        for (size_t i = 0; i < text.size(); ++i) entry[2 * i] = static_cast<uint8_t>(text[i]);
        PutU16(entry + 64, static_cast<uint16_t>(2 * (text.size() + 1)));
    };
    for (int e = 0; e < 4; ++e) {
        PutU32(dir + 128 * e + 68, 0xFFFFFFFF);
        PutU32(dir + 128 * e + 72, 0xFFFFFFFF);
        PutU32(dir + 128 * e + 76, 0xFFFFFFFF);
    }
    name(dir, "Root Entry");
    dir[66] = 5;
    PutU32(dir + 76, 1);
    if (rootClass) std::memcpy(dir + 80, rootClass, 16);
    PutU32(dir + 116, 0xFFFFFFFE);
    uint8_t* stream = dir + 128;
    name(stream, streamName);
    stream[66] = 2;
    PutU32(stream + 116, dataSectors ? 0 : 0xFFFFFFFE);
    PutU32(stream + 120, dataSectors * 512);
    for (uint32_t s = 0; s < dataSectors; ++s) std::memset(fileSector(s), 0x20 + (s % 50), 512);
    if (dataSectors) PutU16(fileSector(0), firstWord);
    return b;
}

// A ZIP local header naming `name` at the start, padded to `size` bytes.
inline Bytes MakeZipStart(const std::string& name, size_t size = 512) {
    Bytes b(size, 0x33);
    const uint8_t sig[4] = {0x50, 0x4B, 0x03, 0x04};
    std::memcpy(b.data(), sig, 4);
    std::memset(b.data() + 4, 0, 26);
    PutU16(b.data() + 26, static_cast<uint16_t>(name.size()));
    std::memcpy(b.data() + 30, name.data(), name.size());
    return b;
}

// `packets` transport-stream packets (188 bytes each, 0x47 first).
inline Bytes MakeTransportStream(size_t packets) {
    Bytes b(packets * 188, 0xFF);
    for (size_t p = 0; p < packets; ++p) {
        b[p * 188] = 0x47;
        b[p * 188 + 1] = 0x41;
        b[p * 188 + 2] = 0x00;
        b[p * 188 + 3] = static_cast<uint8_t>(0x10 | (p & 0x0F));
    }
    return b;
}

// ---- real files --------------------------------------------------------------

// The folder of files made by the script `script` (in carving/testdata), made
// once per build tree and reused while the script is unchanged. Empty when it
// cannot be made. Tests run in parallel, so the files are made in a folder of
// this process's own and renamed into place whole: no test sees a folder that
// another is still filling or has just started again.
inline std::filesystem::path MadeFilesDir(const std::string& script) {
    std::filesystem::path path = std::filesystem::path(SORVANE_SOURCE_DIR) / "carving/testdata" / script;
    std::string hash = testkit::FileSha256(path);
    if (hash.empty()) return std::filesystem::path();
    std::filesystem::path folder =
        std::filesystem::path(SORVANE_BINARY_DIR) / "carving-real-files" / hash.substr(0, 16);
    if (std::filesystem::exists(folder / ".done")) return folder;
    std::error_code ignored;
    // A folder without its mark was left half made by an older build.
    if (std::filesystem::exists(folder) && !std::filesystem::exists(folder / ".done"))
        std::filesystem::remove_all(folder, ignored);
    std::filesystem::path own = folder;
    own += ".making-" + std::to_string(std::random_device()());
    std::filesystem::remove_all(own, ignored);
    std::string command = "bash " + testkit::ShellQuote(path.string()) + " " +
                          testkit::ShellQuote(own.string()) + " >/dev/null 2>&1";
    if (testkit::RunCommand(command) != 0) {
        std::filesystem::remove_all(own, ignored);
        return std::filesystem::path();
    }
    std::ofstream(own / ".done").put('\n');
    std::filesystem::rename(own, folder, ignored);
    // Whoever renamed first made the folder; a later one finds it taken.
    std::filesystem::remove_all(own, ignored);
    return std::filesystem::exists(folder / ".done") ? folder : std::filesystem::path();
}

// The folder of real files made by make_real_files.sh.
inline std::filesystem::path RealFilesDir() {
    static std::filesystem::path dir = MadeFilesDir("make_real_files.sh");
    return dir;
}

inline Bytes ReadRealFile(const std::string& name) {
    std::filesystem::path dir = RealFilesDir();
    if (dir.empty() || !std::filesystem::exists(dir / name)) return {};
    return testkit::ReadFile(dir / name);
}

}  // namespace sorvane::carvingtest
