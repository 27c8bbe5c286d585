// Parsing of FAT directory entries: the plausibility test that keeps random
// bytes from being taken for files, short (8.3) and long names, times, and the
// walk over one buffer of directory entries. Nothing here reads the disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "device/byte_view.h"

namespace sorvane {

inline constexpr size_t kFatEntrySize = 32;
inline constexpr uint8_t kFatDeletedMark = 0xE5;
inline constexpr uint8_t kFatAttrReadOnly = 0x01;
inline constexpr uint8_t kFatAttrVolumeLabel = 0x08;
inline constexpr uint8_t kFatAttrDirectory = 0x10;
inline constexpr uint8_t kFatAttrArchive = 0x20;
inline constexpr uint8_t kFatAttrLongName = 0x0F;

// True when `entry` (32 bytes) and the entry after it are a "." and a ".."
// entry, the way every subdirectory starts. `next` may be empty.
bool IsDotPair(ByteView entry, ByteView next);
// True when the 32 bytes can be a directory entry that some FAT driver wrote:
// sane attributes, cluster fields and sizes, and for live entries dates within
// 1990..2050 and a legal short name. `next` is the entry that follows (may be empty).
bool IsPlausibleEntry(ByteView entry, ByteView next);

// The 8.3 name of a short entry: blanks trimmed, letters lower-cased, the
// extension after a "." when there is one, code page 437 decoded. A deleted
// entry's lost first character is shown as "!".
std::string ShortEntryName(ByteView entry);

struct FatEntryTimes {
    uint64_t created = 0;   // FILETIME of the wall-clock time on disk
    uint64_t accessed = 0;  // date only
    uint64_t written = 0;
};
FatEntryTimes EntryTimes(ByteView entry);

// Collects the long-name parts that precede a short entry. Parts arrive last
// part first, so each is put before what was collected.
class LongNameCollector {
  public:
    static constexpr size_t kMaxParts = 20;
    static constexpr size_t kMaxUnits = 260;

    void Reset();
    // Adds a part. Returns false when a 20th part would be needed.
    bool Add(ByteView entry);
    bool Empty() const { return units_ == 0; }
    uint8_t Checksum() const { return checksum_; }
    // The collected name as UTF-8, up to its NUL or 0xFFFF filler.
    std::string Utf8() const;

  private:
    char16_t buffer_[kMaxUnits] = {};
    size_t units_ = 0;  // filled from the end of buffer_
    size_t parts_ = 0;
    uint8_t checksum_ = 0;
};

// The checksum a long name stores of its short entry's 11 name bytes.
uint8_t ShortNameChecksum(ByteView entry);
// False for the bytes no short name may hold: controls, lower case and "*.:<>?\\|.
// Inline: the deep scan asks it for every byte of every candidate entry.
inline bool IsLegalShortNameByte(uint8_t c) {
    if (c < 0x20) return false;
    if (c >= 'a' && c <= 'z') return false;
    switch (c) {
        case '"':
        case '*':
        case '.':
        case ':':
        case '<':
        case '>':
        case '?':
        case '\\':
        case '|':
            return false;
        default:
            return true;
    }
}

// One entry met by WalkDirectoryBuffer.
struct FatEntryInfo {
    enum class Kind { kFile, kDirectory, kDot, kDotDot, kVolumeLabel };
    Kind kind = Kind::kFile;
    bool deleted = false;
    uint8_t attributes = 0;
    uint16_t clusterHigh = 0;
    uint16_t clusterLow = 0;
    uint32_t size = 0;
    std::string name;  // long name when one belongs to it, else the 8.3 name
    bool hasLongName = false;
    FatEntryTimes times;
    size_t offset = 0;  // byte offset of the short entry in the buffer
};

enum class WalkEnd {
    kBufferDone,  // every entry was looked at; the directory may go on in the next cluster
    kEndMark,     // an entry starting with 0 ended the directory
    kTooLong,     // a long name of more than 19 parts: the rest of the directory is not trusted
};

// Walks the 32-byte entries of `buffer`, calling `visit` for each plausible
// short entry (with its long name). Long-name parts are carried in `names`
// across calls, so a name split over two clusters is kept whole.
WalkEnd WalkDirectoryBuffer(ByteView buffer, LongNameCollector& names,
                            const std::function<void(const FatEntryInfo&)>& visit);

}  // namespace sorvane
