#include "platform/drive_table.h"

#include <cstring>

#include "platform/windows/device_control.h"
#include "platform/windows/disk_names.h"
#include "platform/windows/win32.h"

namespace sorvane {
namespace {

// Drive numbers are not always contiguous (a card reader removed leaves a gap),
// so every number up to this one is asked.
constexpr int kHighestDriveNumber = 63;

bool StorageDescriptor(const std::string& name, STORAGE_DEVICE_DESCRIPTOR& descriptor) {
    STORAGE_PROPERTY_QUERY query{};
    query.PropertyId = StorageDeviceProperty;
    query.QueryType = PropertyStandardQuery;
    std::vector<uint8_t> out;
    if (CurrentDeviceControl().Control(DevicePathOfName(name), IOCTL_STORAGE_QUERY_PROPERTY, &query,
                                       sizeof query, out) != 0 ||
        out.size() < offsetof(STORAGE_DEVICE_DESCRIPTOR, RawPropertiesLength))
        return false;
    descriptor = {};
    std::memcpy(&descriptor, out.data(), std::min(out.size(), sizeof descriptor));
    return true;
}

}  // namespace

std::vector<DriveInfo> ListWholeDisks() {
    std::vector<DriveInfo> disks;
    for (int n = 0; n <= kHighestDriveNumber; ++n) {
        const std::string name = "PhysicalDrive" + std::to_string(n);
        std::vector<uint8_t> out;
        if (CurrentDeviceControl().Control(DevicePathOfName(name), IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr,
                                           0, out) != 0)
            continue;
        disks.push_back({n, name, std::filesystem::path(DevicePathOfName(name)), false});
    }
    return disks;
}

bool DiskIsRemovable(const std::string& name) {
    STORAGE_DEVICE_DESCRIPTOR descriptor{};
    return StorageDescriptor(name, descriptor) && descriptor.RemovableMedia;
}

bool DiskIsOnUsbOrSd(const std::string& name) {
    STORAGE_DEVICE_DESCRIPTOR descriptor{};
    if (!StorageDescriptor(name, descriptor)) return false;
    return descriptor.BusType == BusTypeUsb || descriptor.BusType == BusTypeSd ||
           descriptor.BusType == BusTypeMmc;
}

bool PartitionOfDisk(const std::string& partitionName, std::string& diskName, uint64_t& start,
                     uint64_t& sectors) {
    VolumeExtent extent;
    if (!VolumeExtentOf(DevicePathOfName(partitionName), extent)) return false;
    diskName = "PhysicalDrive" + std::to_string(extent.diskNumber);
    start = extent.startBytes / 512;
    sectors = extent.lengthBytes / 512;
    return true;
}

}  // namespace sorvane
