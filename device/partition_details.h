// What the disk list learns about a partition from the bytes on the disk: the
// type byte of its MBR entry, and the volume label of a FAT volume. Every byte
// read here is untrusted: a damaged table or boot sector yields no answer,
// never a read outside what was read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "device/boot_sector.h"

namespace sorvane {

// Reads `length` bytes at byte `offset` of a disk or volume into `buffer`;
// false when they cannot all be read.
using ByteSource = std::function<bool(uint64_t offset, uint8_t* buffer, size_t length)>;

// MBR partition type bytes by first sector (in sectors of `sectorSize`): the
// primary entries and the logical partitions of the extended chain, the
// extended containers included. Empty when sector 0 holds no MBR (a GPT
// disk's protective MBR, a volume without a partition table, damage).
std::map<uint64_t, uint8_t> ReadMbrPartitionTypes(const ByteSource& disk, uint32_t sectorSize);

// True for the type bytes of an extended partition (a container of logical ones).
bool IsExtendedPartitionType(uint8_t type);

// One partition of a disk's partition table, in sectors of the disk.
struct PartitionSlot {
    uint64_t start = 0;
    uint64_t length = 0;
    uint8_t type = 0;  // MBR type byte; 0 for a GPT entry
};

// The partitions of an MBR (primary and logical; extended containers left out)
// or of a GPT (its protective MBR leads to the header in sector 1), by start
// sector for an MBR and in table order for a GPT, clipped to `diskSectors`. Empty when sector 0 holds no
// partition table, which includes a volume that starts with its own boot sector.
std::vector<PartitionSlot> ReadPartitionTable(const ByteSource& disk, uint32_t sectorSize,
                                              uint64_t diskSectors);

// The label of the FAT volume whose boot sector is `bootSector`: the volume-label
// entry of its root folder, else the boot sector's label field unless it is
// "NO NAME". `volume` reads relative to the volume's first byte. UTF-8, trailing
// blanks removed; empty when there is none.
std::string ReadFatVolumeLabel(const ByteSource& volume, const uint8_t* bootSector, size_t length);

// The label of the exFAT volume whose boot sector is `bootSector`: the label
// entry of its root folder's first cluster. UTF-8; empty when there is none.
std::string ReadExfatVolumeLabel(const ByteSource& volume, const uint8_t* bootSector, size_t length);

// The label of the NTFS volume whose boot sector is `bootSector`: the volume
// name attribute of the $Volume record. UTF-8; empty when there is none.
std::string ReadNtfsVolumeLabel(const ByteSource& volume, const uint8_t* bootSector, size_t length);

}  // namespace sorvane
