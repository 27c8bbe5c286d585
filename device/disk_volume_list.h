// The list from which the user picks what to scan: for every disk, its
// partitions, the unallocated regions between and after them, and for a disk
// without partitions one entry for the whole disk.
//
// The partitions come from the system's description of the disk (mounted or
// not; see platform/disk_layout.h), their file system and label from the
// volumes' own boot sectors, the MBR type byte from the disk's partition table
// where the system does not give it, mount point, file-system name and space
// from the mounted volume. On Linux everything is read through the system
// root, so a fake tree with image files standing in for device nodes describes
// a machine completely; on Windows a fake device-control table does the same.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/volume_registry.h"

namespace sorvane {

// The letter field's value while a volume has not been numbered yet.
inline constexpr uint16_t kUnnumberedVolume = '*';

struct VolumeEntry {
    // The volume's key: its drive letter where it has one, else its running
    // number; 0 for regions and whole-disk entries.
    uint16_t letter = 0;
    // MBR type byte, or 7/11/6 for NTFS/FAT32/FAT; 0 when unknown, for regions
    // and for whole disks.
    uint8_t partitionType = 0;
    int32_t diskNumber = -1;       // drive index of the disk (DriveTable)
    int32_t partitionNumber = -1;  // the partition's number on its disk
    uint64_t totalBytes = 0;       // as the mounted file system reports it, else the length
    uint64_t usedBytes = 0;        // total - free
    uint64_t freeBytes = 0;        // 0 when not mounted; total for regions and whole disks
    uint64_t start = 0;            // first sector (after a refresh)
    uint64_t length = 0;           // in sectors (after a refresh)
    std::string fileSystemName;    // "NTFS", "FAT32", "FAT", "exFAT", ...; empty for regions
    std::string volumePath;        // the partition's device node
    std::string label;             // the volume label; empty for regions

    bool IsVolume() const { return letter != 0; }
};

class CDiskVolumeList {
  public:
    // Rebuilds the list and registers every volume under its number in the
    // VolumeRegistry. Returns 1, or 0 when the system's disks cannot be listed
    // (the list is then empty).
    [[nodiscard]] int RefreshDiskList();
    // Copies the next entry and returns 1, or returns 0 after the last one.
    // Entries come disk by disk (ascending disk number), then by start.
    [[nodiscard]] int NextVolumeEntry(VolumeEntry& entry);
    // Replaces `entries` with every entry in the same order; returns 1.
    int GetAllVolumeEntries(std::vector<VolumeEntry>& entries) const;
    // Sector size of the disk measured last.
    uint32_t BytesPerSector() const { return bytesPerSector_; }

  private:
    bool CollectVolumes();
    void AddGapsAndBareDisks();
    void NumberVolumes();

    std::map<int, std::vector<VolumeEntry>> disks_;
    // What the registry learns about each volume once it has its number, by node.
    std::map<std::string, VolumeInfo> pending_;
    uint32_t bytesPerSector_ = 512;
    int cursorDisk_ = 0;
    size_t cursorPosition_ = 0;
};

// Device numbers of drive `diskNumber` and of all its partitions, for telling
// whether a path lies on that disk. For an image drive, the loop devices the
// system reads from that image file, and their partitions.
std::vector<uint64_t> DeviceNumbersOfDisk(int diskNumber);

// True when `folder` (or the nearest folder above it that exists) lies on one
// of `devices`: by the device of its file system, or by the device node that
// file system is mounted from (a FUSE file system such as ntfs-3g has a
// device number of its own).
bool FolderLiesOn(const std::filesystem::path& folder, const std::vector<uint64_t>& devices);

}  // namespace sorvane
