// The size finders of the signature table: each measures a carved file whose
// first sector is `buffer`, using the carve context for the disk it lies on.
// All return a length in bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sorvane {

uint64_t FindJpgSize(const uint8_t* buffer, size_t length);
uint64_t FindGifSize(const uint8_t* buffer, size_t length);
uint64_t FindPngSize(const uint8_t* buffer, size_t length);
uint64_t FindPictureWalkSize(const uint8_t* buffer, size_t length);  // psd, tif
uint64_t FindBmpSize(const uint8_t* buffer, size_t length);
uint64_t FindAviSize(const uint8_t* buffer, size_t length);
uint64_t FindWavSize(const uint8_t* buffer, size_t length);
uint64_t FindRmvbSize(const uint8_t* buffer, size_t length);
uint64_t FindMkvSize(const uint8_t* buffer, size_t length);
uint64_t FindMp4Size(const uint8_t* buffer, size_t length);
uint64_t FindSwfSize(const uint8_t* buffer, size_t length);
uint64_t FindLongVideoSize(const uint8_t* buffer, size_t length);  // flv, 3gp, mts, mxf, mov, gz
uint64_t FindShortMediaSize(const uint8_t* buffer, size_t length);  // mp2, mmf, fla
uint64_t FindMpegSize(const uint8_t* buffer, size_t length);
uint64_t FindMp3Size(const uint8_t* buffer, size_t length);
uint64_t FindMidSize(const uint8_t* buffer, size_t length);
uint64_t FindApeSize(const uint8_t* buffer, size_t length);
uint64_t FindWmvSize(const uint8_t* buffer, size_t length);
uint64_t FindPdfSize(const uint8_t* buffer, size_t length);
uint64_t FindCompoundFileSize(const uint8_t* buffer, size_t length);
uint64_t FindOfficeOpenXmlSize(const uint8_t* buffer, size_t length);
uint64_t FindRarSize(const uint8_t* buffer, size_t length);
uint64_t FindZipSize(const uint8_t* buffer, size_t length);
uint64_t FindCabSize(const uint8_t* buffer, size_t length);
uint64_t Find7zSize(const uint8_t* buffer, size_t length);
uint64_t FindMailStoreSize(const uint8_t* buffer, size_t length);  // pst, dbx
uint64_t FindDbSize(const uint8_t* buffer, size_t length);
uint64_t FindTsSize(const uint8_t* buffer, size_t length);
uint64_t FindTtfSize(const uint8_t* buffer, size_t length);
uint64_t FindIcoSize(const uint8_t* buffer, size_t length);

// The compound-file allocation-table rule alone: the file's length from its
// header and allocation table, or 0 when the header makes no sense or a sector
// it needs cannot be read.
uint64_t CompoundFileSizeFromAllocationTable(const uint8_t* header, size_t length);

}  // namespace sorvane
