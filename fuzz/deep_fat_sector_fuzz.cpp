// Sequences of fuzzed sectors handed to the deep FAT engine as directory
// starts and directory sectors at fuzzed positions, then its consolidation:
// geometry inference, long-name joining, high-word searches and folder
// levels must stay inside their buffers and bounds on any input.
#include <cstddef>
#include <cstdint>

#include "device/byte_view.h"
#include "engines/engine_factory.h"
#include "engines/professional_fat_recovery.h"
#include "fs/fat_directory_sector.h"
#include "fuzz/deep_fuzz_support.h"

using namespace sorvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4 || size > (1u << 20)) return 0;
    // The first 4 bytes place the sectors: a base sector and a stride.
    ByteView header(data, 4);
    const uint64_t base = header.U16(0);
    const uint64_t stride = 1 + header.U8(2) % 16;
    const bool registerBoot = header.U8(3) & 1;
    data += 4;
    size -= 4;
    auto image = fuzzing::WriteImage(data, size, 64 * 1024);
    fuzzing::FreshScanFolder();
    CProfessionalFatRecovery engine;
    FatDeepLimits limits;
    limits.maxStoredBytes = 256 * 512;  // small bounds reach the dropping paths
    limits.maxOrphans = 64;
    limits.maxFragments = 8;
    limits.maxSightings = 16;
    limits.maxGuesses = 8;
    engine.SetLimits(limits);
    if (OpenOnImage(engine, image, 1) != 0) return 0;
    const std::string name = "Pro_Fat_fuzz";
    if (engine.StartScanLog(&name) != 0) return 0;
    if (registerBoot) engine.RegisterBootSector();
    for (size_t off = 0, i = 0; off + 512 <= size; off += 512, ++i) {
        const uint8_t* sector = data + off;
        const uint64_t at = base + i * stride;
        if (IsFatDirectoryStart(sector, 512, 0))
            engine.OnDirectoryStart(sector, at);
        else
            engine.OnDirectorySector(sector, at);
    }
    engine.Consolidate();
    FoundItemList root;
    static_cast<void>(engine.ListChildren(nullptr, 0, root));  // any answer will do; it must not crash
    return 0;
}
