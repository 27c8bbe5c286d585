#include "results/image_copy.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <system_error>

#include "device/boot_sector.h"
#include "device/partition_details.h"
#include "platform/block_device.h"
#include "platform/disk_layout.h"
#include "platform/drive_table.h"
#include "platform/result_codes.h"
#include "platform/system_root.h"
#include "platform/volume_registry.h"
#include "results/size_text.h"

namespace sorvane {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kEstimateInterval = std::chrono::milliseconds(5000);
// FAT32 stores a file's size in 32 bits: 4 GiB - 1 bytes at most.
constexpr uint64_t kFat32Limit = uint64_t{4} << 30;
constexpr uint64_t kFatLimit = uint64_t{2} << 30;

std::filesystem::path FolderOf(const std::filesystem::path& imagePath) {
    std::filesystem::path folder = imagePath.parent_path();
    return folder.empty() ? std::filesystem::path(".") : folder;
}

// The boot sector of a mounted volume's device, to tell FAT widths and what a
// "fuseblk" mount serves. False when the device cannot be read (no rights).
bool ReadBootSectorOf(const std::string& source, std::vector<uint8_t>& sector) {
    if (source.empty() || source.front() != '/') return false;
    FileHandle handle;
    if (OpenReadOnly(SystemPath(source), handle) != kSuccess) return false;
    sector.assign(512, 0);
    size_t got = 0;
    return handle.ReadAt(0, sector.data(), sector.size(), got) == kSuccess && got == sector.size();
}

// Reads sector `sector` (counted from the copy's start) whole into `out`.
bool ReadWholeSector(const ImageCopyJob& job, uint64_t sector, uint8_t* out) {
    const uint64_t offset = (job.startSector + sector) * job.bytesPerSector;
    size_t got = 0;
    return job.disk.Handle().ReadAt(offset, out, job.bytesPerSector, got) == kSuccess &&
           got == job.bytesPerSector;
}

}  // namespace

int OpenImageCopyJob(ImageCopyJob& job, const std::filesystem::path& imagePath, int diskNumber,
                     uint64_t startSector, uint64_t sectorCount, void* userData) {
    job.startSector = startSector;
    job.sectorCount = sectorCount;
    job.userData = userData;
    job.bytesPerSector = 512;
    job.sectorsCopied = 0;
    job.failedSector = 0;
    job.unreadable = BadSectorMap();
    job.image.Close();
    int rc = OpenPhysicalDriveReader(job.disk, diskNumber);
    if (rc != kSuccess) return rc;
    DriveGeometry geometry;
    rc = QueryDriveGeometry(job.disk.Handle(), geometry);
    if (rc != kSuccess) return rc;
    if (geometry.bytesPerSector) job.bytesPerSector = geometry.bytesPerSector;
    uint64_t length = 0;
    rc = QueryDeviceLength(job.disk.Handle(), length);
    if (rc != kSuccess) return rc;
    uint64_t diskSectors = length / job.bytesPerSector;
    if (diskSectors == 0)
        diskSectors = geometry.cylinders * geometry.tracksPerCylinder * geometry.sectorsPerTrack;
    if (startSector > diskSectors) return kErrInvalidParameter;
    if (job.sectorCount == 0) job.sectorCount = diskSectors - startSector;
    if (job.sectorCount == 0 || job.sectorCount > diskSectors - startSector) return kErrInvalidParameter;
    // The copy must never write into what it reads, nor through a device node.
    std::error_code ec;
    if (std::filesystem::exists(imagePath, ec) &&
        (!std::filesystem::is_regular_file(imagePath, ec) || IsImageSource(imagePath, diskNumber)))
        return kErrAccessDenied;
    return OpenForWriting(imagePath, WriteMode::kCreateOrTruncate, job.image);
}

