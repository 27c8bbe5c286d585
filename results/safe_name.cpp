#include "results/safe_name.h"

#include <system_error>

#include "platform/file_name_rules.h"
#include "platform/path_text.h"

namespace sorvane {
namespace {

// Bytes of `text` that may be kept within `maxBytes` without splitting a UTF-8
// character.
size_t CharacterBoundary(std::string_view text, size_t maxBytes) {
    if (text.size() <= maxBytes) return text.size();
    size_t n = maxBytes;
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    return n;
}

bool IsInside(const std::filesystem::path& base, const std::filesystem::path& candidate) {
    auto rel = candidate.lexically_relative(base);
    if (rel.empty()) return false;
    for (const auto& part : rel)
        if (part == "..") return false;
    return true;
}

}  // namespace

std::string CutNameKeepingExtension(std::string_view name, size_t maxBytes) {
    if (name.size() <= maxBytes) return std::string(name);
    size_t dot = name.rfind('.');
    if (dot != std::string_view::npos && dot > 0 && name.size() - dot <= 17 && name.size() - dot < maxBytes) {
        std::string_view ext = name.substr(dot);
        std::string_view base = name.substr(0, dot);
        return std::string(base.substr(0, CharacterBoundary(base, maxBytes - ext.size()))) + std::string(ext);
    }
    return std::string(name.substr(0, CharacterBoundary(name, maxBytes)));
}

std::string SafeFileName(std::string_view nameFromDisk) {
    std::string out;
    out.reserve(nameFromDisk.size());
    for (char ch : nameFromDisk) {
        unsigned char c = static_cast<unsigned char>(ch);
        out.push_back(c < 0x20 || c == 0x7F || c == '/' || c == '\\' ? '_' : ch);
    }
    if (out.empty() || out == "." || out == "..") return "_";
    // After the cut, which may leave a name ending where this system refuses it.
    return NameAllowedBySystem(CutNameKeepingExtension(out, kMaxFileNameBytes));
}

bool JoinInsideDestination(const std::filesystem::path& destination, const std::vector<std::string>& folders,
                           std::string_view fileName, std::filesystem::path& out) {
    out.clear();
    std::filesystem::path base = destination.lexically_normal();
    std::filesystem::path result = base;
    for (const auto& folder : folders) result /= PathFromUtf8(SafeFileName(folder));
    if (!fileName.empty()) result /= PathFromUtf8(SafeFileName(fileName));
    result = result.lexically_normal();
    if (!IsInside(base, result)) return false;
    // Links that already exist below the destination could still lead elsewhere.
    std::error_code ec;
    auto realBase = std::filesystem::weakly_canonical(base, ec);
    if (ec) return false;
    auto realResult = std::filesystem::weakly_canonical(result, ec);
    if (ec || !IsInside(realBase, realResult)) return false;
    out = result;
    return true;
}

std::vector<std::string> SplitFolderPath(std::string_view folderPath) {
    std::vector<std::string> parts;
    std::string current;
    for (char c : folderPath) {
        if (c == '/' || c == '\\') {
            if (!current.empty()) parts.push_back(current);
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    if (!current.empty()) parts.push_back(current);
    return parts;
}

uint32_t SeparatorDepth(std::string_view pathText) {
    uint32_t depth = 0;
    for (size_t i = 0; i + 1 < pathText.size(); ++i)
        if (pathText[i] == '/' || pathText[i] == '\\') ++depth;
    return depth;
}

}  // namespace sorvane
