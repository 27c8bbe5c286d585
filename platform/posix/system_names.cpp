#include "platform/command_line.h"
#include "platform/file_name_rules.h"

namespace sorvane {

// Linux refuses only '/' and NUL in a name, which the caller has replaced.
std::string NameAllowedBySystem(std::string_view name) { return std::string(name); }

// The arguments are bytes, UTF-8 in any sane locale, and passed on as they are.
std::vector<std::string> CommandLineArguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

}  // namespace sorvane
