// Naming and measuring a file that a signature says starts at a sector: from
// header fields, from footers in the sectors that follow, from a compound
// file's allocation table, or by walking on until another file or a sector of
// file-system metadata begins.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "carving/file_signature.h"
#include "device/disk_reader.h"

namespace sorvane {

// Identifies and measures the file that starts at `startSector`, whose bytes
// are `buffer` (one sector of `sectorSize` bytes). The progress values are
// passed through to the scan progress callback of the carve context while the
// file is measured. Returns 0 when a carvable file was identified (`name` is
// "<startSector>.<extension>", `type` and `size` in bytes filled), 87 when
// nothing carvable starts here, or kCancelCode when the progress callback
// cancelled the measurement (the outputs are filled all the same).
int IdentifyFileAt(uint32_t sectorSize, DiskReader* reader, const uint8_t* buffer, size_t length,
                   uint64_t startSector, uint64_t sectorsDone, uint64_t totalSectors, int32_t remainingSeconds,
                   uint64_t foundCount, std::string& name, FileTypeCode& type, uint64_t& size);

// True when the sector (the carve context's sector size) holds NTFS or FAT
// metadata: a file record, index buffer, log restart page, boot sector, or a
// FAT directory sector. Such a sector ends a carved file.
bool IsFileSystemMetadataSector(const uint8_t* sector);

// Looks through the whole sectors of `chunk` for the first one at which
// another file or file-system metadata begins, advancing the carve context's
// current sector for every sector examined. When one is found, adds the bytes
// of the sectors before it to `runningSize` and returns true. With
// `ignoreMpeg`, an MPEG pack or sequence header does not count.
bool FindNextFileStart(const uint8_t* chunk, size_t length, uint64_t& runningSize, bool ignoreMpeg = false);

}  // namespace sorvane
