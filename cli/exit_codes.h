// The exit status of every command, in one place so that scripts can rely on
// it and `sorvane --help` and the README can list it.
#pragma once

namespace sorvane::cli {

enum ExitCode : int {
    kExitOk = 0,
    // The target cannot be opened or read, or holds nothing the scan reads.
    kExitCannotRead = 1,
    // The command line is wrong: an unknown option, a missing value.
    kExitUsage = 2,
    // The work was done, but some sectors of the target could not be read,
    // some files could not be recovered or some results could not be listed;
    // the messages say which.
    kExitIncomplete = 3,
    // The destination (--to, or the image file) cannot be written.
    kExitCannotWrite = 4,
    // The file system's own records (FAT boot sector and tables, the MFT and
    // its copy) cannot be read: a quick scan finds nothing, a deep scan lists
    // only what its search of the contents found.
    kExitRecordsUnreadable = 5,
    // Ctrl-C, SIGTERM or SIGHUP stopped the command; what was done is kept.
    kExitCancelled = 130,
};

inline constexpr const char kExitCodesHelp[] =
    "exit status:\n"
    "  0    success\n"
    "  1    the target cannot be opened or read\n"
    "  2    the command line is wrong\n"
    "  3    done, but some sectors could not be read or some files could not be\n"
    "       recovered or listed\n"
    "  4    the destination cannot be written\n"
    "  5    the file system's own records cannot be read; only a deep scan's search of\n"
    "       the contents can find files\n"
    "  130  cancelled (Ctrl-C, SIGTERM, SIGHUP); what was done is kept\n";

}  // namespace sorvane::cli
