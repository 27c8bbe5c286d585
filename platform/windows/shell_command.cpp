#include "platform/shell_command.h"

#include <stdio.h>

#include <array>

#include "platform/windows/win32.h"

namespace sorvane {

int RunShellCommand(const std::string& command, std::string* output) {
    FILE* pipe = ::_wpopen(win::Wide(command).c_str(), L"rb");
    if (!pipe) return -1;
    std::array<char, 4096> chunk{};
    size_t n;
    while ((n = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0)
        if (output) output->append(chunk.data(), n);
    return ::_pclose(pipe);
}

bool ProgramOnPath(const std::string& name) {
    // Only Windows programs count: a Linux tool is no program here, even
    // where Wine could see its file.
    const std::wstring wide = win::Wide(name);
    for (const wchar_t* extension : {L".exe", L".com", L".bat", L".cmd"}) {
        wchar_t found[MAX_PATH];
        if (::SearchPathW(nullptr, wide.c_str(), extension, MAX_PATH, found, nullptr) != 0) return true;
    }
    return false;
}

}  // namespace sorvane
