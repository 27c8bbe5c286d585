#include "platform/volume_registry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "platform/result_codes.h"

namespace sorvane {
void FlushVolume(uint32_t key) {
    auto info = VolumeRegistry::Instance().Get(key);
    if (!info || info->node.empty()) return;
    int fd = ::open(info->node.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    (void)::fsync(fd);
    ::close(fd);
}

int GetPathFreeBytes(const std::filesystem::path& path, uint64_t& bytes) {
    bytes = 0;
    struct statvfs vfs {};
    if (::statvfs(path.c_str(), &vfs) != 0) return LastResult();
    bytes = uint64_t(vfs.f_bavail) * vfs.f_frsize;
    return kSuccess;
}

int GetPathDeviceNumber(const std::filesystem::path& path, uint64_t& device) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return LastResult();
    device = st.st_dev;
    return kSuccess;
}

int GetNodeDeviceNumber(const std::filesystem::path& node, uint64_t& device) {
    struct stat st {};
    if (::stat(node.c_str(), &st) != 0) return LastResult();
    device = S_ISBLK(st.st_mode) ? st.st_rdev : st.st_dev;
    return kSuccess;
}

int GetPathSpace(const std::filesystem::path& path, uint64_t& totalBytes, uint64_t& freeBytes) {
    totalBytes = freeBytes = 0;
    struct statvfs vfs {};
    if (::statvfs(path.c_str(), &vfs) != 0) return LastResult();
    totalBytes = uint64_t(vfs.f_blocks) * vfs.f_frsize;
    freeBytes = uint64_t(vfs.f_bavail) * vfs.f_frsize;
    return kSuccess;
}

uint64_t MakeDeviceNumber(uint32_t major, uint32_t minor) { return makedev(major, minor); }

void SplitDeviceNumber(uint64_t device, uint32_t& major, uint32_t& minor) {
    major = static_cast<uint32_t>(major(device));
    minor = static_cast<uint32_t>(minor(device));
}

}  // namespace sorvane
