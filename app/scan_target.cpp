#include "app/scan_target.h"

#include <vector>

#include "device/boot_sector.h"
#include "device/disk_reader.h"
#include "device/partition_details.h"
#include "engines/engine_factory.h"

namespace sorvane::app {

std::unique_ptr<IFileRecoveryParse> ScanTarget::CreateEngine(bool deep) const {
    if (!partition) return CreateRecoveryEngineForImage(imagePath, VolumeKey(), deep);
    return CreateRecoveryEngine(partition->diskNumber, partition->start, partition->length, VolumeKey(),
                                deep);
}

ScanTarget* TargetOfVolumeKey(const std::vector<ScanTarget*>& targets, uint16_t key) {
    for (ScanTarget* target : targets) {
        if (target && target->VolumeKey() == key) return target;
    }
    return nullptr;
}

std::string FileSystemOfBootSector(const uint8_t* sector, size_t length) {
    if (IsNtfsBootSector(sector, length)) return "NTFS";
    if (IsFatBootSector(sector, length)) return FatBitsOfBootSector(sector, length) == 32 ? "FAT32" : "FAT";
    if (IsExfatBootSector(sector, length)) return "exFAT";
    return {};
}

std::vector<ScanTarget> ImagePartitionTargets(const std::filesystem::path& image, int imageDrive,
                                              uint16_t& nextKey) {
    std::vector<ScanTarget> targets;
    DiskReader reader;
    if (OpenImageReader(image, reader) != 0) return targets;
    constexpr uint32_t kSector = 512;
    ByteSource source = [&reader](uint64_t offset, uint8_t* buffer, size_t length) {
        if (offset % kSector != 0 || length % kSector != 0) return false;
        uint32_t read = 0;
        return ReadSectors(static_cast<uint32_t>(length / kSector), reader, buffer, offset / kSector, kSector,
                           &read) == 0;
    };
    int number = 1;
    for (const PartitionSlot& slot : ReadPartitionTable(source, kSector, reader.totalSectors)) {
        ScanTarget target;
        VolumeEntry entry;
        entry.letter = static_cast<uint16_t>(number);
        entry.partitionNumber = number++;
        entry.partitionType = slot.type;
        entry.diskNumber = imageDrive;
        entry.start = slot.start;
        entry.length = slot.length;
        entry.totalBytes = slot.length * kSector;
        entry.freeBytes = 0;
        entry.usedBytes = entry.totalBytes;
        std::vector<uint8_t> boot(kSector);
        if (source(slot.start * kSector, boot.data(), boot.size())) {
            entry.fileSystemName = FileSystemOfBootSector(boot.data(), boot.size());
            // The label names the partition for the person, as a disk's volumes are named.
            const uint64_t base = slot.start * kSector;
            ByteSource volume = [&source, base](uint64_t offset, uint8_t* buffer, size_t length) {
                return source(base + offset, buffer, length);
            };
            if (entry.fileSystemName.rfind("FAT", 0) == 0)
                entry.label = ReadFatVolumeLabel(volume, boot.data(), boot.size());
            else if (entry.fileSystemName == "exFAT")
                entry.label = ReadExfatVolumeLabel(volume, boot.data(), boot.size());
            else if (entry.fileSystemName == "NTFS")
                entry.label = ReadNtfsVolumeLabel(volume, boot.data(), boot.size());
        }
        target.partition = entry;
        target.imagePath = image;
        target.imageVolumeKey = nextKey++;
        targets.push_back(std::move(target));
    }
    return targets;
}

}  // namespace sorvane::app
