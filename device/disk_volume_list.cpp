#include "device/disk_volume_list.h"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <set>
#include <system_error>

#include "device/boot_sector.h"
#include "device/disk_reader.h"
#include "device/partition_details.h"
#include "platform/block_device.h"
#include "platform/disk_layout.h"
#include "platform/drive_table.h"
#include "platform/path_text.h"
#include "platform/result_codes.h"
#include "platform/text_encoding.h"
#include "platform/volume_registry.h"

namespace sorvane {
namespace {

// Where nothing better is known: partitions start after the first track, and
// only a gap of more than one cylinder counts as a region worth listing.
constexpr uint64_t kDefaultPreviousEnd = 63;
constexpr uint64_t kDefaultMinimumGap = 16065;
// Enough of a volume's start for NTFS, FAT, exFAT and the ext superblock.
constexpr size_t kVolumeHeadBytes = 8192;  // reaches the exFAT backup boot sector

struct DiskFacts {
    uint32_t bytesPerSector = 512;
    uint32_t tracksPerCylinder = 0;
    uint32_t sectorsPerTrack = 0;
    uint64_t lengthSectors = 0;
};

// Sector size, geometry and length of a disk: from the device when it opens,
// else from the system's description (an ordinary user may list the disks
// without reading them).
std::optional<DiskFacts> ReadDiskFacts(const DriveInfo& drive) {
    DiskFacts facts;
    FileHandle handle;
    DriveGeometry geometry;
    uint64_t length = 0;
    if (OpenReadOnly(drive.node, handle) == kSuccess && QueryDriveGeometry(handle, geometry) == kSuccess &&
        QueryDeviceLength(handle, length) == kSuccess && geometry.bytesPerSector != 0) {
        facts.bytesPerSector = geometry.bytesPerSector;
        facts.tracksPerCylinder = geometry.tracksPerCylinder;
        facts.sectorsPerTrack = geometry.sectorsPerTrack;
        facts.lengthSectors = length / geometry.bytesPerSector;
        if (facts.lengthSectors == 0)
            facts.lengthSectors = geometry.cylinders * geometry.tracksPerCylinder * geometry.sectorsPerTrack;
        return facts;
    }
    uint64_t bytes = 0;
    if (!SystemDiskSize(drive, bytes, facts.bytesPerSector) || facts.bytesPerSector == 0) return std::nullopt;
    facts.tracksPerCylinder = 255;
    facts.sectorsPerTrack = 63;
    facts.lengthSectors = bytes / facts.bytesPerSector;
    return facts;
}

std::string FileSystemFromBootSector(const std::vector<uint8_t>& head, int& fatBits) {
    fatBits = 0;
    const VolumeKind kind = ClassifyVolume(head.data(), head.size());
    if (kind == VolumeKind::kUnknown) return "";
    if (kind == VolumeKind::kFat) {
        fatBits = FatBitsOfBootSector(head.data(), head.size());
        if (fatBits == 32) return "FAT32";
    }
    return VolumeKindName(kind);
}

uint8_t TypeOfFileSystem(const std::string& name, uint8_t type) {
    if (CompareNamesIgnoringCase(name, "NTFS") == 0) return 7;
    if (CompareNamesIgnoringCase(name, "FAT32") == 0) return 11;
    if (CompareNamesIgnoringCase(name, "FAT") == 0) return 6;
    return type;
}

void SortByStart(std::vector<VolumeEntry>& entries) {
    std::stable_sort(entries.begin(), entries.end(),
                     [](const VolumeEntry& a, const VolumeEntry& b) { return a.start < b.start; });
}

VolumeEntry FreeSpaceEntry(int disk, uint64_t start, uint64_t length, uint32_t bytesPerSector) {
    VolumeEntry e;
    e.diskNumber = disk;
    e.partitionNumber = 0;
    e.start = start;
    e.length = length;
    e.totalBytes = e.freeBytes = length * bytesPerSector;
    return e;
}

}  // namespace

int CDiskVolumeList::RefreshDiskList() {
    cursorDisk_ = 0;
    cursorPosition_ = 0;
    disks_.clear();
    pending_.clear();
    if (!CollectVolumes()) return 0;
    for (auto& [disk, entries] : disks_) SortByStart(entries);
    AddGapsAndBareDisks();
    for (auto& [disk, entries] : disks_) SortByStart(entries);
    NumberVolumes();
    pending_.clear();
    return 1;
}

bool CDiskVolumeList::CollectVolumes() {
    if (!DisksCanBeListed()) return false;
    DriveTable& table = DriveTable::Instance();
    table.Refresh();
    std::set<std::string> seen;
    std::vector<uint8_t> head(kVolumeHeadBytes);

    for (const DriveInfo& drive : table.Drives()) {
        std::vector<SystemPartition> parts = ListSystemPartitions(drive);
        if (parts.empty()) continue;
        DiskReader reader;
        bool readable = OpenPhysicalDriveReader(reader, drive.index) == kSuccess;
        std::optional<DiskFacts> facts = ReadDiskFacts(drive);
        uint32_t bytesPerSector = facts ? facts->bytesPerSector : 512;
        ByteSource disk = [&reader, readable](uint64_t offset, uint8_t* buffer, size_t length) {
            size_t got = 0;
            return readable && reader.Handle().ReadAt(offset, buffer, length, got) == kSuccess &&
                   got == length;
        };
        std::map<uint64_t, uint8_t> mbrTypes;
        if (readable) mbrTypes = ReadMbrPartitionTypes(disk, bytesPerSector);

        for (const SystemPartition& part : parts) {
            // One entry per device, however often it is listed or mounted.
            std::string identity = part.device ? std::to_string(part.device) : part.name;
            if (!seen.insert(identity).second) continue;
            VolumeEntry e;
            e.letter = part.letter ? static_cast<uint16_t>(part.letter) : kUnnumberedVolume;
            e.diskNumber = drive.index;
            e.partitionNumber = part.number;
            e.start = part.startBytes;
            e.length = part.lengthBytes;
            e.partitionType = part.partitionType;
            if (e.partitionType == 0 && e.start % bytesPerSector == 0) {
                auto it = mbrTypes.find(e.start / bytesPerSector);
                if (it != mbrTypes.end()) e.partitionType = it->second;
            }
            // The extended container holds the logical partitions; it is no volume.
            if (IsExtendedPartitionType(e.partitionType)) continue;

            int fatBits = 0;
            std::string bootName;
            bool haveHead = disk(e.start, head.data(), head.size());
            if (haveHead) bootName = FileSystemFromBootSector(head, fatBits);
            const bool mounted = !part.mountedType.empty();
            // "fuseblk" says only that a user-space driver serves the volume.
            if (mounted && (part.mountedType != "fuseblk" || bootName.empty()))
                e.fileSystemName = FileSystemNameFromMountType(part.mountedType, fatBits ? fatBits : 32);
            else
                e.fileSystemName = bootName;
            if (e.fileSystemName.size() > 31) e.fileSystemName.resize(31);
            if (haveHead && !bootName.empty()) {
                uint64_t volumeStart = e.start;
                ByteSource volume = [&disk, volumeStart](uint64_t offset, uint8_t* buffer, size_t length) {
                    return offset <= UINT64_MAX - volumeStart && disk(volumeStart + offset, buffer, length);
                };
                if (bootName.rfind("FAT", 0) == 0)
                    e.label = ReadFatVolumeLabel(volume, head.data(), 512);
                else if (bootName == "exFAT")
                    e.label = ReadExfatVolumeLabel(volume, head.data(), 512);
                else if (bootName == "NTFS")
                    e.label = ReadNtfsVolumeLabel(volume, head.data(), 512);
            }
            e.partitionType = TypeOfFileSystem(e.fileSystemName, e.partitionType);

            const std::filesystem::path& mountPoint = part.mountPoint;
            e.totalBytes = e.length;
            if (!mountPoint.empty()) {
                uint64_t total = 0, free = 0;
                if (GetPathSpace(mountPoint, total, free) == kSuccess) {
                    e.totalBytes = total;
                    e.freeBytes = free;
                }
            }
            e.usedBytes = e.totalBytes >= e.freeBytes ? e.totalBytes - e.freeBytes : 0;
            e.volumePath = Utf8FromPath(part.node);
            pending_[e.volumePath] = {part.node, part.device, mountPoint, e.fileSystemName};
            disks_[drive.index].push_back(std::move(e));
        }
    }
    return true;
}

void CDiskVolumeList::AddGapsAndBareDisks() {
    DriveTable& table = DriveTable::Instance();
    for (auto& [disk, entries] : disks_) {
        uint64_t previousEnd = kDefaultPreviousEnd;
        uint64_t minimumGap = kDefaultMinimumGap;
        uint64_t diskSize = 0;
        uint32_t bytesPerSector = 512;
        auto drive = table.Drive(disk);
        std::optional<DiskFacts> facts = drive ? ReadDiskFacts(*drive) : std::nullopt;
        if (facts) {
            bytesPerSector = facts->bytesPerSector;
            minimumGap = uint64_t(facts->tracksPerCylinder) * facts->sectorsPerTrack;
            previousEnd = facts->sectorsPerTrack;
            // The exact length: a disk rarely ends on a cylinder boundary, and the
            // sectors after the last whole cylinder hold data like any other.
            diskSize = facts->lengthSectors;
        }
        bytesPerSector_ = bytesPerSector;
        std::vector<VolumeEntry> regions;
        for (VolumeEntry& e : entries) {
            e.start /= bytesPerSector;
            e.length /= bytesPerSector;
            // Nested or overlapping partitions leave no gap (and must not wrap around).
            if (e.start > previousEnd && e.start - previousEnd > minimumGap)
                regions.push_back(FreeSpaceEntry(disk, previousEnd, e.start - previousEnd, bytesPerSector));
            previousEnd = std::max(previousEnd, e.start + e.length);
        }
        if (diskSize > previousEnd && diskSize - previousEnd > minimumGap)
            regions.push_back(FreeSpaceEntry(disk, previousEnd, diskSize - previousEnd, bytesPerSector));
        entries.insert(entries.end(), regions.begin(), regions.end());
    }

    for (const DriveInfo& drive : table.Drives()) {
        if (disks_.count(drive.index)) continue;
        std::optional<DiskFacts> facts = ReadDiskFacts(drive);
        if (!facts || facts->lengthSectors == 0) continue;  // no medium in the reader
        bytesPerSector_ = facts->bytesPerSector;
        disks_[drive.index].push_back(
            FreeSpaceEntry(drive.index, 0, facts->lengthSectors, facts->bytesPerSector));
    }
}

void CDiskVolumeList::NumberVolumes() {
    // A volume with a drive letter keeps it as its key; the others are numbered
    // by their place in the list, passing over the letters already taken.
    std::set<uint16_t> letters;
    for (auto& [disk, entries] : disks_)
        for (const VolumeEntry& e : entries)
            if (e.IsVolume() && e.letter != kUnnumberedVolume) letters.insert(e.letter);
    uint16_t counter = 1;
    for (auto& [disk, entries] : disks_) {
        for (VolumeEntry& e : entries) {
            while (letters.count(counter)) ++counter;
            if (e.IsVolume()) {
                if (e.letter == kUnnumberedVolume) e.letter = counter;
                auto it = pending_.find(e.volumePath);
                if (it != pending_.end()) VolumeRegistry::Instance().Set(e.letter, it->second);
            }
            ++counter;
        }
    }
}

int CDiskVolumeList::NextVolumeEntry(VolumeEntry& entry) {
    for (auto it = disks_.lower_bound(cursorDisk_); it != disks_.end(); ++it) {
        if (it->first != cursorDisk_) {
            cursorDisk_ = it->first;
            cursorPosition_ = 0;
        }
        if (cursorPosition_ < it->second.size()) {
            entry = it->second[cursorPosition_++];
            return 1;
        }
    }
    if (!disks_.empty()) {
        cursorDisk_ = disks_.rbegin()->first;
        cursorPosition_ = disks_.rbegin()->second.size();
    }
    return 0;
}

int CDiskVolumeList::GetAllVolumeEntries(std::vector<VolumeEntry>& entries) const {
    entries.clear();
    for (const auto& [disk, list] : disks_) entries.insert(entries.end(), list.begin(), list.end());
    return 1;
}

std::vector<uint64_t> DeviceNumbersOfDisk(int diskNumber) {
    std::vector<uint64_t> numbers;
    auto drive = DriveTable::Instance().Drive(diskNumber);
    if (!drive) return numbers;
    // An image file the system also reads through a loop device: a folder on
    // that device's file system lies on the image.
    if (drive->isImage) return DevicesBackedByFile(drive->node);
    if (uint64_t own = SystemDiskDeviceNumber(*drive)) numbers.push_back(own);
    for (const SystemPartition& part : ListSystemPartitions(*drive))
        if (part.device) numbers.push_back(part.device);
    return numbers;
}

bool FolderLiesOn(const std::filesystem::path& folder, const std::vector<uint64_t>& devices) {
    if (devices.empty()) return false;
    std::error_code ec;
    std::filesystem::path probe = std::filesystem::absolute(folder, ec);
    while (!probe.empty() && !std::filesystem::exists(probe, ec)) {
        if (probe == probe.parent_path()) return false;
        probe = probe.parent_path();
    }
    if (probe.empty()) return false;
    auto listed = [&devices](uint64_t device) {
        return device != 0 && std::find(devices.begin(), devices.end(), device) != devices.end();
    };
    uint64_t device = 0;
    if (GetPathDeviceNumber(probe, device) == 0 && listed(device)) return true;
    std::string type;
    std::filesystem::path source;
    uint64_t node = 0;
    return MountedFileSystemOf(probe, type, source) && !source.empty() &&
           GetNodeDeviceNumber(source, node) == 0 && listed(node);
}

}  // namespace sorvane
