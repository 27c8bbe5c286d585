#include "platform/block_device.h"

#include <linux/fs.h>
#include <linux/hdreg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include "platform/result_codes.h"

namespace sorvane {

bool IsBlockDevice(const FileHandle& handle) {
    struct stat st {};
    return handle.IsOpen() && ::fstat(static_cast<int>(handle.Native()), &st) == 0 && S_ISBLK(st.st_mode);
}

int QuerySectorSize(const FileHandle& handle, uint32_t& bytesPerSector) {
    bytesPerSector = 512;
    if (!handle.IsOpen()) return kErrInvalidHandle;
    if (!IsBlockDevice(handle)) return kSuccess;
    int size = 0;
    if (::ioctl(static_cast<int>(handle.Native()), BLKSSZGET, &size) != 0) return LastResult();
    if (size > 0) bytesPerSector = static_cast<uint32_t>(size);
    return kSuccess;
}

int QueryDeviceLength(const FileHandle& handle, uint64_t& bytes) { return handle.Size(bytes); }

int QueryDriveGeometry(const FileHandle& handle, DriveGeometry& geometry) {
    geometry = {};
    if (!handle.IsOpen()) return kErrInvalidHandle;
    int rc = QuerySectorSize(handle, geometry.bytesPerSector);
    if (rc != kSuccess) return rc;
    uint64_t length = 0;
    rc = QueryDeviceLength(handle, length);
    if (rc != kSuccess) return rc;
    geometry.mediaType = static_cast<uint32_t>(MediaType::kFixed);
    geometry.tracksPerCylinder = 255;
    geometry.sectorsPerTrack = 63;
    if (IsBlockDevice(handle)) {
        struct hd_geometry geo {};
        if (::ioctl(static_cast<int>(handle.Native()), HDIO_GETGEO, &geo) == 0 && geo.heads && geo.sectors) {
            geometry.tracksPerCylinder = geo.heads;
            geometry.sectorsPerTrack = geo.sectors;
        }
    }
    uint64_t perCylinder =
        uint64_t(geometry.tracksPerCylinder) * geometry.sectorsPerTrack * geometry.bytesPerSector;
    geometry.cylinders = perCylinder ? length / perCylinder : 0;
    return kSuccess;
}

}  // namespace sorvane
