#include "device/byte_search.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

namespace sorvane {
namespace {

TEST(FindBytes, PatternAsLongAsTheBufferComparesOnlyPositionZero) {
    const char buf[] = "ABCD";
    EXPECT_EQ(FindBytes(4, buf, "ABCD", 4), 0u);
    EXPECT_FALSE(FindBytes(4, buf, "BCDA", 4));
    EXPECT_FALSE(FindBytes(4, buf, "ABCDE", 5)) << "a pattern longer than the buffer finds nothing";
    EXPECT_FALSE(FindBytesReverse(4, 5, buf, "ABCDE"));
}

TEST(FindBytes, MissingArgumentsFindNothing) {
    const char buf[] = "abc";
    EXPECT_FALSE(FindBytes(3, nullptr, "a", 1));
    EXPECT_FALSE(FindBytes(3, buf, nullptr, 1));
    EXPECT_FALSE(FindBytesReverse(3, 1, nullptr, "a"));
    EXPECT_FALSE(FindBytes(3, buf, "a", 0));
}

TEST(FindBytes, FirstAndLastOccurrenceIncludingTheEdges) {
    const char buf[] = "xyPKxxPKyyPK";
    EXPECT_EQ(FindBytes(12, buf, "PK", 2), 2u);
    EXPECT_EQ(FindBytesReverse(12, 2, buf, "PK"), 10u) << "the last occurrence, ending at the buffer's end";
    EXPECT_EQ(FindBytes(12, buf, "xy", 2), 0u);
    EXPECT_EQ(FindBytesReverse(12, 2, buf, "xy"), 0u);
    // Partial matches at the very end must not be reported or read past the buffer.
    EXPECT_FALSE(FindBytes(12, buf, "PKz", 3));
}

TEST(FindBytes, AgreesWithANaiveSearchOnRandomData) {
    std::mt19937 rng(42);
    for (int round = 0; round < 300; ++round) {
        std::vector<uint8_t> hay(1 + rng() % 300);
        for (auto& b : hay) b = static_cast<uint8_t>(rng() % 3);
        std::vector<uint8_t> needle(1 + rng() % 5);
        for (auto& b : needle) b = static_cast<uint8_t>(rng() % 3);
        std::optional<size_t> first, last;
        for (size_t i = 0; i + needle.size() <= hay.size(); ++i) {
            if (std::memcmp(hay.data() + i, needle.data(), needle.size()) == 0) {
                if (!first) first = i;
                last = i;
            }
        }
        EXPECT_EQ(FindBytes(hay.size(), hay.data(), needle.data(), needle.size()), first);
        EXPECT_EQ(FindBytesReverse(hay.size(), needle.size(), hay.data(), needle.data()), last);
    }
}

}  // namespace
}  // namespace sorvane
