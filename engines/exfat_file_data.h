// What the quick and the deep exFAT engines share about one found file: the
// meaning of the engine-specific bits of their records, the record made from
// an entry set, and the copy of a file's data with the bytes past its valid
// data length written as zeros.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "carving/content_check.h"
#include "carving/progress_callbacks.h"
#include "device/disk_reader.h"
#include "engines/log_engine_base.h"
#include "fs/exfat_volume.h"
#include "results/file_condition.h"
#include "results/found_item_record.h"

namespace sorvane {

// Engine-specific bits of exFAT records.
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
// NoFatChain file; the FAT chain when it is still whole (exactly as long as
// the data, ending in the end mark, no cluster in use); else the contiguous
// run from the first cluster, as a deleted file's chain is gone.
std::vector<uint32_t> ExfatClustersOfFoundFile(ExfatVolume& volume, uint32_t firstCluster,
                                               uint64_t dataLength, bool noFatChain);

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
// clusters as ExfatClustersOfFoundFile does and copies them. `volumeBase` is
// the byte where the volume starts in the source, `sourceSectorSize` the size
// of the sectors the record's location counts.
int CopyExfatRecord(ExfatVolume& volume, const FoundItemRecord& record, uint64_t volumeBase,
                    uint32_t sourceSectorSize, const FileCopyTarget& target);

}  // namespace sorvane
