#include "device/disk_reader.h"

#include <algorithm>
#include <cstring>

#include "platform/block_device.h"
#include "platform/drive_table.h"
#include "platform/result_codes.h"

namespace sorvane {

struct DiskReader::Shared {
    FileHandle handle;
    uint64_t keptOffset = 0;
    std::vector<uint8_t> kept;
    std::vector<std::pair<uint64_t, uint64_t>> keptBad;  // [first, end) byte ranges
};

DiskReader::DiskReader() : shared_(std::make_shared<Shared>()) {}

bool DiskReader::IsOpen() const { return shared_->handle.IsOpen(); }

void DiskReader::Close() {
    shared_ = std::make_shared<Shared>();
    totalSectors = 0;
}

FileHandle& DiskReader::Handle() { return shared_->handle; }
const FileHandle& DiskReader::Handle() const { return shared_->handle; }

void DiskReader::KeepBytes(uint64_t offset, std::vector<uint8_t> bytes,
                           std::vector<std::pair<uint64_t, uint64_t>> badBytes) {
    shared_->keptOffset = offset;
    shared_->kept = std::move(bytes);
    shared_->keptBad = std::move(badBytes);
}

int DiskReader::ReadBytes(uint64_t offset, void* buffer, size_t length, size_t& got) const {
    got = 0;
    const Shared& s = *shared_;
    const uint64_t keptEnd = s.keptOffset + s.kept.size();
    auto* out = static_cast<uint8_t*>(buffer);
    while (got < length) {
        const uint64_t at = offset + got;
        size_t piece = std::min(length - got, kMaxReadPiece);
        if (at >= s.keptOffset && at < keptEnd) {
            piece = static_cast<size_t>(std::min<uint64_t>(piece, keptEnd - at));
            // What could not be read then cannot be read now: the read stops
            // before the first bad byte, as the medium's own read would.
            size_t usable = piece;
            for (const auto& [first, end] : s.keptBad) {
                if (end <= at || first >= at + usable) continue;
                usable = first > at ? static_cast<size_t>(first - at) : 0;
            }
            std::memcpy(out + got, s.kept.data() + (at - s.keptOffset), usable);
            got += usable;
            if (usable < piece) return kErrReadFault;
            continue;
        }
        if (at < s.keptOffset && !s.kept.empty())
            piece = static_cast<size_t>(std::min<uint64_t>(piece, s.keptOffset - at));
        size_t n = 0;
        const int rc = s.handle.ReadAt(at, out + got, piece, n);
        got += n;
        if (rc != kSuccess || n == 0) return kErrReadFault;
    }
    return kSuccess;
}

int OpenPhysicalDriveReader(DiskReader& reader, int driveIndex) {
    reader.Close();
    auto drive = DriveTable::Instance().Drive(driveIndex);
    if (!drive) return kErrFileNotFound;
    int rc = OpenReadOnly(drive->node, reader.Handle());
    if (rc != kSuccess) return rc;
    DriveGeometry geometry;
    rc = QueryDriveGeometry(reader.Handle(), geometry);
    if (rc != kSuccess) return rc;  // the handle stays open in the reader
    uint64_t length = 0;
    if (QueryDeviceLength(reader.Handle(), length) == kSuccess && geometry.bytesPerSector)
        reader.totalSectors = length / geometry.bytesPerSector;
    if (reader.totalSectors == 0)
        reader.totalSectors = geometry.cylinders * geometry.tracksPerCylinder * geometry.sectorsPerTrack;
    return kSuccess;
}

int OpenImageReader(const std::filesystem::path& path, DiskReader& reader) {
    reader.Close();
    int rc = OpenReadOnly(path, reader.Handle());
    if (rc != kSuccess) return rc;
    uint64_t size = 0;
    rc = reader.Handle().Size(size);
    if (rc != kSuccess) return rc;
    reader.totalSectors = size / 512;
    return kSuccess;
}

uint32_t UsableSectorSize(uint32_t reported) {
    const bool powerOfTwo = reported != 0 && (reported & (reported - 1)) == 0;
    return powerOfTwo && reported >= 512 && reported <= 4096 ? reported : 512;
}

uint32_t DriveSectorSize(const DiskReader& reader) {
    uint32_t size = 512;
    if (QuerySectorSize(reader.Handle(), size) != kSuccess) return 512;
    return UsableSectorSize(size);
}

uint32_t DriveSectorSizeOf(int driveIndex) {
    auto drive = DriveTable::Instance().Drive(driveIndex);
    if (!drive) return 512;
    FileHandle handle;
    if (OpenReadOnly(drive->node, handle) != kSuccess) return 512;
    uint32_t size = 512;
    if (QuerySectorSize(handle, size) != kSuccess) return 512;
    return UsableSectorSize(size);
}

int ReadSectors(uint32_t count, const DiskReader& reader, void* buffer, uint64_t startSector,
                uint32_t sectorSize, uint32_t* sectorsRead) {
    if (sectorsRead) *sectorsRead = 0;
    if (!buffer || sectorSize == 0) return kErrInvalidParameter;
    if (startSector > reader.totalSectors || count > reader.totalSectors - startSector)
        return kErrInvalidParameter;
    size_t got = 0;
    int rc = reader.ReadBytes(startSector * sectorSize, buffer, static_cast<size_t>(count) * sectorSize, got);
    size_t done = got;
    if (rc == kErrReadFault && reader.zeroFilled) {
        BadSectorMap& unreadable = *reader.zeroFilled;
        reader.zeroFilled = nullptr;
        const uint32_t whole = static_cast<uint32_t>(done / sectorSize);
        auto* out = static_cast<uint8_t*>(buffer);
        rc = ReadSectorsSalvaging(count - whole, reader, out + static_cast<size_t>(whole) * sectorSize,
                                  startSector + whole, sectorSize, unreadable);
        reader.zeroFilled = &unreadable;
        if (rc == kErrReadFault) rc = kSuccess;
        done = rc == kSuccess ? static_cast<size_t>(count) * sectorSize : done;
    }
    if (sectorsRead) *sectorsRead = static_cast<uint32_t>(done / sectorSize);
    return rc;
}

int ReadSectorsSalvaging(uint32_t count, const DiskReader& reader, void* buffer, uint64_t startSector,
                         uint32_t sectorSize, BadSectorMap& bad) {
    uint32_t got = 0;
    int rc = ReadSectors(count, reader, buffer, startSector, sectorSize, &got);
    if (rc != kErrReadFault) return rc;
    // One bad sector must not cost the whole chunk: the sectors the first read
    // did not return are tried one at a time.
    auto* out = static_cast<uint8_t*>(buffer);
    bool allRead = true;
    for (uint32_t i = got; i < count; ++i) {
        uint8_t* sector = out + static_cast<size_t>(i) * sectorSize;
        uint32_t one = 0;
        if (ReadSectors(1, reader, sector, startSector + i, sectorSize, &one) != kSuccess || one != 1) {
            std::memset(sector, 0, sectorSize);
            bad.Add(startSector + i);
            allRead = false;
        }
    }
    return allRead ? kSuccess : kErrReadFault;
}

int ReadFully(size_t byteCount, FileHandle& handle, void* buffer, size_t* bytesRead) {
    if (bytesRead) *bytesRead = 0;
    if (byteCount == 0) return kSuccess;
    size_t done = 0;
    auto* out = static_cast<uint8_t*>(buffer);
    while (done < byteCount) {
        size_t piece = byteCount - done < kMaxReadPiece ? byteCount - done : kMaxReadPiece;
        size_t got = 0;
        int rc = handle.Read(out + done, piece, got);
        done += got;
        if (bytesRead) *bytesRead = done;
        if (rc != kSuccess || got == 0) return kErrReadFault;
    }
    return kSuccess;
}

bool QueryBusIsUsbOrSd(const FileHandle& handle) {
    if (!handle.IsOpen()) return false;
    for (const DriveInfo& d : DriveTable::Instance().Drives()) {
        if (d.node == handle.Path()) return DiskIsOnUsbOrSd(d.name);
    }
    return false;
}

bool IsExternalDisk(int driveIndex) {
    auto drive = DriveTable::Instance().Drive(driveIndex);
    if (!drive || drive->isImage) return false;
    FileHandle handle;
    if (OpenReadOnly(drive->node, handle) != kSuccess) return false;
    if (DiskIsRemovable(drive->name)) return true;
    return DiskIsOnUsbOrSd(drive->name);
}

int GetDiskLength(int driveIndex, uint64_t& length) {
    length = 0;
    auto drive = DriveTable::Instance().Drive(driveIndex);
    if (!drive) return kErrFileNotFound;
    FileHandle handle;
    int rc = OpenReadOnly(drive->node, handle);
    if (rc != kSuccess) return rc;
    return QueryDeviceLength(handle, length);
}

int GetFileSize64(const std::filesystem::path& path, uint64_t& size) {
    size = 0;
    FileHandle handle;
    int rc = OpenReadOnly(path, handle);
    if (rc != kSuccess) return rc;
    return handle.Size(size);
}

}  // namespace sorvane
