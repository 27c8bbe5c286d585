
#include "platform/command_line.h"
#include "platform/file_name_rules.h"
#include "platform/windows/win32.h"

namespace sorvane {

std::string NameAllowedBySystem(std::string_view name) { return NameAllowedOnWindows(name); }

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::vector<std::string> args;
    if (!wide) {
        for (int i = 0; i < argc; ++i) args.emplace_back(argv[i]);
        return args;
    }
    for (int i = 0; i < count; ++i) args.push_back(win::Utf8(wide[i]));
    ::LocalFree(wide);
    return args;
}

}  // namespace sorvane
