// The program's arguments as UTF-8. On Windows the narrow argv is in the
// 8-bit code page and loses every character outside it, so the arguments are
// taken from the system's UTF-16 command line instead.
#pragma once

#include <string>
#include <vector>

namespace sorvane {

std::vector<std::string> CommandLineArguments(int argc, char** argv);

}  // namespace sorvane
