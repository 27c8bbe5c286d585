#include "platform/disk_layout.h"

#include <algorithm>
#include <cstdlib>
#include <system_error>

#include "platform/mount_table.h"
#include "platform/system_root.h"
#include "platform/volume_registry.h"

namespace sorvane {
namespace {

// sysfs gives partition starts and sizes in these units whatever the sector size.
constexpr uint64_t kSysfsUnit = 512;

uint64_t ParseNumber(const std::string& text) { return std::strtoull(text.c_str(), nullptr, 10); }

// A sysfs "dev" attribute ("8:17") as a device number; 0 when missing.
uint64_t ReadDeviceAttribute(const std::filesystem::path& dir) {
    std::string text;
    if (!ReadTextFile(dir / "dev", text)) return 0;
    size_t colon = text.find(':');
    if (colon == std::string::npos) return 0;
    auto major = static_cast<uint32_t>(std::strtoul(text.c_str(), nullptr, 10));
    auto minor = static_cast<uint32_t>(std::strtoul(text.c_str() + colon + 1, nullptr, 10));
    return MakeDeviceNumber(major, minor);
}

const MountEntry* FindMount(const std::vector<MountEntry>& mounts, const SystemPartition& part) {
    for (const MountEntry& m : mounts) {
        if (part.device != 0 && MakeDeviceNumber(m.major, m.minor) == part.device) return &m;
        if (m.source == "/dev/" + part.name) return &m;
    }
    return nullptr;
}

}  // namespace

bool DisksCanBeListed() {
    std::error_code ec;
    return std::filesystem::is_directory(SystemPath("/sys/block"), ec);
}

std::vector<SystemPartition> ListSystemPartitions(const DriveInfo& drive) {
    std::vector<SystemPartition> parts;
    if (drive.isImage) return parts;
    std::vector<MountEntry> mounts = ReadMountTable();
    std::error_code ec;
    for (const auto& child :
         std::filesystem::directory_iterator(SystemPath("/sys/block/" + drive.name), ec)) {
        std::string number, start, size;
        const std::filesystem::path& dir = child.path();
        if (!ReadTextFile(dir / "partition", number) || !ReadTextFile(dir / "start", start) ||
            !ReadTextFile(dir / "size", size))
            continue;
        SystemPartition p;
        p.name = dir.filename().string();
        p.number = static_cast<int>(ParseNumber(number));
        p.startBytes = ParseNumber(start) * kSysfsUnit;
        p.lengthBytes = ParseNumber(size) * kSysfsUnit;
        p.device = ReadDeviceAttribute(dir);
        p.node = SystemPath("/dev/" + p.name);
        if (const MountEntry* mount = FindMount(mounts, p)) {
            p.mountPoint = SystemPath(mount->mountPoint.string());
            p.mountedType = mount->fsType;
        }
        parts.push_back(std::move(p));
    }
    std::sort(parts.begin(), parts.end(),
              [](const SystemPartition& a, const SystemPartition& b) { return a.number < b.number; });
    return parts;
}

bool SystemDiskSize(const DriveInfo& drive, uint64_t& bytes, uint32_t& bytesPerSector) {
    std::string size, sectorSize;
    std::filesystem::path dir = SystemPath("/sys/block/" + drive.name);
    if (!ReadTextFile(dir / "size", size)) return false;
    bytesPerSector = 512;
    if (ReadTextFile(dir / "queue" / "logical_block_size", sectorSize) && ParseNumber(sectorSize) >= 512)
        bytesPerSector = static_cast<uint32_t>(ParseNumber(sectorSize));
    bytes = ParseNumber(size) * kSysfsUnit;
    return true;
}

uint64_t SystemDiskDeviceNumber(const DriveInfo& drive) {
    if (drive.isImage) return 0;
    return ReadDeviceAttribute(SystemPath("/sys/block/" + drive.name));
}

std::vector<uint64_t> DevicesBackedByFile(const std::filesystem::path& image) {
    std::vector<uint64_t> numbers;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(SystemPath("/sys/block"), ec)) {
        const std::filesystem::path& dir = entry.path();
        if (dir.filename().string().rfind("loop", 0) != 0) continue;
        // The name the loop device was set up with; any name of the same file
        // (a link, a relative path) is the same image.
        std::string backing;
        std::error_code same;
        if (!ReadTextFile(dir / "loop" / "backing_file", backing) || backing.empty() ||
            !std::filesystem::equivalent(std::filesystem::path(backing), image, same))
            continue;
        if (uint64_t own = ReadDeviceAttribute(dir)) numbers.push_back(own);
        std::error_code childEc;
        for (const auto& child : std::filesystem::directory_iterator(dir, childEc)) {
            std::string number;
            if (!ReadTextFile(child.path() / "partition", number)) continue;
            if (uint64_t part = ReadDeviceAttribute(child.path())) numbers.push_back(part);
        }
    }
    return numbers;
}

bool LooksLikeDevicePath(const std::string& text) {
    std::error_code ec;
    return text.rfind("/dev/", 0) == 0 || std::filesystem::is_block_file(text, ec);
}

std::string DeviceNameOfPath(const std::string& text) {
    // A link such as /dev/disk/by-label/CARD gives the name of the node it leads to.
    std::error_code ec;
    std::filesystem::path path(text);
    if (std::filesystem::is_block_file(path, ec)) {
        std::filesystem::path resolved = std::filesystem::canonical(path, ec);
        if (!ec) path = resolved;
    }
    return path.filename().string();
}

bool MountedFileSystemOf(const std::filesystem::path& folder, std::string& type,
                         std::filesystem::path& source) {
    uint64_t device = 0;
    if (GetPathDeviceNumber(folder, device) != 0) return false;
    for (const MountEntry& m : ReadMountTable()) {
        if (MakeDeviceNumber(m.major, m.minor) != device) continue;
        type = m.fsType;
        source = m.source;
        return true;
    }
    return false;
}

}  // namespace sorvane
