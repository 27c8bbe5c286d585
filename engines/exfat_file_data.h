// What the quick and the deep exFAT engines share about one found file: the
// meaning of the engine-specific bits of their records, the record made from
// an entry set, and the copy of a file's data with the bytes past its valid
// data length written as zeros.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string_view>
#include <vector>

#include "carving/content_check.h"
#include "carving/fragment_search.h"
#include "carving/progress_callbacks.h"
#include "device/disk_reader.h"
#include "engines/fragment_search_budget.h"
#include "engines/log_engine_base.h"
#include "fs/exfat_volume.h"
#include "results/file_condition.h"
#include "results/found_item_record.h"

namespace sorvane {

// Engine-specific bits of exFAT records.
// Files: bits 24-27 hold the pieces a deleted file was put back together
// from (SetRebuiltPieces, results/file_condition.h).
// Folders: set when the folder or one of its ancestors is a deleted folder.
inline constexpr uint32_t kExfatFolderDeleted = 1u << 0;
// Files: kExfatDamaged (results/file_condition.h), bit 0.
// Files: the entry set says the data is one contiguous run.
inline constexpr uint32_t kExfatNoFatChain = 1u << 1;
// Files: the entry set itself is deleted (else it is a live set inside a deleted folder).
inline constexpr uint32_t kExfatDeletedSet = 1u << 2;
// Files and folders: the times are wall-clock times (the entry carried no UTC offset).
inline constexpr uint32_t kExfatWallClockTimes = 1u << 3;
// Files: bits 8-15 hold the index of the file entry within its sector.
inline constexpr uint32_t kExfatEntryIndexShift = 8;

// The record fields an entry set gives: name, times, size, first cluster
// (as key), folder flag, and the engine-specific bits for the set itself.
// The times a recovered exFAT file is given: kept as the writer's local wall
// clock when the entry set had no time zone, else as UTC.
ItemTimes ExfatRecordTimes(const FoundItemRecord& record);

void FillExfatRecord(const ExfatEntrySet& set, FoundItemRecord& record);

// The clusters a listed file's data is read from: the contiguous run for a
// NoFatChain file; the FAT chain when it is still whole (ExfatWholeChain);
// else the contiguous run from the first cluster, as a deleted file's chain
// is gone.
std::vector<uint32_t> ExfatClustersOfFoundFile(ExfatVolume& volume, uint32_t firstCluster,
                                               uint64_t dataLength, bool noFatChain);

// The FAT chain from `firstCluster` when it is still whole: exactly as long
// as `dataLength` bytes need, ending in the end mark, no cluster in use.
// Empty otherwise: some systems clear a deleted file's chain, others keep it.
std::vector<uint32_t> ExfatWholeChain(ExfatVolume& volume, uint32_t firstCluster, uint64_t dataLength);

// The first cluster after `cluster` the allocation bitmap shows free (every
// heap cluster counts as free without a bitmap); 0 when the heap ends first.
uint32_t ExfatNextFreeCluster(const ExfatVolume& volume, uint32_t cluster);

// The order of the clusters of a deleted file of `dataLength` bytes and
// lower-case extension `extension` whose FAT chain is gone: the free clusters
// from `firstCluster` on, or, where the file's structure says they go wrong,
// the two pieces that make it check out (carving/fragment_search.h). The
// same volume gives the same order, so a scan and a later copy agree.
PiecedFile ExfatFreeClusterOrder(ExfatVolume& volume, uint32_t firstCluster, uint64_t dataLength,
                                 std::string_view extension, const FragmentSearchLimits& limits);

// Where a found file's data lies and what the volume and the file's own
// structure say of it.
struct ExfatFileData {
    std::vector<uint32_t> clusters;  // the clusters a copy reads, in order
    bool damaged = false;            // in use again, too few, or its structure goes wrong
    ContentVerdict verdict = ContentVerdict::kNotChecked;
    // How many runs of consecutive clusters the file was put back together
    // from, when its structure checked out across two or more (a chain
    // still in the FAT, or the search over the free clusters); else 0.
    uint32_t pieces = 0;
};

// Judges the data of the file of entry set `set` (a deleted file, or one in
// a deleted folder) on `volume`, whose heap starts at `heapStartSector` of
// `reader`'s sectors of `sectorSize` bytes. A file in a FAT chain that is no
// longer whole is put back together from the free clusters where its type
// has a structure check, within the scan's share of time in `budget`; a copy
// finds the same clusters through ExfatClustersOfRecord.
ExfatFileData JudgeExfatFileData(ExfatVolume& volume, DiskReader* reader, uint32_t sectorSize,
                                 uint64_t heapStartSector, const ExfatEntrySet& set,
                                 FragmentSearchBudget& budget);

// The clusters the copy of the file of an exFAT record reads: those
// JudgeExfatFileData found when it put the file back together (the search
// runs again, to its end), else ExfatClustersOfFoundFile.
std::vector<uint32_t> ExfatClustersOfRecord(ExfatVolume& volume, const FoundItemRecord& record);

// True when `dataLength` bytes from `firstCluster` on fit in the heap; a
// deleted entry claiming more cannot be whole (and its cluster list is not
// worth building).
bool ExfatDataFitsHeap(const ExfatGeometry& geometry, uint32_t firstCluster, uint64_t dataLength);

// True when any of `clusters` is in use, or the run is shorter than the data.
bool ExfatClustersReused(const ExfatVolume& volume, const std::vector<uint32_t>& clusters,
                         uint64_t dataLength);

// What the structure of a deleted file whose data is one run of `clusters`
// (the heap starting at `heapStartSector` of `reader`'s sectors) says of it:
// free clusters may have been written since the file was deleted.
// kNotChecked for data in pieces, only partly valid, very large, or of a type
// whose structure is not read.
ContentVerdict CheckExfatRunStructure(DiskReader* reader, uint32_t sectorSize, uint64_t heapStartSector,
                                      uint64_t clusterBytes, const ExfatEntrySet& set,
                                      const std::vector<uint32_t>& clusters);

// Copies `dataLength` bytes of a file to `target`: the clusters' bytes up to
// `validDataLength`, zeros after it. Returns 0, 30 (before writing anything)
// when the clusters cannot hold the data length, 30 when one cannot be read,
// or the target's non-zero answer.
int CopyExfatFileData(ExfatVolume& volume, const std::vector<uint32_t>& clusters, uint64_t dataLength,
                      uint64_t validDataLength, const FileCopyTarget& target);

// Copies the file of an exFAT record: reads its entry set again at the
// record's location for the valid data length (when the set is no longer the
// one the record was made from, the whole length counts as valid), finds its
// clusters as ExfatClustersOfRecord does and copies them. `volumeBase` is
// the byte where the volume starts in the source, `sourceSectorSize` the size
// of the sectors the record's location counts.
int CopyExfatRecord(ExfatVolume& volume, const FoundItemRecord& record, uint64_t volumeBase,
                    uint32_t sourceSectorSize, const FileCopyTarget& target);

}  // namespace sorvane
