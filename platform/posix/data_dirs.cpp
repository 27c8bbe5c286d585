#include "platform/data_dirs.h"
#include "platform/file_owner.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>

namespace sorvane {

std::filesystem::path SorvaneDataDir() {
    if (const char* dir = std::getenv("SORVANE_DATA_DIR"); dir && *dir) return dir;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg)
        return std::filesystem::path(xdg) / "Sorvane";
    // Restarted with rights for the user (pkexec, sudo): the data stays in their home, not root's.
    if (const std::filesystem::path user = InvokingUserHome(); !user.empty())
        return user / ".local" / "share" / "Sorvane";
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home && *home ? home : "/tmp") / ".local" / "share" / "Sorvane";
}

std::filesystem::path ScanLogDir() { return SorvaneDataDir() / "ScanLog"; }

std::filesystem::path ProgramDir() {
    char buffer[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return std::filesystem::current_path();
    buffer[n] = '\0';
    return std::filesystem::path(buffer).parent_path();
}

}  // namespace sorvane
