#include "device/partition_details.h"

#include <algorithm>
#include <set>
#include <string_view>
#include <vector>

#include "device/boot_sector.h"
#include "device/byte_view.h"
#include "platform/text_encoding.h"

namespace sorvane {
namespace {

constexpr size_t kEntryTable = 446;
constexpr size_t kEntrySize = 16;
// A chain of logical partitions longer than this is damage or a loop.
constexpr int kMaxLogicalPartitions = 256;
// Bytes of a root folder searched for the label entry.
constexpr size_t kMaxRootBytes = 64 * 1024;

bool HasBootSignature(const ByteView& s) { return s.U8(510) == 0x55 && s.U8(511) == 0xAA; }

std::string TrimmedLabel(const uint8_t* bytes, size_t length) {
    std::string raw(reinterpret_cast<const char*>(bytes), length);
    if (!raw.empty() && static_cast<uint8_t>(raw[0]) == 0x05) raw[0] = static_cast<char>(0xE5);
    while (!raw.empty() && (raw.back() == ' ' || raw.back() == '\0')) raw.pop_back();
    return Cp437ToUtf8(raw);
}

// Walks the chain of extended boot records that starts at `extendedStart`.
void ReadLogicalPartitions(const ByteSource& disk, uint32_t sectorSize, uint64_t extendedStart,
                           std::map<uint64_t, uint8_t>& types) {
    std::vector<uint8_t> sector(sectorSize);
    std::set<uint64_t> visited;
    uint64_t ebr = extendedStart;
    for (int hop = 0; hop < kMaxLogicalPartitions; ++hop) {
        if (!visited.insert(ebr).second) return;
        if (ebr > UINT64_MAX / sectorSize || !disk(ebr * sectorSize, sector.data(), sector.size())) return;
        ByteView s(sector.data(), sector.size());
        if (!HasBootSignature(s)) return;
        uint8_t type = s.U8(kEntryTable + 4);
        uint32_t relative = s.U32(kEntryTable + 8);
        if (type != 0 && relative != 0 && s.U32(kEntryTable + 12) != 0) types.emplace(ebr + relative, type);
        // The second entry links to the next record, relative to the extended partition's start.
        uint8_t nextType = s.U8(kEntryTable + kEntrySize + 4);
        uint32_t next = s.U32(kEntryTable + kEntrySize + 8);
        if (!IsExtendedPartitionType(nextType) || next == 0) return;
        ebr = extendedStart + next;
    }
}

}  // namespace

bool IsExtendedPartitionType(uint8_t type) { return type == 0x05 || type == 0x0F || type == 0x85; }

std::map<uint64_t, uint8_t> ReadMbrPartitionTypes(const ByteSource& disk, uint32_t sectorSize) {
    std::map<uint64_t, uint8_t> types;
    if (sectorSize < 512 || sectorSize > 65536) return types;
    std::vector<uint8_t> sector(sectorSize);
    if (!disk(0, sector.data(), sector.size())) return types;
    ByteView s(sector.data(), sector.size());
    if (!HasBootSignature(s)) return types;
    // A volume without a partition table starts with its own boot sector, which
    // also ends in 55 AA; its code bytes would read as nonsense entries.
    if (IsNtfsBootSector(sector.data(), sector.size()) || IsFatBootSector(sector.data(), sector.size()) ||
        IsExfatBootSector(sector.data(), sector.size()))
        return types;
    std::vector<std::pair<uint64_t, uint8_t>> primary;
    for (size_t i = 0; i < 4; ++i) {
        size_t entry = kEntryTable + i * kEntrySize;
        uint8_t status = s.U8(entry);
        if (status != 0 && status != 0x80) return {};
        uint8_t type = s.U8(entry + 4);
        if (type == 0xEE) return {};  // GPT: the types live in the GPT entries
        uint32_t start = s.U32(entry + 8);
        if (type == 0 || start == 0 || s.U32(entry + 12) == 0) continue;
        primary.emplace_back(start, type);
    }
    for (const auto& [start, type] : primary) {
        types.emplace(start, type);
        if (IsExtendedPartitionType(type)) ReadLogicalPartitions(disk, sectorSize, start, types);
    }
    return types;
}

std::string ReadFatVolumeLabel(const ByteSource& volume, const uint8_t* bootSector, size_t length) {
    if (!IsFatBootSector(bootSector, length)) return {};
    ByteView b(bootSector, length);
    int bits = FatBitsOfBootSector(bootSector, length);
    uint64_t bytesPerSector = b.U16(11);
    uint64_t sectorsPerCluster = b.U8(13);
    uint64_t reserved = b.U16(14);
    uint64_t fats = b.U8(16);
    uint64_t fatSectors = b.U16(22) ? b.U16(22) : b.U32(36);
    if (bytesPerSector == 0 || sectorsPerCluster == 0) return {};
    uint64_t firstData = reserved + fats * fatSectors;  // FAT32's first data sector; FAT12/16's root folder
    uint64_t rootOffset = 0;
    size_t rootBytes = 0;
    if (bits == 32) {
        uint64_t rootCluster = b.U32(44);
        if (rootCluster < 2) return {};
        rootOffset = (firstData + (rootCluster - 2) * sectorsPerCluster) * bytesPerSector;
        rootBytes = static_cast<size_t>(sectorsPerCluster * bytesPerSector);
    } else {
        rootOffset = firstData * bytesPerSector;
        rootBytes = static_cast<size_t>(b.U16(17)) * 32;
    }
    if (rootBytes > kMaxRootBytes) rootBytes = kMaxRootBytes;
    std::string rootLabel;
    std::vector<uint8_t> root(rootBytes);
    if (rootBytes > 0 && volume(rootOffset, root.data(), root.size())) {
        ByteView r(root.data(), root.size());
        for (size_t off = 0; r.Has(off, 32); off += 32) {
            uint8_t first = r.U8(off);
            if (first == 0) break;
            uint8_t attributes = r.U8(off + 11);
            if (first == 0xE5 || attributes == 0x0F) continue;
            if ((attributes & 0x08) && !(attributes & 0x10)) {
                rootLabel = TrimmedLabel(root.data() + off, 11);
                break;
            }
        }
    }
    if (!rootLabel.empty()) return rootLabel;
    size_t signature = bits == 32 ? 66 : 38;
    if (b.U8(signature) != 0x29 || !b.Has(signature + 5, 11)) return {};
    std::string label = TrimmedLabel(bootSector + signature + 5, 11);
    return label == "NO NAME" ? std::string() : label;
}

std::string ReadExfatVolumeLabel(const ByteSource& volume, const uint8_t* bootSector, size_t length) {
    if (!IsExfatBootSector(bootSector, length)) return {};
    ByteView b(bootSector, length);
    const uint64_t sectorBytes = uint64_t{1} << b.U8(108);
    const uint64_t clusterBytes = sectorBytes << b.U8(109);
    const uint64_t rootOffset =
        (b.U32(88) + uint64_t{b.U32(96) - 2} * (clusterBytes / sectorBytes)) * sectorBytes;
    // The label entry sits among the first entries of the root folder.
    std::vector<uint8_t> root(static_cast<size_t>(std::min<uint64_t>(clusterBytes, kMaxRootBytes)));
    if (!volume(rootOffset, root.data(), root.size())) return {};
    ByteView r(root.data(), root.size());
    for (size_t off = 0; r.Has(off, 32); off += 32) {
        const uint8_t type = r.U8(off);
        if (type == 0x00) break;  // the end of the folder
        if (type != 0x83) continue;
        std::u16string label;
        for (size_t i = 0; i < std::min<size_t>(r.U8(off + 1), 11); ++i)
            label.push_back(static_cast<char16_t>(r.U16(off + 2 + 2 * i)));
        return Utf16ToUtf8(label);
    }
    return {};
}

std::string ReadNtfsVolumeLabel(const ByteSource& volume, const uint8_t* bootSector, size_t length) {
    constexpr uint32_t kVolumeRecord = 3;
    constexpr uint32_t kVolumeNameAttribute = 0x60;
    constexpr uint32_t kEndOfAttributes = 0xFFFFFFFF;
    if (!IsNtfsBootSector(bootSector, length)) return {};
    ByteView b(bootSector, length);
    const uint64_t sectorBytes = b.U16(11);
    const uint64_t clusterBytes = sectorBytes * b.U8(13);
    if (sectorBytes < 512 || clusterBytes == 0) return {};
    const int8_t perRecord = static_cast<int8_t>(b.U8(64));
    uint64_t recordBytes = 0;
    if (perRecord < 0) {
        if (perRecord < -20) return {};
        recordBytes = uint64_t{1} << -perRecord;
    } else {
        recordBytes = uint64_t(perRecord) * clusterBytes;
    }
    if (recordBytes < 512 || recordBytes > 65536 || recordBytes % 512 != 0) return {};
    const uint64_t mft = b.U64(48);
    if (mft > UINT64_MAX / clusterBytes / 2) return {};
    std::vector<uint8_t> record(static_cast<size_t>(recordBytes));
    if (!volume(mft * clusterBytes + kVolumeRecord * recordBytes, record.data(), record.size())) return {};
    ByteView r(record.data(), record.size());
    if (!r.Equals(0, "FILE")) return {};
    // Undo the update sequence: the last two bytes of every 512-byte stride
    // were swapped for the sequence number when the record was written.
    const size_t fixupOffset = r.U16(4), fixupCount = r.U16(6);
    if (fixupCount == 0 || !r.Has(fixupOffset, fixupCount * 2) || (fixupCount - 1) * 512 > record.size())
        return {};
    const uint16_t sequence = r.U16(fixupOffset);
    for (size_t i = 1; i < fixupCount; ++i) {
        const size_t end = i * 512 - 2;
        if (r.U16(end) != sequence) return {};
        record[end] = record[fixupOffset + 2 * i];
        record[end + 1] = record[fixupOffset + 2 * i + 1];
    }
    size_t at = r.U16(20);
    for (int guard = 0; guard < 64 && r.Has(at, 24); ++guard) {
        const uint32_t type = r.U32(at), attributeLength = r.U32(at + 4);
        if (type == kEndOfAttributes || attributeLength < 24 || !r.Has(at, attributeLength)) break;
        if (type == kVolumeNameAttribute && r.U8(at + 8) == 0) {
            const size_t valueLength = r.U32(at + 16), valueOffset = r.U16(at + 20);
            if (valueOffset + valueLength > attributeLength) return {};
            return Utf16LeBytesToUtf8(record.data() + at + valueOffset, valueLength / 2);
        }
        at += attributeLength;
    }
    return {};
}

}  // namespace sorvane