int RunImageCopy(ImageCopyJob& job, int diskNumber, uint64_t startSector, uint64_t sectorCount,
                 const std::filesystem::path& imagePath, void* userData) {
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kImageCopyChunk]);
    if (!buffer) return kErrNotEnoughMemory;
    const Clock::time_point started = Clock::now();
    Clock::time_point lastEstimate = started;
    int64_t secondsLeft = -1;

    int rc = OpenImageCopyJob(job, imagePath, diskNumber, startSector, sectorCount, userData);
    const uint64_t bytesPerSector = job.bytesPerSector;
    const uint64_t total = job.sectorCount * bytesPerSector;
    const uint64_t base = job.startSector * bytesPerSector;
    uint64_t done = 0;
    while (rc == kSuccess && done < total) {
        const size_t chunk = static_cast<size_t>(std::min<uint64_t>(kImageCopyChunk, total - done));
        size_t got = 0;
        while (got < chunk) {
            size_t n = 0;
            int readRc = job.disk.Handle().ReadAt(base + done + got, buffer.get() + got, chunk - got, n);
            got += n;
            if (readRc != kSuccess || n == 0) {
                job.failedSector = (base + done + got) / bytesPerSector;
                rc = kErrReadFault;
                break;
            }
        }
        if (rc == kErrReadFault && job.keepGoing) {
            // Whole sectors already read stay; the rest are tried one by one.
            const uint64_t firstSector = (done + got) / bytesPerSector;
            const uint64_t lastSector = (done + chunk) / bytesPerSector;
            for (uint64_t sector = firstSector; sector < lastSector; ++sector) {
                uint8_t* at = buffer.get() + (sector * bytesPerSector - done);
                if (!ReadWholeSector(job, sector, at)) {
                    std::memset(at, 0, bytesPerSector);
                    job.unreadable.Add(sector);
                }
            }
            rc = kSuccess;
        }
        if (rc == kErrReadFault) {
            // The whole sectors read before the fault are kept: the image then
            // holds everything up to the sector that failed.
            const size_t whole = static_cast<size_t>(got / bytesPerSector * bytesPerSector);
            if (whole > 0 && job.image.Write(buffer.get(), whole) == kSuccess)
                job.sectorsCopied = (done + whole) / bytesPerSector;
        }
        if (rc != kSuccess) break;
        rc = job.image.Write(buffer.get(), chunk);
        if (rc != kSuccess) break;
        done += chunk;
        job.sectorsCopied = done / bytesPerSector;

        const Clock::time_point now = Clock::now();
        if (now - lastEstimate >= kEstimateInterval) {
            lastEstimate = now;
            auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now - started).count();
            uint64_t rate = done / static_cast<uint64_t>(std::max<int64_t>(1, seconds));
            secondsLeft = rate ? static_cast<int64_t>((total - done) / rate) : -1;
        }
        if (job.progress) {
            int answer = job.progress(userData, static_cast<int>(done * 100 / total), done / bytesPerSector,
                                      total / bytesPerSector, secondsLeft);
            if (answer != 0) rc = answer;
        }
    }
    // One more try for every sector that failed: a weak sector sometimes
    // reads on a second attempt.
    if (rc == kSuccess && !job.unreadable.Empty()) {
        std::vector<uint8_t> sector(bytesPerSector);
        const std::vector<SectorRange> ranges = job.unreadable.Ranges();
        for (const SectorRange& r : ranges) {
            for (uint64_t s = r.first; s < r.first + r.count && rc == kSuccess; ++s) {
                if (!ReadWholeSector(job, s, sector.data())) continue;
                job.image.Seek(s * bytesPerSector);
                rc = job.image.Write(sector.data(), sector.size());
                if (rc == kSuccess) job.unreadable.Remove(s);
            }
        }
        job.image.Seek(total);
    }
    // A write the system had only buffered can still fail; the image is not
    // reported complete before it is on the medium.
    if (rc == kSuccess) rc = job.image.Sync();
    if (rc == kSuccess && !job.unreadable.Empty()) rc = kErrReadFault;
    job.image.Close();
    job.disk.Close();
    return rc;
}

std::filesystem::path UnreadableMapPath(const std::filesystem::path& imagePath) {
    std::filesystem::path map = imagePath;
    map += ".bad-sectors.txt";
    return map;
}

int SaveUnreadableMap(const BadSectorMap& unreadable, uint32_t sectorSize, const std::string& sourceText,
                      const std::filesystem::path& mapPath) {
    FileHandle map;
    const std::string text = unreadable.MapText(sectorSize, sourceText);
    int rc = OpenForWriting(mapPath, WriteMode::kCreateNew, map);
    if (rc == kSuccess) rc = map.Write(text.data(), text.size());
    if (rc == kSuccess) rc = map.Sync();
    map.Close();
    return rc;
}

