#include "fs/fat_lost_letter.h"

#include <cctype>
#include <optional>

namespace sorvane {
namespace {

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// The pattern of a name: every digit alike, letters without case.
std::string Shape(std::string_view text) {
    std::string shape;
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        shape.push_back(std::isdigit(c) ? '#' : static_cast<char>(std::tolower(c)));
    }
    return shape;
}

// True when the name's letters are lower case (as 8.3 names are shown) or it has none.
bool LowerCaseName(std::string_view text) {
    for (char ch : text)
        if (std::isupper(static_cast<unsigned char>(ch))) return false;
    return true;
}

// "100CANON": three digits, then five characters a camera uses (letters, digits, "_").
bool IsCameraFolderName(std::string_view name) {
    if (name.size() != 8) return false;
    for (size_t i = 0; i < 3; ++i)
        if (!std::isdigit(static_cast<unsigned char>(name[i]))) return false;
    for (size_t i = 3; i < 8; ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        if (!std::isalnum(c) && c != '_') return false;
    }
    return name[0] != '0';  // cameras number their folders from 100
}

std::optional<char> FromSiblings(std::string_view rest, const std::vector<std::string>& siblings) {
    const std::string shape = Shape(rest);
    std::optional<char> found;
    for (const std::string& s : siblings) {
        if (s.size() != rest.size() + 1 || s[0] == '!' || Shape(std::string_view(s).substr(1)) != shape)
            continue;
        const auto first = static_cast<unsigned char>(s[0]);
        if (!std::isalnum(first)) continue;
        const char letter = static_cast<char>(std::tolower(first));
        if (found && *found != letter) return std::nullopt;  // the siblings disagree
        found = letter;
    }
    return found;
}

std::optional<char> FromCameraRules(std::string_view rest, bool isFolder, CameraPlace place) {
    if (isFolder && place == CameraPlace::kRoot && EqualsIgnoringCase(rest, "cim")) return 'd';
    if (isFolder && place == CameraPlace::kDcim && IsCameraFolderName("1" + std::string(rest))) return '1';
    if (isFolder || place != CameraPlace::kCameraFolder || rest.size() < 4 ||
        !std::isdigit(static_cast<unsigned char>(rest[3])))
        return std::nullopt;
    static constexpr struct {
        std::string_view rest;
        char first;
    } kPrefixes[] = {{"mg_", 'i'}, {"sc_", 'd'}, {"scf", 'd'}, {"ji_", 'd'}, {"opr", 'g'}, {"vi_", 'm'}};
    for (const auto& p : kPrefixes)
        if (EqualsIgnoringCase(rest.substr(0, 3), p.rest)) return p.first;
    return std::nullopt;
}

}  // namespace

CameraPlace PlaceOfFolder(std::string_view name, CameraPlace parentPlace) {
    if (parentPlace == CameraPlace::kRoot && EqualsIgnoringCase(name, "dcim")) return CameraPlace::kDcim;
    if (parentPlace == CameraPlace::kDcim && IsCameraFolderName(name)) return CameraPlace::kCameraFolder;
    return CameraPlace::kNone;
}

std::string GuessLostFirstCharacter(std::string_view name, bool isFolder, CameraPlace place,
                                    const std::vector<std::string>& siblings) {
    if (name.size() < 2 || name[0] != '!') return {};
    const std::string_view rest = name.substr(1);
    // A name too short to have a pattern says nothing of its first character.
    std::optional<char> first = rest.size() >= 3 ? FromSiblings(rest, siblings) : std::nullopt;
    if (!first) first = FromCameraRules(rest, isFolder, place);
    if (!first) return {};
    const char shown =
        LowerCaseName(rest) ? *first : static_cast<char>(std::toupper(static_cast<unsigned char>(*first)));
    return std::string(1, shown) + std::string(rest);
}

}  // namespace sorvane
