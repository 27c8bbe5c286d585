#include "carving/carved_file_measure.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "carving/carved_file_bytes.h"
#include "carving/size_finders.h"
#include "carving/structure_sizes.h"
#include "fs/fat_directory_sector.h"

namespace sorvane {

int IdentifyFileAt(CarveJob& job, const CarveRequest& request, CarvedFile& out) {
    job.sectorSize = request.sectorSize;
    job.reader = request.reader;
    job.startSector = request.startSector;
    job.currentSector = request.startSector;
    job.sectorsDone = request.sectorsDone;
    job.totalSectors = request.totalSectors;
    job.remainingSeconds = request.remainingSeconds;
    job.foundCount = request.foundCount;
    job.verdict = ContentVerdict::kNotChecked;

    FileTypeCode code = RecogniseSector(job, request.buffer, request.length);
    job.PassOverUnrecognised();
    out.type = code;
    out.size = 0;
    out.name.clear();
    out.verdict = ContentVerdict::kNotChecked;
    if (code == kTypeNotRecognised) return 87;
    const FileSignatureRow* row = FirstRowOfCode(code);
    if (!row || !row->findSize) return 87;

    job.inTransportStream = code == kTypeTs || code == kTypeM2ts || code == kTypeMts;
    job.inMts = code == kTypeMts;
    out.name = std::to_string(request.startSector) + "." + row->extension;
    job.callbackStatus = 0;
    out.size = row->findSize(job, request.buffer, request.length);
    out.verdict = job.verdict;
    return job.callbackStatus == kCancelCode ? kCancelCode : 0;
}

ContentVerdict CheckRunStructure(DiskReader* reader, uint32_t sectorSize, uint64_t startSector, uint64_t size,
                                 std::string_view extension) {
    const FileSignatureRow* row = FindRowByExtension(extension);
    if (!row || !reader || sectorSize == 0 || sectorSize > kMaxCarveChunk || size == 0)
        return ContentVerdict::kNotChecked;
    std::vector<uint8_t> first(sectorSize);
    uint32_t got = 0;
    if (ReadSectors(1, *reader, first.data(), startSector, sectorSize, &got) != 0 || got != 1)
        return ContentVerdict::kNotChecked;
    CarveJob job;
    job.sectorSize = sectorSize;
    job.reader = reader;
    job.startSector = startSector;
    job.currentSector = startSector;
    std::optional<uint64_t> structure = StructureSizeOfType(row->code, job, first.data(), first.size());
    // A structure that does not check out may be the file's own (files are
    // written broken, or are not what their names say): without knowing
    // where the file ends, that is no proof the run holds something else.
    if (!structure) return ContentVerdict::kNotChecked;
    // Data after the structure's end is common (a phone's picture with a
    // video appended); a structure that needs more than the run is not.
    if (*structure > size) return ContentVerdict::kDamaged;
    return job.verdict;
}

bool IsFileSystemMetadataSector(const uint8_t* sector, uint32_t sectorSize) {
    uint32_t ss = sectorSize;
    if (!sector || ss < 32) return false;
    if (std::memcmp(sector, "FILE", 4) == 0 || std::memcmp(sector, "INDX", 4) == 0) return true;
    if (std::memcmp(sector, "RSTR", 4) == 0) {
        static constexpr uint8_t kNtfsUtf16[8] = {'N', 0, 'T', 0, 'F', 0, 'S', 0};
        for (size_t i = 0; i + 8 <= ss; ++i)
            if (std::memcmp(sector + i, kNtfsUtf16, 8) == 0) return true;
    }
    static constexpr uint8_t kStaUtf16[8] = {'$', 0, 'S', 0, 'T', 0, 'A', 0};
    if (std::memcmp(sector, kStaUtf16, 8) == 0) return true;
    if (sector[0] == 0xEB && sector[2] == 0x90) {
        static constexpr const char* kNames[] = {"MSDOS5.0", "MSWIN4.0", "MSWIN4.1", "NTFS    ", "EXFAT   "};
        for (const char* oem : kNames)
            if (std::memcmp(sector + 3, oem, 8) == 0) return true;
    }
    // A subdirectory's first sector (its "." and ".." entries) fails the
    // directory-sector test, yet a carved file must end there too, or the
    // directory is swallowed by the file and lost to the deep scan.
    return ss % 32 == 0 && (IsFatDirectorySector(sector, ss) || IsFatDirectoryStart(sector, ss, 0));
}

bool FindNextFileStart(CarveJob& job, const uint8_t* chunk, size_t length, uint64_t& runningSize,
                       bool ignoreMpeg) {
    uint32_t ss = job.sectorSize;
    if (!chunk || ss == 0) return false;
    for (size_t i = 0; i + ss <= length; i += ss) {
        ++job.currentSector;
        const uint8_t* sector = chunk + i;
        if (IsFileSystemMetadataSector(sector, ss) || AnyRecogniserAccepts(job, sector, ss, ignoreMpeg)) {
            runningSize += i;
            return true;
        }
    }
    return false;
}

std::optional<uint64_t> FirstForeignSector(CarveJob& job, CarvedFileBytes& bytes, uint64_t from,
                                           uint64_t to) {
    const uint32_t ss = job.sectorSize;
    if (ss == 0) return std::nullopt;
    const uint64_t savedSector = job.currentSector;
    std::optional<uint64_t> found;
    for (uint64_t at = (from + ss - 1) / ss * ss; at + ss <= to && !found; at += ss) {
        ByteView sector = bytes.View(at, ss);
        if (sector.Size() < ss) break;
        const uint8_t* p = sector.Data();
        if (std::all_of(p + 1, p + ss, [&](uint8_t b) { return b == p[0]; })) continue;
        job.currentSector = job.startSector + at / ss;
        if (IsFileSystemMetadataSector(p, ss) || AnyRecogniserAccepts(job, p, ss, false)) found = at;
    }
    job.currentSector = savedSector;
    return found;
}

}  // namespace sorvane
