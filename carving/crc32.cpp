#include "carving/crc32.h"

#include <array>

namespace sorvane {
namespace {

// Eight tables: table k holds the CRC of a byte followed by k zero bytes, so
// eight bytes are folded in per step instead of one. The checks of pictures
// and archives run over every byte of them, which makes this the cost that
// counts.
using Tables = std::array<std::array<uint32_t, 256>, 8>;

constexpr Tables MakeTables() {
    Tables tables{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        tables[0][n] = c;
    }
    for (uint32_t n = 0; n < 256; ++n)
        for (size_t k = 1; k < 8; ++k)
            tables[k][n] = tables[0][tables[k - 1][n] & 0xFF] ^ (tables[k - 1][n] >> 8);
    return tables;
}

constexpr Tables kTables = MakeTables();

}  // namespace

uint32_t Crc32(uint32_t crc, const uint8_t* data, size_t length) {
    crc = ~crc;
    size_t i = 0;
    for (; i + 8 <= length; i += 8) {
        // Bytes are combined one by one, so the order is little-endian on any machine.
        const uint32_t low = crc ^ (uint32_t{data[i]} | uint32_t{data[i + 1]} << 8 |
                                    uint32_t{data[i + 2]} << 16 | uint32_t{data[i + 3]} << 24);
        crc = kTables[7][low & 0xFF] ^ kTables[6][(low >> 8) & 0xFF] ^ kTables[5][(low >> 16) & 0xFF] ^
              kTables[4][low >> 24] ^ kTables[3][data[i + 4]] ^ kTables[2][data[i + 5]] ^
              kTables[1][data[i + 6]] ^ kTables[0][data[i + 7]];
    }
    for (; i < length; ++i) crc = kTables[0][(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

}  // namespace sorvane
