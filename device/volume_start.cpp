#include "device/volume_start.h"

#include <algorithm>

#include "device/byte_view.h"
#include "platform/result_codes.h"

namespace sorvane {
namespace {

// Reads one piece of `bytes` bytes at byte `offset` of the volume (a whole
// number of drive sectors there) into `out`; false when any of it is missing.
bool ReadVolumeBytes(const DiskReader& reader, uint64_t startSector, uint64_t volumeSectors,
                     uint32_t sectorSize, uint64_t offset, std::vector<uint8_t>& out) {
    if (sectorSize == 0 || offset % sectorSize != 0 || out.size() % sectorSize != 0 || out.empty())
        return false;
    const uint64_t first = offset / sectorSize;
    const uint64_t count = out.size() / sectorSize;
    if (first + count > volumeSectors) return false;
    uint32_t got = 0;
    return ReadSectors(static_cast<uint32_t>(count), reader, out.data(), startSector + first, sectorSize,
                       &got) == kSuccess &&
           got == count;
}

// The volume's length in drive sectors by a boot sector of `kind`; 0 when it
// does not say.
uint64_t ClaimedSectors(VolumeKind kind, ByteView boot, uint32_t sectorSize) {
    const uint64_t bytesPerSector = boot.U16(11);
    uint64_t bytes = 0;
    if (kind == VolumeKind::kNtfs) {
        bytes = boot.U64(40) * (bytesPerSector ? bytesPerSector : 512);
    } else if (kind == VolumeKind::kFat && bytesPerSector != 0 && boot.U8(13) != 0) {
        // The last sector a cluster can use: sectors past the last whole
        // cluster hold nothing, and images often end before them.
        const uint64_t sectors = boot.U16(19) ? boot.U16(19) : boot.U32(32);
        const uint64_t fatSectors = boot.U16(22) ? boot.U16(22) : boot.U32(36);
        const uint64_t rootSectors = (uint64_t{boot.U16(17)} * 32 + bytesPerSector - 1) / bytesPerSector;
        const uint64_t dataStart = boot.U16(14) + uint64_t{boot.U8(16)} * fatSectors + rootSectors;
        if (dataStart >= sectors) return 0;
        const uint64_t perCluster = boot.U8(13);
        bytes = (dataStart + (sectors - dataStart) / perCluster * perCluster) * bytesPerSector;
    }
    // A count no disk can hold is damage, not a claim.
    if (bytes == 0 || bytes > (uint64_t{1} << 60)) return 0;
    return (bytes + sectorSize - 1) / sectorSize;
}

}  // namespace

bool ReadVolumeStart(const DiskReader& reader, uint64_t startSector, uint64_t volumeSectors,
                     uint32_t sectorSize, size_t byteCount, VolumeStart& out) {
    out = VolumeStart{};
    out.bytes.assign(byteCount, 0);
    if (sectorSize == 0 || byteCount == 0 || startSector >= reader.totalSectors) return false;
    volumeSectors = std::min(volumeSectors, reader.totalSectors - startSector);
    const uint64_t wanted = (byteCount + sectorSize - 1) / sectorSize;
    out.sectorsPresent = std::min(wanted, volumeSectors);
    if (out.sectorsPresent == 0) return false;
    // Whole sectors are read; the last may reach past `byteCount`.
    std::vector<uint8_t> sectors(static_cast<size_t>(out.sectorsPresent) * sectorSize, 0);
    int rc = ReadSectorsSalvaging(static_cast<uint32_t>(out.sectorsPresent), reader, sectors.data(),
                                  startSector, sectorSize, out.unreadable);
    if (rc != kSuccess && rc != kErrReadFault) {
        out.unreadable = BadSectorMap{};
        out.unreadable.Add(startSector, out.sectorsPresent);
    }
    std::copy_n(sectors.begin(), std::min(sectors.size(), byteCount), out.bytes.begin());
    return out.unreadable.SectorCount() < out.sectorsPresent;
}

RecognisedVolume RecogniseVolume(const DiskReader& reader, uint64_t startSector, uint64_t volumeSectors,
                                 uint32_t sectorSize, const VolumeStart& start) {
    RecognisedVolume found;
    const std::vector<uint8_t>& head = start.bytes;
    if (startSector < reader.totalSectors)
        volumeSectors = std::min(volumeSectors, reader.totalSectors - startSector);
    else
        volumeSectors = 0;
    found.kind = ClassifyVolume(head.data(), head.size());
    if (found.kind != VolumeKind::kUnknown || head.size() < 512) {
        found.bootSector.assign(head.begin(), head.begin() + std::min<size_t>(head.size(), 4096));
    } else if (!HasDamagedExfatBootRegion(head.data(), head.size())) {
        // FAT32's copy lies at sector 6 of the volume's own sector size, which
        // may be larger than the drive's.
        for (uint32_t volumeSector : {512u, 4096u}) {
            if (volumeSector < sectorSize) continue;
            std::vector<uint8_t> copy(std::max(volumeSector, sectorSize), 0);
            if (!ReadVolumeBytes(reader, startSector, volumeSectors, sectorSize,
                                 uint64_t{kFat32BackupBootSector} * volumeSector, copy))
                continue;
            if (!IsFat32BackupBootSector(copy.data(), copy.size(), volumeSector)) continue;
            found.kind = VolumeKind::kFat;
            found.bootSector = std::move(copy);
            break;
        }
        // NTFS's copy is the volume's last sector, of its own sector size.
        for (uint32_t volumeSector : {512u, 4096u}) {
            if (found.kind != VolumeKind::kUnknown) break;
            if (volumeSector < sectorSize || volumeSectors * sectorSize < 2 * uint64_t{volumeSector})
                continue;
            std::vector<uint8_t> copy(volumeSector, 0);
            if (!ReadVolumeBytes(reader, startSector, volumeSectors, sectorSize,
                                 volumeSectors * sectorSize - volumeSector, copy))
                continue;
            if (!IsNtfsBootSector(copy.data(), copy.size()) ||
                ByteView(copy.data(), copy.size()).U16(11) != volumeSector)
                continue;
            found.kind = VolumeKind::kNtfs;
            found.bootSector = std::move(copy);
        }
        found.backupUsed = found.kind != VolumeKind::kUnknown;
    }
    found.claimedSectors =
        ClaimedSectors(found.kind, ByteView(found.bootSector.data(), found.bootSector.size()), sectorSize);
    return found;
}

}  // namespace sorvane
