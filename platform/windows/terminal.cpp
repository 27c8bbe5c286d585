#include "platform/terminal.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "platform/windows/win32.h"

namespace sorvane {
namespace {

bool IsConsole(DWORD which) {
    DWORD mode = 0;
    HANDLE h = ::GetStdHandle(which);
    return h != nullptr && h != INVALID_HANDLE_VALUE && ::GetConsoleMode(h, &mode);
}

}  // namespace

bool StandardErrorIsTerminal() { return IsConsole(STD_ERROR_HANDLE); }

bool RunningAsRoot() {
    // An administrator prompt: the process token is elevated.
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    bool elevated = ::GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) &&
                    elevation.TokenIsElevated;
    ::CloseHandle(token);
    return elevated;
}

bool StandardInputIsTerminal() { return IsConsole(STD_INPUT_HANDLE); }

void PrepareStandardOutput() {
    std::fflush(stdout);
    (void)::_setmode(::_fileno(stdout), _O_BINARY);
    ::SetConsoleOutputCP(CP_UTF8);
}

}  // namespace sorvane
