#include "platform/disk_layout.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <cwctype>

#include "platform/path_text.h"
#include "platform/windows/device_control.h"
#include "platform/windows/disk_names.h"
#include "platform/windows/win32.h"

namespace sorvane {
namespace {

// "E:\" is a drive letter's root.
bool IsLetterRoot(const std::wstring& path) {
    return path.size() == 3 && std::iswalpha(path[0]) && path[1] == L':' && path[2] == L'\\';
}

std::wstring WithoutTrailingBackslash(std::wstring text) {
    if (!text.empty() && text.back() == L'\\') text.pop_back();
    return text;
}

struct LayoutEntry {
    int number = 0;
    uint64_t start = 0;
    uint64_t length = 0;
    uint8_t type = 0;
};

std::vector<LayoutEntry> DriveLayout(const std::wstring& disk) {
    std::vector<LayoutEntry> entries;
    std::vector<uint8_t> out;
    if (CurrentDeviceControl().Control(disk, IOCTL_DISK_GET_DRIVE_LAYOUT_EX, nullptr, 0, out) != 0)
        return entries;
    const size_t head = offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry);
    if (out.size() < head) return entries;
    DRIVE_LAYOUT_INFORMATION_EX layout{};
    std::memcpy(&layout, out.data(), head);
    const size_t room = (out.size() - head) / sizeof(PARTITION_INFORMATION_EX);
    const size_t count = std::min<size_t>(layout.PartitionCount, room);
    for (size_t i = 0; i < count; ++i) {
        PARTITION_INFORMATION_EX p{};
        std::memcpy(&p, out.data() + head + i * sizeof p, sizeof p);
        if (p.PartitionLength.QuadPart <= 0) continue;
        LayoutEntry e;
        e.number = static_cast<int>(p.PartitionNumber);
        e.start = static_cast<uint64_t>(p.StartingOffset.QuadPart);
        e.length = static_cast<uint64_t>(p.PartitionLength.QuadPart);
        if (p.PartitionStyle == PARTITION_STYLE_MBR) {
            // Unused slots of the MBR have type 0.
            if (p.Mbr.PartitionType == PARTITION_ENTRY_UNUSED) continue;
            e.type = p.Mbr.PartitionType;
        }
        entries.push_back(e);
    }
    return entries;
}

// What the mount point manager knows about one volume on this disk.
struct VolumeOnDisk {
    std::wstring name;  // "\\?\Volume{...}\"
    VolumeExtent extent;
};

std::vector<VolumeOnDisk> VolumesOfDisk(int diskNumber) {
    std::vector<VolumeOnDisk> volumes;
    DeviceControl& control = CurrentDeviceControl();
    for (const std::wstring& name : control.VolumeNames()) {
        VolumeExtent extent;
        if (!VolumeExtentOf(WithoutTrailingBackslash(name), extent)) continue;
        if (static_cast<int>(extent.diskNumber) == diskNumber) volumes.push_back({name, extent});
    }
    return volumes;
}

void DescribeVolume(const std::wstring& volumeName, SystemPartition& part) {
    DeviceControl& control = CurrentDeviceControl();
    std::wstring firstFolder;
    for (const std::wstring& path : control.VolumePathNames(volumeName)) {
        if (IsLetterRoot(path) && !part.letter) {
            part.letter = static_cast<char16_t>(std::towupper(path[0]));
        } else if (firstFolder.empty()) {
            firstFolder = path;
        }
    }
    const std::wstring guid = WithoutTrailingBackslash(volumeName);
    if (part.letter) {
        part.name = std::string(1, static_cast<char>(part.letter)) + ":";
        part.mountPoint = std::wstring(1, static_cast<wchar_t>(part.letter)) + L":\\";
    } else {
        // "\\?\Volume{...}" named without its prefix.
        part.name = win::Utf8(guid.size() > 4 ? guid.substr(4) : guid);
        part.mountPoint = firstFolder;
    }
    part.node = DevicePathOfName(part.name);
    VolumeFacts facts;
    if (control.VolumeInformation(volumeName, facts) == 0) {
        part.mountedType = win::Utf8(facts.fileSystem);
        part.device = facts.serial;
    }
}

}  // namespace

std::wstring DevicePathOfName(const std::string& name) {
    if (name.rfind("Volume{", 0) == 0) return L"\\\\?\\" + win::Wide(name);
    return L"\\\\.\\" + win::Wide(name);
}

bool VolumeExtentOf(const std::wstring& volumeDevice, VolumeExtent& extent) {
    std::vector<uint8_t> out;
    if (CurrentDeviceControl().Control(volumeDevice, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, out) !=
        0)
        return false;
    const size_t head = offsetof(VOLUME_DISK_EXTENTS, Extents);
    if (out.size() < head + sizeof(DISK_EXTENT)) return false;
    DWORD count = 0;
    std::memcpy(&count, out.data(), sizeof count);
    if (count == 0) return false;
    DISK_EXTENT first{};
    std::memcpy(&first, out.data() + head, sizeof first);
    extent.diskNumber = first.DiskNumber;
    extent.startBytes = static_cast<uint64_t>(first.StartingOffset.QuadPart);
    extent.lengthBytes = static_cast<uint64_t>(first.ExtentLength.QuadPart);
    return true;
}

