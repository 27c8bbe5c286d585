#include "fs/fat_directory.h"

#include "platform/file_time.h"
#include "platform/text_encoding.h"

namespace sorvane {
namespace {

// 1990-01-01 00:00:00 and 2050-01-01 00:00:00 as FILETIMEs.
constexpr uint64_t kEarliestPlausible = 122756256000000000ULL;
constexpr uint64_t kLatestPlausible = 141690816000000000ULL;

bool IsDotName(ByteView entry, bool twoDots) {
    static constexpr char kDot[] = ".          ";
    static constexpr char kDotDot[] = "..         ";
    return entry.Equals(0, twoDots ? kDotDot : kDot, 11);
}

// A date field of 0 means the writer did not keep that time; any other value
// must be a real date in the years a FAT volume can have been written.
bool PlausibleDate(uint16_t date, uint16_t time) {
    if (date == 0) return true;
    uint64_t t = FileTimeFromFatDateTime(date, time);
    return t >= kEarliestPlausible && t < kLatestPlausible;
}

}  // namespace

bool IsDotPair(ByteView entry, ByteView next) {
    return entry.Has(0, kFatEntrySize) && next.Has(0, kFatEntrySize) && IsDotName(entry, false) &&
           IsDotName(next, true) && (entry.U8(11) & kFatAttrDirectory) && (next.U8(11) & kFatAttrDirectory) &&
           entry.U32(28) == 0 && next.U32(28) == 0;
}

bool IsPlausibleEntry(ByteView entry, ByteView next) {
    if (!entry.Has(0, kFatEntrySize)) return false;
    if (IsDotPair(entry, next)) return true;
    const uint8_t first = entry.U8(0);
    const uint8_t attr = entry.U8(11);
    const uint32_t size = entry.U32(28);
    const uint16_t high = entry.U16(20);
    const uint16_t low = entry.U16(26);
    const bool deleted = first == kFatDeletedMark;
    const bool longName = attr == kFatAttrLongName;
    const bool directory = !longName && (attr & kFatAttrDirectory);

    if (attr >= 0x40) return false;
    if (longName) {
        // Parts of a live name are numbered 1..20 (255 characters need 20).
        if (!deleted) {
            uint8_t sequence = first & ~0x40;
            if (sequence == 0 || sequence > LongNameCollector::kMaxParts) return false;
        }
        return low == 0;
    }
    if (!directory && size == 0 && (high != 0 || low != 0)) return false;
    if (attr == kFatAttrVolumeLabel) {
        if (size != 0 || high != 0 || low != 0) return false;
    } else if (attr & kFatAttrVolumeLabel) {
        return false;
    }
    if (directory && (IsDotName(entry, false) || IsDotName(entry, true))) return size == 0;
    if (!deleted && !directory) {
        if (!PlausibleDate(entry.U16(16), entry.U16(14)) || !PlausibleDate(entry.U16(18), 0) ||
            !PlausibleDate(entry.U16(24), entry.U16(22)))
            return false;
        // A written date is kept by every FAT driver.
        if (entry.U16(24) == 0) return false;
    }
    if (attr != kFatAttrVolumeLabel) {
        // 0x05 stands for a first character of 0xE5; a deleted entry lost its first character.
        for (size_t i = (deleted || first == 0x05) ? 1 : 0; i < 11; ++i)
            if (!IsLegalShortNameByte(entry.U8(i))) return false;
    }
    return !(directory && !deleted && size != 0);
}

std::string ShortEntryName(ByteView entry) {
    std::string base, ext;
    for (size_t i = 0; i < 8; ++i) base.push_back(static_cast<char>(entry.U8(i)));
    for (size_t i = 8; i < 11; ++i) ext.push_back(static_cast<char>(entry.U8(i)));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    while (!ext.empty() && ext.back() == ' ') ext.pop_back();
    bool lostFirst = false;
    if (!base.empty()) {
        if (static_cast<uint8_t>(base[0]) == kFatDeletedMark)
            lostFirst = true;
        else if (base[0] == 0x05)
            base[0] = static_cast<char>(0xE5);
    }
    std::string text = base;
    if (entry.U8(8) != ' ' && !ext.empty()) text += "." + ext;
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (lostFirst) return "!" + Cp437ToUtf8(std::string_view(text).substr(1));
    return Cp437ToUtf8(text);
}

FatEntryTimes EntryTimes(ByteView entry) {
    FatEntryTimes t;
    t.created = FileTimeFromFatDateTime(entry.U16(16), entry.U16(14), entry.U8(13));
    t.accessed = FileTimeFromFatDateTime(entry.U16(18), 0);
    t.written = FileTimeFromFatDateTime(entry.U16(24), entry.U16(22));
    return t;
}

uint8_t ShortNameChecksum(ByteView entry) {
    uint8_t sum = 0;
    for (size_t i = 0; i < 11; ++i) sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + entry.U8(i));
    return sum;
}

