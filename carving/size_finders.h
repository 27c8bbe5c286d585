// The size finders of the signature table: each measures a carved file whose
// first sector is `buffer` and that starts at the job's start sector, reading
// the job's disk. All return a length in bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "carving/carve_job.h"
#include "carving/file_signature.h"

namespace sorvane {

uint64_t FindJpgSize(CarveJob& job, const uint8_t* buffer, size_t length);
uint64_t FindGifSize(CarveJob& job, const uint8_t* buffer, size_t length);
uint64_t FindPngSize(CarveJob& job, const uint8_t* buffer, size_t length);
uint64_t FindTifSize(CarveJob& job, const uint8_t* buffer, size_t length);
uint64_t FindPsdSize(CarveJob& job, const uint8_t* buffer, size_t length);
uint64_t FindBmpSize(CarveJob& job, const uint8_t* buffer, size_t length);
uint64_t FindAviSize(CarveJob& job, const uint8_t* buffer, size_t length);
uint64_t FindWavSize(CarveJob& job, const uint8_t* buffer, size_t length);
uint64_t FindRmvbSize(CarveJob& job, const uint8_t* buffer, size_t length);
uint64_t FindMkvSize(CarveJob& job, const uint8_t* buffer, size_t length);
uint64_t FindMp4Size(CarveJob& job, const uint8_t* buffer, size_t length);
uint64_t FindSwfSize(CarveJob& job, const uint8_t* buffer, size_t length);
uint64_t FindGzSize(CarveJob& job, const uint8_t* buffer, size_t length);
uint64_t FindShortMediaSize(CarveJob& job, const uint8_t* buffer, size_t length);  // fla
uint64_t FindIsoMediaSize(CarveJob& job, const uint8_t* buffer, size_t length);    // 3gp, mov, m4a, 3g2
uint64_t FindFlvSize(CarveJob& job, const uint8_t* buffer, size_t length);
uint64_t FindMxfSize(CarveJob& job, const uint8_t* buffer, size_t length);
uint64_t FindMp2Size(CarveJob& job, const uint8_t* buffer, size_t length);
uint64_t FindMmfSize(CarveJob& job, const uint8_t* buffer, size_t length);
uint64_t FindPstSize(CarveJob& job, const uint8_t* buffer, size_t length);
uint64_t FindMpegSize(CarveJob& job, const uint8_t* buffer, size_t length);
uint64_t FindMp3Size(CarveJob& job, const uint8_t* buffer, size_t length);
uint64_t FindMidSize(CarveJob& job, const uint8_t* buffer, size_t length);
uint64_t FindApeSize(CarveJob& job, const uint8_t* buffer, size_t length);
uint64_t FindWmvSize(CarveJob& job, const uint8_t* buffer, size_t length);
uint64_t FindPdfSize(CarveJob& job, const uint8_t* buffer, size_t length);
uint64_t FindCompoundFileSize(CarveJob& job, const uint8_t* buffer, size_t length);
uint64_t FindOfficeOpenXmlSize(CarveJob& job, const uint8_t* buffer, size_t length);
uint64_t FindRarSize(CarveJob& job, const uint8_t* buffer, size_t length);
uint64_t FindZipSize(CarveJob& job, const uint8_t* buffer, size_t length);
uint64_t FindCabSize(CarveJob& job, const uint8_t* buffer, size_t length);
uint64_t Find7zSize(CarveJob& job, const uint8_t* buffer, size_t length);
uint64_t FindMailStoreSize(CarveJob& job, const uint8_t* buffer, size_t length);  // dbx
uint64_t FindDbSize(CarveJob& job, const uint8_t* buffer, size_t length);
uint64_t FindTsSize(CarveJob& job, const uint8_t* buffer, size_t length);
uint64_t FindM2tsSize(CarveJob& job, const uint8_t* buffer, size_t length);
uint64_t FindTtfSize(CarveJob& job, const uint8_t* buffer, size_t length);
uint64_t FindIcoSize(CarveJob& job, const uint8_t* buffer, size_t length);

// The size the structure of a file of type `code` gives, with no walk after
// it; none (and the job's verdict left kNotChecked) for types whose structure
// this does not read.
std::optional<uint64_t> StructureSizeOfType(FileTypeCode code, CarveJob& job, const uint8_t* buffer,
                                            size_t length);

// The compound-file allocation-table rule alone: the file's length from its
// header and allocation table, or 0 when the header makes no sense or a sector
// it needs cannot be read.
uint64_t CompoundFileSizeFromAllocationTable(CarveJob& job, const uint8_t* header, size_t length);

}  // namespace sorvane
