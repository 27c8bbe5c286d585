// The mounted file systems, from <root>/proc/self/mountinfo.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace sorvane {

struct MountEntry {
    uint32_t major = 0;
    uint32_t minor = 0;
    std::filesystem::path mountPoint;
    std::string fsType;  // "vfat", "ntfs3", "fuseblk", ...
    std::string source;  // "/dev/sdb1"
};

std::vector<MountEntry> ReadMountTable();
// Parses mountinfo text (exposed for tests).
std::vector<MountEntry> ParseMountInfo(const std::string& text);

}  // namespace sorvane
