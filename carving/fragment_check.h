// Whether a file's bytes, read as one sequence, hold its structure to the end.
// A file whose pieces lie apart on a disk is put together by trying where its
// next piece starts: the check of each try says the bytes are right to the
// end, that they go wrong at a known offset (so the piece must end before it),
// or that the structure cannot tell. Every check is bounded by the file's
// length, a limit on the structures it walks and on the output it decodes.
#pragma once

#include <cstdint>
#include <string_view>

#include "carving/file_byte_source.h"

namespace sorvane {

enum class FragmentCheck : uint8_t {
    kValidToEnd,  // every structure up to the last byte checked out
    kInvalidAt,   // the structure that starts at `offset` is wrong
    kCannotTell,  // the structure says nothing past `offset` (or a read failed there)
};

struct FragmentVerdict {
    FragmentCheck check = FragmentCheck::kCannotTell;
    // kInvalidAt: where the first wrong structure starts; every byte before it
    // was proven right. kCannotTell: how far the bytes were proven right.
    uint64_t offset = 0;
    // kInvalidAt: where the wrong structure ends by its own header (read in
    // the proven bytes), so the wrong byte lies before it; 0 when not known.
    uint64_t end = 0;

    static FragmentVerdict Valid(uint64_t length) { return {FragmentCheck::kValidToEnd, length, 0}; }
    static FragmentVerdict InvalidAt(uint64_t at, uint64_t end = 0) {
        return {FragmentCheck::kInvalidAt, at, end};
    }
    static FragmentVerdict CannotTell(uint64_t provenTo) { return {FragmentCheck::kCannotTell, provenTo, 0}; }
    bool Valid() const { return check == FragmentCheck::kValidToEnd; }
};

// Each reads `file` from its first byte to file.Length(), which is the whole
// file's length (a directory entry's size, or a carved file's measure).
[[nodiscard]] FragmentVerdict CheckPngFragments(FileByteSource& file);
// ZIP, and Office Open XML and OpenDocument files.
[[nodiscard]] FragmentVerdict CheckZipFragments(FileByteSource& file);
// In coded picture data the first wrong byte cannot be pinned down: kInvalidAt
// then gives the scan's start as `offset` and the place decoding failed as `end`.
[[nodiscard]] FragmentVerdict CheckJpegFragments(FileByteSource& file);
[[nodiscard]] FragmentVerdict CheckPdfFragments(FileByteSource& file);
// MP4, and QuickTime, M4A and 3GP files.
[[nodiscard]] FragmentVerdict CheckMp4Fragments(FileByteSource& file);

// True when files with the lower-case extension `extension` (no dot) have a
// structure the checks above read.
[[nodiscard]] bool HasFragmentCheck(std::string_view extension);

// The check for files with the lower-case extension `extension`; kCannotTell
// at 0 for the types without one.
[[nodiscard]] FragmentVerdict CheckFragmentsByExtension(std::string_view extension, FileByteSource& file);

}  // namespace sorvane
