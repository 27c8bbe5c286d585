// Every read of the machine's own description (sysfs, the mount table, device
// nodes) goes through one root folder, "/" normally. Tests point it at a fake
// tree so the disk list can be checked without real disks.
#pragma once

#include <filesystem>
#include <string_view>

namespace sorvane {

// The current root; "/" unless SetSystemRoot or SORVANE_SYSTEM_ROOT changed it.
std::filesystem::path SystemRoot();
void SetSystemRoot(const std::filesystem::path& root);
// `absolute` is a path such as "/sys/block"; the result lies below the root.
std::filesystem::path SystemPath(std::string_view absolute);

// Reads a small text file (a sysfs attribute) whole, without the trailing newline.
// Returns false when it cannot be read.
[[nodiscard]] bool ReadTextFile(const std::filesystem::path& path, std::string& text);

}  // namespace sorvane
