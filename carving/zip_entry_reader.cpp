#include "carving/zip_entry_reader.h"

#include "carving/deflate_walker.h"
#include "carving/zip_records.h"

namespace sorvane {
namespace {

using zip::kDirectoryEntry;
using zip::kEndRecord;
using zip::kLocalHeader;
constexpr size_t kEndRecordBytes = 22;
// The end record ends the archive, after a comment of at most 65535 bytes.
constexpr size_t kEndSearchBytes = 65535 + kEndRecordBytes;
// More entries than an office document holds; a directory that says more is
// walked only this far.
constexpr uint32_t kMaxEntries = 65535;

struct EndRecord {
    uint32_t entries = 0;
    uint64_t directoryAt = 0;
};

bool FindEndRecord(FileByteSource& file, EndRecord& end) {
    const uint64_t length = file.Length();
    if (length < kEndRecordBytes) return false;
    const uint64_t from = length > kEndSearchBytes ? length - kEndSearchBytes : 0;
    std::vector<uint8_t> tail;
    ReadSourceBytes(file, from, static_cast<size_t>(length - from), tail);
    const ByteView v(tail.data(), tail.size());
    // From the end backwards: the last signature is the record, a comment's bytes come after it.
    for (size_t at = tail.size() >= kEndRecordBytes ? tail.size() - kEndRecordBytes + 1 : 0; at-- > 0;) {
        if (v.U32(at) != kEndRecord) continue;
        end.entries = v.U16(at + 10);
        end.directoryAt = v.U32(at + 16);
        return end.directoryAt < from + at;
    }
    return false;
}

}  // namespace

bool ReadZipEntry(FileByteSource& file, std::string_view name, size_t maxBytes, std::vector<uint8_t>& out) {
    out.clear();
    EndRecord end;
    if (!FindEndRecord(file, end)) return false;
    uint64_t at = end.directoryAt;
    for (uint32_t i = 0; i < end.entries && i < kMaxEntries; ++i) {
        const ByteView h = file.View(at, 46);
        if (h.Size() < 46 || h.U32(0) != kDirectoryEntry) return false;
        const uint16_t method = h.U16(10);
        const uint32_t packed = h.U32(20), unpacked = h.U32(24);
        const uint16_t nameLength = h.U16(28), extraLength = h.U16(30), commentLength = h.U16(32);
        const uint32_t localAt = h.U32(42);
        const ByteView entryName = file.View(at + 46, nameLength);
        if (entryName.Size() != nameLength) return false;
        if (nameLength == name.size() && entryName.Equals(0, name)) {
            if (unpacked > maxBytes) return false;
            const ByteView local = file.View(localAt, 30);
            if (local.Size() < 30 || local.U32(0) != kLocalHeader) return false;
            const uint64_t dataAt = uint64_t{localAt} + 30 + local.U16(26) + local.U16(28);
            if (method == 0) return ReadSourceBytes(file, dataAt, packed, out) && packed == unpacked;
            if (method == 8) return InflateStream(file, dataAt, unpacked, out) && out.size() == unpacked;
            return false;
        }
        at += 46 + uint64_t{nameLength} + extraLength + commentLength;
    }
    return false;
}

}  // namespace sorvane
