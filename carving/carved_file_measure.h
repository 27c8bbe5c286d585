// Naming and measuring a file that a signature says starts at a sector: from
// header fields, from footers in the sectors that follow, from a compound
// file's allocation table, or by walking on until another file or a sector of
// file-system metadata begins.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "carving/file_signature.h"
#include "device/disk_reader.h"

namespace sorvane {

// One sector at which a file may start, and where the scan stands.
struct CarveRequest {
    uint32_t sectorSize = 512;
    DiskReader* reader = nullptr;     // not owned; null means nothing past `buffer` can be read
    const uint8_t* buffer = nullptr;  // the sector's bytes
    size_t length = 0;
    uint64_t startSector = 0;
    // Passed through to the job's progress callback while the file is measured.
    uint64_t sectorsDone = 0;
    uint64_t totalSectors = 0;
    int32_t remainingSeconds = -1;
    uint64_t foundCount = 0;
};

// What IdentifyFileAt found.
struct CarvedFile {
    std::string name;  // "<startSector>.<extension>"
    FileTypeCode type = kTypeNotRecognised;
    uint64_t size = 0;  // bytes
    ContentVerdict verdict = ContentVerdict::kNotChecked;
};

// Identifies and measures the file that starts at the request's sector, using
// and updating `job`. Returns 0 when a carvable file was identified (`out`
// filled), 87 when nothing carvable starts here (`out.type` still says what
// was recognised), or kCancelCode when the progress callback cancelled the
// measurement (the outputs are filled all the same).
int IdentifyFileAt(CarveJob& job, const CarveRequest& request, CarvedFile& out);

// How the `size` bytes from `startSector` on, taken as one run, hold up as a
// file whose name ends in `extension` (no dot, any case): kWhole when the
// type's structure checks out, its content checks pass and it ends within the
// run; kDamaged when the structure needs more than the run or its content
// checks fail; kNotChecked when the structure does not check out, for types
// whose structure is not read and for unknown extensions.
// For engines that found a file by its name and copy it as one run.
ContentVerdict CheckRunStructure(DiskReader* reader, uint32_t sectorSize, uint64_t startSector, uint64_t size,
                                 std::string_view extension);

// True when the sector (`sectorSize` bytes) holds NTFS or FAT metadata: a
// file record, index buffer, log restart page, boot sector, or a FAT
// directory sector. Such a sector ends a carved file.
bool IsFileSystemMetadataSector(const uint8_t* sector, uint32_t sectorSize);

// Looks through the whole sectors of `chunk` for the first one at which
// another file or file-system metadata begins, advancing the job's current
// sector for every sector examined. When one is found, adds the bytes of the
// sectors before it to `runningSize` and returns true. With `ignoreMpeg`, an
// MPEG pack or sequence header does not count.
bool FindNextFileStart(CarveJob& job, const uint8_t* chunk, size_t length, uint64_t& runningSize,
                       bool ignoreMpeg = false);

class CarvedFileBytes;

// Offset of the first whole sector of the file in [from, to) (sector offsets
// from the file's start) at which another file or file-system metadata
// begins: where a file whose sizes were written whole evidently stops. A
// sector of one byte repeated is fill, not a file start. None when there is
// no such sector, when the progress callback cancelled, or when the bytes
// cannot be read (the caller's other checks see that). Leaves the job's
// current sector as it found it.
std::optional<uint64_t> FirstForeignSector(CarveJob& job, CarvedFileBytes& bytes, uint64_t from, uint64_t to);

}  // namespace sorvane