namespace sorvane {
namespace {

constexpr uint32_t kMaxGptEntries = 1024;

void AddSlot(std::vector<PartitionSlot>& slots, uint64_t start, uint64_t length, uint8_t type,
             uint64_t diskSectors) {
    if (length == 0 || start == 0 || start >= diskSectors) return;
    if (length > diskSectors - start) length = diskSectors - start;
    slots.push_back({start, length, type});
}

// The GPT whose header lies in sector 1.
std::vector<PartitionSlot> ReadGpt(const ByteSource& disk, uint32_t sectorSize, uint64_t diskSectors) {
    std::vector<PartitionSlot> slots;
    std::vector<uint8_t> header(sectorSize);
    if (!disk(sectorSize, header.data(), header.size())) return slots;
    ByteView h(header.data(), header.size());
    if (!h.Equals(0, "EFI PART")) return slots;
    uint64_t entriesLba = h.U64(72);
    uint32_t count = h.U32(80);
    uint32_t entrySize = h.U32(84);
    if (entrySize < 128 || entrySize > 4096 || entrySize % 8 != 0 || count == 0) return slots;
    if (count > kMaxGptEntries) count = kMaxGptEntries;
    if (entriesLba == 0 || entriesLba >= diskSectors || entriesLba > UINT64_MAX / sectorSize) return slots;
    std::vector<uint8_t> entries(static_cast<size_t>(count) * entrySize);
    if (!disk(entriesLba * sectorSize, entries.data(), entries.size())) return slots;
    ByteView e(entries.data(), entries.size());
    static const uint8_t kUnused[16] = {};
    for (uint32_t i = 0; i < count; ++i) {
        size_t at = static_cast<size_t>(i) * entrySize;
        if (e.Equals(at, kUnused, sizeof kUnused)) continue;
        uint64_t first = e.U64(at + 32);
        uint64_t last = e.U64(at + 40);
        if (last < first) continue;
        AddSlot(slots, first, last - first + 1, 0, diskSectors);
    }
    return slots;
}

}  // namespace

std::vector<PartitionSlot> ReadPartitionTable(const ByteSource& disk, uint32_t sectorSize,
                                              uint64_t diskSectors) {
    std::vector<PartitionSlot> slots;
    if (sectorSize < 512 || sectorSize > 65536 || diskSectors < 2) return slots;
    std::vector<uint8_t> sector(sectorSize);
    if (!disk(0, sector.data(), sector.size())) return slots;
    ByteView s(sector.data(), sector.size());
    if (!HasBootSignature(s)) return slots;
    for (size_t i = 0; i < 4; ++i) {
        if (s.U8(kEntryTable + i * kEntrySize + 4) == 0xEE) return ReadGpt(disk, sectorSize, diskSectors);
    }
    // The types map already walks the extended chain with all its guards; the
    // lengths come from the same entries.
    std::map<uint64_t, uint8_t> types = ReadMbrPartitionTypes(disk, sectorSize);
    if (types.empty()) return slots;
    std::map<uint64_t, uint64_t> lengths;
    for (size_t i = 0; i < 4; ++i) {
        size_t entry = kEntryTable + i * kEntrySize;
        uint8_t type = s.U8(entry + 4);
        uint64_t start = s.U32(entry + 8);
        if (type == 0 || start == 0) continue;
        lengths[start] = s.U32(entry + 12);
        if (!IsExtendedPartitionType(type)) continue;
        // Logical partitions: each extended record names its own relative to itself.
        std::set<uint64_t> visited;
        uint64_t ebr = start;
        std::vector<uint8_t> record(sectorSize);
        for (int hop = 0; hop < kMaxLogicalPartitions && visited.insert(ebr).second; ++hop) {
            if (ebr > UINT64_MAX / sectorSize || !disk(ebr * sectorSize, record.data(), record.size())) break;
            ByteView r(record.data(), record.size());
            if (!HasBootSignature(r)) break;
            uint32_t relative = r.U32(kEntryTable + 8);
            if (relative != 0) lengths.emplace(ebr + relative, r.U32(kEntryTable + 12));
            uint32_t next = r.U32(kEntryTable + kEntrySize + 8);
            if (!IsExtendedPartitionType(r.U8(kEntryTable + kEntrySize + 4)) || next == 0) break;
            ebr = start + next;
        }
    }
    for (const auto& [start, type] : types) {
        if (IsExtendedPartitionType(type)) continue;
        auto length = lengths.find(start);
        if (length != lengths.end()) AddSlot(slots, start, length->second, type, diskSectors);
    }
    return slots;
}

}  // namespace sorvane
