// Exact byte-pattern searches over sector buffers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace sorvane {

// Position of the first occurrence of `pattern` in `buffer`, or none. None also
// for a missing buffer or pattern, an empty pattern, or bufferLength < patternLength.
std::optional<size_t> FindBytes(size_t bufferLength, const void* buffer, const void* pattern,
                                size_t patternLength);
// Position of the last occurrence, under the same rules.
std::optional<size_t> FindBytesReverse(size_t bufferLength, size_t patternLength, const void* buffer,
                                       const void* pattern);

}  // namespace sorvane
