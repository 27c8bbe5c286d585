#include "platform/volume_registry.h"

#include <map>
#include <mutex>

#include "platform/result_codes.h"

namespace sorvane {
namespace {

std::mutex gVolumeMutex;
std::map<uint32_t, VolumeInfo>& Volumes() {
    static std::map<uint32_t, VolumeInfo> volumes;
    return volumes;
}

}  // namespace

VolumeRegistry& VolumeRegistry::Instance() {
    static VolumeRegistry registry;
    return registry;
}

void VolumeRegistry::Set(uint32_t key, VolumeInfo info) {
    std::lock_guard lock(gVolumeMutex);
    Volumes()[key] = std::move(info);
}

std::optional<VolumeInfo> VolumeRegistry::Get(uint32_t key) const {
    std::lock_guard lock(gVolumeMutex);
    auto it = Volumes().find(key);
    if (it == Volumes().end()) return std::nullopt;
    return it->second;
}

void VolumeRegistry::Clear() {
    std::lock_guard lock(gVolumeMutex);
    Volumes().clear();
}

int GetVolumeFreeBytes(uint32_t key, uint64_t& bytes) {
    bytes = 0;
    auto info = VolumeRegistry::Instance().Get(key);
    if (!info) return kErrInvalidParameter;
    if (info->mountPoint.empty()) return kSuccess;
    return GetPathFreeBytes(info->mountPoint, bytes);
}

int GetVolumeFileSystemName(std::string& name, uint32_t key) {
    name.clear();
    auto info = VolumeRegistry::Instance().Get(key);
    if (!info) return kErrInvalidParameter;
    name = info->fileSystem.substr(0, 31);
    return kSuccess;
}

std::string FileSystemNameFromMountType(const std::string& type, int fatBits) {
    if (type == "vfat" || type == "msdos") return fatBits == 32 ? "FAT32" : "FAT";
    if (type == "ntfs" || type == "ntfs3" || type == "fuseblk") return "NTFS";
    if (type == "exfat") return "exFAT";
    return type;
}

}  // namespace sorvane
