#include "platform/windows/win32.h"

#include "platform/text_encoding.h"

namespace sorvane::win {

std::wstring Wide(std::string_view utf8) {
    std::u16string units = Utf8ToUtf16(utf8);
    return std::wstring(units.begin(), units.end());
}

std::string Utf8(std::wstring_view wide) {
    std::u16string units(wide.begin(), wide.end());
    return Utf16ToUtf8(units);
}

bool IsDeviceName(std::wstring_view path) {
    return path.size() > 4 && (path.substr(0, 4) == L"\\\\.\\" || path.substr(0, 4) == L"//./");
}

std::wstring Win32Path(const std::filesystem::path& path) {
    std::wstring text = path.wstring();
    if (IsDeviceName(text) || text.rfind(L"\\\\?\\", 0) == 0) return text;
    // Below MAX_PATH the system takes the path as it is (relative ones too).
    if (text.size() < 240) return text;
    std::error_code ec;
    std::wstring full = std::filesystem::absolute(path, ec).lexically_normal().wstring();
    if (ec) return text;
    for (wchar_t& c : full)
        if (c == L'/') c = L'\\';
    if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

}  // namespace sorvane::win