void LongNameCollector::Reset() {
    units_ = 0;
    parts_ = 0;
    checksum_ = 0;
}

bool LongNameCollector::Add(ByteView entry) {
    if (parts_ >= kMaxParts) return false;
    static constexpr size_t kOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    if (parts_ == 0) checksum_ = entry.U8(13);
    size_t start = kMaxUnits - units_ - 13;
    for (size_t i = 0; i < 13; ++i) buffer_[start + i] = static_cast<char16_t>(entry.U16(kOffsets[i]));
    units_ += 13;
    ++parts_;
    return true;
}

std::string LongNameCollector::Utf8() const {
    const char16_t* begin = buffer_ + (kMaxUnits - units_);
    size_t n = 0;
    while (n < units_ && begin[n] != 0 && begin[n] != 0xFFFF) ++n;
    return Utf16ToUtf8(begin, n);
}

WalkEnd WalkDirectoryBuffer(ByteView buffer, LongNameCollector& names,
                            const std::function<void(const FatEntryInfo&)>& visit) {
    const size_t count = buffer.Size() / kFatEntrySize;
    for (size_t i = 0; i < count; ++i) {
        const size_t off = i * kFatEntrySize;
        ByteView entry = buffer.Sub(off, kFatEntrySize);
        ByteView next = buffer.Sub(off + kFatEntrySize, kFatEntrySize);
        const uint8_t first = entry.U8(0);
        if (first == 0) return WalkEnd::kEndMark;
        if (!IsPlausibleEntry(entry, next)) {
            names.Reset();
            continue;
        }
        const uint8_t attr = entry.U8(11);
        const bool deleted = first == kFatDeletedMark;
        if (attr == kFatAttrLongName) {
            // The part flagged last starts a new live name; parts of another
            // name (another checksum) start over too.
            if ((!deleted && (first & 0x40)) || (!names.Empty() && names.Checksum() != entry.U8(13)))
                names.Reset();
            if (!names.Add(entry)) return WalkEnd::kTooLong;
            continue;
        }
        FatEntryInfo info;
        info.deleted = deleted;
        info.attributes = attr;
        info.clusterHigh = entry.U16(20);
        info.clusterLow = entry.U16(26);
        info.size = entry.U32(28);
        info.offset = off;
        if (attr == kFatAttrVolumeLabel) {
            info.kind = FatEntryInfo::Kind::kVolumeLabel;
        } else if (attr & kFatAttrDirectory) {
            info.kind = IsDotName(entry, false)  ? FatEntryInfo::Kind::kDot
                        : IsDotName(entry, true) ? FatEntryInfo::Kind::kDotDot
                                                 : FatEntryInfo::Kind::kDirectory;
        } else {
            info.kind = FatEntryInfo::Kind::kFile;
        }
        // A long name belongs to this entry when its checksum says so; a
        // deleted entry lost the first byte the checksum covers, so there the
        // parts right before it are taken as its name.
        if (!names.Empty() && (deleted || names.Checksum() == ShortNameChecksum(entry))) {
            info.name = names.Utf8();
            info.hasLongName = !info.name.empty();
        }
        if (!info.hasLongName) info.name = ShortEntryName(entry);
        names.Reset();
        info.times = EntryTimes(entry);
        visit(info);
    }
    return WalkEnd::kBufferDone;
}

}  // namespace sorvane
