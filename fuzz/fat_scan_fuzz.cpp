// A whole quick FAT scan and recovery over a small FAT12 volume whose table,
// root directory and data are the fuzzed bytes: chains that loop or run off
// the volume, directories that point anywhere, names of any bytes. The scan
// must end, and recovered files must stay below the destination.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "device/byte_view.h"
#include "engines/engine_factory.h"
#include "engines/fast_fat_recovery.h"
#include "results/scan_resume_store.h"

using namespace sorvane;

namespace {

const std::filesystem::path& Scratch() {
    static const std::filesystem::path dir = [] {
        auto d = std::filesystem::temp_directory_path() /
                 ("sorvane-fat-scan-fuzz-" + std::to_string(static_cast<long>(getpid())));
        std::filesystem::create_directories(d);
        setenv("SORVANE_DATA_DIR", (d / "data").c_str(), 1);
        return d;
    }();
    return dir;
}

// 128 sectors of 512 bytes, 1 sector per cluster, 1 reserved sector, two
// FATs of 1 sector, 16 root entries: the fuzzed bytes follow the boot sector.
std::vector<char> Volume(const uint8_t* data, size_t size) {
    std::vector<char> v(128 * 512, 0);
    uint8_t boot[64] = {0xEB, 0x3C, 0x90, 'm', 'k', 'f', 's', '.', 'f', 'a', 't'};
    PutU16(boot + 11, 512);
    boot[13] = 1;
    PutU16(boot + 14, 1);
    boot[16] = 2;
    PutU16(boot + 17, 16);
    PutU16(boot + 19, 128);
    boot[21] = 0xF8;
    PutU16(boot + 22, 1);
    for (size_t i = 0; i < sizeof boot; ++i) v[i] = static_cast<char>(boot[i]);
    v[510] = 0x55;
    v[511] = static_cast<char>(0xAA);
    for (size_t i = 0; i < size && 512 + i < v.size(); ++i) v[512 + i] = static_cast<char>(data[i]);
    return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 128 * 512) return 0;
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
        CFastFatRecovery engine;
        if (OpenOnImage(engine, image, 1) != 0) return 0;
        static_cast<void>(engine.Scan(nullptr));  // any answers will do; nothing may crash
        FoundItemList root;
        static_cast<void>(engine.ListChildren(nullptr, 0, root));
        int n = 0;
        for (const auto& r : root) {
            if (++n > 8) break;
            static_cast<void>(engine.RecoverItem(r, Scratch() / "out" / std::to_string(n), 0));
        }
        static_cast<void>(engine.LoadAllocationMap());
        uint64_t start = 0, length = 0;
        for (int i = 0; i < 16 && engine.NextFreeExtent(start, length) && length; ++i) start += length;
    }
    // Nothing may have been written outside the destination folder.
    for (const auto& e : std::filesystem::recursive_directory_iterator(Scratch(), ec)) {
        auto rel = e.path().lexically_relative(Scratch()).string();
        if (rel != "image.img" && rel.rfind("data", 0) != 0 && rel.rfind("out", 0) != 0) __builtin_trap();
    }
    return 0;
}
