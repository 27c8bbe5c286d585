// Real files made by real tools, written at sector offsets into an image and
// carved by the engine in a pass like the deep scan's: every type is found
// with the right code and extension, and the types measured by a footer or a
// header field come back byte for byte.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

#include "carving/carving_test_support.h"
#include "engines/file_type_recovery.h"
#include "results/scan_resume_store.h"

namespace sorvane {
namespace {

using namespace carvingtest;

enum class Measure {
    kExact,     // footer or header field: the whole file and nothing more
    kWalk,      // walked to the next file: the file and the zero gap after it
    kToFooter,  // ends right after its footer text (%%EOF), before any trailing bytes
    kTables,    // a font: the end of its last table, before the final padding
    kOwnFrame,  // walked, but cut where one of its own frames starts a sector (MP2)
};

struct Sample {
    std::string file;  // in the real-files folder; empty for hand-made bytes
    FileTypeCode code;
    const char* extension;
    Measure measure;
    Bytes handMade;
};

Bytes HandMadeMts() {
    // 192-byte packets: a 4-byte arrival time stamp, then a transport packet.
    // The first one carries the program association table.
    Bytes b;
    for (uint32_t p = 0; p < 30; ++p) {
        Bytes packet(192, 0xFF);
        PutU32Be(packet, 0, p * 1000);
        const uint8_t pat[12] = {0x47, 0x40, 0x00, 0x10, 0x00, 0x00, 0xB0, 0x11, 0x00, 0x00, 0xC1, 0x00};
        const uint8_t video[4] = {0x47, 0x50, 0x11, 0x10};
        if (p == 0)
            std::memcpy(packet.data() + 4, pat, 12);
        else
            std::memcpy(packet.data() + 4, video, 4);
        Append(b, packet);
    }
    return b;
}

Bytes HandMadeWithMagic(const Bytes& magic, size_t size, uint8_t fill) {
    Bytes b = magic;
    b.resize(size, fill);
    return b;
}

class RealFilesTest : public ::testing::Test {
  protected:
    void SetUp() override { CScanResumeStore::ResetInstanceForTests(); }
    void TearDown() override { CScanResumeStore::ResetInstanceForTests(); }
    testkit::TempDir dir_;
    testkit::ScopedDataDir data_;
};

TEST_F(RealFilesTest, EveryTypeIsFoundNamedAndMeasured) {
    if (RealFilesDir().empty()) GTEST_SKIP() << "the real files could not be made";
    Bytes pdfTail = Text("%PDF-1.4\n");
    std::vector<Sample> samples = {
        {"jfif.jpg", kTypeJpg, "jpg", Measure::kExact, {}},
        {"exif.jpg", kTypeJpg, "jpg", Measure::kExact, {}},
        {"picture.gif", kTypeGif, "gif", Measure::kExact, {}},
        {"picture.png", kTypePng, "png", Measure::kExact, {}},
        {"picture.bmp", kTypeBmp, "bmp", Measure::kExact, {}},
        {"picture.ico", kTypeIco, "ico", Measure::kExact, {}},
        {"picture.tif", kTypeTif, "tif", Measure::kExact, {}},
        {"picture.psd", kTypePsd, "psd", Measure::kExact, {}},
        // An MPEG walk passes over MPEG headers, so the two streams are kept apart.
        {"video.m1v", kTypeMpeg, "mpeg", Measure::kWalk, {}},
        {"movie.mp4", kTypeMp4, "mp4", Measure::kExact, {}},
        {"program.mpg", kTypeMpeg, "mpeg", Measure::kExact, {}},
        {"movie.3gp", kType3gp, "3gp", Measure::kExact, {}},
        {"movie.mov", kTypeMov, "mov", Measure::kExact, {}},
        {"movie.mkv", kTypeMkv, "mkv", Measure::kExact, {}},
        {"movie.mxf", kTypeMxf, "mxf", Measure::kExact, {}},
        {"movie.flv", kTypeFlv, "flv", Measure::kExact, {}},
        {"movie.rm", kTypeRmvb, "rmvb", Measure::kExact, {}},
        {"stream.ts", kTypeTs, "ts", Measure::kExact, {}},
        {"movie.wmv", kTypeWmv, "wmv", Measure::kExact, {}},
        {"movie.swf", kTypeSwf, "swf", Measure::kExact, {}},
        {"movie.avi", kTypeAvi, "avi", Measure::kExact, {}},
        {"sound.mp3", kTypeMp3, "mp3", Measure::kExact, {}},
        {"sound.mp2", kTypeMp2, "mp2", Measure::kExact, {}},
        {"sound.wav", kTypeWav, "wav", Measure::kExact, {}},
        {"store.db", kTypeDb, "db", Measure::kExact, {}},
        {"archive.zip", kTypeZip, "zip", Measure::kExact, {}},
        {"archive.7z", kType7z, "7z", Measure::kExact, {}},
        {"member.gz", kTypeGz, "gz", Measure::kExact, {}},
        {"archive.cab", kTypeCab, "cab", Measure::kExact, {}},
        {"font.ttf", kTypeTtf, "ttf", Measure::kExact, {}},
        {"letter.doc", kTypeDoc, "doc", Measure::kExact, {}},
        {"sheet.xls", kTypeXls, "xls", Measure::kExact, {}},
        {"slides.ppt", kTypePpt, "ppt", Measure::kExact, {}},
        {"letter.docx", kTypeDocx, "docx", Measure::kExact, {}},
        {"sheet.xlsx", kTypeXlsx, "xlsx", Measure::kExact, {}},
        {"slides.pptx", kTypePptx, "pptx", Measure::kExact, {}},
        {"letter.pdf", kTypePdf, "pdf", Measure::kExact, {}},
        // No tool on the system makes these.
        {"", kTypeMid, "mid", Measure::kExact, MakeMidi(2, 700)},
        {"", kTypeRar, "rar", Measure::kExact, MakeRar(5000)},
        {"", kTypeApe, "ape", Measure::kWalk, HandMadeWithMagic(Text("MAC "), 3000, 0x21)},
        {"", kTypeMmf, "mmf", Measure::kWalk, HandMadeWithMagic(Text("MMMD"), 2000, 0x21)},
        {"", kTypePst, "pst", Measure::kWalk, HandMadeWithMagic(Text("!BDN\x11\x22\x33\x44SM"), 2000, 0x21)},
        {"", kTypeDbx, "dbx", Measure::kWalk, HandMadeWithMagic({0xCF, 0xAD, 0x12, 0xFE}, 2000, 0x21)},
        {"", kTypeMts, "mts", Measure::kExact, HandMadeMts()},
        {"", kTypeFla, "fla", Measure::kWalk,
         HandMadeWithMagic({0xD0, 0xCF, 0x11, 0xE0, 0, 0, 0, 1}, 2000, 0x21)},
        {"", kTypeOle, "ole", Measure::kExact, MakeCompoundFile("Contents", 6)},
    };

    // Lay the files out with 8 zero sectors after each one.
    struct Placed {
        const Sample* sample;
        Bytes bytes;
        uint64_t sector;
    };
    std::vector<Placed> placed;
    std::vector<std::string> missing;
    uint64_t cursor = 16;
    for (const Sample& s : samples) {
        Bytes bytes = s.file.empty() ? s.handMade : ReadRealFile(s.file);
        if (bytes.empty()) {
            missing.push_back(s.file);
            continue;
        }
        placed.push_back({&s, bytes, cursor});
        cursor += (bytes.size() + 511) / 512 + 8;
    }
    if (!missing.empty()) {
        std::string list;
        for (const auto& m : missing) list += m + " ";
        std::printf("not made here (skipped): %s\n", list.c_str());
    }
    ASSERT_FALSE(placed.empty());
    uint64_t total = cursor + 16;
    TestImage image(dir_ / "real.img", total);
    for (const Placed& p : placed) image.Put(p.sector, p.bytes);
    std::string before = testkit::FileSha256(image.Path());

    DiskReader reader;
    image.Open(reader);
    CFileTypeRecovery engine;
    // Each file is told by the sector it starts at: the numbered names.
    engine.SetNamesFromMetadata(false);
    ASSERT_EQ(engine.AttachToImage(512, "File_Type_0_real", 3, image.Path()), 0);
    uint64_t found = 0;
    Bytes sector(512);
    for (uint64_t s = 0; s < total;) {
        uint32_t got = 0;
        ASSERT_EQ(ReadSectors(1, reader, sector.data(), s, 512, &got), 0);
        uint64_t consumed = 1;
        int rc = engine.RecordCarvedFile(512, sector.data(), 512, s, s, total, -1, &reader, consumed, found);
        ASSERT_TRUE(rc == 0 || rc == 87) << rc;
        s += consumed;
    }
    FoundItemList list;
    ASSERT_EQ(engine.ListChildren(nullptr, 0, list), 0);
    std::map<uint64_t, FoundItemRecord> byLocation;
    for (const auto& r : list) byLocation[uint64_t{r.location}] = r;

    for (size_t i = 0; i < placed.size(); ++i) {
        const Placed& p = placed[i];
        const Sample& s = *p.sample;
        std::string label = s.file.empty() ? std::string("hand-made ") + s.extension : s.file;
        SCOPED_TRACE(label);
        auto it = byLocation.find(p.sector);
        ASSERT_NE(it, byLocation.end()) << "not found";
        const FoundItemRecord& record = it->second;
        EXPECT_EQ(record.Name(), std::to_string(p.sector) + "." + s.extension);

        // The code the recogniser gives for the file's first sector.
        Bytes first = image.Sector(p.sector);
        CarveJob job;
        SetJobFor(job, &reader, p.sector);
        EXPECT_EQ(RecogniseSector(job, first.data(), first.size()), s.code);

        std::filesystem::path out = dir_.Path() / "out" / (std::to_string(i) + "." + s.extension);
        ASSERT_EQ(engine.RecoverItem(record, out, 0), 0);
        Bytes recovered = testkit::ReadFile(out);
        ASSERT_EQ(recovered.size(), +record.size);
        uint64_t gapEnd = (p.bytes.size() + 511) / 512 * 512 + 8 * 512;
        switch (s.measure) {
            case Measure::kExact:
                EXPECT_EQ(recovered, p.bytes) << "measured " << record.size << " of " << p.bytes.size();
                break;
            case Measure::kWalk:
                // The walk runs on through the zero gap to the next file.
                EXPECT_EQ(+record.size, gapEnd) << "file of " << p.bytes.size();
                ASSERT_GE(recovered.size(), p.bytes.size());
                EXPECT_TRUE(std::equal(p.bytes.begin(), p.bytes.end(), recovered.begin()));
                break;
            case Measure::kToFooter: {
                std::string text(p.bytes.begin(), p.bytes.end());
                size_t eof = text.rfind("%%EOF");
                ASSERT_NE(eof, std::string::npos);
                EXPECT_EQ(+record.size, eof + 5);
                EXPECT_TRUE(std::equal(recovered.begin(), recovered.end(), p.bytes.begin()));
                break;
            }
            case Measure::kOwnFrame: {
                // Every frame begins with the signature, so the walk ends at the
                // first frame that starts a sector; the pass then finds the rest
                // as further files.
                ASSERT_LT(+record.size, p.bytes.size());
                ASSERT_EQ(+record.size % 512, 0u);
                EXPECT_TRUE(std::equal(recovered.begin(), recovered.end(), p.bytes.begin()));
                EXPECT_EQ(RecogniseSector(job, p.bytes.data() + record.size, 512), s.code);
                break;
            }
            case Measure::kTables:
                EXPECT_LE(+record.size, p.bytes.size());
                EXPECT_GE(+record.size + 3, p.bytes.size());  // tables end within the last 4-byte padding
                EXPECT_TRUE(std::equal(recovered.begin(), recovered.end(), p.bytes.begin()));
                break;
        }
    }

    // Any other record lies inside a file whose sectors the pass examines one
    // by one (a compound file, a BMP, a WAV...).
    for (const auto& [location, record] : byLocation) {
        bool isStart = false, inside = false;
        for (const Placed& p : placed) {
            if (p.sector == location) isStart = true;
            uint64_t end = p.sector + (p.bytes.size() + 511) / 512;
            bool examinedInside =
                IsExaminedSectorBySector(p.sample->code) || p.sample->measure == Measure::kOwnFrame;
            if (location > p.sector && location < end && examinedInside) inside = true;
        }
        EXPECT_TRUE(isStart || inside) << "unexpected " << record.Name();
    }
    reader.Close();
    EXPECT_EQ(testkit::FileSha256(image.Path()), before);
}

}  // namespace
}  // namespace sorvane
