// What the fragment check tests share: a check run on bytes in memory, noise,
// and the same file with one block swapped for another file's bytes.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "carving/fragment_check.h"

namespace sorvane::fragment_testing {

inline constexpr size_t kBlock = 4096;

inline FragmentVerdict Check(const std::string& ext, const std::vector<uint8_t>& bytes) {
    MemoryByteSource source(bytes);
    return CheckFragmentsByExtension(ext, source);
}

inline std::vector<uint8_t> Noise(size_t n, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> out(n);
    for (uint8_t& b : out) b = static_cast<uint8_t>(random());
    return out;
}

// `bytes` with the block at `at` replaced by the bytes `other` holds at the same offsets.
inline std::vector<uint8_t> SwapBlock(const std::vector<uint8_t>& bytes, size_t at,
                                      const std::vector<uint8_t>& other) {
    std::vector<uint8_t> wrong = bytes;
    const size_t n = std::min(kBlock, bytes.size() - at);
    for (size_t i = 0; i < n; ++i) wrong[at + i] = other[(at + i) % other.size()];
    return wrong;
}

// Cut short anywhere, a file is never valid.
inline void ExpectCutsInvalid(const std::string& ext, const std::vector<uint8_t>& bytes) {
    for (size_t n = 0; n < bytes.size(); n += 1 + n / 4) {
        std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(n));
        EXPECT_FALSE(Check(ext, cut).Valid()) << "cut at " << n;
    }
}

}  // namespace sorvane::fragment_testing
