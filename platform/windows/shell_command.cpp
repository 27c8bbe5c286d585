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
    // Linux tools are not Windows programs even where Wine could see them.
    if (name.find_first_of("\"&|<>^") != std::string::npos) return false;
    return RunShellCommand("where \"" + name + "\" >nul 2>&1") == 0;
}

}  // namespace sorvane
