// Sequences of fuzzed MFT file records handed to the deep NTFS engine the way
// the deep scan hands them, then its consolidation: whatever the records say
// (parent loops, runs far outside the image, forged $MFT records), the engine
// must neither crash nor read outside its buffers nor loop without end.
#include <cstddef>
#include <cstdint>

#include "engines/engine_factory.h"
#include "engines/professional_ntfs_recovery.h"
#include "fuzz/deep_fuzz_support.h"

using namespace sorvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    auto image = fuzzing::WriteImage(data, size, 64 * 1024);
    fuzzing::FreshScanFolder();
    CProfessionalNtfsRecovery engine;
    if (OpenOnImage(engine, image, 1) != 0) return 0;
    const std::string name = "Pro_Ntfs_fuzz";
    if (engine.StartScanLog(&name) != 0) return 0;
    const size_t recordSize = engine.RecordSize();
    for (size_t off = 0; off + recordSize <= size; off += recordSize) {
        engine.OnFileRecord(data + off, recordSize, off / 512);
    }
    engine.Consolidate();
    FoundItemList root;
    static_cast<void>(engine.ListChildren(nullptr, 0, root));  // any answer will do; it must not crash
    return 0;
}
