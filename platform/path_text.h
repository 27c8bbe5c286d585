// Paths are built from UTF-8 names and shown as UTF-8, explicitly: the
// narrow-string conversions of std::filesystem follow the system's 8-bit code
// page on Windows, which cannot hold most names found on a disk.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace sorvane {

std::filesystem::path PathFromUtf8(std::string_view text);
std::string Utf8FromPath(const std::filesystem::path& path);

}  // namespace sorvane
