#include "device/boot_sector.h"

#include "device/byte_view.h"

namespace sorvane {
namespace {

bool ValidClusterSize(uint8_t spc) {
    return spc == 1 || spc == 2 || spc == 4 || spc == 8 || spc == 16 || spc == 32 || spc == 64 || spc == 128;
}

bool HasBootSignature(const ByteView& s) { return s.U8(510) == 0x55 && s.U8(511) == 0xAA; }

// Cluster count by the FAT rule, in unsigned 32-bit arithmetic as the format's
// own drivers compute it (an underflow gives a huge count, which no test accepts).
bool FatClusterCount(const ByteView& s, uint32_t& clusters) {
    uint32_t sectorsPerFat = s.U16(22) ? s.U16(22) : s.U32(36);
    uint32_t totalSectors = s.U32(32) ? s.U32(32) : s.U16(19);
    uint32_t bytesPerSector = s.U16(11);
    uint32_t sectorsPerCluster = s.U8(13);
    if (bytesPerSector == 0 || bytesPerSector % 512 != 0 || sectorsPerCluster == 0) return false;
    uint32_t rootDirSectors = (uint32_t(s.U16(17)) * 32) / bytesPerSector;
    clusters =
        (totalSectors - rootDirSectors - uint32_t(s.U8(16)) * sectorsPerFat - s.U16(14)) / sectorsPerCluster;
    return true;
}

}  // namespace

const char* VolumeKindName(VolumeKind kind) {
    switch (kind) {
        case VolumeKind::kNtfs:
            return "NTFS";
        case VolumeKind::kFat:
            return "FAT";
        case VolumeKind::kExt:
            return "ext";
        case VolumeKind::kExfat:
            return "exFAT";
        case VolumeKind::kUnknown:
            break;
    }
    return "unknown";
}

bool IsNtfsBootSector(const uint8_t* sector, size_t length) {
    if (!sector || length < 512) return false;
    ByteView s(sector, length);
    if (!s.Equals(3, "NTFS    ")) return false;
    if (s.U16(11) % 512 != 0) return false;
    if (s.U16(14) != 0) return false;
    if (NtfsClusterBytesOf(sector, length) == 0) return false;
    if (s.U64(40) == 0) return false;
    for (size_t off : {16, 17, 18, 19, 20, 22, 23, 32, 33, 34, 35})
        if (s.U8(off) != 0) return false;
    return HasBootSignature(s);
}

uint64_t NtfsClusterBytesOf(const uint8_t* sector, size_t length) {
    if (!sector || length < 512) return 0;
    ByteView s(sector, length);
    // 0 bytes per sector is read as 512, as the NTFS parser reads it.
    const uint64_t bytesPerSector = s.U16(11) ? s.U16(11) : 512;
    // A sector of 3 bytes would make a cluster of no power of two: no volume has one.
    if (bytesPerSector < 256 || bytesPerSector > 4096 || (bytesPerSector & (bytesPerSector - 1)) != 0)
        return 0;
    const uint8_t spc = s.U8(13);
    uint64_t sectors = 0;
    if (spc <= 0x80)
        sectors = spc;
    else if (256 - spc <= 12)
        sectors = uint64_t{1} << (256 - spc);
    if (sectors == 0 || (sectors & (sectors - 1)) != 0) return 0;
    const uint64_t bytes = sectors * bytesPerSector;
    return bytes <= (uint64_t{2} << 20) ? bytes : 0;
}

bool IsFat32BackupBootSector(const uint8_t* sector, size_t length, uint32_t sectorSize) {
    if (!IsFatBootSector(sector, length) || FatBitsOfBootSector(sector, length) != 32) return false;
    ByteView s(sector, length);
    return s.U16(11) == sectorSize && s.U16(50) == kFat32BackupBootSector;
}

bool IsBitLockerVolume(const uint8_t* sector, size_t length) {
    if (!sector || length < 512) return false;
    ByteView s(sector, length);
    if (s.Equals(3, "-FVE-FS-")) return true;
    for (size_t i = 0; i < 8; ++i)
        if (s.U8(480 + i) != 0x78) return false;
    for (size_t i = 8; i < 27; ++i)
        if (s.U8(480 + i) != 0xFF) return false;
    return s.U8(507) == 0x00 && s.U8(508) == 0x1F && s.U8(509) == 0x2C;
}

bool IsFat16BootSector(const uint8_t* sector, size_t length) {
    if (!sector || length < 512) return false;
    ByteView s(sector, length);
    return s.U8(16) != 0 && !(s.U16(19) == 0 && s.U32(32) == 0) && ValidClusterSize(s.U8(13)) &&
           s.U16(22) >= 1 && HasBootSignature(s);
}

bool IsFat32BootSector(const uint8_t* sector, size_t length) {
    if (!sector || length < 512) return false;
    ByteView s(sector, length);
    // A small volume of large sectors keeps its sector count in the 16-bit field.
    return s.Equals(82, "FAT32   ") && s.U8(16) != 0 && (s.U32(32) != 0 || s.U16(19) != 0) &&
           ValidClusterSize(s.U8(13)) && s.U32(36) != 0 && HasBootSignature(s);
}

bool IsFatBootSector(const uint8_t* sector, size_t length) {
    if (!sector || length < 512) return false;
    if (IsBitLockerVolume(sector, length)) return false;
    ByteView s(sector, length);
    uint32_t clusters = 0;
    if (!FatClusterCount(s, clusters)) return false;
    if (clusters < 65525) return IsFat16BootSector(sector, length) || IsFat32BootSector(sector, length);
    if (clusters < 0x0FFFFFF0u) return IsFat32BootSector(sector, length) || IsFat16BootSector(sector, length);
    return false;
}

int FatBitsOfBootSector(const uint8_t* sector, size_t length) {
    if (!sector || length < 512) return 0;
    ByteView s(sector, length);
    uint32_t clusters = 0;
    if (!FatClusterCount(s, clusters)) return 0;
    if (s.U16(22) == 0 && s.U32(36) != 0) return 32;  // only FAT32 keeps its FAT size in the 32-bit field
    if (clusters < 4085) return 12;
    if (clusters < 65525) return 16;
    return 32;
}

bool IsExfatBootSector(const uint8_t* sector, size_t length) {
    if (!sector || length < 512) return false;
    ByteView s(sector, length);
    if (!s.Equals(3, "EXFAT   ") || !HasBootSignature(s)) return false;
    // Where FAT keeps its BIOS parameter block, exFAT must hold zeros, so no
    // FAT driver takes the volume for its own.
    for (size_t off = 11; off < 64; ++off)
        if (s.U8(off) != 0) return false;
    const uint32_t sectorShift = s.U8(108), clusterShift = s.U8(109), fats = s.U8(110);
    if (sectorShift < 9 || sectorShift > 12 || clusterShift > 25 - sectorShift) return false;
    if (fats != 1 && fats != 2) return false;
    const uint64_t volumeLength = s.U64(72);
    const uint64_t fatOffset = s.U32(80), fatLength = s.U32(84);
    const uint64_t heapOffset = s.U32(88), clusterCount = s.U32(92), rootCluster = s.U32(96);
    if (fatOffset < 24 || fatLength == 0 || clusterCount == 0) return false;
    if (fatOffset + fatLength * fats > heapOffset) return false;
    if (heapOffset >= volumeLength) return false;
    if (clusterCount > (volumeLength - heapOffset) >> clusterShift) return false;
    // The FAT must hold an entry for every cluster.
    if ((clusterCount + 2) * 4 > fatLength << sectorShift) return false;
    return rootCluster >= 2 && rootCluster - 2 < clusterCount;
}

uint32_t ExfatSectorSizeOf(const uint8_t* buffer, size_t length) {
    if (IsExfatBootSector(buffer, length)) return 1u << buffer[108];
    constexpr size_t kBackup512 = 12 * 512;
    if (buffer && length >= kBackup512 + 512 && IsExfatBootSector(buffer + kBackup512, length - kBackup512) &&
        buffer[kBackup512 + 108] == 9)
        return 512;
    return 0;
}

bool HasDamagedExfatBootRegion(const uint8_t* buffer, size_t length) {
    if (!buffer || length < 512 || ExfatSectorSizeOf(buffer, length) != 0) return false;
    constexpr size_t kBackup512 = 12 * 512;
    ByteView s(buffer, length);
    return s.Equals(3, "EXFAT   ") || s.Equals(kBackup512 + 3, "EXFAT   ");
}

bool IsExtSuperblock(const uint8_t* superblock, size_t length) {
    if (!superblock || length < 1024) return false;
    ByteView s(superblock, length);
    if (s.U16(56) != 0xEF53) return false;
    uint32_t inodes = s.U32(0), blocks = s.U32(4), blocksPerGroup = s.U32(32), inodesPerGroup = s.U32(40);
    if (!inodes || !blocks || !blocksPerGroup || !inodesPerGroup) return false;
    uint32_t firstInode = s.U32(84);
    if (firstInode <= 2) return false;
    uint32_t firstDataBlock = s.U32(20);
    uint32_t logBlockSize = s.U32(24);
    // A shift this large is no real block size; it also keeps the shift defined.
    if (logBlockSize > 16) return false;
    uint32_t expectedFirst = (1024u << logBlockSize) == 1024 ? 1 : 0;
    if (firstDataBlock != expectedFirst) return false;
    if (blocks <= firstDataBlock) return false;
    uint32_t groupsByBlocks = (blocks - firstDataBlock - 1) / blocksPerGroup + 1;
    uint32_t groupsByInodes = (inodes - 1) / inodesPerGroup + 1;
    if (groupsByBlocks != groupsByInodes) return false;
    return inodes > firstInode;
}

VolumeKind ClassifyVolume(const uint8_t* buffer, size_t length) {
    if (!buffer || length < 512) return VolumeKind::kUnknown;
    if (IsNtfsBootSector(buffer, 512)) return VolumeKind::kNtfs;
    if (IsFatBootSector(buffer, 512)) return VolumeKind::kFat;
    if (ExfatSectorSizeOf(buffer, length) != 0) return VolumeKind::kExfat;
    if (length >= 2048 && IsExtSuperblock(buffer + 1024, 1024)) return VolumeKind::kExt;
    return VolumeKind::kUnknown;
}

}  // namespace sorvane
