#include "carving/crc32.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace sorvane {
namespace {

// One bit at a time, straight from the polynomial: the reference the table
// version must agree with.
uint32_t BitwiseCrc32(const std::vector<uint8_t>& data) {
    uint32_t crc = 0xFFFFFFFFu;
    for (uint8_t byte : data) {
        crc ^= byte;
        for (int k = 0; k < 8; ++k) crc = crc & 1 ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
    }
    return ~crc;
}

TEST(Crc32Test, GivesTheKnownCheckValues) {
    const std::string check = "123456789";
    EXPECT_EQ(Crc32(0, reinterpret_cast<const uint8_t*>(check.data()), check.size()), 0xCBF43926u);
    EXPECT_EQ(Crc32(0, nullptr, 0), 0u);
    const std::vector<uint8_t> zeros(32, 0);
    EXPECT_EQ(Crc32(0, zeros.data(), zeros.size()), 0x190A55ADu);
}

// Every length around the eight-byte steps, every split point of a piece:
// continuing a CRC over pieces gives what one pass over the whole gives, and
// both agree with the bitwise reference.
TEST(Crc32Test, AgreesWithTheBitwiseReferenceForAnyLengthAndAnySplit) {
    std::mt19937 random(11);
    for (size_t length = 0; length <= 70; ++length) {
        std::vector<uint8_t> data(length);
        for (auto& byte : data) byte = static_cast<uint8_t>(random());
        const uint32_t expected = BitwiseCrc32(data);
        ASSERT_EQ(Crc32(0, data.data(), data.size()), expected) << length;
        for (size_t split = 0; split <= length; ++split) {
            uint32_t crc = Crc32(0, data.data(), split);
            crc = Crc32(crc, data.data() + split, length - split);
            ASSERT_EQ(crc, expected) << length << " split at " << split;
        }
    }
    std::vector<uint8_t> large(1 << 16);
    for (auto& byte : large) byte = static_cast<uint8_t>(random());
    EXPECT_EQ(Crc32(0, large.data() + 3, large.size() - 3),
              BitwiseCrc32(std::vector<uint8_t>(large.begin() + 3, large.end())));
}

}  // namespace
}  // namespace sorvane
