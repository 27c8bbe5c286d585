// The file types Sorvane can tell from the first bytes of a sector, the
// ordered table of their recognisers, and the carve context that the
// recognisers and size finders share.
//
// The carve context is module-wide and unguarded: carving runs on one worker
// thread at a time (the scan window is modal), and the in-stream flags of one
// identification must be seen by the next.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "carving/progress_callbacks.h"
#include "device/disk_reader.h"

namespace sorvane {

// A file's type. The values are stored in no file but are shared by every
// engine that carves or checks content; 49 means nothing was recognised.
enum FileTypeCode : int {
    kTypeDoc = 0,
    kTypeDocx = 1,
    kTypeOle = 2,
    kTypeXls = 3,
    kTypeXlsx = 4,
    kTypePpt = 5,
    kTypePptx = 6,
    kTypeMso07 = 7,  // no recogniser ever gives it
    kTypePdf = 8,
    kTypeGho = 9,
    kTypeJpg = 10,
    kTypeMp2 = 11,
    kTypeMp3 = 12,
    kTypeMid = 13,
    kTypeMmf = 14,
    kTypeMpeg = 15,
    kType3gp = 16,
    kTypeMov = 17,
    kTypeMp4 = 18,
    kTypeMkv = 19,
    kTypeTs = 20,
    kTypeWav = 21,
    kTypeAvi = 22,
    kTypeRmvb = 23,
    kTypeWmv = 24,
    kTypeApe = 25,
    kTypeSwf = 26,
    kTypeFlv = 27,
    kTypePsd = 28,
    kTypeBmp = 29,
    kTypePng = 30,
    kTypeGif = 31,
    kTypeTif = 32,
    kTypeCab = 33,
    kType7z = 34,
    kTypeZip = 35,
    kTypeGz = 36,
    kTypeRar = 37,
    kTypePst = 38,
    kTypeDb = 39,
    kTypeDbx = 40,
    kTypeExe = 41,
    kTypeDll = 42,
    kTypeSys = 43,
    kTypeFla = 44,
    kTypeTtf = 45,
    kTypeIco = 46,
    kTypeMts = 47,
    kTypeMxf = 48,
    kTypeNotRecognised = 49,
};

// Tells whether a file of the row's type starts at `buffer` (one sector).
// Returns kTypeNotRecognised for no; for yes the row's code, or for the
// compound-file and Office Open XML rows the sub-type found. A buffer shorter
// than the recogniser needs gives no.
using SignatureRecogniser = FileTypeCode (*)(const uint8_t* buffer, size_t length);
// Length in bytes of the carved file whose first sector is `buffer`.
using SizeFinder = uint64_t (*)(const uint8_t* buffer, size_t length);

struct FileSignatureRow {
    const char* extension;  // lower case, no dot; null in the terminator
    FileTypeCode code;
    SignatureRecogniser recognise;  // null in the terminator
    SizeFinder findSize;            // null for types that are recognised but never carved
};

inline constexpr size_t kFileSignatureRowCount = 87;
// The rows in the order they are tried (the first yes wins), then a terminator
// whose code is kTypeNotRecognised.
extern const FileSignatureRow FileSignatureTable[kFileSignatureRowCount + 1];

// The first row carrying `code` (its extension names carved files); null for
// kTypeNotRecognised and unknown codes.
const FileSignatureRow* FirstRowOfCode(FileTypeCode code);
// The first row whose extension equals `extension` ignoring ASCII case; null when none.
const FileSignatureRow* FindRowByExtension(std::string_view extension);

// Sectors of one carved transport stream, both ends included.
struct TsRange {
    uint64_t firstSector = 0;
    uint64_t lastSector = 0;
};
using TsRangeList = std::vector<TsRange>;

// Continuation sectors are read in pieces of at most this many bytes.
inline constexpr size_t kMaxCarveChunk = 65536;

struct CarveContext {
    uint32_t sectorSize = 512;
    DiskReader* reader = nullptr;  // not owned; null means nothing can be read
    uint64_t startSector = 0;
    // Starts at startSector; the boundary walk advances it for every sector it
    // examines. The recognisers that read the disk read relative to it.
    uint64_t currentSector = 0;
    uint64_t sectorsDone = 0;   // scan progress before the file being measured
    uint64_t totalSectors = 0;  // sectors of the whole scan
    int32_t remainingSeconds = -1;
    uint64_t foundCount = 0;
    ScanProgressCallback scanProgress = nullptr;
    void* userData = nullptr;
    int weight = 0;
    int32_t callbackStatus = 0;  // last answer of scanProgress; 0 before each identification
    bool inTransportStream = false;
    bool inMts = false;
    std::vector<uint8_t> scratch;  // kMaxCarveChunk bytes while allocated
    TsRangeList tsRanges;          // transport streams carved in the current deep scan
};

// The one carve context of the program.
CarveContext& TheCarveContext();
// The engines share one 64 KiB scratch buffer: each engine acquires it when it
// is constructed and releases it when it is destroyed; it is freed when the last
// holder lets go, so one engine going away never pulls it from under another.
void AcquireCarveScratch();
void ReleaseCarveScratch();
// The scratch buffer (kMaxCarveChunk bytes), allocated on first use when no
// engine holds it.
uint8_t* CarveScratch();

// Content check for engines that found a file by its name: true when `buffer`
// (the first sector or cluster of the file) agrees with `extension` (no dot,
// any case), and also true when the table does not know the extension. The
// recognisers that look further read through `reader` (may be null: such a
// read then fails) relative to `startSector`.
bool MatchesExtension(const uint8_t* buffer, size_t length, std::string_view extension, DiskReader* reader,
                      uint32_t sectorSize, uint64_t startSector);

// The first code that a row accepts for `buffer`, trying the rows in table
// order, or kTypeNotRecognised. Uses the carve context for disk reads.
FileTypeCode RecogniseSector(const uint8_t* buffer, size_t length);
// The same answer by calling every row's recogniser in table order; kept as the
// reference the fast dispatch of RecogniseSector is tested against.
FileTypeCode RecogniseSectorInTableOrder(const uint8_t* buffer, size_t length);
// True when any recogniser accepts the sector; with `ignoreMpeg`, an answer of
// kTypeMpeg does not count.
bool AnyRecogniserAccepts(const uint8_t* buffer, size_t length, bool ignoreMpeg);

}  // namespace sorvane
