// ZIP (and the Office Open XML and OpenDocument files built on it): the
// entries are walked in the order they lie, each one's data decoded and
// checked against its CRC-32 and sizes, then the central directory must
// name exactly those entries and end in the end record at the file's end.
#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "carving/deflate_walker.h"
#include "carving/fragment_check.h"
#include "carving/fragment_check_reading.h"
#include "carving/zip_records.h"

namespace sorvane {

namespace {

using zip::kDataDescriptor;
using zip::kDirectoryEntry;
using zip::kEnd64Locator;
using zip::kEnd64Record;
using zip::kEndRecord;
using zip::kLocalHeader;
constexpr uint32_t kMaxEntries = 1000000;
// A deflate stream whose sizes the header leaves to a descriptor decodes to
// at most this much before the check gives up on it.
constexpr uint64_t kMaxUnsizedOutput = uint64_t{4} << 30;

struct Header {
    uint8_t b[46] = {};
    uint16_t U16(size_t at) const { return static_cast<uint16_t>(b[at] | (b[at + 1] << 8)); }
    uint32_t U32(size_t at) const {
        return uint32_t{b[at]} | (uint32_t{b[at + 1]} << 8) | (uint32_t{b[at + 2]} << 16) |
               (uint32_t{b[at + 3]} << 24);
    }
};

enum class Step { kGood, kWrong, kUnread, kUnknown };

struct Entry {
    uint64_t end = 0;      // first byte after the entry's data (and descriptor)
    uint64_t dataEnd = 0;  // where its header says the data ends (0: not said)
    uint32_t crc = 0;
};

// The sizes a zip64 extra field (id 1) holds for the fields of a header that
// are all ones: the unpacked size first, then the packed one. False when the
// field is missing or too short.
bool Zip64Sizes(FileByteSource& file, uint64_t extraAt, uint16_t extraLength, uint64_t& unpacked,
                uint64_t& packed) {
    using namespace fragment_reading;
    for (uint64_t at = extraAt, stop = extraAt + extraLength; at + 4 <= stop;) {
        const std::optional<uint16_t> id = U16Le(file, at), size = U16Le(file, at + 2);
        if (!id || !size) return false;
        if (*id == 1) {
            uint64_t field = at + 4;
            for (uint64_t* value : {&unpacked, &packed}) {
                if (*value != 0xFFFFFFFFu) continue;
                if (field + 8 > at + 4 + *size) return false;
                uint8_t b[8];
                if (!Bytes(file, field, 8, b)) return false;
                *value = 0;
                for (int i = 7; i >= 0; --i) *value = (*value << 8) | b[i];
                field += 8;
            }
            return true;
        }
        at += 4 + uint64_t{*size};
    }
    return false;
}

// Checks the data of the entry whose local header `h` starts at `at`.
Step CheckEntryData(FileByteSource& file, uint64_t at, const Header& h, Entry& entry) {
    using namespace fragment_reading;
    const uint64_t length = file.Length();
    const uint16_t flags = h.U16(6), method = h.U16(8);
    uint32_t crc = h.U32(14);
    uint64_t packed = h.U32(18), unpacked = h.U32(22);
    const uint64_t dataAt = at + 30 + h.U16(26) + h.U16(28);
    if (dataAt > length) return Step::kWrong;
    const bool descriptor = (flags & 0x08) != 0;
    const bool zip64 = packed == 0xFFFFFFFFu || unpacked == 0xFFFFFFFFu;
    if (zip64 && !Zip64Sizes(file, at + 30 + h.U16(26), h.U16(28), unpacked, packed)) return Step::kWrong;
    if (!(descriptor && packed == 0)) entry.dataEnd = dataAt + packed;
    uint64_t dataEnd = 0;
    if (descriptor && packed == 0) {
        if (method != 8) return Step::kUnknown;  // only a deflate stream tells where it ends
        const std::optional<DeflateEnd> end = WalkDeflate(file, dataAt, kMaxUnsizedOutput);
        if (!end) return Step::kWrong;
        dataEnd = end->end;
        crc = end->crc;
    } else if (method == 0) {
        if (packed != unpacked || dataAt + packed > length) return Step::kWrong;
        const std::optional<uint32_t> got = RangeCrc(file, dataAt, packed);
        if (!got) return Step::kUnread;
        if (*got != crc) return Step::kWrong;
        dataEnd = dataAt + packed;
    } else if (method == 8) {
        if (dataAt + packed > length) return Step::kWrong;
        const std::optional<DeflateEnd> end = WalkDeflate(file, dataAt, unpacked);
        if (!end || end->end != dataAt + packed || end->outputBytes != unpacked || end->crc != crc)
            return Step::kWrong;
        dataEnd = end->end;
    } else {
        return Step::kUnknown;
    }
    entry.end = dataEnd;
    if (descriptor) {
        // An optional signature, then the CRC and both sizes.
        const std::optional<uint32_t> first = U32Le(file, dataEnd);
        if (!first) return Step::kWrong;
        const uint64_t fields = *first == kDataDescriptor ? dataEnd + 4 : dataEnd;
        const std::optional<uint32_t> stored = U32Le(file, fields);
        if (!stored || *stored != crc) return Step::kWrong;
        entry.end = fields + (zip64 ? 20 : 12);
    }
    entry.crc = crc;
    return Step::kGood;
}

FragmentVerdict WalkZip(FileByteSource& file) {
    using namespace fragment_reading;
    const uint64_t length = file.Length();
    std::unordered_map<uint64_t, uint32_t> entries;  // local header offset → CRC
    uint64_t off = 0;
    uint64_t provenTo = 0;
    // The entries, in the order they lie.
    for (uint32_t n = 0;; ++n) {
        if (n > kMaxEntries) return FragmentVerdict::CannotTell(provenTo);
        const std::optional<uint32_t> sig = U32Le(file, off);
        if (!sig)
            return off >= length ? FragmentVerdict::InvalidAt(off) : FragmentVerdict::CannotTell(provenTo);
        if (*sig == kDirectoryEntry || (*sig == kEndRecord && n > 0)) break;
        Header h;
        if (*sig != kLocalHeader) return FragmentVerdict::InvalidAt(off);
        if (!Bytes(file, off, 30, h.b)) return FragmentVerdict::InvalidAt(off);
        Entry entry;
        switch (CheckEntryData(file, off, h, entry)) {
            case Step::kWrong:
                return FragmentVerdict::InvalidAt(off, entry.dataEnd);
            case Step::kUnread:
                return FragmentVerdict::CannotTell(provenTo);
            case Step::kUnknown:
                // This entry's data says nothing; the walk cannot know where it ends.
                return FragmentVerdict::CannotTell(provenTo);
            case Step::kGood:
                break;
        }
        entries.emplace(off, entry.crc);
        off = entry.end;
        provenTo = off;
    }
    // The central directory: one entry per local header, with the same CRC.
    const uint64_t directoryAt = off;
    uint32_t listed = 0;
    for (;; ++listed) {
        const std::optional<uint32_t> sig = U32Le(file, off);
        if (!sig) return FragmentVerdict::InvalidAt(off);
        if (*sig != kDirectoryEntry) break;
        Header h;
        if (!Bytes(file, off, 46, h.b)) return FragmentVerdict::InvalidAt(off);
        uint64_t localAt = h.U32(42);
        if (localAt == 0xFFFFFFFFu) {
            // The offset follows the sizes that are all ones in the zip64 field.
            uint64_t unpacked = h.U32(24), packed = h.U32(20), skip = 0;
            if (!Zip64Sizes(file, off + 46 + h.U16(28), h.U16(30), unpacked, packed))
                return FragmentVerdict::InvalidAt(off);
            skip = (h.U32(24) == 0xFFFFFFFFu ? 8 : 0) + (h.U32(20) == 0xFFFFFFFFu ? 8 : 0);
            uint8_t b[8];
            const uint64_t extraAt = off + 46 + h.U16(28);
            bool found = false;
            for (uint64_t at = extraAt, stop = extraAt + h.U16(30); at + 4 <= stop && !found;) {
                const std::optional<uint16_t> id = U16Le(file, at), size = U16Le(file, at + 2);
                if (!id || !size) break;
                if (*id == 1 && skip + 8 <= *size && Bytes(file, at + 4 + skip, 8, b)) {
                    localAt = 0;
                    for (int i = 7; i >= 0; --i) localAt = (localAt << 8) | b[i];
                    found = true;
                }
                at += 4 + uint64_t{*size};
            }
            if (!found) return FragmentVerdict::InvalidAt(off);
        }
        const auto it = entries.find(localAt);
        if (it == entries.end() || it->second != h.U32(16)) return FragmentVerdict::InvalidAt(off);
        const uint64_t next = off + 46 + uint64_t{h.U16(28)} + h.U16(30) + h.U16(32);
        if (next > length || listed > kMaxEntries) return FragmentVerdict::InvalidAt(off);
        off = next;
    }
    if (listed != entries.size()) return FragmentVerdict::InvalidAt(directoryAt);
    const uint64_t directoryEnd = off;
    // A zip64 end record and its locator may come before the end record.
    std::optional<uint32_t> sig = U32Le(file, off);
    if (sig && *sig == kEnd64Record) {
        uint8_t size[8];
        if (!Bytes(file, off + 4, 8, size)) return FragmentVerdict::InvalidAt(off);
        uint64_t recordBytes = 0;
        for (int i = 7; i >= 0; --i) recordBytes = (recordBytes << 8) | size[i];
        if (recordBytes > length) return FragmentVerdict::InvalidAt(off);
        off += 12 + recordBytes;
        sig = U32Le(file, off);
    }
    if (sig && *sig == kEnd64Locator) {
        off += 20;
        sig = U32Le(file, off);
    }
    if (!sig || *sig != kEndRecord) return FragmentVerdict::InvalidAt(off);
    Header end;
    if (!Bytes(file, off, 22, end.b)) return FragmentVerdict::InvalidAt(off);
    const uint16_t count = end.U16(10);
    const uint32_t size = end.U32(12), at = end.U32(16);
    if ((count != 0xFFFF && count != (listed & 0xFFFF)) || (at != 0xFFFFFFFFu && at != directoryAt) ||
        (size != 0xFFFFFFFFu && size != directoryEnd - directoryAt))
        return FragmentVerdict::InvalidAt(off);
    if (off + 22 + end.U16(20) != length) return FragmentVerdict::InvalidAt(off);
    return FragmentVerdict::Valid(length);
}

}  // namespace

FragmentVerdict CheckZipFragments(FileByteSource& file) {
    // Records whose lengths point past the file fail where they would start.
    FragmentVerdict v = WalkZip(file);
    v.offset = std::min(v.offset, file.Length());
    v.end = std::min(v.end, file.Length());
    return v;
}

}  // namespace sorvane
