// The partitions of a disk and the volumes on them, as the system describes
// them: on Linux from sysfs and the mount table, on Windows from the disk's
// drive layout and the mount point manager. Mounted or not, every partition is
// listed; what only a mounted volume has (mount point, file-system name, drive
// letter) is empty otherwise.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/drive_table.h"

namespace sorvane {

struct SystemPartition {
    std::string name;  // "sdb1"; "E:" or the volume's GUID name on Windows
    int number = -1;   // the partition's number on its disk
    uint64_t startBytes = 0;
    uint64_t lengthBytes = 0;
    uint64_t device = 0;               // as GetPathDeviceNumber gives it for files on it; 0 unknown
    std::filesystem::path node;        // what opens the volume for reading
    std::filesystem::path mountPoint;  // empty when not mounted
    std::string mountedType;           // the system's name of the mounted file system ("vfat", "NTFS")
    uint8_t partitionType = 0;         // the MBR type byte where the system gives it; 0 unknown
    char16_t letter = 0;               // the drive letter ('E'); 0 without one
};

// False when the system's disks cannot be listed at all.
bool DisksCanBeListed();
// The partitions of a whole disk, by partition number.
std::vector<SystemPartition> ListSystemPartitions(const DriveInfo& drive);
// Length and sector size of a disk as the system describes it, for a disk
// that cannot be opened for reading. False when unknown.
[[nodiscard]] bool SystemDiskSize(const DriveInfo& drive, uint64_t& bytes, uint32_t& bytesPerSector);
// The device number of the whole disk itself; 0 when it has none.
uint64_t SystemDiskDeviceNumber(const DriveInfo& drive);

// The device numbers (as GetPathDeviceNumber gives them) of every device the
// system reads from the file `image`: each loop device backed by it and that
// device's partitions. Empty when none is, and where the system mounts no
// image files this way.
std::vector<uint64_t> DevicesBackedByFile(const std::filesystem::path& image);

// Whether a command-line text names a device rather than a file ("/dev/sdb1",
// "\\.\E:", "E:"), and the system's name of that device ("sdb1", "E:").
bool LooksLikeDevicePath(const std::string& text);
std::string DeviceNameOfPath(const std::string& text);

// The file system mounted where `folder` lies: the system's name for its type
// ("vfat", "fuseblk", "FAT32", "NTFS") and the device it is read from. False
// when the folder's file system is not known.
[[nodiscard]] bool MountedFileSystemOf(const std::filesystem::path& folder, std::string& type,
                                       std::filesystem::path& source);

}  // namespace sorvane
