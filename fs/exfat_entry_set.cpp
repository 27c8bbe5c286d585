#include "fs/exfat_entry_set.h"

#include <algorithm>

#include "device/byte_view.h"
#include "platform/file_time.h"
#include "platform/text_encoding.h"

namespace sorvane {
namespace {

constexpr size_t kNameUnitsPerEntry = 15;

bool IsSecondary(uint8_t type) { return (type & 0x40) != 0; }

}  // namespace

uint16_t ExfatSetChecksum(const uint8_t* bytes, size_t entries, bool asInUse) {
    uint16_t sum = 0;
    const size_t total = entries * kExfatEntryBytes;
    for (size_t i = 0; i < total; ++i) {
        if (i == 2 || i == 3) continue;
        uint8_t b = bytes[i];
        if (asInUse && i % kExfatEntryBytes == 0) b |= kExfatInUse;
        sum = static_cast<uint16_t>(((sum & 1) ? 0x8000 : 0) + (sum >> 1) + b);
    }
    return sum;
}

uint64_t FileTimeFromExfatTimestamp(uint32_t stamp, uint8_t tenMs, uint8_t utcOffset) {
    uint64_t wall =
        FileTimeFromFatDateTime(static_cast<uint16_t>(stamp >> 16), static_cast<uint16_t>(stamp), tenMs);
    if (wall == 0 || !(utcOffset & 0x80)) return wall;
    int quarterHours = utcOffset & 0x7F;
    if (quarterHours & 0x40) quarterHours -= 0x80;
    const int64_t shift = int64_t{quarterHours} * 15 * 60 * 10000000;
    // Local time is UTC plus the offset.
    const int64_t utc = static_cast<int64_t>(wall) - shift;
    return utc > 0 ? static_cast<uint64_t>(utc) : 0;
}

ExfatSetResult ParseExfatEntrySet(const uint8_t* bytes, size_t length, ExfatEntrySet& out) {
    if (!bytes || length < kExfatEntryBytes) return ExfatSetResult::kNotASet;
    ByteView file(bytes, kExfatEntryBytes);
    const uint8_t type = file.U8(0);
    if ((type & 0x7F) != (kExfatFileEntry & 0x7F)) return ExfatSetResult::kNotASet;
    const bool inUse = (type & kExfatInUse) != 0;
    const size_t secondaries = file.U8(1);
    if (secondaries < 2 || secondaries + 1 > kExfatMaxSetEntries) return ExfatSetResult::kNotASet;
    const size_t entries = secondaries + 1;
    // The stream extension decides whether the set can be one, before waiting for more bytes.
    if (length >= 2 * kExfatEntryBytes) {
        const uint8_t streamType = bytes[kExfatEntryBytes];
        if ((streamType & 0x7F) != (kExfatStreamEntry & 0x7F) || ((streamType & kExfatInUse) != 0) != inUse)
            return ExfatSetResult::kNotASet;
    }
    if (length < entries * kExfatEntryBytes) return ExfatSetResult::kIncomplete;

    ByteView set(bytes, entries * kExfatEntryBytes);
    for (size_t i = 1; i < entries; ++i) {
        const uint8_t t = set.U8(i * kExfatEntryBytes);
        if (!IsSecondary(t) || ((t & kExfatInUse) != 0) != inUse) return ExfatSetResult::kNotASet;
    }
    if (ExfatSetChecksum(bytes, entries, true) != file.U16(2)) return ExfatSetResult::kNotASet;

    ByteView stream = set.Sub(kExfatEntryBytes, kExfatEntryBytes);
    const size_t nameLength = stream.U8(3);
    const size_t nameEntries = (nameLength + kNameUnitsPerEntry - 1) / kNameUnitsPerEntry;
    if (nameLength == 0 || nameEntries > secondaries - 1) return ExfatSetResult::kNotASet;
    std::u16string name;
    name.reserve(nameLength);
    for (size_t i = 0; i < nameEntries; ++i) {
        ByteView entry = set.Sub((2 + i) * kExfatEntryBytes, kExfatEntryBytes);
        if ((entry.U8(0) & 0x7F) != (kExfatNameEntry & 0x7F)) return ExfatSetResult::kNotASet;
        for (size_t u = 0; u < kNameUnitsPerEntry && name.size() < nameLength; ++u)
            name.push_back(static_cast<char16_t>(entry.U16(2 + 2 * u)));
    }
    // A name that ends early in a NUL is cut there; one that is only NULs is no name.
    name.erase(std::find(name.begin(), name.end(), u'\0'), name.end());
    if (name.empty()) return ExfatSetResult::kNotASet;

    ExfatEntrySet s;
    s.inUse = inUse;
    s.entryCount = entries;
    s.attributes = file.U16(4);
    s.created = FileTimeFromExfatTimestamp(file.U32(8), file.U8(20), file.U8(22));
    s.written = FileTimeFromExfatTimestamp(file.U32(12), file.U8(21), file.U8(23));
    s.accessed = FileTimeFromExfatTimestamp(file.U32(16), 0, file.U8(24));
    s.wallClockTimes = !(file.U8(23) & 0x80);
    s.noFatChain = (stream.U8(1) & 0x02) != 0;
    s.validDataLength = stream.U64(8);
    s.firstCluster = stream.U32(20);
    s.dataLength = stream.U64(24);
    if (s.validDataLength > s.dataLength) s.validDataLength = s.dataLength;
    s.name = Utf16ToUtf8(name);
    out = std::move(s);
    return ExfatSetResult::kSet;
}

std::string ExfatLabelOfEntry(const uint8_t* entry, size_t length) {
    if (!entry || length < kExfatEntryBytes || entry[0] != kExfatLabelEntry) return {};
    ByteView e(entry, kExfatEntryBytes);
    const size_t count = std::min<size_t>(e.U8(1), 11);
    std::u16string label;
    for (size_t i = 0; i < count; ++i) label.push_back(static_cast<char16_t>(e.U16(2 + 2 * i)));
    return Utf16ToUtf8(label);
}

void ExfatDirectoryParser::Feed(const uint8_t* bytes, size_t length) {
    const uint64_t start = fed_;
    fed_ += length;
    size_t used = 0;
    if (!pending_.empty()) {
        // The cut set (less than one set's bytes) with up to a whole set's
        // bytes of this piece behind it: enough to finish any set that starts
        // inside the cut part.
        const size_t before = pending_.size();
        const size_t take = std::min(length, kExfatMaxSetBytes);
        pending_.insert(pending_.end(), bytes, bytes + take);
        const size_t consumed = ParseBuffer(pending_.data(), pending_.size(), pendingPosition_);
        if (consumed < before + take && take == length) {
            // The piece was too short to finish it: keep waiting.
            pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(consumed));
            pendingPosition_ += consumed;
            return;
        }
        pending_.clear();
        // What was parsed past the cut part is not parsed again.
        used = consumed > before ? consumed - before : 0;
    }
    const size_t consumed = ParseBuffer(bytes + used, length - used, start + used);
    if (used + consumed < length) {
        pending_.assign(bytes + used + consumed, bytes + length);
        pendingPosition_ = start + used + consumed;
    }
}

size_t ExfatDirectoryParser::ParseBuffer(const uint8_t* bytes, size_t length, uint64_t base) {
    size_t at = 0;
    while (at + kExfatEntryBytes <= length) {
        const uint8_t type = bytes[at];
        if ((type & 0x7F) == (kExfatFileEntry & 0x7F)) {
            ExfatEntrySet set;
            switch (ParseExfatEntrySet(bytes + at, length - at, set)) {
                case ExfatSetResult::kSet:
                    onSet_(set, base + at);
                    at += set.entryCount * kExfatEntryBytes;
                    continue;
                case ExfatSetResult::kIncomplete:
                    return at;
                case ExfatSetResult::kNotASet:
                    break;
            }
        } else if (type == kExfatLabelEntry && !extras_.haveLabel) {
            extras_.haveLabel = true;
            extras_.label = ExfatLabelOfEntry(bytes + at, length - at);
        } else if (type == kExfatBitmapEntry && !extras_.haveBitmap) {
            ByteView e(bytes + at, kExfatEntryBytes);
            extras_.haveBitmap = true;
            extras_.bitmapCluster = e.U32(20);
            extras_.bitmapLength = e.U64(24);
        }
        at += kExfatEntryBytes;
    }
    return at;
}

}  // namespace sorvane
