#include "platform/block_device.h"

#include <vector>

#include "platform/result_codes.h"
#include "platform/windows/device_control.h"
#include "platform/windows/win32.h"

namespace sorvane {
namespace {

int DeviceGeometry(const FileHandle& handle, DISK_GEOMETRY_EX& geometry) {
    std::vector<uint8_t> out;
    int rc = CurrentDeviceControl().Control(handle.Path().wstring(), IOCTL_DISK_GET_DRIVE_GEOMETRY_EX,
                                            nullptr, 0, out);
    if (rc != kSuccess) return rc;
    // The answer ends in variable parts; its fixed head is what is used here.
    if (out.size() < offsetof(DISK_GEOMETRY_EX, Data)) return kErrInsufficientBuffer;
    geometry = {};
    std::memcpy(&geometry, out.data(), std::min(out.size(), sizeof geometry));
    return kSuccess;
}

}  // namespace

bool IsBlockDevice(const FileHandle& handle) {
    return handle.IsOpen() && win::IsDeviceName(handle.Path().wstring());
}

int QuerySectorSize(const FileHandle& handle, uint32_t& bytesPerSector) {
    bytesPerSector = 512;
    if (!handle.IsOpen()) return kErrInvalidHandle;
    if (!IsBlockDevice(handle)) return kSuccess;
    DISK_GEOMETRY_EX geometry{};
    int rc = DeviceGeometry(handle, geometry);
    if (rc != kSuccess) return rc;
    if (geometry.Geometry.BytesPerSector > 0) bytesPerSector = geometry.Geometry.BytesPerSector;
    return kSuccess;
}

int QueryDeviceLength(const FileHandle& handle, uint64_t& bytes) {
    bytes = 0;
    if (!handle.IsOpen()) return kErrInvalidHandle;
    if (!IsBlockDevice(handle)) return handle.Size(bytes);
    std::vector<uint8_t> out;
    int rc =
        CurrentDeviceControl().Control(handle.Path().wstring(), IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, out);
    if (rc != kSuccess) return rc;
    GET_LENGTH_INFORMATION length{};
    if (out.size() < sizeof length) return kErrInsufficientBuffer;
    std::memcpy(&length, out.data(), sizeof length);
    bytes = static_cast<uint64_t>(length.Length.QuadPart);
    return kSuccess;
}

int QueryDriveGeometry(const FileHandle& handle, DriveGeometry& geometry) {
    geometry = {};
    if (!handle.IsOpen()) return kErrInvalidHandle;
    uint64_t length = 0;
    int rc = QueryDeviceLength(handle, length);
    if (rc != kSuccess) return rc;
    geometry.mediaType = static_cast<uint32_t>(MediaType::kFixed);
    geometry.bytesPerSector = 512;
    geometry.tracksPerCylinder = 255;
    geometry.sectorsPerTrack = 63;
    if (IsBlockDevice(handle)) {
        DISK_GEOMETRY_EX device{};
        rc = DeviceGeometry(handle, device);
        if (rc != kSuccess) return rc;
        const DISK_GEOMETRY& g = device.Geometry;
        if (g.BytesPerSector) geometry.bytesPerSector = g.BytesPerSector;
        geometry.mediaType = g.MediaType == RemovableMedia ? static_cast<uint32_t>(MediaType::kRemovable)
                                                           : static_cast<uint32_t>(MediaType::kFixed);
        if (g.TracksPerCylinder && g.SectorsPerTrack) {
            geometry.tracksPerCylinder = g.TracksPerCylinder;
            geometry.sectorsPerTrack = g.SectorsPerTrack;
        }
    }
    uint64_t perCylinder =
        uint64_t(geometry.tracksPerCylinder) * geometry.sectorsPerTrack * geometry.bytesPerSector;
    geometry.cylinders = perCylinder ? length / perCylinder : 0;
    return kSuccess;
}

}  // namespace sorvane
