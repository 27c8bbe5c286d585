// Fuzzes the parse of one MFT file record as the quick NTFS scan does it:
// fixups, header, attribute walk, names, the attribute list and the decoding
// and placing of the $DATA run list; the same bytes also go through the boot
// sector parse and the LZNT1 decoder of compressed data.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fs/ntfs_lznt1.h"
#include "fs/ntfs_record.h"
#include "fs/ntfs_runlist.h"

using namespace sorvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    NtfsGeometry geometry;
    ParseNtfsBootSector(ByteView(data, size), geometry);
    // The same bytes as the stored clusters of a compression unit of 16 x 4 KiB.
    static uint8_t unit[65536];
    DecompressLznt1(ByteView(data, size), unit, sizeof unit);

    // Records are 1024 or 4096 bytes; the input fills one, the rest is zero.
    size_t recordSize = size > 1024 ? 4096 : 1024;
    std::vector<uint8_t> record(recordSize, 0);
    std::memcpy(record.data(), data, size < recordSize ? size : recordSize);
    ApplyFixups(record.data(), record.size());

    NtfsFileSummary summary;
    if (!SummarizeRecord(ByteView(record.data(), record.size()), summary)) return 0;
    (void)SummaryFileSize(summary);
    if (summary.hasData && summary.data.nonResident) {
        std::vector<NtfsRun> runs;
        DecodeRuns(summary.data.runList, runs);
        std::vector<NtfsExtent> extents;
        PlaceRuns(runs, summary.data.firstVcn, uint64_t{1} << 40, extents);
        (void)TotalRunClusters(extents);
    }
    if (summary.hasAttributeList) {
        std::vector<NtfsAttributeListEntry> entries;
        if (summary.attributeList.nonResident) {
            std::vector<NtfsRun> runs;
            DecodeRuns(summary.attributeList.runList, runs);
        } else {
            ParseAttributeList(summary.attributeList.value, entries);
        }
    }
    return 0;
}
