// Running another program through the system's command interpreter, for the
// tools that make test images and for helper programs.
#pragma once

#include <string>

namespace sorvane {

// Runs `command` (sh on Linux, cmd on Windows) and returns its exit status, or
// -1 when it could not be run or did not end normally; `output`, when given,
// receives its standard output.
int RunShellCommand(const std::string& command, std::string* output = nullptr);
// True when a program of this name is found on the search path.
bool ProgramOnPath(const std::string& name);

}  // namespace sorvane
