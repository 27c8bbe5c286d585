// Names read from a disk are untrusted. These helpers turn them into names and
// paths that can only ever land inside the folder the user chose.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace sorvane {

// The longest file name most Linux file systems take, in bytes.
inline constexpr size_t kMaxFileNameBytes = 255;

// `name` cut to at most `maxBytes` bytes without splitting a UTF-8 character;
// when it must be cut, the extension (a last "." with at most 16 bytes after
// it) is kept and the part before it is shortened.
std::string CutNameKeepingExtension(std::string_view name, size_t maxBytes);

// A name from a disk made safe as one path component: "/", "\", NUL and
// control characters become "_"; an empty name, "." and ".." become "_"; the
// result is cut to 255 bytes at a character boundary, keeping the extension;
// then what this system refuses in a name is mended (NameAllowedBySystem: on
// Windows <>:"|?*, trailing dots and spaces, reserved device names).
std::string SafeFileName(std::string_view nameFromDisk);

// Joins `destination` with folder names read from a disk (each made safe with
// SafeFileName) and, when `fileName` is not empty, the file name. Returns false
// and leaves `out` empty when the result would not lie inside `destination`
// (which a safe name cannot cause, but a link inside the destination could).
bool JoinInsideDestination(const std::filesystem::path& destination, const std::vector<std::string>& folders,
                           std::string_view fileName, std::filesystem::path& out);

// Splits a folder path as the engines give it ("a/b/c/", '/' or '\' after
// every name) into its names; empty names are dropped.
std::vector<std::string> SplitFolderPath(std::string_view folderPath);

// The number of '/' and '\' characters of a path text, its last character
// excepted: the depth measure that folder recovery works with.
uint32_t SeparatorDepth(std::string_view pathText);

}  // namespace sorvane
