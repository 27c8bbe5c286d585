#include "results/file_filter.h"

#include <cctype>
#include <vector>

#include "results/file_condition.h"

namespace sorvane {
namespace {

char Fold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Wildcard match over bytes: '*' any run, '?' one byte. Backtracks only to the
// last '*', so a long name and pattern take time in proportion to their product at worst.
bool WildcardMatch(std::string_view pattern, std::string_view name) {
    size_t p = 0, n = 0, star = std::string_view::npos, resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || Fold(pattern[p]) == Fold(name[n]))) {
            ++p, ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = n;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

}  // namespace

bool NarrowsFiles(const FileFilter& f) {
    return f.minSize > 0 || f.maxSize < UINT64_MAX || f.haveSince || f.haveUntil || f.hideMayNotOpen;
}

bool PassesFileFilter(const FileFilter& f, const FoundItemRecord& record, uint64_t volumeBytes,
                      uint32_t sectorSize) {
    const uint64_t size = record.size, written = record.written;  // copies: the record is packed
    if (size < f.minSize || size > f.maxSize) return false;
    if (f.haveSince && written < f.since) return false;
    if (f.haveUntil && written > f.until) return false;
    if (f.hideMayNotOpen && !record.IsFolder() && MayNotOpen(ConditionOf(record, volumeBytes, sectorSize)))
        return false;
    return true;
}

bool NameMatches(std::string_view pattern, std::string_view name) {
    if (pattern.find_first_of("*?") != std::string_view::npos) return WildcardMatch(pattern, name);
    if (pattern.size() > name.size()) return false;
    for (size_t start = 0; start + pattern.size() <= name.size(); ++start) {
        size_t k = 0;
        while (k < pattern.size() && Fold(pattern[k]) == Fold(name[start + k])) ++k;
        if (k == pattern.size()) return true;
    }
    return false;
}

bool ParseSize(const std::string& text, uint64_t& bytes) {
    size_t i = 0;
    uint64_t whole = 0;
    bool digits = false;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
        const uint64_t digit = static_cast<uint64_t>(text[i] - '0');
        if (whole > (UINT64_MAX - digit) / 10) return false;
        whole = whole * 10 + digit;
        digits = true;
        ++i;
    }
    // Up to nine decimals, kept as a fraction over 10^9 so no rounding creeps in.
    uint64_t fraction = 0, scale = 1;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
            if (scale < 1000000000) {
                fraction = fraction * 10 + static_cast<uint64_t>(text[i] - '0');
                scale *= 10;
            }
            digits = true;
            ++i;
        }
    }
    if (!digits) return false;
    while (i < text.size() && text[i] == ' ') ++i;
    std::string unit;
    for (; i < text.size(); ++i) unit += static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
    uint64_t multiplier = 0;
    if (unit.empty() || unit == "b")
        multiplier = 1;
    else if (unit == "kb" || unit == "k")
        multiplier = 1000;
    else if (unit == "mb" || unit == "m")
        multiplier = 1000 * 1000;
    else if (unit == "gb" || unit == "g")
        multiplier = 1000 * 1000 * 1000;
    else if (unit == "tb" || unit == "t")
        multiplier = 1000ull * 1000 * 1000 * 1000;
    else if (unit == "kib")
        multiplier = 1024;
    else if (unit == "mib")
        multiplier = 1024 * 1024;
    else if (unit == "gib")
        multiplier = 1024 * 1024 * 1024;
    else if (unit == "tib")
        multiplier = 1024ull * 1024 * 1024 * 1024;
    else
        return false;
    if (scale > 1 && multiplier == 1 && fraction != 0) return false;  // a fraction of a byte
    if (whole > UINT64_MAX / multiplier) return false;
    const uint64_t wholeBytes = whole * multiplier;
    // multiplier <= 2^40 and fraction < scale <= 10^9, so this cannot overflow.
    const uint64_t fractionBytes =
        static_cast<uint64_t>(static_cast<unsigned __int128>(fraction) * multiplier / scale);
    if (wholeBytes > UINT64_MAX - fractionBytes) return false;
    bytes = wholeBytes + fractionBytes;
    return true;
}

}  // namespace sorvane
