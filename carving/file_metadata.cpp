#include "carving/file_metadata.h"

#include <cctype>

#include "platform/file_time.h"
#include "platform/text_encoding.h"

namespace sorvane {
namespace {

// 1980-01-01 and 2100-01-01: a clock outside them was never set.
constexpr int64_t kEarliestTime = 315532800;
constexpr int64_t kLatestTime = 4102444800;
constexpr size_t kMaxElementText = 1024;

int64_t DaysFromCivil(int64_t y, int m, int d) {
    y -= m <= 2 ? 1 : 0;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

// Digits at `pos` of `text` as a number; false unless all `count` are digits.
bool Digits(std::string_view text, size_t pos, size_t count, int& out) {
    if (pos + count > text.size()) return false;
    int v = 0;
    for (size_t i = 0; i < count; ++i) {
        const char c = text[pos + i];
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    out = v;
    return true;
}

void AppendUtf8(uint32_t cp, std::string& out) {
    if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return;
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// Decodes the XML entities of `text` (the five named ones and numeric ones).
std::string DecodeEntities(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '&') {
            out.push_back(text[i]);
            continue;
        }
        const size_t semi = text.find(';', i);
        if (semi == std::string_view::npos || semi - i > 10) {
            out.push_back('&');
            continue;
        }
        const std::string_view name = text.substr(i + 1, semi - i - 1);
        if (name == "amp")
            out.push_back('&');
        else if (name == "lt")
            out.push_back('<');
        else if (name == "gt")
            out.push_back('>');
        else if (name == "quot")
            out.push_back('"');
        else if (name == "apos")
            out.push_back('\'');
        else if (name.size() > 1 && name[0] == '#') {
            uint32_t cp = 0;
            const bool hex = name[1] == 'x' || name[1] == 'X';
            for (size_t k = hex ? 2 : 1; k < name.size(); ++k) {
                const int c = std::tolower(static_cast<unsigned char>(name[k]));
                const int digit = c >= '0' && c <= '9'          ? c - '0'
                                  : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                                : -1;
                if (digit < 0 || cp > 0x10FFFF) {
                    cp = 0;
                    break;
                }
                cp = cp * (hex ? 16 : 10) + static_cast<uint32_t>(digit);
            }
            AppendUtf8(cp, out);
        } else {
            out.append(text.substr(i, semi - i + 1));
        }
        i = semi;
    }
    return out;
}

}  // namespace

bool CalendarSeconds(int year, int month, int day, int hour, int minute, int second, int64_t& out) {
    if (year < 1900 || year > 2999 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 ||
        hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 60)
        return false;
    out = DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
    return true;
}

bool SetMetadataTime(int64_t wallClock, bool hasOffset, int offsetMinutes, FileMetadata& out) {
    if (wallClock < kEarliestTime || wallClock >= kLatestTime) return false;
    out.hasTime = true;
    out.wallClock = wallClock;
    out.hasOffset = hasOffset;
    out.unixTime = hasOffset ? wallClock - int64_t{offsetMinutes} * 60
                             : UnixFromLocalWallClock(FileTimeFromUnix(wallClock));
    return true;
}

bool SetMetadataInstant(int64_t unixTime, FileMetadata& out) {
    if (unixTime < kEarliestTime || unixTime >= kLatestTime) return false;
    const std::tm local = LocalTimeOf(static_cast<std::time_t>(unixTime));
    int64_t wall = 0;
    if (!CalendarSeconds(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                         local.tm_sec, wall))
        return false;
    out.hasTime = true;
    out.unixTime = unixTime;
    out.wallClock = wall;
    out.hasOffset = true;
    return true;
}

bool ParseDateText(std::string_view text, FileMetadata& out) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    if (!Digits(text, 0, 4, y) || text.size() < 10 || (text[4] != '-' && text[4] != ':') ||
        text[7] != text[4] || !Digits(text, 5, 2, mo) || !Digits(text, 8, 2, d))
        return false;
    size_t pos = 10;
    if (pos < text.size() && (text[pos] == 'T' || text[pos] == ' ')) {
        if (!Digits(text, pos + 1, 2, h) || text.size() < pos + 6 || text[pos + 3] != ':' ||
            !Digits(text, pos + 4, 2, mi))
            return false;
        pos += 6;
        if (pos < text.size() && text[pos] == ':') {
            if (!Digits(text, pos + 1, 2, s)) return false;
            pos += 3;
        }
        if (pos < text.size() && (text[pos] == '.' || text[pos] == ',')) {
            ++pos;
            while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') ++pos;
        }
    }
    int64_t wall = 0;
    if (!CalendarSeconds(y, mo, d, h, mi, s, wall)) return false;
    bool hasOffset = false;
    int offset = 0;
    if (pos < text.size() && text[pos] == 'Z') {
        hasOffset = true;
    } else if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        int oh = 0, om = 0;
        if (Digits(text, pos + 1, 2, oh)) {
            size_t at = pos + 3;
            if (at < text.size() && text[at] == ':') ++at;
            if (!Digits(text, at, 2, om)) om = 0;
            if (oh <= 14 && om < 60) {
                hasOffset = true;
                offset = (oh * 60 + om) * (text[pos] == '-' ? -1 : 1);
            }
        }
    }
    return SetMetadataTime(wall, hasOffset, offset, out);
}

