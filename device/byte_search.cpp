#include "device/byte_search.h"

#include <cstring>

namespace sorvane {

std::optional<size_t> FindBytes(size_t bufferLength, const void* buffer, const void* pattern,
                                size_t patternLength) {
    if (!buffer || !pattern || patternLength == 0 || bufferLength < patternLength) return std::nullopt;
    const auto* hay = static_cast<const uint8_t*>(buffer);
    const auto* needle = static_cast<const uint8_t*>(pattern);
    const uint8_t first = needle[0];
    const size_t last = bufferLength - patternLength;
    size_t pos = 0;
    // memchr finds candidates for the first byte at memory speed; only those are compared.
    while (pos <= last) {
        const void* hit = std::memchr(hay + pos, first, last - pos + 1);
        if (!hit) return std::nullopt;
        pos = static_cast<size_t>(static_cast<const uint8_t*>(hit) - hay);
        if (std::memcmp(hay + pos + 1, needle + 1, patternLength - 1) == 0) return pos;
        ++pos;
    }
    return std::nullopt;
}

std::optional<size_t> FindBytesReverse(size_t bufferLength, size_t patternLength, const void* buffer,
                                       const void* pattern) {
    if (!buffer || !pattern || patternLength == 0 || bufferLength < patternLength) return std::nullopt;
    const auto* hay = static_cast<const uint8_t*>(buffer);
    const auto* needle = static_cast<const uint8_t*>(pattern);
    const uint8_t first = needle[0];
    for (size_t pos = bufferLength - patternLength + 1; pos-- > 0;) {
        if (hay[pos] == first && std::memcmp(hay + pos + 1, needle + 1, patternLength - 1) == 0) return pos;
    }
    return std::nullopt;
}

}  // namespace sorvane
