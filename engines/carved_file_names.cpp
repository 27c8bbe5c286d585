#include "engines/carved_file_names.h"

#include <cctype>
#include <cstdio>

#include "platform/file_time.h"
#include "platform/text_encoding.h"
#include "results/file_categories.h"
#include "results/safe_name.h"

namespace sorvane {
namespace {

// Room for the extension, " (n)" and a long extension within the record's name field.
constexpr size_t kMaxBaseBytes = 180;

// A text from a file as one line: control characters and runs of blanks
// become one space, blanks and dots at either end go.
std::string OneLine(std::string_view text) {
    std::string out;
    bool blank = false;
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F || c == ' ') {
            blank = !out.empty();
            continue;
        }
        if (blank) out.push_back(' ');
        blank = false;
        out.push_back(ch);
    }
    while (!out.empty() && (out.back() == '.' || out.back() == ' ')) out.pop_back();
    size_t first = 0;
    while (first < out.size() && (out[first] == '.' || out[first] == ' ')) ++first;
    return out.substr(first);
}

// True when the text holds a letter or digit (any non-ASCII character counts
// as one): a name of punctuation alone tells nobody anything.
bool HasWordCharacter(std::string_view text) {
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 0x80 || std::isalnum(c)) return true;
    }
    return false;
}

// A base name made of untrusted text, safe as one path component, or empty.
std::string SafeBase(std::string_view text) {
    std::string line = OneLine(text);
    if (!HasWordCharacter(line)) return {};
    std::string safe = SafeFileName(CutNameKeepingExtension(line, kMaxBaseBytes));
    // The safe-name rules may leave a name that no longer says anything ("_").
    return HasWordCharacter(safe) && safe != "_" ? safe : std::string();
}

std::string DateName(int64_t wallClock) {
    const int64_t days = wallClock >= 0 ? wallClock / 86400 : (wallClock - 86399) / 86400;
    const int64_t secs = wallClock - days * 86400;
    // Civil date from days since 1970 (proleptic Gregorian).
    const int64_t z = days + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int64_t d = doy - (153 * mp + 2) / 5 + 1;
    const int64_t m = mp + (mp < 10 ? 3 : -9);
    const int64_t y = yoe + era * 400 + (m <= 2 ? 1 : 0);
    char text[96];  // room for any 64-bit year, so nothing is ever cut
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld %02lld.%02lld.%02lld", static_cast<long long>(y),
                  static_cast<long long>(m), static_cast<long long>(d), static_cast<long long>(secs / 3600),
                  static_cast<long long>(secs / 60 % 60), static_cast<long long>(secs % 60));
    return text;
}

}  // namespace

std::string MetadataBaseName(const FileMetadata& metadata, std::string_view category) {
    if (category == "photo" || category == "video")
        return metadata.hasTime ? DateName(metadata.wallClock) : "";
    if (category == "audio") {
        const std::string artist = SafeBase(metadata.artist), title = SafeBase(metadata.title);
        if (!artist.empty() && !title.empty()) return SafeBase(artist + " - " + title);
        return title;
    }
    if (category == "document") return SafeBase(metadata.title);
    return {};
}

std::string CarvedNameBook::Take(const std::string& base, const std::string& extension) {
    const std::string dotExt = extension.empty() ? "" : "." + extension;
    std::string name = base + dotExt;
    for (int n = 2; used_.count(AsciiLower(name)); ++n) name = base + " (" + std::to_string(n) + ")" + dotExt;
    used_.insert(AsciiLower(name));
    return name;
}

void CarvedNameBook::Remember(const std::string& fileName) { used_.insert(AsciiLower(fileName)); }

FoundItemRecord NamedFromMetadata(FoundItemRecord record, const FileMetadata& metadata,
                                  CarvedNameBook& names) {
    const std::string name = record.Name();
    const std::string extension = LowerExtension(name);
    const std::string base = MetadataBaseName(metadata, CategoryFolderName(name));
    if (!base.empty()) record.SetName(names.Take(base, extension));
    if (metadata.hasTime) {
        const uint64_t when = FileTimeFromUnix(metadata.unixTime);
        record.created = when;
        record.written = when;
    }
    return record;
}

}  // namespace sorvane
