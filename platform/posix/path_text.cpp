#include "platform/path_text.h"

namespace sorvane {

// Linux names are bytes: UTF-8 by convention, and any other byte but '/' and
// NUL is kept as it is rather than refused.
std::filesystem::path PathFromUtf8(std::string_view text) { return std::filesystem::path(std::string(text)); }

std::string Utf8FromPath(const std::filesystem::path& path) { return path.string(); }

}  // namespace sorvane
