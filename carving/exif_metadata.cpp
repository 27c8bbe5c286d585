#include <string>
#include <vector>

#include "carving/file_metadata.h"

namespace sorvane {
namespace {

// More entries than any camera writes in one directory: a count above it is damage.
constexpr uint32_t kMaxIfdEntries = 1024;
constexpr uint32_t kMaxTextBytes = 256;
// JPEG segments before the EXIF one are few; the walk gives up after this many bytes.
constexpr uint64_t kMaxJpegHeader = 1u << 20;

constexpr uint16_t kTagMake = 0x010F;
constexpr uint16_t kTagModel = 0x0110;
constexpr uint16_t kTagDateTime = 0x0132;
constexpr uint16_t kTagExifIfd = 0x8769;
constexpr uint16_t kTagDateTimeOriginal = 0x9003;
constexpr uint16_t kTagOffsetTimeOriginal = 0x9011;
constexpr uint16_t kTagOffsetTime = 0x9010;

// A TIFF structure whose offsets count from `base` in `file`, no further than `end`.
class Tiff {
  public:
    Tiff(FileByteSource& file, uint64_t base, uint64_t end) : file_(file), base_(base), end_(end) {}

    bool Header(uint32_t& firstIfd) {
        const ByteView h = At(0, 8);
        if (h.Size() < 8) return false;
        if (h.Equals(0, "II*\0", 4))
            big_ = false;
        else if (h.Equals(0, "MM\0*", 4))
            big_ = true;
        else
            return false;
        firstIfd = U32(h, 4);
        return true;
    }

    // The ASCII value and the 32-bit value of the listed tags of the directory at `offset`.
    struct Entry {
        uint16_t tag = 0;
        std::string text;
        uint32_t value = 0;
    };
    bool Directory(uint32_t offset, std::vector<Entry>& entries) {
        entries.clear();
        const uint32_t count = U16(At(offset, 2), 0);
        if (count == 0 || count > kMaxIfdEntries) return false;
        for (uint32_t i = 0; i < count; ++i) {
            const uint64_t at = uint64_t{offset} + 2 + uint64_t{i} * 12;
            const ByteView e = At(at, 12);
            if (e.Size() < 12) return !entries.empty();
            Entry entry;
            entry.tag = U16(e, 0);
            const uint16_t type = U16(e, 2);
            const uint32_t n = U32(e, 4);
            if (type == 2 && n > 0) {
                const uint32_t length = n > kMaxTextBytes ? kMaxTextBytes : n;
                ByteView text = n <= 4 ? e.Sub(8, length) : At(U32(e, 8), length);
                for (size_t k = 0; k < text.Size() && text.U8(k) != 0; ++k)
                    entry.text.push_back(static_cast<char>(text.U8(k)));
            } else if (type == 4 || type == 13) {
                entry.value = U32(e, 8);
            }
            entries.push_back(std::move(entry));
        }
        return true;
    }

  private:
    ByteView At(uint64_t offset, size_t length) {
        if (base_ + offset >= end_) return {};
        if (length > end_ - base_ - offset) length = static_cast<size_t>(end_ - base_ - offset);
        return file_.View(base_ + offset, length);
    }
    uint16_t U16(const ByteView& v, size_t off) const { return big_ ? v.U16Be(off) : v.U16(off); }
    uint32_t U32(const ByteView& v, size_t off) const { return big_ ? v.U32Be(off) : v.U32(off); }

    FileByteSource& file_;
    uint64_t base_;
    uint64_t end_;
    bool big_ = false;
};

std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
    size_t first = 0;
    while (first < text.size() && text[first] == ' ') ++first;
    return text.substr(first);
}

// "+02:00" into minutes east of UTC.
bool ParseOffset(const std::string& text, int& minutes) {
    if (text.size() < 6 || (text[0] != '+' && text[0] != '-') || text[3] != ':') return false;
    for (size_t i : {1u, 2u, 4u, 5u})
        if (text[i] < '0' || text[i] > '9') return false;
    const int h = (text[1] - '0') * 10 + (text[2] - '0');
    const int m = (text[4] - '0') * 10 + (text[5] - '0');
    if (h > 14 || m > 59) return false;
    minutes = (h * 60 + m) * (text[0] == '-' ? -1 : 1);
    return true;
}

bool ReadTiff(FileByteSource& file, uint64_t base, uint64_t end, FileMetadata& out) {
    Tiff tiff(file, base, end);
    uint32_t ifd0 = 0;
    if (!tiff.Header(ifd0)) return false;
    std::vector<Tiff::Entry> entries;
    if (!tiff.Directory(ifd0, entries)) return false;
    std::string dateTime, original, offsetOriginal, offset;
    uint32_t exifIfd = 0;
    for (const auto& e : entries) {
        if (e.tag == kTagMake) out.make = Trimmed(e.text);
        if (e.tag == kTagModel) out.model = Trimmed(e.text);
        if (e.tag == kTagDateTime) dateTime = e.text;
        if (e.tag == kTagExifIfd) exifIfd = e.value;
    }
    if (exifIfd != 0 && exifIfd != ifd0 && tiff.Directory(exifIfd, entries)) {
        for (const auto& e : entries) {
            if (e.tag == kTagDateTimeOriginal) original = e.text;
            if (e.tag == kTagOffsetTimeOriginal) offsetOriginal = e.text;
            if (e.tag == kTagOffsetTime) offset = e.text;
        }
    }
    // The moment the picture was taken; the last change of the file only when that is missing.
    const std::string& when = !original.empty() ? original : dateTime;
    const std::string& zone = !original.empty() ? offsetOriginal : offset;
    FileMetadata timed;
    if (ParseDateText(when, timed)) {
        int minutes = 0;
        const bool hasOffset = ParseOffset(zone, minutes);
        SetMetadataTime(timed.wallClock, hasOffset, minutes, out);
    }
    return out.hasTime || !out.make.empty() || !out.model.empty();
}

}  // namespace

bool ReadExifMetadata(FileByteSource& file, FileMetadata& out) {
    const ByteView start = file.View(0, 4);
    if (start.Size() < 4) return false;
    if (start.Equals(0, "II*\0", 4) || start.Equals(0, "MM\0*", 4))
        return ReadTiff(file, 0, file.Length(), out);
    if (start.U8(0) != 0xFF || start.U8(1) != 0xD8) return false;
    uint64_t at = 2;
    while (at < kMaxJpegHeader) {
        const ByteView marker = file.View(at, 10);
        if (marker.Size() < 4 || marker.U8(0) != 0xFF) return false;
        const uint8_t kind = marker.U8(1);
        if (kind == 0xFF) {  // fill byte before a marker
            ++at;
            continue;
        }
        if (kind == 0xDA || kind == 0xD9) return false;  // the picture's data begins: no EXIF before it
        const uint16_t length = marker.U16Be(2);
        if (length < 2) return false;
        if (kind == 0xE1 && marker.Size() >= 10 && marker.Equals(4, "Exif\0\0", 6))
            return ReadTiff(file, at + 10, at + 2 + length, out);
        at += 2 + uint64_t{length};
    }
    return false;
}

}  // namespace sorvane
