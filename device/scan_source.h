// What one scan reads: a drive or an image file opened once by whoever starts
// the scan (the command line, the window), the range of it that is scanned,
// the sector size every engine of the scan uses, and what the first 16 KiB of
// the range say. The factory and every engine take their sectors from it;
// none opens the target again.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "device/bad_sector_map.h"
#include "device/boot_sector.h"
#include "device/disk_reader.h"
#include "device/volume_start.h"

namespace sorvane {

// Bytes at the start of a range that recognise the volume in it.
inline constexpr uint32_t kSourceHeadBytes = 16384;

struct ScanSource {
    // The open drive or image. Its copies share the handle; they also answer
    // reads of the first 16 KiB of the range from the bytes already read.
    DiskReader reader;
    // The drive table's index; -1 for an image file opened as one volume.
    int driveIndex = -1;
    // Set for an image file opened as one volume (it keys the resume records).
    std::filesystem::path imagePath;
    uint64_t start = 0;   // first sector of the range
    uint64_t length = 0;  // sectors in the range
    uint32_t sectorSize = 512;
    uint16_t letter = 0;  // the volume key every record carries
    // The first kSourceHeadBytes of the range, zeros where a sector could not be read.
    std::vector<uint8_t> head;
    // 0 when the head was read whole; 30 when some of its sectors could not
    // be read (listed in `headUnreadable`); 87 when the range is shorter
    // (what it holds is recognised all the same).
    int headResult = 0;
    BadSectorMap headUnreadable;
    // Not one sector of the head could be read.
    bool headLost = false;
    // What the head (or a boot sector's copy) says the range holds.
    VolumeKind kind = VolumeKind::kUnknown;
    // The main boot sector was unreadable or damaged and its copy was used.
    bool backupUsed = false;
    // The volume's length in sectors by its boot sector; 0 when unknown.
    uint64_t claimedSectors = 0;

    bool IsImage() const { return !imagePath.empty(); }
};

// Opens sectors [start, start + length) of drive `driveIndex` (a length of 0
// means up to the drive's end), reads and recognises their
// first 16 KiB: sector by sector when the medium fails, by the copy of the
// boot sector a file system keeps when the first sectors show none. Returns 0, or the result code of the
// opening; a head that cannot be read in full is told by `headResult`.
[[nodiscard]] int OpenDriveSource(int driveIndex, uint64_t start, uint64_t length, uint16_t letter,
                                  ScanSource& out);
// The same for an image file of one volume: 512-byte sectors, the whole file.
[[nodiscard]] int OpenImageSource(const std::filesystem::path& imagePath, uint16_t letter, ScanSource& out);

}  // namespace sorvane