bool IsImageSource(const std::filesystem::path& imagePath, int diskNumber) {
    auto drive = DriveTable::Instance().Drive(diskNumber);
    if (!drive) return false;
    std::error_code ec;
    return std::filesystem::equivalent(imagePath, drive->node, ec) && !ec;
}

const char* MessageIdOf(ImageDestinationVerdict verdict) {
    switch (verdict) {
        case ImageDestinationVerdict::kOnImagedVolume:
            return "MSG0218";
        case ImageDestinationVerdict::kFat32TooLarge:
            return "MSG0220";
        case ImageDestinationVerdict::kFatTooLarge:
            return "MSG0219";
        case ImageDestinationVerdict::kNotEnoughSpace:
            return "MSG0221";
        case ImageDestinationVerdict::kAccepted:
            break;
    }
    return "";
}

std::string FileSystemNameOfFolder(const std::filesystem::path& folder) {
    std::string type;
    std::filesystem::path source;
    if (!MountedFileSystemOf(folder, type, source)) return {};
    std::vector<uint8_t> boot;
    bool haveBoot =
        (type == "vfat" || type == "msdos" || type == "fuseblk") && ReadBootSectorOf(source.string(), boot);
    if (type == "fuseblk" && haveBoot && IsExfatBootSector(boot.data(), boot.size())) return "exFAT";
    // Without the boot sector, vfat counts as FAT32: its 4 GiB file limit binds every FAT width.
    int fatBits =
        haveBoot && IsFatBootSector(boot.data(), boot.size()) ? FatBitsOfBootSector(boot.data()) : 32;
    return FileSystemNameFromMountType(type, fatBits);
}

ImageDestinationVerdict CheckImageDestination(const std::filesystem::path& imagePath,
                                              const std::vector<uint64_t>& imagedDevices,
                                              uint64_t imageBytes) {
    const std::filesystem::path folder = FolderOf(imagePath);
    uint64_t device = 0;
    if (GetPathDeviceNumber(folder, device) != kSuccess) return ImageDestinationVerdict::kAccepted;
    if (std::find(imagedDevices.begin(), imagedDevices.end(), device) != imagedDevices.end())
        return ImageDestinationVerdict::kOnImagedVolume;
    // Compared by name exactly: "FAT32" and "exFAT" also contain "FAT", and
    // neither has FAT16's 2 GiB limit.
    const std::string fileSystem = FileSystemNameOfFolder(folder);
    if (fileSystem == "FAT32" && imageBytes >= kFat32Limit) return ImageDestinationVerdict::kFat32TooLarge;
    if (fileSystem == "FAT" && imageBytes > kFatLimit) return ImageDestinationVerdict::kFatTooLarge;
    uint64_t total = 0, free = 0;
    if (GetPathSpace(folder, total, free) == kSuccess && free <= imageBytes)
        return ImageDestinationVerdict::kNotEnoughSpace;
    return ImageDestinationVerdict::kAccepted;
}

std::vector<uint64_t> ImagedDeviceNumbers(const VolumeEntry* partition, int diskNumber) {
    if (partition) {
        auto info = VolumeRegistry::Instance().Get(partition->letter);
        if (partition->IsVolume() && info && info->deviceNumber) return {info->deviceNumber};
        // A region or an unregistered volume: anything on its disk counts.
        return DeviceNumbersOfDisk(partition->diskNumber);
    }
    return DeviceNumbersOfDisk(diskNumber);
}

uint64_t ImageSizeOf(const VolumeEntry* partition, int diskNumber) {
    if (partition) return partition->length * DriveSectorSizeOf(partition->diskNumber);
    uint64_t length = 0;
    return GetDiskLength(diskNumber, length) == kSuccess ? length : 0;
}

std::string ProposedImageName(const VolumeEntry* partition, int diskNumber) {
    char name[256];
    if (!partition) {
        std::snprintf(name, sizeof name, "Physical Disk %d", diskNumber + 1);
        return name;
    }
    if (!partition->IsVolume()) {
        std::snprintf(name, sizeof name, "Physical Disk %d (%s)", partition->diskNumber + 1,
                      FormatSizeText(partition->totalBytes).c_str());
        return name;
    }
    std::snprintf(name, sizeof name, "%d (%s, %s)", int(partition->letter), partition->fileSystemName.c_str(),
                  FormatSizeText(partition->totalBytes).c_str());
    return name;
}

}  // namespace sorvane
