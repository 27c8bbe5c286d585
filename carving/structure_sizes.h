// Sizes taken from a carved file's own structure: marker and chunk walks,
// header size fields, table directories and trailers. Each finder reads the
// file that starts at the job's start sector and returns its length in bytes
// only when the structure checks out (the end marker or trailer really is
// where the sizes say, and every size stays inside the disk and the type's
// limit); otherwise none, and the caller walks to the next file instead.
// Where the structure tells whether the content is whole (a clean marker walk,
// matching checksums) the finder sets the job's verdict; a structure found
// broken or cut short sets kDamaged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "carving/carve_job.h"

namespace sorvane {

using StructureSize = std::optional<uint64_t>;

// pictures
StructureSize JpegStructureSize(CarveJob& job);
StructureSize PngStructureSize(CarveJob& job);
StructureSize GifStructureSize(CarveJob& job);
StructureSize BmpStructureSize(CarveJob& job, const uint8_t* first, size_t length);
StructureSize TiffStructureSize(CarveJob& job);
StructureSize PsdStructureSize(CarveJob& job);

// audio and video
StructureSize IsoMediaStructureSize(CarveJob& job);  // mp4, mov, 3gp, 3g2, m4a
StructureSize MatroskaStructureSize(CarveJob& job);
StructureSize FlvStructureSize(CarveJob& job);
StructureSize RealMediaStructureSize(CarveJob& job);
StructureSize MxfStructureSize(CarveJob& job);
StructureSize MpegAudioStructureSize(CarveJob& job);  // mp3, mp2
StructureSize MpegProgramStructureSize(CarveJob& job);
StructureSize SmafStructureSize(CarveJob& job);
StructureSize AsfStructureSize(CarveJob& job);  // wmv, wma, asf
// An MPEG-1/2 video elementary stream, to its sequence end code.
StructureSize ElementaryVideoStructureSize(CarveJob& job);

// documents, archives and stores
StructureSize PdfStructureSize(CarveJob& job);
StructureSize ZipStructureSize(CarveJob& job);  // also Office Open XML and OpenDocument
StructureSize SevenZipStructureSize(CarveJob& job);
StructureSize GzipStructureSize(CarveJob& job);  // every member, each checked against its CRC and length
StructureSize CompressedFlashStructureSize(CarveJob& job);
StructureSize RarStructureSize(CarveJob& job);  // versions 4 and 5
StructureSize SqliteStructureSize(CarveJob& job);
StructureSize PstStructureSize(CarveJob& job);
StructureSize FontStructureSize(CarveJob& job);
StructureSize CabinetStructureSize(CarveJob& job);

// Length of one MPEG audio frame whose 4-byte header is `header`, or 0 when
// the header is not a valid layer I, II or III frame header.
uint32_t MpegAudioFrameLength(uint32_t header);

}  // namespace sorvane
