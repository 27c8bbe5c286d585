#include "carving/carved_file_measure.h"

#include <cstring>

#include "fs/fat_directory_sector.h"

namespace sorvane {

int IdentifyFileAt(uint32_t sectorSize, DiskReader* reader, const uint8_t* buffer, size_t length,
                   uint64_t startSector, uint64_t sectorsDone, uint64_t totalSectors, int32_t remainingSeconds,
                   uint64_t foundCount, std::string& name, FileTypeCode& type, uint64_t& size) {
    CarveContext& ctx = TheCarveContext();
    ctx.sectorSize = sectorSize;
    ctx.reader = reader;
    ctx.startSector = startSector;
    ctx.currentSector = startSector;
    ctx.sectorsDone = sectorsDone;
    ctx.totalSectors = totalSectors;
    ctx.remainingSeconds = remainingSeconds;
    ctx.foundCount = foundCount;

    FileTypeCode code = RecogniseSector(buffer, length);
    // Until a type is known the next identification treats its sector as a
    // possible continuation of a transport stream.
    ctx.inTransportStream = true;
    ctx.inMts = false;
    type = code;
    size = 0;
    name.clear();
    if (code == kTypeNotRecognised) return 87;
    const FileSignatureRow* row = FirstRowOfCode(code);
    if (!row || !row->findSize) return 87;

    ctx.inTransportStream = code == kTypeTs;
    ctx.inMts = code == kTypeMts;
    name = std::to_string(startSector) + "." + row->extension;
    ctx.callbackStatus = 0;
    size = row->findSize(buffer, length);
    return ctx.callbackStatus == kCancelCode ? kCancelCode : 0;
}

bool IsFileSystemMetadataSector(const uint8_t* sector) {
    uint32_t ss = TheCarveContext().sectorSize;
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

bool FindNextFileStart(const uint8_t* chunk, size_t length, uint64_t& runningSize, bool ignoreMpeg) {
    CarveContext& ctx = TheCarveContext();
    uint32_t ss = ctx.sectorSize;
    if (!chunk || ss == 0) return false;
    for (size_t i = 0; i + ss <= length; i += ss) {
        ++ctx.currentSector;
        const uint8_t* sector = chunk + i;
        if (IsFileSystemMetadataSector(sector) || AnyRecogniserAccepts(sector, ss, ignoreMpeg)) {
            runningSize += i;
            return true;
        }
    }
    return false;
}

}  // namespace sorvane
