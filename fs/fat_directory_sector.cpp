#include "fs/fat_directory_sector.h"

#include <cstring>

#include "device/byte_view.h"
#include "fs/fat_directory.h"
#include "platform/file_time.h"

namespace sorvane {
namespace {

// Entry layout constants, kept local so this unit stands alone.
constexpr size_t kEntryBytes = 32;
constexpr uint8_t kAttrReadOnly = 0x01;
constexpr uint8_t kAttrLabel = 0x08;
constexpr uint8_t kAttrLongName = 0x0F;
constexpr uint8_t kAttrDirectory = 0x10;
constexpr uint8_t kAttrArchive = 0x20;
constexpr uint8_t kDeletedMark = 0xE5;

// 1990-01-01 00:00:00 and 2050-01-01 00:00:00 as FAT wall-clock FILETIMEs.
const uint64_t kEarliestEntryTime = FileTimeFromFatDateTime((10 << 9) | (1 << 5) | 1, 0);
const uint64_t kLatestEntryTime = FileTimeFromFatDateTime((70 << 9) | (1 << 5) | 1, 0);

bool TimeInRange(uint64_t t) { return t != 0 && t >= kEarliestEntryTime && t <= kLatestEntryTime; }

// The part of the entry test that follows its size/cluster precondition.
bool EntryFieldsPlausible(const ByteView& e) {
    const uint8_t first = e.U8(0);
    const uint8_t attr = e.U8(11);
    const uint32_t size = e.U32(28);
    const bool clustersZero = e.U16(20) == 0 && e.U16(26) == 0;
    const bool deleted = first == kDeletedMark;
    const bool isDir = (attr & kAttrDirectory) != 0;
    const bool isLongName = attr == kAttrLongName;
    const bool isLabel = attr == kAttrLabel;

    // Cheapest tests first: on random bytes the attribute byte alone rejects
    // most entries, and the short name most of the rest, before any date is
    // converted. Every test here is required, so the order changes no answer.
    if (attr >= 0x40) return false;
    if (!isLabel && !isLongName && !(attr & (kAttrDirectory | kAttrArchive))) return false;
    if (!isLabel && !isLongName) {
        for (size_t i = 0; i < 11; ++i) {
            if (i == 0 && deleted) continue;
            if (!IsLegalShortNameByte(e.U8(i))) return false;
        }
    }
    if (isLabel && (size != 0 || !clustersZero)) return false;
    if ((attr & kAttrLabel) && !isLabel && !isLongName) return false;
    if (attr >= 0x40) return false;
    if ((attr & (kAttrDirectory | kAttrReadOnly)) == (kAttrDirectory | kAttrReadOnly)) return false;
    if (isLongName && !deleted && (first & ~0x40u) > 18) return false;
    if (!isLongName && !isLabel && !deleted && !isDir) {
        uint64_t created = FileTimeFromFatDateTime(e.U16(16), e.U16(14));
        uint64_t accessed = FileTimeFromFatDateTime(e.U16(18), 0);
        uint64_t written = FileTimeFromFatDateTime(e.U16(24), e.U16(22));
        if (!TimeInRange(created) || !TimeInRange(accessed) || !TimeInRange(written)) return false;
    }
    if ((deleted || !isDir || size == 0) && !(isLongName && e.U16(26) != 0)) {
        if (attr == kAttrLabel || attr == kAttrLongName) return true;
        return (attr & (kAttrDirectory | kAttrArchive)) != 0;
    }
    return false;
}

// Checks of an 8.3 entry that the entry test leaves open, applied to every
// non-long-name entry of a candidate directory sector.
bool ShortEntryLooksWritten(const ByteView& e) {
    const uint8_t attr = e.U8(11);
    if (attr != kAttrLabel && FileTimeFromFatDateTime(e.U16(16), e.U16(14)) == 0) return false;
    // A live folder always has a first cluster ("." and ".." fail earlier on
    // their names; a deleted folder may have lost the high half only) and the
    // date it was written, as files do (the entry test checks theirs).
    if ((attr & kAttrDirectory) && e.U8(0) != kDeletedMark) {
        if (e.U16(20) == 0 && e.U16(26) == 0) return false;
        if (FileTimeFromFatDateTime(e.U16(24), e.U16(22)) == 0) return false;
    }
    const size_t start = e.U8(0) == kDeletedMark ? 1 : 0;
    for (size_t i = start; i < 11; ++i) {
        uint8_t b = e.U8(i);
        if (b < 0x20 || b == '.') return false;
    }
    // No non-space after a space, within the name and within the extension.
    for (size_t part = 0; part < 2; ++part) {
        size_t from = part == 0 ? 0 : 8, to = part == 0 ? 8 : 11;
        bool sawSpace = false;
        for (size_t i = from; i < to; ++i) {
            if (e.U8(i) == ' ')
                sawSpace = true;
            else if (sawSpace)
                return false;
        }
    }
    // Bytes with the high bit set are double-byte characters: they come in pairs.
    for (size_t i = start; i <= 9;) {
        if (e.U8(i) & 0x80) {
            if (!(e.U8(i + 1) & 0x80)) return false;
            i += 2;
        } else {
            ++i;
        }
    }
    return true;
}

}  // namespace

bool IsFatDirectoryStart(const uint8_t* buffer, size_t length, size_t offset) {
    ByteView v(buffer, length);
    if (!v.Has(offset, 2 * kEntryBytes)) return false;
    ByteView e = v.Sub(offset, 2 * kEntryBytes);
    if (e.U8(0) != '.' || !(e.U8(11) & kAttrDirectory) || e.U32(28) != 0) return false;
    if (e.U8(32) != '.' || e.U8(33) != '.' || !(e.U8(43) & kAttrDirectory) || e.U32(60) != 0) return false;
    // Creation time and date, access date, write time and date of "." and "..".
    return std::memcmp(e.Data() + 14, e.Data() + 46, 6) == 0 &&
           std::memcmp(e.Data() + 22, e.Data() + 54, 4) == 0;
}

bool IsFatDirectoryEntry(const uint8_t* buffer, size_t length, size_t offset) {
    ByteView v(buffer, length);
    if (!v.Has(offset, kEntryBytes)) return false;
    if (IsFatDirectoryStart(buffer, length, offset)) return true;
    ByteView e = v.Sub(offset, kEntryBytes);
    const bool clustersZero = e.U16(20) == 0 && e.U16(26) == 0;
    if (e.U32(28) == 0 && !(e.U8(11) & kAttrDirectory) && !clustersZero) return false;
    return EntryFieldsPlausible(e);
}

bool IsFatDirectorySector(const uint8_t* sector, size_t sectorSize) {
    if (sector == nullptr || sectorSize < kEntryBytes || sectorSize % kEntryBytes != 0) return false;
    if (sector[0] == 0) return false;
    ByteView v(sector, sectorSize);
    for (size_t off = 0; off < sectorSize; off += kEntryBytes) {
        if (sector[off] == 0) {
            for (size_t i = off; i < sectorSize; ++i)
                if (sector[i] != 0) return false;
            return true;
        }
        if (!IsFatDirectoryEntry(sector, sectorSize, off)) return false;
        // Data that repeats every 16 bytes is not a directory.
        if (std::memcmp(sector + off + 1, sector + off + 17, 14) == 0) return false;
        ByteView e = v.Sub(off, kEntryBytes);
        if (e.U8(11) == kAttrLongName) {
            // The parts of a long name share one checksum and end in the short
            // entry it was computed from. A run cut off by the sector's end or
            // the part limit passes: its short entry is in the next sector.
            const uint8_t checksum = e.U8(13);
            size_t further = 0;
            for (size_t next = off + kEntryBytes; further < 18 && next < sectorSize; next += kEntryBytes) {
                ByteView n = v.Sub(next, kEntryBytes);
                if (n.U8(11) == kAttrLongName && n.U8(0) != 0) {
                    if (n.U8(13) != checksum) return false;
                    ++further;
                    continue;
                }
                // The end of the folder cannot come between a long name and
                // its short entry: a few stray bytes before zeros are no name.
                if (n.U8(0) == 0) return false;
                if (n.U8(0) != kDeletedMark && ShortNameChecksum(n) != checksum) return false;
                break;
            }
        } else if (!ShortEntryLooksWritten(e)) {
            return false;
        }
    }
    return true;
}

}  // namespace sorvane
