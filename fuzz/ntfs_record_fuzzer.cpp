// Fuzzes the parse of one MFT file record as the quick NTFS scan does it:
// fixups, header, attribute walk, names, the attribute list and the decoding
// and placing of the $DATA run list; the same bytes also go through the boot
// sector parse and the LZNT1 decoder of compressed data, and the record's data
// stream is read from a small volume made of the input bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fs/ntfs_data_stream.h"
#include "fs/ntfs_lznt1.h"
#include "fs/ntfs_record.h"
#include "fs/ntfs_runlist.h"

using namespace sorvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Only crashes and undefined behaviour count here; whether the bytes parse does not.
    NtfsGeometry geometry;
    (void)ParseNtfsBootSector(ByteView(data, size), geometry);
    // The same bytes as the stored clusters of a compression unit of 16 x 4 KiB.
    static uint8_t unit[65536];
    (void)DecompressLznt1(ByteView(data, size), unit, sizeof unit);

    // Records are 1024 or 4096 bytes; the input fills one, the rest is zero.
    size_t recordSize = size > 1024 ? 4096 : 1024;
    std::vector<uint8_t> record(recordSize, 0);
    std::memcpy(record.data(), data, size < recordSize ? size : recordSize);
    (void)ApplyFixups(record.data(), record.size());

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
    if (summary.hasData) {
        // 64 clusters of 512 bytes, the input repeated.
        static std::vector<uint8_t> disk(64 * 512);
        for (size_t i = 0; i < disk.size(); ++i) disk[i] = size ? data[i % size] : 0;
        NtfsStreamVolume volume;
        volume.clusterBytes = 512;
        volume.volumeBytes = disk.size();
        volume.read = [](uint64_t offset, void* buffer, size_t length) {
            if (offset > disk.size() || length > disk.size() - offset) return 30;
            std::memcpy(buffer, disk.data() + offset, length);
            return 0;
        };
        NtfsDataLayout layout;
        if (summary.data.nonResident)
            AddNtfsDataPiece(summary.data, 64, layout);
        else
            SetResidentNtfsData(summary.data, layout);
        (void)ReadNtfsData(layout, volume, [](const uint8_t*, size_t) { return 0; });
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
