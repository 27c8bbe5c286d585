#include <cctype>
#include <string>
#include <string_view>
#include <vector>

#include "carving/file_metadata.h"
#include "platform/text_encoding.h"

namespace sorvane {
namespace {

// The trailer, the table and the information dictionary are looked for in
// the last this-many bytes, and objects by their header in the first and
// last this-many bytes of a file whose table cannot be read.
constexpr size_t kTailBytes = 64 * 1024;
constexpr size_t kSearchBytes = 1024 * 1024;
constexpr size_t kDictionaryBytes = 16 * 1024;
constexpr uint32_t kMaxTableEntries = 1u << 20;

std::string_view AsText(const std::vector<uint8_t>& bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

bool IsSpace(char c) { return c == ' ' || c == '\r' || c == '\n' || c == '\t' || c == '\f' || c == '\0'; }

// A decimal number at `pos`; moves `pos` past it.
bool Number(std::string_view text, size_t& pos, uint64_t& out) {
    while (pos < text.size() && IsSpace(text[pos])) ++pos;
    size_t start = pos;
    out = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && pos - start < 12)
        out = out * 10 + static_cast<uint64_t>(text[pos++] - '0');
    return pos > start;
}

// A string's bytes as UTF-8: UTF-16BE after its byte-order mark, else the
// document encoding (read as Latin-1, which it matches for letters).
std::string PdfTextToUtf8(const std::string& raw) {
    if (raw.size() >= 2 && static_cast<uint8_t>(raw[0]) == 0xFE && static_cast<uint8_t>(raw[1]) == 0xFF) {
        std::u16string units;
        for (size_t i = 2; i + 1 < raw.size(); i += 2)
            units.push_back(
                static_cast<char16_t>(static_cast<uint8_t>(raw[i]) << 8 | static_cast<uint8_t>(raw[i + 1])));
        return Utf16ToUtf8(units);
    }
    std::string out;
    for (char ch : raw) {
        const auto c = static_cast<uint8_t>(ch);
        if (c < 0x80) {
            out.push_back(ch);
        } else {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

// The string value at `pos` (literal "(...)" or hex "<...>"), raw bytes.
bool StringAt(std::string_view text, size_t pos, std::string& out) {
    out.clear();
    while (pos < text.size() && IsSpace(text[pos])) ++pos;
    if (pos >= text.size()) return false;
    if (text[pos] == '(') {
        int depth = 1;
        for (size_t i = pos + 1; i < text.size() && out.size() < 1024; ++i) {
            char c = text[i];
            if (c == '\\' && i + 1 < text.size()) {
                char e = text[++i];
                if (e >= '0' && e <= '7') {
                    int v = e - '0';
                    for (int k = 0; k < 2 && i + 1 < text.size() && text[i + 1] >= '0' && text[i + 1] <= '7';
                         ++k)
                        v = v * 8 + (text[++i] - '0');
                    out.push_back(static_cast<char>(v));
                    continue;
                }
                switch (e) {
                    case 'n':
                        out.push_back('\n');
                        break;
                    case 'r':
                        out.push_back('\r');
                        break;
                    case 't':
                        out.push_back('\t');
                        break;
                    case 'b':
                        out.push_back('\b');
                        break;
                    case 'f':
                        out.push_back('\f');
                        break;
                    case '\r':
                    case '\n':
                        break;  // a line continued
                    default:
                        out.push_back(e);
                }
                continue;
            }
            if (c == '(') ++depth;
            if (c == ')' && --depth == 0) return true;
            out.push_back(c);
        }
        return false;
    }
    if (text[pos] == '<' && pos + 1 < text.size() && text[pos + 1] != '<') {
        int high = -1;
        for (size_t i = pos + 1; i < text.size() && out.size() < 1024; ++i) {
            const char c = text[i];
            if (c == '>') {
                if (high >= 0) out.push_back(static_cast<char>(high << 4));
                return true;
            }
            int v = c >= '0' && c <= '9'   ? c - '0'
                    : c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                           : -1;
            if (v < 0) continue;
            if (high < 0) {
                high = v;
            } else {
                out.push_back(static_cast<char>(high << 4 | v));
                high = -1;
            }
        }
    }
    return false;
}

// The value of `/key` in a dictionary's text, when it is a string.
bool KeyString(std::string_view dict, std::string_view key, std::string& out) {
    size_t at = 0;
    while ((at = dict.find(key, at)) != std::string_view::npos) {
        const size_t after = at + key.size();
        at = after;
        if (after < dict.size() && std::isalnum(static_cast<unsigned char>(dict[after])))
            continue;  // a longer key
        if (StringAt(dict, after, out)) return true;
    }
    return false;
}

// "D:YYYYMMDDHHmmSS+HH'mm'" with every part after the year optional.
bool ParsePdfDate(std::string_view text, FileMetadata& out) {
    if (text.substr(0, 2) == "D:") text.remove_prefix(2);
    int fields[6] = {0, 1, 1, 0, 0, 0};
    const size_t widths[6] = {4, 2, 2, 2, 2, 2};
    size_t pos = 0;
    for (int f = 0; f < 6; ++f) {
        if (pos + widths[f] > text.size() || text[pos] < '0' || text[pos] > '9') {
            if (f == 0) return false;
            break;
        }
        int v = 0;
        for (size_t k = 0; k < widths[f]; ++k) {
            const char c = text[pos + k];
            if (c < '0' || c > '9') return false;
            v = v * 10 + (c - '0');
        }
        fields[f] = v;
        pos += widths[f];
    }
    int64_t wall = 0;
    if (!CalendarSeconds(fields[0], fields[1], fields[2], fields[3], fields[4], fields[5], wall))
        return false;
    bool hasOffset = false;
    int offset = 0;
    if (pos < text.size() && text[pos] == 'Z') {
        hasOffset = true;
    } else if (pos + 3 <= text.size() && (text[pos] == '+' || text[pos] == '-') &&
               std::isdigit(static_cast<unsigned char>(text[pos + 1])) &&
               std::isdigit(static_cast<unsigned char>(text[pos + 2]))) {
        int minutes = (text[pos + 1] - '0') * 600 + (text[pos + 2] - '0') * 60;
        if (pos + 6 <= text.size() && text[pos + 3] == '\'' &&
            std::isdigit(static_cast<unsigned char>(text[pos + 4])) &&
            std::isdigit(static_cast<unsigned char>(text[pos + 5])))
            minutes += (text[pos + 4] - '0') * 10 + (text[pos + 5] - '0');
        hasOffset = minutes <= 14 * 60;
        offset = text[pos] == '-' ? -minutes : minutes;
    }
    return SetMetadataTime(wall, hasOffset, hasOffset ? offset : 0, out);
}

// Where object `number` begins, from the cross-reference table that
// "startxref" in the tail names; 0 when that is not a plain table.
uint64_t OffsetFromTable(FileByteSource& file, std::string_view tail, uint64_t number) {
    const size_t sx = tail.rfind("startxref");
    if (sx == std::string_view::npos) return 0;
    size_t pos = sx + 9;
    uint64_t tableAt = 0;
    if (!Number(tail, pos, tableAt)) return 0;
    std::vector<uint8_t> bytes;
    ReadSourceBytes(file, tableAt, kTailBytes, bytes);
    const std::string_view table = AsText(bytes);
    if (table.substr(0, 4) != "xref") return 0;
    pos = 4;
    // Subsections: "first count" then count entries of 20 bytes.
    for (int sections = 0; sections < 1024; ++sections) {
        uint64_t first = 0, count = 0;
        const size_t before = pos;
        if (!Number(table, pos, first) || !Number(table, pos, count) || count > kMaxTableEntries) return 0;
        if (pos == before) return 0;
        while (pos < table.size() && IsSpace(table[pos])) ++pos;
        if (number >= first && number < first + count) {
            size_t entry = pos + static_cast<size_t>(number - first) * 20;
            uint64_t offset = 0;
            if (entry + 18 > table.size() || table[entry + 17] != 'n' || !Number(table, entry, offset))
                return 0;
            return offset;
        }
        pos += static_cast<size_t>(count) * 20;
        if (pos >= table.size()) return 0;
    }
    return 0;
}

bool ReadInfo(FileByteSource& file, std::string_view tail, FileMetadata& out) {
    const size_t info = tail.rfind("/Info");
    if (info == std::string_view::npos) return false;
    size_t pos = info + 5;
    uint64_t number = 0, generation = 0;
    if (!Number(tail, pos, number) || !Number(tail, pos, generation)) return false;
    const std::string header = std::to_string(number) + " " + std::to_string(generation) + " obj";
    uint64_t at = OffsetFromTable(file, tail, number);
    std::vector<uint8_t> bytes;
    if (at != 0) {
        ReadSourceBytes(file, at, kDictionaryBytes, bytes);
        if (AsText(bytes).substr(0, header.size()) != header) at = 0;
    }
    if (at == 0) {
        // A damaged or streamed table: look for the object's header near either end.
        auto search = [&](uint64_t from, size_t length) {
            std::vector<uint8_t> window;
            ReadSourceBytes(file, from, length, window);
            const std::string_view text = AsText(window);
            for (size_t hit = text.find(header); hit != std::string_view::npos;
                 hit = text.find(header, hit + 1))
                if (hit == 0 || IsSpace(text[hit - 1])) return from + hit;
            return uint64_t{0};
        };
        const uint64_t length = file.Length();
        at = search(0, kSearchBytes);
        if (at == 0 && length > kSearchBytes) at = search(length - kSearchBytes, kSearchBytes);
        if (at == 0) return false;
        ReadSourceBytes(file, at, kDictionaryBytes, bytes);
    }
    std::string_view dict = AsText(bytes);
    const size_t end = dict.find("endobj");
    if (end != std::string_view::npos) dict = dict.substr(0, end);
    std::string raw;
    if (KeyString(dict, "/Title", raw)) out.title = PdfTextToUtf8(raw);
    if (KeyString(dict, "/CreationDate", raw)) ParsePdfDate(raw, out);
    return !out.title.empty() || out.hasTime;
}

bool ReadXmp(FileByteSource& file, FileMetadata& out) {
    const uint64_t length = file.Length();
    for (uint64_t from : {uint64_t{0}, length > kSearchBytes ? length - kSearchBytes : uint64_t{0}}) {
        std::vector<uint8_t> window;
        ReadSourceBytes(file, from, kSearchBytes, window);
        const std::string_view text = AsText(window);
        if (text.find("<x:xmpmeta") == std::string_view::npos) continue;
        if (out.title.empty()) out.title = XmlElementText(text, "dc:title");
        if (!out.hasTime) ParseDateText(XmlElementText(text, "xmp:CreateDate"), out);
        if (!out.title.empty() || out.hasTime) return true;
    }
    return false;
}

}  // namespace

bool ReadPdfMetadata(FileByteSource& file, FileMetadata& out) {
    const ByteView start = file.View(0, 5);
    if (!start.Equals(0, "%PDF-")) return false;
    const uint64_t length = file.Length();
    const uint64_t tailStart = length > kTailBytes ? length - kTailBytes : 0;
    std::vector<uint8_t> tail;
    ReadSourceBytes(file, tailStart, kTailBytes, tail);
    ReadInfo(file, AsText(tail), out);
    if (out.title.empty() || !out.hasTime) ReadXmp(file, out);
    auto blank = [](const std::string& s) { return s.find_first_not_of(" \t\r\n") == std::string::npos; };
    if (blank(out.title)) out.title.clear();
    return !out.title.empty() || out.hasTime;
}

}  // namespace sorvane
