// Feeds arbitrary bytes to every boot-sector and superblock test. They must never
// read outside the buffer they are given, whatever its length or contents, and their
// answers must agree with one another.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>

#include "device/boot_sector.h"

using namespace sorvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const VolumeKind kind = ClassifyVolume(data, size);
    const bool ntfs = IsNtfsBootSector(data, size);
    const bool fat = IsFatBootSector(data, size);
    const bool fat16 = IsFat16BootSector(data, size);
    const bool fat32 = IsFat32BootSector(data, size);
    const int bits = FatBitsOfBootSector(data, size);
    IsBitLockerVolume(data, size);
    if (size >= 1024) IsExtSuperblock(data + 1024, size - 1024);
    IsExtSuperblock(data, size);

    if (bits != 0 && bits != 12 && bits != 16 && bits != 32) std::abort();
    // The classification is the first of the tests that holds.
    if (kind == VolumeKind::kNtfs && !ntfs) std::abort();
    if (kind == VolumeKind::kFat && (ntfs || !fat)) std::abort();
    if (kind == VolumeKind::kExt && (ntfs || fat || size < 2048 || !IsExtSuperblock(data + 1024, 1024)))
        std::abort();
    // Only FAT32 volumes carry the FAT32 signature fields; a FAT boot sector has a width.
    if (fat && bits == 0) std::abort();
    // A cluster size is a power of two no larger than 2 MiB, and only an NTFS
    // boot sector passes with one.
    const uint64_t cluster = NtfsClusterBytesOf(data, size);
    if (cluster > (uint64_t{2} << 20) || (cluster & (cluster - 1)) != 0) std::abort();
    if (ntfs && cluster == 0) std::abort();
    // A FAT32 copy of the boot sector is a FAT32 boot sector first.
    for (uint32_t sectorSize : {512u, 4096u})
        if (IsFat32BackupBootSector(data, size, sectorSize) && (!fat || bits != 32)) std::abort();
    (void)fat16;
    (void)fat32;
    return 0;
}
