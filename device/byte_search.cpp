#include "device/byte_search.h"

#include <cstring>

namespace sorvane {
namespace {

// The byte of the pattern the scan looks for first. Unused disk space is mostly
// 0x00 or 0xFF, so a pattern byte other than those makes far fewer false
// candidates than simply the first byte (a zero-filled buffer would otherwise
// make every position a candidate for a pattern that starts with 0x00).
size_t AnchorIndex(const uint8_t* needle, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (needle[i] != 0x00 && needle[i] != 0xFF) return i;
    return 0;
}

// Last position p in [0, end) with bytes[p] == value, scanning eight bytes at a
// time; `end` when there is none.
size_t LastIndexOf(const uint8_t* bytes, size_t end, uint8_t value) {
    constexpr uint64_t kOnes = 0x0101010101010101ULL;
    constexpr uint64_t kHighs = 0x8080808080808080ULL;
    const uint64_t pattern = kOnes * value;
    size_t pos = end;
    while (pos >= 8) {
        uint64_t word;
        std::memcpy(&word, bytes + pos - 8, 8);
        uint64_t x = word ^ pattern;
        if (((x - kOnes) & ~x & kHighs) != 0) break;  // some byte of this word matches
        pos -= 8;
    }
    while (pos > 0) {
        --pos;
        if (bytes[pos] == value) return pos;
    }
    return end;
}

}  // namespace

std::optional<size_t> FindBytes(size_t bufferLength, const void* buffer, const void* pattern,
                                size_t patternLength) {
    if (!buffer || !pattern || patternLength == 0 || bufferLength < patternLength) return std::nullopt;
    const auto* hay = static_cast<const uint8_t*>(buffer);
    const auto* needle = static_cast<const uint8_t*>(pattern);
    const size_t anchor = AnchorIndex(needle, patternLength);
    const uint8_t anchorByte = needle[anchor];
    const size_t last = bufferLength - patternLength;  // last candidate position
    size_t pos = 0;
    // memchr finds candidates for the anchor byte at memory speed; only those are compared.
    while (pos <= last) {
        const void* hit = std::memchr(hay + pos + anchor, anchorByte, last - pos + 1);
        if (!hit) return std::nullopt;
        pos = static_cast<size_t>(static_cast<const uint8_t*>(hit) - hay) - anchor;
        if (std::memcmp(hay + pos, needle, patternLength) == 0) return pos;
        ++pos;
    }
    return std::nullopt;
}

std::optional<size_t> FindBytesReverse(size_t bufferLength, size_t patternLength, const void* buffer,
                                       const void* pattern) {
    if (!buffer || !pattern || patternLength == 0 || bufferLength < patternLength) return std::nullopt;
    const auto* hay = static_cast<const uint8_t*>(buffer);
    const auto* needle = static_cast<const uint8_t*>(pattern);
    const size_t anchor = AnchorIndex(needle, patternLength);
    const uint8_t anchorByte = needle[anchor];
    // Candidates are positions [0, end); the anchor of candidate p sits at p + anchor.
    size_t end = bufferLength - patternLength + 1;
    while (end > 0) {
        size_t hit = LastIndexOf(hay + anchor, end, anchorByte);
        if (hit == end) return std::nullopt;
        if (std::memcmp(hay + hit, needle, patternLength) == 0) return hit;
        end = hit;
    }
    return std::nullopt;
}

}  // namespace sorvane
