#include "platform/instance_lock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <system_error>

#include "platform/data_dirs.h"

namespace sorvane {

InstanceLock::~InstanceLock() {
    if (native_ != -1) ::close(static_cast<int>(native_));
}

bool InstanceLock::TryAcquire(const std::filesystem::path& file) {
    if (native_ != -1) return true;
    std::error_code error;
    std::filesystem::create_directories(file.parent_path(), error);
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    native_ = fd;
    return true;
}

std::filesystem::path RuntimeDir() {
    if (const char* dir = std::getenv("XDG_RUNTIME_DIR"); dir && *dir) return dir;
    return SorvaneDataDir();
}

int TerminateProcessesOf(const std::filesystem::path& executable) {
    std::error_code error;
    const std::filesystem::path wanted = std::filesystem::weakly_canonical(executable, error);
    if (error) return 0;
    int signalled = 0;
    const uid_t me = ::getuid();
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
        struct stat info {};
        if (::stat(entry.path().c_str(), &info) != 0 || info.st_uid != me) continue;
        std::error_code linkError;
        const std::filesystem::path exe = std::filesystem::read_symlink(entry.path() / "exe", linkError);
        if (linkError || exe != wanted) continue;
        const pid_t pid = static_cast<pid_t>(std::stol(name));
        if (pid == ::getpid()) continue;
        if (::kill(pid, SIGTERM) == 0) ++signalled;
    }
    return signalled;
}

}  // namespace sorvane
