#include "platform/path_text.h"

namespace sorvane {

std::filesystem::path PathFromUtf8(std::string_view text) {
    // A path made from char8_t text is UTF-8 by definition on every system.
    std::u8string units(text.size(), u8'\0');
    for (size_t i = 0; i < text.size(); ++i) units[i] = static_cast<char8_t>(text[i]);
    return std::filesystem::path(units);
}

std::string Utf8FromPath(const std::filesystem::path& path) {
    std::u8string units = path.u8string();
    return std::string(units.begin(), units.end());
}

}  // namespace sorvane
