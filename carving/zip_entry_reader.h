// A small reader of one named entry of a zip archive (the container of
// Office Open XML and OpenDocument files), through the archive's central
// directory. Bounded: the end record is looked for in the last 64 KiB, the
// directory walk stops at a fixed number of entries, and an entry is
// decompressed only up to a caller's limit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "carving/file_byte_source.h"

namespace sorvane {

// The entry named `name` (exact, case-sensitive) of the zip in `file`,
// decompressed (stored or deflated) into `out`. False when the archive's
// directory cannot be read, the entry is missing, its method is another, its
// data is damaged, or it is larger than `maxBytes`.
bool ReadZipEntry(FileByteSource& file, std::string_view name, size_t maxBytes, std::vector<uint8_t>& out);

}  // namespace sorvane
