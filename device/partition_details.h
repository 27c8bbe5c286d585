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
