// The signatures that open the records of a ZIP archive (and of the office
// formats built on it), shared by the readers that walk them.
#pragma once

#include <cstdint>

namespace sorvane::zip {

constexpr uint32_t kLocalHeader = 0x04034b50;
constexpr uint32_t kDirectoryEntry = 0x02014b50;
constexpr uint32_t kDataDescriptor = 0x08074b50;
constexpr uint32_t kEndRecord = 0x06054b50;
constexpr uint32_t kEnd64Record = 0x06064b50;
constexpr uint32_t kEnd64Locator = 0x07064b50;

}  // namespace sorvane::zip
