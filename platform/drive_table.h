// The mapping between drive numbers and the machine's whole-disk block devices,
// owned once for the whole run so every part of the program agrees on what
// "drive 2" is. Image files can be added as drives too: a partition inside a
// whole-disk image is then read exactly the way a partition of a real disk is.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace sorvane {

struct DriveInfo {
    int index = -1;
    std::string name;            // "sdb", "mmcblk0", "PhysicalDrive1"; for an image drive, the image path
    std::filesystem::path node;  // the device node (below the system root), or the image file
    bool isImage = false;
};

class DriveTable {
  public:
    // First index given to image files added as drives, far above any real disk count.
    static constexpr int kFirstImageIndex = 1000;

    static DriveTable& Instance();

    // Re-reads the machine's whole disks (ListWholeDisks). Image drives are kept.
    void Refresh();
    std::vector<DriveInfo> Drives() const;  // block devices only, in index order
    std::optional<DriveInfo> Drive(int index) const;
    // The index of the disk with this sysfs name ("sdb"), or -1.
    int IndexOfName(const std::string& name) const;
    // Adds an image file as a drive (once per file) and returns its index.
    int AddImage(const std::filesystem::path& image);

  private:
    DriveTable();
    bool loaded_ = false;
    std::vector<DriveInfo> disks_;
    std::vector<DriveInfo> images_;
};

// The machine's whole disks in index order: on Linux the block devices of
// <root>/sys/block sorted by name, without ram*, zram* and loop devices that
// have no backing file; on Windows the physical drives by their numbers.
std::vector<DriveInfo> ListWholeDisks();

// Facts about a whole disk: from sysfs (read through the system root) on
// Linux, from the drive's storage descriptor on Windows.
bool DiskIsRemovable(const std::string& name);
bool DiskIsOnUsbOrSd(const std::string& name);
// For a partition name ("sdb1", "E:"): its disk name, start sector and length
// in 512-byte units. Returns false when it is not a partition.
[[nodiscard]] bool PartitionOfDisk(const std::string& partitionName, std::string& diskName, uint64_t& start,
                                   uint64_t& sectors);

}  // namespace sorvane
