#include "platform/file_name_rules.h"

#include "platform/text_encoding.h"

namespace sorvane {
namespace {

bool IsReservedDeviceName(std::string_view name) {
    // The device is reached whatever follows the first dot, and trailing
    // blanks before the dot do not count either.
    std::string_view stem = name.substr(0, name.find('.'));
    while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
    std::string lower = AsciiLower(stem);
    if (lower == "con" || lower == "prn" || lower == "aux" || lower == "nul" || lower == "conin$" ||
        lower == "conout$")
        return true;
    if (lower.size() == 4 && (lower.rfind("com", 0) == 0 || lower.rfind("lpt", 0) == 0))
        return lower[3] >= '1' && lower[3] <= '9';
    // COM and LPT also answer to the superscript digits ¹ ² ³.
    if (lower.size() == 5 && (lower.rfind("com", 0) == 0 || lower.rfind("lpt", 0) == 0))
        return lower.substr(3) == "\xC2\xB9" || lower.substr(3) == "\xC2\xB2" ||
               lower.substr(3) == "\xC2\xB3";
    return false;
}

}  // namespace

std::string NameAllowedOnWindows(std::string_view name) {
    std::string out;
    out.reserve(name.size() + 1);
    for (char c : name) {
        switch (c) {
            case '<':
            case '>':
            case ':':
            case '"':
            case '|':
            case '?':
            case '*':
                out.push_back('_');
                break;
            default:
                out.push_back(c);
        }
    }
    while (!out.empty() && (out.back() == '.' || out.back() == ' ')) out.pop_back();
    if (out.empty()) return "_";
    if (IsReservedDeviceName(out)) out.insert(out.begin(), '_');
    return out;
}

}  // namespace sorvane
