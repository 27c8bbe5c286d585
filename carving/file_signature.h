// The file types Sorvane can tell from the first bytes of a sector and the
// ordered table of their recognisers and size finders.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "carving/carve_job.h"
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
    // Types recognised later; their numbers follow so the ones above keep theirs.
    kTypeM4a = 50,
    kType3g2 = 51,
    kTypeM2ts = 52,
};

// Tells whether a file of the row's type starts at `buffer` (one sector).
// Returns kTypeNotRecognised for no; for yes the row's code, or for the
// compound-file and Office Open XML rows the sub-type found. A buffer shorter
// than the recogniser needs gives no. The recognisers that look further read
// the job's disk relative to its current sector.
using SignatureRecogniser = FileTypeCode (*)(const CarveJob& job, const uint8_t* buffer, size_t length);
// Length in bytes of the carved file whose first sector is `buffer` and
// starts at the job's start sector.
using SizeFinder = uint64_t (*)(CarveJob& job, const uint8_t* buffer, size_t length);

struct FileSignatureRow {
    const char* extension;  // lower case, no dot; null in the terminator
    FileTypeCode code;
    SignatureRecogniser recognise;  // null in the terminator
    SizeFinder findSize;            // null for types that are recognised but never carved
};

inline constexpr size_t kFileSignatureRowCount = 97;
// The rows in the order they are tried (the first yes wins), then a terminator
// whose code is kTypeNotRecognised.
extern const FileSignatureRow FileSignatureTable[kFileSignatureRowCount + 1];

// The first row carrying `code` (its extension names carved files); null for
// kTypeNotRecognised and unknown codes.
const FileSignatureRow* FirstRowOfCode(FileTypeCode code);
// The first row whose extension equals `extension` ignoring ASCII case; null when none.
const FileSignatureRow* FindRowByExtension(std::string_view extension);

// Content check for engines that found a file by its name: true when `buffer`
// (the first sector or cluster of the file) agrees with `extension` (no dot,
// any case), and also true when the table does not know the extension. The
// recognisers that look further read through `reader` (may be null: such a
// read then fails) relative to `startSector`.
bool MatchesExtension(const uint8_t* buffer, size_t length, std::string_view extension, DiskReader* reader,
                      uint32_t sectorSize, uint64_t startSector);

// The first code that a row accepts for `buffer`, trying the rows in table
// order, or kTypeNotRecognised. Reads the job's disk where a row looks further.
FileTypeCode RecogniseSector(const CarveJob& job, const uint8_t* buffer, size_t length);
// False only when every recogniser is sure to say no to the sector, by its
// leading bytes alone: most sectors of file data and free space, found without
// asking any recogniser.
bool AnyRecogniserMaySayYes(const uint8_t* buffer, size_t length);
// The same answer by calling every row's recogniser in table order; kept as the
// reference the fast dispatch of RecogniseSector is tested against.
FileTypeCode RecogniseSectorInTableOrder(const CarveJob& job, const uint8_t* buffer, size_t length);
// True when any recogniser accepts the sector; with `ignoreMpeg`, an answer of
// kTypeMpeg does not count.
bool AnyRecogniserAccepts(const CarveJob& job, const uint8_t* buffer, size_t length, bool ignoreMpeg);

}  // namespace sorvane
