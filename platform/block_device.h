// Questions about an open device: its sector size, length and geometry. An
// ordinary file (an image, or a file standing in for a device in tests)
// answers as a disk of 512-byte sectors.
#pragma once

#include <cstdint>

#include "platform/file_handle.h"

namespace sorvane {

enum class MediaType : uint32_t { kFixed = 12, kRemovable = 11, kUnknown = 0 };

struct DriveGeometry {
    uint64_t cylinders = 0;
    uint32_t mediaType = 0;
    uint32_t tracksPerCylinder = 0;
    uint32_t sectorsPerTrack = 0;
    uint32_t bytesPerSector = 0;
};

bool IsBlockDevice(const FileHandle& handle);
// Logical sector size of a block device; 512 for a regular file.
[[nodiscard]] int QuerySectorSize(const FileHandle& handle, uint32_t& bytesPerSector);
// Length in bytes of a block device or file.
[[nodiscard]] int QueryDeviceLength(const FileHandle& handle, uint64_t& bytes);
// Geometry from the device where it answers, otherwise the conventional
// 255 heads x 63 sectors per track over the device length.
[[nodiscard]] int QueryDriveGeometry(const FileHandle& handle, DriveGeometry& geometry);

}  // namespace sorvane
