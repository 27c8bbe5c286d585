#include <string>
#include <vector>

#include "carving/file_metadata.h"
#include "platform/text_encoding.h"

namespace sorvane {
namespace {

// Of a tag, only this much is read: the title and artist come early, big
// pictures later.
constexpr uint32_t kMaxTagBytes = 1u << 20;
constexpr uint32_t kMaxTextBytes = 1024;

uint32_t SyncSafe(const ByteView& v, size_t off) {
    return (uint32_t{v.U8(off)} & 0x7F) << 21 | (uint32_t{v.U8(off + 1)} & 0x7F) << 14 |
           (uint32_t{v.U8(off + 2)} & 0x7F) << 7 | (uint32_t{v.U8(off + 3)} & 0x7F);
}

std::string Latin1ToUtf8(const uint8_t* p, size_t n) {
    std::string out;
    for (size_t i = 0; i < n && p[i] != 0; ++i) {
        if (p[i] < 0x80) {
            out.push_back(static_cast<char>(p[i]));
        } else {
            out.push_back(static_cast<char>(0xC0 | (p[i] >> 6)));
            out.push_back(static_cast<char>(0x80 | (p[i] & 0x3F)));
        }
    }
    return out;
}

std::string Utf16ToText(const uint8_t* p, size_t n, bool bigEndian) {
    std::u16string units;
    for (size_t i = 0; i + 1 < n; i += 2) {
        const char16_t u = bigEndian ? static_cast<char16_t>(p[i] << 8 | p[i + 1])
                                     : static_cast<char16_t>(p[i + 1] << 8 | p[i]);
        if (u == 0) break;
        units.push_back(u);
    }
    return Utf16ToUtf8(units);
}

// A text frame's value (its first, where several are given) as UTF-8.
std::string FrameText(const uint8_t* p, size_t n) {
    if (n < 2) return {};
    if (n > kMaxTextBytes) n = kMaxTextBytes;
    const uint8_t encoding = p[0];
    ++p;
    --n;
    switch (encoding) {
        case 0:
            return Latin1ToUtf8(p, n);
        case 1: {
            if (n >= 2 && p[0] == 0xFE && p[1] == 0xFF) return Utf16ToText(p + 2, n - 2, true);
            if (n >= 2 && p[0] == 0xFF && p[1] == 0xFE) return Utf16ToText(p + 2, n - 2, false);
            return Utf16ToText(p, n, false);
        }
        case 2:
            return Utf16ToText(p, n, true);
        case 3: {
            std::string out;
            for (size_t i = 0; i < n && p[i] != 0; ++i) out.push_back(static_cast<char>(p[i]));
            return out;
        }
        default:
            return {};
    }
}

std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
    size_t first = 0;
    while (first < text.size() && text[first] == ' ') ++first;
    return text.substr(first);
}

bool ReadId3v2(FileByteSource& file, FileMetadata& out) {
    const ByteView h = file.View(0, 10);
    if (h.Size() < 10 || !h.Equals(0, "ID3")) return false;
    const uint8_t major = h.U8(3);
    const uint8_t flags = h.U8(5);
    if (major < 2 || major > 4) return false;
    uint32_t size = SyncSafe(h, 6);
    if (size > kMaxTagBytes) size = kMaxTagBytes;
    std::vector<uint8_t> tag;
    ReadSourceBytes(file, 10, size, tag);  // a cut tag is read as far as it goes
    if (flags & 0x80) {
        // Unsynchronisation put a zero after every 0xFF; take them out again.
        std::vector<uint8_t> plain;
        plain.reserve(tag.size());
        for (size_t i = 0; i < tag.size(); ++i) {
            plain.push_back(tag[i]);
            if (tag[i] == 0xFF && i + 1 < tag.size() && tag[i + 1] == 0) ++i;
        }
        tag.swap(plain);
    }
    const ByteView t(tag.data(), tag.size());
    size_t at = 0;
    if (major >= 3 && (flags & 0x40)) {
        const uint32_t extended = major == 4 ? SyncSafe(t, 0) : t.U32Be(0) + 4;
        at = extended;
    }
    const size_t headerBytes = major == 2 ? 6 : 10;
    while (t.Has(at, headerBytes)) {
        if (t.U8(at) == 0) break;  // padding
        uint32_t frameSize = 0;
        std::string id;
        if (major == 2) {
            id.assign(reinterpret_cast<const char*>(tag.data() + at), 3);
            frameSize = t.U24Be(at + 3);
        } else {
            id.assign(reinterpret_cast<const char*>(tag.data() + at), 4);
            frameSize = major == 4 ? SyncSafe(t, at + 4) : t.U32Be(at + 4);
        }
        const size_t body = at + headerBytes;
        if (frameSize == 0 || !t.Has(body, frameSize)) break;
        if (id == "TIT2" || id == "TT2") out.title = Trimmed(FrameText(tag.data() + body, frameSize));
        if (id == "TPE1" || id == "TP1") out.artist = Trimmed(FrameText(tag.data() + body, frameSize));
        at = body + frameSize;
    }
    return !out.title.empty() || !out.artist.empty();
}

// True when the bytes are well-formed UTF-8 (no NUL).
bool IsUtf8(const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n;) {
        const uint8_t c = p[i];
        const size_t extra = c < 0x80             ? 0
                             : (c & 0xE0) == 0xC0 ? 1
                             : (c & 0xF0) == 0xE0 ? 2
                             : (c & 0xF8) == 0xF0 ? 3
                                                  : 9;
        if (c == 0 || extra == 9 || (extra == 1 && c < 0xC2) || extra >= n - i) return false;
        for (size_t k = 1; k <= extra; ++k)
            if ((p[i + k] & 0xC0) != 0x80) return false;
        i += 1 + extra;
    }
    return true;
}

// A fixed field of the old tag: Latin-1 by the rule, though many writers put UTF-8 there.
std::string Id3v1Field(const uint8_t* p, size_t n) {
    size_t length = 0;
    while (length < n && p[length] != 0) ++length;
    if (IsUtf8(p, length)) return std::string(reinterpret_cast<const char*>(p), length);
    return Latin1ToUtf8(p, length);
}

bool ReadId3v1(FileByteSource& file, FileMetadata& out) {
    const uint64_t length = file.Length();
    if (length < 128) return false;
    std::vector<uint8_t> tag;
    if (!ReadSourceBytes(file, length - 128, 128, tag) || tag[0] != 'T' || tag[1] != 'A' || tag[2] != 'G')
        return false;
    out.title = Trimmed(Id3v1Field(tag.data() + 3, 30));
    out.artist = Trimmed(Id3v1Field(tag.data() + 33, 30));
    return !out.title.empty() || !out.artist.empty();
}

}  // namespace

bool ReadId3Metadata(FileByteSource& file, FileMetadata& out) {
    return ReadId3v2(file, out) || ReadId3v1(file, out);
}

}  // namespace sorvane
