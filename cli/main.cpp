// The `sorvane` command line: the first way a user, a script and every
// end-to-end test runs Sorvane.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "platform/command_line.h"
#include "platform/terminal.h"

namespace {

void PrintUsage(FILE* out) {
    std::fputs(
        "usage: sorvane COMMAND [OPTIONS] TARGET\n"
        "\n"
        "Finds deleted and lost files on a disk, a memory card or an image of one,\n"
        "and copies them to a folder of your choice. It never writes to what it scans.\n"
        "\n"
        "commands:\n"
        "  classify TARGET   tell which file system a volume or image holds\n"
        "  scan TARGET       list the deleted files a scan finds (sorvane scan --help)\n"
        "  recover --to DIR TARGET   copy the deleted files a scan finds into DIR\n"
        "  recover --scan ID --to DIR   copy the files of a kept scan, without scanning again\n"
        "  scans             list the kept deep scans (--json); scans --delete ID removes one\n"
        "  disks             list external disks, their partitions and free regions\n"
        "  image SOURCE OUT  copy a disk or partition into a raw image file\n"
        "\n"
        "  --version         print the version\n"
        "\n",
        out);
    std::fputs(sorvane::cli::kExitCodesHelp, out);
}

}  // namespace

int main(int argc, char** argv) {
    // UTF-8 on every system (on Windows taken from the UTF-16 command line).
    const std::vector<std::string> all = sorvane::CommandLineArguments(argc, argv);
    sorvane::PrepareStandardOutput();
    if (all.size() < 2 || all[1] == "--help" || all[1] == "-h") {
        PrintUsage(all.size() < 2 ? stderr : stdout);
        return all.size() < 2 ? sorvane::cli::kExitUsage : sorvane::cli::kExitOk;
    }
    if (all[1] == "--version") {
        std::printf("sorvane %s\n", SORVANE_VERSION);
        return sorvane::cli::kExitOk;
    }
    std::string command = all[1];
    std::vector<std::string> args(all.begin() + 2, all.end());
    if (command == "classify") return sorvane::cli::RunClassify(args);
    if (command == "scan") return sorvane::cli::RunScan(args);
    if (command == "recover") return sorvane::cli::RunRecover(args);
    if (command == "disks") return sorvane::cli::RunDisks(args);
    if (command == "image") return sorvane::cli::RunImage(args);
    if (command == "scans") return sorvane::cli::RunScans(args);
    std::fprintf(stderr, "sorvane: unknown command '%s'\n", command.c_str());
    PrintUsage(stderr);
    return sorvane::cli::kExitUsage;
}
