// How drives and volumes are named on Windows, and where a volume lies.
#pragma once

#include <cstdint>
#include <string>

namespace sorvane {

// "PhysicalDrive1" and "E:" give "\\.\PhysicalDrive1" and "\\.\E:";
// "Volume{...}" gives "\\?\Volume{...}" (without the trailing backslash, which
// would name the volume's root folder instead of the volume).
std::wstring DevicePathOfName(const std::string& name);

struct VolumeExtent {
    uint32_t diskNumber = 0;
    uint64_t startBytes = 0;
    uint64_t lengthBytes = 0;
};
// The first extent of a volume (a volume on one partition has one).
[[nodiscard]] bool VolumeExtentOf(const std::wstring& volumeDevice, VolumeExtent& extent);

}  // namespace sorvane
