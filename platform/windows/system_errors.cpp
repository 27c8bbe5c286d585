#include "platform/result_codes.h"
#include "platform/windows/win32.h"

namespace sorvane {

int LastResult() { return static_cast<int>(::GetLastError()); }

// Result codes are the Windows codes themselves.
int ResultFromSystemError(int error) { return error; }

std::string SystemErrorText(int code) {
    wchar_t* text = nullptr;
    DWORD n = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(code), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
        reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string message;
    if (n > 0 && text) message = win::Utf8(std::wstring_view(text, n));
    ::LocalFree(text);
    // The system's texts end in a full stop and a line break.
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' ' ||
                                message.back() == '.'))
        message.pop_back();
    if (message.empty()) return "error " + std::to_string(code);
    return message + " (error " + std::to_string(code) + ")";
}

std::string AccessDeniedText() {
    return "access denied (reading a raw disk needs a command prompt run as administrator)";
}

}  // namespace sorvane