bool DisksCanBeListed() { return true; }

std::vector<SystemPartition> ListSystemPartitions(const DriveInfo& drive) {
    std::vector<SystemPartition> parts;
    if (drive.isImage) return parts;
    std::vector<VolumeOnDisk> volumes = VolumesOfDisk(drive.index);
    for (const LayoutEntry& entry : DriveLayout(drive.node.wstring())) {
        SystemPartition part;
        part.number = entry.number;
        part.startBytes = entry.start;
        part.lengthBytes = entry.length;
        part.partitionType = entry.type;
        part.name = "Harddisk" + std::to_string(drive.index) + "Partition" + std::to_string(entry.number);
        part.node = L"\\\\?\\GLOBALROOT\\Device\\" + win::Wide(part.name);
        for (const VolumeOnDisk& v : volumes)
            if (v.extent.startBytes == entry.start) DescribeVolume(v.name, part);
        parts.push_back(std::move(part));
    }
    // Without a readable layout, the volumes the system mounted still show.
    if (parts.empty()) {
        int number = 1;
        for (const VolumeOnDisk& v : volumes) {
            SystemPartition part;
            part.number = number++;
            part.startBytes = v.extent.startBytes;
            part.lengthBytes = v.extent.lengthBytes;
            DescribeVolume(v.name, part);
            parts.push_back(std::move(part));
        }
    }
    std::sort(parts.begin(), parts.end(),
              [](const SystemPartition& a, const SystemPartition& b) { return a.number < b.number; });
    return parts;
}

bool SystemDiskSize(const DriveInfo& drive, uint64_t& bytes, uint32_t& bytesPerSector) {
    std::vector<uint8_t> out;
    if (drive.isImage ||
        CurrentDeviceControl().Control(drive.node.wstring(), IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, nullptr, 0,
                                       out) != 0 ||
        out.size() < offsetof(DISK_GEOMETRY_EX, Data))
        return false;
    DISK_GEOMETRY_EX geometry{};
    std::memcpy(&geometry, out.data(), offsetof(DISK_GEOMETRY_EX, Data));
    bytes = static_cast<uint64_t>(geometry.DiskSize.QuadPart);
    bytesPerSector = geometry.Geometry.BytesPerSector ? geometry.Geometry.BytesPerSector : 512;
    return true;
}

uint64_t SystemDiskDeviceNumber(const DriveInfo&) {
    // A whole disk holds no file system of its own, so no path lies on it directly.
    return 0;
}

std::vector<uint64_t> DevicesBackedByFile(const std::filesystem::path&) {
    // An image Windows attaches (a mounted VHD) is a disk of its own with no
    // file of ours behind it; a raw image file is never read as a device.
    return {};
}

bool LooksLikeDevicePath(const std::string& text) {
    if (text.rfind("\\\\.\\", 0) == 0 || text.rfind("//./", 0) == 0 || text.rfind("\\\\?\\Volume{", 0) == 0)
        return true;
    // "E:" alone names the volume; "E:\" its root folder, which is also taken as the volume.
    return (text.size() == 2 || (text.size() == 3 && (text[2] == '\\' || text[2] == '/'))) &&
           std::isalpha(static_cast<unsigned char>(text[0])) && text[1] == ':';
}

std::string DeviceNameOfPath(const std::string& text) {
    std::string name = text;
    if (name.rfind("\\\\.\\", 0) == 0 || name.rfind("//./", 0) == 0 || name.rfind("\\\\?\\", 0) == 0)
        name = name.substr(4);
    while (!name.empty() && (name.back() == '\\' || name.back() == '/')) name.pop_back();
    if (name.size() == 2 && name[1] == ':')
        name[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
    return name;
}

bool MountedFileSystemOf(const std::filesystem::path& folder, std::string& type,
                         std::filesystem::path& source) {
    std::error_code ec;
    const std::wstring full = std::filesystem::absolute(folder, ec).wstring();
    if (ec) return false;
    wchar_t root[MAX_PATH + 1] = {};
    if (!::GetVolumePathNameW(full.c_str(), root, MAX_PATH + 1)) return false;
    wchar_t fileSystem[MAX_PATH + 1] = {};
    if (!::GetVolumeInformationW(root, nullptr, 0, nullptr, nullptr, nullptr, fileSystem, MAX_PATH + 1))
        return false;
    type = win::Utf8(fileSystem);
    const std::wstring r = root;
    source = IsLetterRoot(r) ? std::filesystem::path(L"\\\\.\\" + r.substr(0, 2)) : std::filesystem::path();
    return true;
}

}  // namespace sorvane
