// Builders of exFAT directory entries for the parser tests: file entry sets
// with their checksum computed here independently of the code under test.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sorvane::exfattest {

struct EntrySetFields {
    std::u16string name = u"a.txt";
    bool inUse = true;
    uint16_t attributes = 0x20;
    uint32_t firstCluster = 5;
    uint64_t dataLength = 1000;
    uint64_t validDataLength = 1000;
    bool noFatChain = false;
    uint32_t modified = 0;  // exFAT timestamp
    uint8_t modified10ms = 0;
    uint8_t modifiedOffset = 0;
    int extraSecondaries = 0;  // benign secondary entries after the names
};

inline void Put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}
inline void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void Put64(std::vector<uint8_t>& b, size_t at, uint64_t v) {
    for (int i = 0; i < 8; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// The set's bytes; the checksum is that of the set in use, as a deleting
// driver leaves it.
inline std::vector<uint8_t> BuildSet(const EntrySetFields& fields) {
    const size_t nameEntries = (fields.name.size() + 14) / 15;
    const size_t entries = 2 + nameEntries + fields.extraSecondaries;
    std::vector<uint8_t> b(entries * 32, 0);
    b[0] = 0x85;
    b[1] = static_cast<uint8_t>(entries - 1);
    Put16(b, 4, fields.attributes);
    Put32(b, 12, fields.modified);
    b[21] = fields.modified10ms;
    b[23] = fields.modifiedOffset;
    b[32] = 0xC0;
    b[33] = static_cast<uint8_t>(0x01 | (fields.noFatChain ? 0x02 : 0));
    b[35] = static_cast<uint8_t>(fields.name.size());
    Put64(b, 40, fields.validDataLength);
    Put32(b, 52, fields.firstCluster);
    Put64(b, 56, fields.dataLength);
    for (size_t i = 0; i < nameEntries; ++i) {
        size_t at = (2 + i) * 32;
        b[at] = 0xC1;
        for (size_t u = 0; u < 15 && i * 15 + u < fields.name.size(); ++u)
            Put16(b, at + 2 + 2 * u, fields.name[i * 15 + u]);
    }
    for (int i = 0; i < fields.extraSecondaries; ++i) b[(2 + nameEntries + i) * 32] = 0xE0;
    uint16_t sum = 0;
    for (size_t i = 0; i < b.size(); ++i) {
        if (i == 2 || i == 3) continue;
        sum = static_cast<uint16_t>(((sum & 1) ? 0x8000 : 0) + (sum >> 1) + b[i]);
    }
    Put16(b, 2, sum);
    if (!fields.inUse)
        for (size_t i = 0; i < entries; ++i) b[i * 32] &= 0x7F;
    return b;
}

}  // namespace sorvane::exfattest
