// One thing the user can scan: a partition of an external disk, a partition
// inside a whole-disk image file, or an image file of one volume. The target
// owns the engine of its last scan, which answers the search, preview and
// recovery calls until the target is scanned again.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/disk_volume_list.h"
#include "engines/file_recovery_parse.h"

namespace sorvane::app {

struct ScanTarget {
    // The partition's record; none for an image file scanned as one volume.
    std::optional<VolumeEntry> partition;
    std::unique_ptr<IFileRecoveryParse> engine;
    // The image file; empty for a partition of a real disk.
    std::filesystem::path imagePath;
    // Stands in for the volume number for images and partitions inside them:
    // a running number per run, kept clear of the numbers real volumes get.
    uint16_t imageVolumeKey = 0;

    bool IsImage() const { return !imagePath.empty() || !partition; }
    // A partition inside an image file: read through the image's drive entry.
    bool IsImagePartition() const { return !imagePath.empty() && partition.has_value(); }
    // The key every found record of this target carries in its letter field.
    uint16_t VolumeKey() const {
        return partition && partition->letter != 0 && imageVolumeKey == 0 ? partition->letter
                                                                          : imageVolumeKey;
    }

    // The scanned volume's size and sector size, for the conditions of its
    // files (ConditionOf); 0 bytes when the size cannot be told.
    uint64_t VolumeBytes() const;
    uint32_t SectorSize() const;

    // Creates and opens the engine for this target (deep or quick). None when
    // the target cannot be read or, in quick mode, holds no known file system.
    std::unique_ptr<IFileRecoveryParse> CreateEngine(bool deep) const;
};

// The target among `targets` that owns records with this volume key: the
// first whose key matches, or null.
ScanTarget* TargetOfVolumeKey(const std::vector<ScanTarget*>& targets, uint16_t key);

// "NTFS", "FAT32", "FAT", "exFAT" or "" for the volume whose first sector this is.
std::string FileSystemOfBootSector(const uint8_t* sector, size_t length);

// The partitions of a whole-disk image (MBR or GPT) as targets, with volume
// keys from `nextKey` on; empty when the image holds no partition table.
// `imageDrive` is the image's drive index (DriveTable::AddImage).
std::vector<ScanTarget> ImagePartitionTargets(const std::filesystem::path& image, int imageDrive,
                                              uint16_t& nextKey);

}  // namespace sorvane::app
