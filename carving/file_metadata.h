// What a file says of itself: when it was taken, recorded or written, with
// which camera, by whom and under which title. The carver names the files it
// finds from it. Every reader is bounded: it reads a few hundred KiB at most
// through a FileByteSource, checks every length and offset it reads, and a
// damaged structure only ends its own parse (the answer is then false or
// partial, never a read out of bounds).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "carving/file_byte_source.h"

namespace sorvane {

struct FileMetadata {
    // The moment the content was made (photo taken, video recorded, document
    // created): seconds since 1970, UTC. Valid when hasTime.
    bool hasTime = false;
    int64_t unixTime = 0;
    // The same moment as the clock of the device showed it, as seconds since
    // 1970 of those calendar fields read as UTC: what a name shows.
    int64_t wallClock = 0;
    // True when the file gave its offset from UTC (EXIF offset, a zone in an
    // ISO date); without one, the wall clock is read as this machine's local time.
    bool hasOffset = false;
    std::string make;    // camera maker (EXIF), UTF-8
    std::string model;   // camera model (EXIF), UTF-8
    std::string artist;  // UTF-8
    std::string title;   // UTF-8
};

// EXIF of a JPEG (its APP1 segment) or of a TIFF-based file (TIFF, camera
// raws such as CR2, NEF, ARW, DNG): DateTimeOriginal (else DateTime) with
// OffsetTimeOriginal where present, Make and Model. True when anything was read.
bool ReadExifMetadata(FileByteSource& file, FileMetadata& out);
// The creation time of a QuickTime/MP4 movie (its `mvhd` box). True when found.
bool ReadMovieMetadata(FileByteSource& file, FileMetadata& out);
// Artist and title of an MP3: ID3v2 (2.2, 2.3, 2.4) at the start, else ID3v1
// in the last 128 bytes. True when either was read.
bool ReadId3Metadata(FileByteSource& file, FileMetadata& out);
// Title and creation date of a PDF, from its document information or its XMP
// packet, where either is stored uncompressed. True when anything was read.
bool ReadPdfMetadata(FileByteSource& file, FileMetadata& out);
// Title and creation date of an Office Open XML document (docProps/core.xml)
// or an OpenDocument file (meta.xml), read through the zip's central directory.
bool ReadOfficeMetadata(FileByteSource& file, FileMetadata& out);

// The reader for a file of type `extension` (lower case, no dot), if any.
// True when it read something usable.
bool ReadFileMetadata(std::string_view extension, FileByteSource& file, FileMetadata& out);

// --- Pieces the readers share, exposed for their tests ---

// Seconds since 1970 of a calendar date and time read as UTC; false for a
// field out of range (years 1900 to 2999).
bool CalendarSeconds(int year, int month, int day, int hour, int minute, int second, int64_t& out);
// Fills the times of `out` from wall-clock seconds and an offset in minutes
// east of UTC (or none: this machine's local time). Rejects times before 1980
// and after 2100, which no camera clock that was set shows.
bool SetMetadataTime(int64_t wallClock, bool hasOffset, int offsetMinutes, FileMetadata& out);
// Fills the times of `out` from an instant in UTC (a movie's clock); the
// wall clock is this machine's local time of it. Same range as above.
bool SetMetadataInstant(int64_t unixTime, FileMetadata& out);
// An ISO 8601 / W3C date ("2024-05-01T10:20:30", fractions, "Z" or "+02:00")
// or an EXIF one ("2024:05:01 10:20:30") into `out`'s times.
bool ParseDateText(std::string_view text, FileMetadata& out);
// Text between <tag ...> and </tag> of an XML document, with entities
// decoded and markup inside dropped; empty when absent. The first match is
// taken; `tag` carries its prefix ("dc:title").
std::string XmlElementText(std::string_view xml, std::string_view tag);

}  // namespace sorvane
