// Byte-level tests that tell which file system a volume's first sectors hold.
// They only look at a buffer; buffers shorter than a test needs fail the test.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sorvane {

enum class VolumeKind { kNtfs, kFat, kExt, kUnknown };

const char* VolumeKindName(VolumeKind kind);

// Classifies a volume from at least 2048 bytes read from its start: NTFS, then
// FAT, then ext (superblock at byte 1024); the first test that holds wins.
VolumeKind ClassifyVolume(const uint8_t* buffer, size_t length);

bool IsNtfsBootSector(const uint8_t* sector, size_t length = 512);
bool IsFatBootSector(const uint8_t* sector, size_t length = 512);
bool IsFat16BootSector(const uint8_t* sector, size_t length = 512);
bool IsFat32BootSector(const uint8_t* sector, size_t length = 512);
bool IsBitLockerVolume(const uint8_t* sector, size_t length = 512);
// `superblock` is the 1024 bytes that start at byte 1024 of the volume.
bool IsExtSuperblock(const uint8_t* superblock, size_t length = 1024);

// FAT width (12, 16 or 32) of a boot sector that passed IsFatBootSector, by the
// cluster count rule; 0 when the fields make no sense.
int FatBitsOfBootSector(const uint8_t* sector, size_t length = 512);

}  // namespace sorvane
