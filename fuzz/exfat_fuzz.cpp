// exFAT readers under hostile bytes: the boot region choice, entry sets at
// every offset and fed in pieces, then a whole quick scan, the deep engine
// over every sector, and recovery, on a small volume whose FAT, allocation
// bitmap and folders are the fuzzed bytes (entry sets claiming 255 entries,
// clusters past the heap, loops in the FAT). Everything must end, and
// recovered files must stay below the destination.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engines/engine_factory.h"
#include "engines/fast_exfat_recovery.h"
#include "engines/professional_exfat_recovery.h"
#include "fs/exfat_boot_region.h"
#include "fs/exfat_entry_set.h"
#include "results/scan_resume_store.h"

using namespace sorvane;

namespace {

constexpr size_t kSectors = 160;
constexpr size_t kFatSector = 24;
constexpr size_t kHeapSector = 32;

const std::filesystem::path& Scratch() {
    static const std::filesystem::path dir = [] {
        auto d = std::filesystem::temp_directory_path() /
                 ("sorvane-exfat-fuzz-" + std::to_string(static_cast<long>(getpid())));
        std::filesystem::create_directories(d);
        setenv("SORVANE_DATA_DIR", (d / "data").c_str(), 1);
        return d;
    }();
    return dir;
}

void Put(std::vector<char>& v, size_t at, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) v[at + i] = static_cast<char>(value >> (8 * i));
}

// 512-byte sectors and clusters; the FAT at sector 24, the heap of 126
// clusters at sector 32, the root folder in cluster 2. The fuzzed bytes
// follow from the FAT on.
std::vector<char> Volume(const uint8_t* data, size_t size) {
    std::vector<char> v(kSectors * 512, 0);
    const char name[] = "EXFAT   ";
    for (int i = 0; i < 8; ++i) v[3 + i] = name[i];
    Put(v, 72, kSectors, 8);
    Put(v, 80, kFatSector, 4);
    Put(v, 84, 1, 4);
    Put(v, 88, kHeapSector, 4);
    Put(v, 92, 126, 4);
    Put(v, 96, 2, 4);
    v[108] = 9;
    v[109] = 0;
    v[110] = 1;
    v[510] = 0x55;
    v[511] = static_cast<char>(0xAA);
    for (size_t i = 0; i < size && kFatSector * 512 + i < v.size(); ++i)
        v[kFatSector * 512 + i] = static_cast<char>(data[i]);
    return v;
}

void Parsers(const uint8_t* data, size_t size) {
    ExfatGeometry g;
    ChooseExfatBootRegion(data, size, g);
    for (size_t at = 0; at + kExfatEntryBytes <= size; at += kExfatEntryBytes) {
        ExfatEntrySet set;
        ParseExfatEntrySet(data + at, size - at, set);
    }
    size_t sets = 0;
    ExfatDirectoryParser parser([&](const ExfatEntrySet&, uint64_t) { ++sets; });
    const size_t piece = size ? 1 + data[0] % 97 : 1;
    for (size_t at = 0; at < size; at += piece) parser.Feed(data + at, std::min(piece, size - at));
    parser.Finish();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (kSectors - kFatSector) * 512) return 0;
    Parsers(data, size);
    std::filesystem::path image = Scratch() / "image.img";
    std::vector<char> bytes = Volume(data, size);
    std::ofstream(image, std::ios::binary | std::ios::trunc)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    std::error_code ec;
    std::filesystem::remove_all(Scratch() / "data", ec);
    std::filesystem::remove_all(Scratch() / "out", ec);
    CScanResumeStore::ResetInstanceForTests();
    CScanResumeStore::Instance().NewScanFolder();
    {
        CFastExfatRecovery quick;
        if (OpenOnImage(quick, image, 1) == 0) {
            static_cast<void>(quick.Scan(nullptr));  // any answers will do; nothing may crash
            FoundItemList root;
            static_cast<void>(quick.ListChildren(nullptr, 0, root));
            int n = 0;
            for (const auto& r : root) {
                if (++n > 8) break;
                static_cast<void>(quick.RecoverItem(r, Scratch() / "out" / ("q" + std::to_string(n)), 0));
            }
            if (quick.LoadAllocationMap() == 0) {
                uint64_t start = 0, length = 0;
                for (int i = 0; i < 64 && quick.NextFreeExtent(start, length) && length; ++i) start += length;
            }
        }
        CProfessionalExfatRecovery deep;
        if (OpenOnImage(deep, image, 1) == 0 && deep.StartScanLog(nullptr) == 0) {
            deep.RegisterBootSector();
            const uint8_t* all = reinterpret_cast<const uint8_t*>(bytes.data());
            for (size_t s = kFatSector; s < kSectors; ++s)
                if (CProfessionalExfatRecovery::MayHoldEntrySets(all + s * 512, 512))
                    deep.OnSector(all + s * 512, bytes.size() - s * 512, s);
            deep.Consolidate();
            FoundItemList root;
            static_cast<void>(deep.ListChildren(nullptr, 0, root));
            int n = 0;
            for (const auto& r : root) {
                if (++n > 8) break;
                static_cast<void>(deep.RecoverItem(r, Scratch() / "out" / ("d" + std::to_string(n)), 0));
            }
        }
    }
    // Nothing may have been written outside the destination folder.
    for (const auto& e : std::filesystem::recursive_directory_iterator(Scratch(), ec)) {
        auto rel = e.path().lexically_relative(Scratch()).string();
        if (rel != "image.img" && rel.rfind("data", 0) != 0 && rel.rfind("out", 0) != 0) __builtin_trap();
    }
    return 0;
}
