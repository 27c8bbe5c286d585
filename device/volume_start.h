// The first bytes of a volume as far as a worn medium gives them back, and
// which file system they (or the copies a file system keeps of its boot
// sector) say the volume holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "device/bad_sector_map.h"
#include "device/boot_sector.h"
#include "device/disk_reader.h"

namespace sorvane {

struct VolumeStart {
    // `byteCount` bytes; zeros where a sector could not be read or lies past
    // the end of the volume.
    std::vector<uint8_t> bytes;
    // Sectors (numbers of the drive) that stayed unreadable.
    BadSectorMap unreadable;
    // Whole sectors of the start that the volume holds at all.
    uint64_t sectorsPresent = 0;
};

// Reads the first `byteCount` bytes of the volume at drive sector
// `startSector`, `volumeSectors` long, in one read; when that read fails, sector
// by sector, so that one unreadable sector costs only itself. Returns false
// when not one sector could be read (the volume is empty or unreadable).
bool ReadVolumeStart(const DiskReader& reader, uint64_t startSector, uint64_t volumeSectors,
                     uint32_t sectorSize, size_t byteCount, VolumeStart& out);

struct RecognisedVolume {
    VolumeKind kind = VolumeKind::kUnknown;
    // The main boot sector was unreadable or failed its checks and the
    // file system's backup copy passed them.
    bool backupUsed = false;
    // The volume's length in drive sectors by its boot sector; 0 when the
    // file system does not say or is unknown.
    uint64_t claimedSectors = 0;
    // The boot sector the kind was recognised from (the main one or its copy).
    std::vector<uint8_t> bootSector;
};

// Recognises the file system of the volume whose start is `start`: by its
// first sectors, and when they show none, by FAT32's copy (sector 6 of the
// volume's own sector size) or NTFS's (the volume's last sector), read
// through `reader`.
RecognisedVolume RecogniseVolume(const DiskReader& reader, uint64_t startSector, uint64_t volumeSectors,
                                 uint32_t sectorSize, const VolumeStart& start);

}  // namespace sorvane
