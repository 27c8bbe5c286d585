// Treats arbitrary bytes as the resume table "config": loading must stay inside
// the bytes, and every record that can be stored again must read back the same.
#include <cstddef>
#include <cstdint>
#include <span>

#include "results/scan_resume_store.h"

using namespace sorvane;

namespace {

bool Same(const ResumeRecord& a, const ResumeRecord& b) {
    return a.driveIndex == b.driveIndex && a.rangeStart == b.rangeStart && a.rangeLength == b.rangeLength &&
           a.runStart == b.runStart && a.runLength == b.runLength && a.runPosition == b.runPosition &&
           a.sectorsDone == b.sectorsDone && a.filesFound == b.filesFound && a.freeBytes == b.freeBytes &&
           a.imageTime == b.imageTime && a.imagePath == b.imagePath && a.scanFolder == b.scanFolder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uint64_t counter = 0;
    std::vector<ResumeRecord> records;
    int rc = ParseResumeTable(std::span<const uint8_t>(data, size), counter, records);
    if (rc != 0 && !records.empty()) __builtin_trap();
    uint8_t bytes[kResumeRecordSize];
    for (const ResumeRecord& r : records) {
        if (!EncodeResumeRecord(r, bytes)) continue;
        if (!Same(DecodeResumeRecord(bytes), r)) __builtin_trap();
    }
    return 0;
}
