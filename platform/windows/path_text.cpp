#include "platform/path_text.h"

#include "platform/windows/win32.h"

namespace sorvane {

// Explicit UTF-8 <-> UTF-16 conversions that replace what cannot be converted
// (bytes that are not UTF-8, an unpaired surrogate in a name on disk) with
// U+FFFD instead of throwing, as the library's own conversions would.
std::filesystem::path PathFromUtf8(std::string_view text) { return std::filesystem::path(win::Wide(text)); }

std::string Utf8FromPath(const std::filesystem::path& path) { return win::Utf8(path.native()); }

}  // namespace sorvane
