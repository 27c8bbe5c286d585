// Every volume the disk list shows has a volume key, which found records carry
// in their letter field: its drive letter on Windows where it has one, else a
// running number (every volume on Linux, which has no letters). The registry
// keeps what the rest of the program needs per key.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace sorvane {

struct VolumeInfo {
    std::filesystem::path node;        // what opens the volume: its device node, or "\\.\E:"
    uint64_t deviceNumber = 0;         // as GetPathDeviceNumber gives it for files on it; 0 when unknown
    std::filesystem::path mountPoint;  // empty when not mounted
    std::string fileSystem;            // "NTFS", "FAT32", ...; empty when unknown
};

class VolumeRegistry {
  public:
    static VolumeRegistry& Instance();
    void Set(uint32_t key, VolumeInfo info);
    std::optional<VolumeInfo> Get(uint32_t key) const;
    void Clear();
};

// Flushes the volume's buffers so raw reads see current data. Failure is ignored.
void FlushVolume(uint32_t key);
// Free bytes of the mounted volume; 0 with result 0 when it is not mounted.
[[nodiscard]] int GetVolumeFreeBytes(uint32_t key, uint64_t& bytes);
// The volume's file-system name ("NTFS", "FAT32", "FAT", "exFAT", ...).
[[nodiscard]] int GetVolumeFileSystemName(std::string& name, uint32_t key);
// Maps a mount table's type to the name the windows show. `fatBits` is 32 for
// a FAT32 boot sector, else 12 or 16; it is used only for "vfat"/"msdos".
std::string FileSystemNameFromMountType(const std::string& type, int fatBits);

// Free bytes of the file system holding `path`.
[[nodiscard]] int GetPathFreeBytes(const std::filesystem::path& path, uint64_t& bytes);
// Device number (st_dev) of the file system holding `path`.
[[nodiscard]] int GetPathDeviceNumber(const std::filesystem::path& path, uint64_t& device);
// Device number a block-device node stands for (st_rdev); for a regular file, its st_dev.
[[nodiscard]] int GetNodeDeviceNumber(const std::filesystem::path& node, uint64_t& device);
// Size and free bytes of the file system holding `path` (free as an ordinary user may use it).
[[nodiscard]] int GetPathSpace(const std::filesystem::path& path, uint64_t& totalBytes, uint64_t& freeBytes);
// The device number of a major:minor pair (as sysfs "dev" files and the mount table give
// them), comparable with GetPathDeviceNumber and GetNodeDeviceNumber; and back.
uint64_t MakeDeviceNumber(uint32_t major, uint32_t minor);
void SplitDeviceNumber(uint64_t device, uint32_t& major, uint32_t& minor);

}  // namespace sorvane