std::string XmlElementText(std::string_view xml, std::string_view tag) {
    const std::string open = "<" + std::string(tag);
    size_t at = 0;
    while ((at = xml.find(open, at)) != std::string_view::npos) {
        const size_t after = at + open.size();
        if (after >= xml.size()) return {};
        const char next = xml[after];
        if (next != '>' && next != ' ' && next != '\t' && next != '\r' && next != '\n' && next != '/') {
            at = after;
            continue;
        }
        const size_t contentStart = xml.find('>', after);
        if (contentStart == std::string_view::npos) return {};
        if (xml[contentStart - 1] == '/') return {};  // an empty element
        const size_t end = xml.find("</" + std::string(tag), contentStart);
        if (end == std::string_view::npos) return {};
        // Markup inside (an rdf:Alt around the text, say) is dropped.
        std::string text;
        bool inTag = false;
        for (char c : xml.substr(contentStart + 1, end - contentStart - 1)) {
            if (c == '<')
                inTag = true;
            else if (c == '>')
                inTag = false;
            else if (!inTag)
                text.push_back(c);
        }
        std::string decoded = DecodeEntities(text);
        // The layout around a value is not part of it.
        const size_t first = decoded.find_first_not_of(" \t\r\n");
        decoded = first == std::string::npos
                      ? std::string()
                      : decoded.substr(first, decoded.find_last_not_of(" \t\r\n") - first + 1);
        // A title is a line, not a document: longer ones are cut at a character boundary.
        if (decoded.size() > kMaxElementText) {
            size_t cut = kMaxElementText;
            while (cut > 0 && (static_cast<unsigned char>(decoded[cut]) & 0xC0) == 0x80) --cut;
            decoded.resize(cut);
        }
        return decoded;
    }
    return {};
}

bool ReadFileMetadata(std::string_view extension, FileByteSource& file, FileMetadata& out) {
    const std::string ext = AsciiLower(extension);
    static constexpr std::string_view kExif[] = {"jpg", "jpeg", "tif", "tiff", "cr2", "nef", "nrw", "arw",
                                                 "sr2", "srf",  "dng", "orf",  "pef", "rw2", "erf"};
    for (std::string_view e : kExif)
        if (ext == e) return ReadExifMetadata(file, out);
    if (ext == "mp4" || ext == "mov" || ext == "m4v" || ext == "3gp" || ext == "3g2" || ext == "m4a")
        return ReadMovieMetadata(file, out);
    if (ext == "mp3") return ReadId3Metadata(file, out);
    if (ext == "pdf") return ReadPdfMetadata(file, out);
    if (ext == "docx" || ext == "xlsx" || ext == "pptx" || ext == "odt" || ext == "ods" || ext == "odp")
        return ReadOfficeMetadata(file, out);
    return false;
}

}  // namespace sorvane
