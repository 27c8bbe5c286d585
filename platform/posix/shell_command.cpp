#include "platform/shell_command.h"

#include <stdio.h>
#include <sys/wait.h>

#include <array>

namespace sorvane {

int RunShellCommand(const std::string& command, std::string* output) {
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return -1;
    std::array<char, 4096> chunk{};
    size_t n;
    while ((n = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0)
        if (output) output->append(chunk.data(), n);
    int status = ::pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool ProgramOnPath(const std::string& name) {
    std::string quoted = "'";
    for (char c : name) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return RunShellCommand("command -v " + quoted + "' >/dev/null 2>&1") == 0;
}

}  // namespace sorvane
