// Sector access to a whole drive or an image file. Every read of a source in
// Sorvane goes through here, and every source is opened read-only: a
// write-protected card must open, and nothing may ever be written to it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "device/bad_sector_map.h"
#include "platform/file_handle.h"

namespace sorvane {

// Largest piece handed to one operating-system read.
inline constexpr size_t kMaxReadPiece = 65536;

struct DiskReader {
    FileHandle handle;
    uint64_t totalSectors = 0;  // every read is bounded by it
    // While set (during the copy of one file), a sector that cannot be read
    // comes back as zeros and is added here, and the read succeeds: a file
    // with one bad sector is kept, complete otherwise. Not owned.
    BadSectorMap* zeroFilled = nullptr;

    bool IsOpen() const { return handle.IsOpen(); }
    void Close() {
        handle.Close();
        totalSectors = 0;
    }
};

// Opens drive `driveIndex` of the drive table (a disk, or an image added as a
// drive). totalSectors = length / sector size, or the geometry's product when
// the length is unknown. Returns 0 or the result code.
[[nodiscard]] int OpenPhysicalDriveReader(DiskReader& reader, int driveIndex);
// Opens an image file; totalSectors = file size / 512 (whole sectors).
[[nodiscard]] int OpenImageReader(const std::filesystem::path& path, DiskReader& reader);
// Sector size of an open drive (512 for images and when the query fails).
uint32_t DriveSectorSize(const DiskReader& reader);
// Sector size of drive `driveIndex`, 512 when it cannot be asked.
uint32_t DriveSectorSizeOf(int driveIndex);

// Reads `count` sectors of `sectorSize` bytes from `startSector` into `buffer`.
// Returns 87 and reads nothing when the range passes totalSectors; 30 when a
// piece fails or comes back empty. `sectorsRead` counts the whole sectors read,
// also after a failure. With reader.zeroFilled set, unreadable sectors are
// zeros instead, listed there, and the read returns 0.
[[nodiscard]] int ReadSectors(uint32_t count, DiskReader& reader, void* buffer, uint64_t startSector,
                              uint32_t sectorSize, uint32_t* sectorsRead);
// Reads like ReadSectors, but when the read fails reads the range again sector
// by sector: every readable sector lands in `buffer`, every unreadable one is
// filled with zeros and added to `bad` (as a sector number of the drive).
// Returns 0 when every sector was read, 30 when some were not (the buffer is
// then complete with zeros), 87 when the range passes totalSectors.
[[nodiscard]] int ReadSectorsSalvaging(uint32_t count, DiskReader& reader, void* buffer, uint64_t startSector,
                                       uint32_t sectorSize, BadSectorMap& bad);
// Makes the reads of `reader` fill unreadable sectors with zeros (and list
// them in `unreadable`) while it lives. A null reader is left alone.
class ZeroFilledReads {
  public:
    ZeroFilledReads(DiskReader* reader, BadSectorMap& unreadable) : reader_(reader) {
        if (reader_) reader_->zeroFilled = &unreadable;
    }
    ~ZeroFilledReads() {
        if (reader_) reader_->zeroFilled = nullptr;
    }
    ZeroFilledReads(const ZeroFilledReads&) = delete;
    ZeroFilledReads& operator=(const ZeroFilledReads&) = delete;

  private:
    DiskReader* reader_;
};

// Reads `byteCount` bytes at the handle's position in pieces of at most 64 KiB.
// 0 bytes returns 0 at once; a failed or empty piece ends with 30.
[[nodiscard]] int ReadFully(size_t byteCount, FileHandle& handle, void* buffer, size_t* bytesRead);

// Device questions for the disk list.
bool IsExternalDisk(int driveIndex);
bool QueryBusIsUsbOrSd(const FileHandle& handle);
[[nodiscard]] int GetDiskLength(int driveIndex, uint64_t& length);
// Size of a file in bytes (opened read-only).
[[nodiscard]] int GetFileSize64(const std::filesystem::path& path, uint64_t& size);

}  // namespace sorvane
