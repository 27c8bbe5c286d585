// Sector access to a whole drive or an image file. Every read of a source in
// Sorvane goes through here, and every source is opened read-only: a
// write-protected card must open, and nothing may ever be written to it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "device/bad_sector_map.h"
#include "platform/file_handle.h"

namespace sorvane {

// Largest piece handed to one operating-system read.
inline constexpr size_t kMaxReadPiece = 65536;

// One open drive or image file. Copies of a reader share the one open handle
// (closed when the last copy lets go), so every engine of a scan reads through
// the handle its source was opened with. A reader may also keep bytes already
// read (the start of a volume, read once when the source was recognised):
// reads of those bytes are answered from memory, faults included, so a
// failing sector there is met once rather than once per reader.
class DiskReader {
  public:
    DiskReader();
    uint64_t totalSectors = 0;  // every read is bounded by it
    // While set (during the copy of one file), a sector that cannot be read
    // comes back as zeros and is added here, and the read succeeds: a file
    // with one bad sector is kept, complete otherwise. Not owned, and not
    // shared: each copy of a reader has its own.
    mutable BadSectorMap* zeroFilled = nullptr;

    bool IsOpen() const;
    // Lets go of this copy's share of the handle.
    void Close();
    FileHandle& Handle();
    const FileHandle& Handle() const;

    // Keeps `bytes` read at byte `offset`; `badBytes` are the [first, end)
    // byte ranges of them that could not be read. Every copy sees them.
    void KeepBytes(uint64_t offset, std::vector<uint8_t> bytes,
                   std::vector<std::pair<uint64_t, uint64_t>> badBytes);
    // Reads `length` bytes at byte `offset` through the kept bytes. Returns 0
    // with `got` == `length`, or 30 (a fault, a short read or the end of the
    // source) with `got` the bytes read before it.
    [[nodiscard]] int ReadBytes(uint64_t offset, void* buffer, size_t length, size_t& got) const;

  private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
};

// Opens drive `driveIndex` of the drive table (a disk, or an image added as a
// drive). totalSectors = length / sector size, or the geometry's product when
// the length is unknown. Returns 0 or the result code.
[[nodiscard]] int OpenPhysicalDriveReader(DiskReader& reader, int driveIndex);
// Opens an image file; totalSectors = file size / 512 (whole sectors).
[[nodiscard]] int OpenImageReader(const std::filesystem::path& path, DiskReader& reader);
// The one rule for the sector size Sorvane reads a drive in, from what the
// device reports: a power of two from 512 to 4096 bytes; anything else (a
// failed query, 0, an odd value) is taken as 512.
uint32_t UsableSectorSize(uint32_t reported);
// Sector size of an open drive by that rule (512 for images).
uint32_t DriveSectorSize(const DiskReader& reader);
// Sector size of drive `driveIndex` by that rule.
uint32_t DriveSectorSizeOf(int driveIndex);

// Reads `count` sectors of `sectorSize` bytes from `startSector` into `buffer`.
// Returns 87 and reads nothing when the range passes totalSectors; 30 when a
// piece fails or comes back empty. `sectorsRead` counts the whole sectors read,
// also after a failure. With reader.zeroFilled set, unreadable sectors are
// zeros instead, listed there, and the read returns 0.
[[nodiscard]] int ReadSectors(uint32_t count, const DiskReader& reader, void* buffer, uint64_t startSector,
                              uint32_t sectorSize, uint32_t* sectorsRead);
// Reads like ReadSectors, but when the read fails reads the range again sector
// by sector: every readable sector lands in `buffer`, every unreadable one is
// filled with zeros and added to `bad` (as a sector number of the drive).
// Returns 0 when every sector was read, 30 when some were not (the buffer is
// then complete with zeros), 87 when the range passes totalSectors.
[[nodiscard]] int ReadSectorsSalvaging(uint32_t count, const DiskReader& reader, void* buffer,
                                       uint64_t startSector, uint32_t sectorSize, BadSectorMap& bad);
// Makes the reads of `reader` fill unreadable sectors with zeros (and list
// them in `unreadable`) while it lives. A null reader is left alone.
class ZeroFilledReads {
  public:
    ZeroFilledReads(const DiskReader* reader, BadSectorMap& unreadable) : reader_(reader) {
        if (reader_) reader_->zeroFilled = &unreadable;
    }
    ~ZeroFilledReads() {
        if (reader_) reader_->zeroFilled = nullptr;
    }
    ZeroFilledReads(const ZeroFilledReads&) = delete;
    ZeroFilledReads& operator=(const ZeroFilledReads&) = delete;

  private:
    const DiskReader* reader_;
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
