// Byte-level tests that tell which file system a volume's first sectors hold.
// They only look at a buffer; buffers shorter than a test needs fail the test.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sorvane {

enum class VolumeKind { kNtfs, kFat, kExt, kUnknown, kExfat };

const char* VolumeKindName(VolumeKind kind);

// Classifies a volume from at least 2048 bytes read from its start: NTFS, then
// FAT, then exFAT, then ext (superblock at byte 1024); the first test that
// holds wins. exFAT is also recognised by its backup boot sector (sector 12)
// when the buffer reaches it and the main one fails.
VolumeKind ClassifyVolume(const uint8_t* buffer, size_t length);

bool IsNtfsBootSector(const uint8_t* sector, size_t length = 512);
// Bytes per cluster of an NTFS boot sector: the sectors-per-cluster byte is a
// count up to 128 and above it a negative power of two (0xF4 is 2^12 sectors),
// as volumes with clusters of 128 KiB and more store it. 0 when it is neither
// or the cluster would pass 2 MiB.
uint64_t NtfsClusterBytesOf(const uint8_t* sector, size_t length = 512);
bool IsFatBootSector(const uint8_t* sector, size_t length = 512);
bool IsFat16BootSector(const uint8_t* sector, size_t length = 512);
bool IsFat32BootSector(const uint8_t* sector, size_t length = 512);
bool IsBitLockerVolume(const uint8_t* sector, size_t length = 512);
// Where a FAT32 volume keeps the copy of its boot sector, in its own sectors.
inline constexpr uint32_t kFat32BackupBootSector = 6;
// True when `sector` can stand in for a lost FAT32 boot sector: it passes the
// FAT32 checks, its bytes per sector are `sectorSize`, and it says its copy
// lies at sector 6.
bool IsFat32BackupBootSector(const uint8_t* sector, size_t length, uint32_t sectorSize);
// `superblock` is the 1024 bytes that start at byte 1024 of the volume.
bool IsExtSuperblock(const uint8_t* superblock, size_t length = 1024);

// The exFAT boot sector: the name "EXFAT   ", the zeroed legacy fields, sector
// and cluster shifts in range, one or two FATs, the FAT and the cluster heap
// inside the volume and in that order, the root folder's cluster in the heap.
bool IsExfatBootSector(const uint8_t* sector, size_t length = 512);
// The sector size of the exFAT volume whose main or backup boot sector starts
// `buffer` and passes IsExfatBootSector (512 when only the backup at byte
// 6144 of a 512-byte-sector volume holds); 0 when neither does.
uint32_t ExfatSectorSizeOf(const uint8_t* buffer, size_t length);
// True when the buffer's first sector, or the sector at byte 6144, names
// itself exFAT while no exFAT boot sector passes the checks: an exFAT volume
// whose boot region is damaged.
bool HasDamagedExfatBootRegion(const uint8_t* buffer, size_t length);

// FAT width (12, 16 or 32) of a boot sector that passed IsFatBootSector, by the
// cluster count rule; 0 when the fields make no sense.
int FatBitsOfBootSector(const uint8_t* sector, size_t length = 512);

}  // namespace sorvane
