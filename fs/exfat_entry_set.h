// exFAT directory entries: file entry sets (a file entry, its stream extension
// and its name entries) live or deleted, their set checksum, timestamps, and
// the volume's label and allocation-bitmap entries. Everything read here came
// from a disk: an entry set that does not hold together is refused whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sorvane {

inline constexpr size_t kExfatEntryBytes = 32;
// A file entry set holds its file entry, one stream extension and up to
// seventeen name entries (255 characters, fifteen per entry).
inline constexpr size_t kExfatMaxSetEntries = 19;
inline constexpr size_t kExfatMaxSetBytes = kExfatMaxSetEntries * kExfatEntryBytes;

// Entry types with the in-use bit (0x80) set; a deleted entry has it clear.
inline constexpr uint8_t kExfatInUse = 0x80;
inline constexpr uint8_t kExfatFileEntry = 0x85;
inline constexpr uint8_t kExfatStreamEntry = 0xC0;
inline constexpr uint8_t kExfatNameEntry = 0xC1;
inline constexpr uint8_t kExfatBitmapEntry = 0x81;
inline constexpr uint8_t kExfatUpcaseEntry = 0x82;
inline constexpr uint8_t kExfatLabelEntry = 0x83;

inline constexpr uint16_t kExfatDirectoryAttribute = 0x10;

struct ExfatEntrySet {
    bool inUse = false;     // false: a deleted set
    size_t entryCount = 0;  // entries the set takes, the file entry included
    uint16_t attributes = 0;
    uint64_t created = 0;  // FILETIME; UTC where the entry carries its offset, else wall clock
    uint64_t written = 0;
    uint64_t accessed = 0;
    bool wallClockTimes = false;  // the modification time carried no UTC offset
    bool noFatChain = false;      // the data is one contiguous run of clusters
    uint32_t firstCluster = 0;
    uint64_t dataLength = 0;
    uint64_t validDataLength = 0;  // bytes past it read as zeros; never above dataLength
    std::string name;              // UTF-8

    bool IsDirectory() const { return (attributes & kExfatDirectoryAttribute) != 0; }
};

enum class ExfatSetResult {
    kSet,         // `out` holds the set
    kNotASet,     // no file entry set starts here
    kIncomplete,  // the set claims more entries than the bytes given hold
};

// Parses the file entry set that starts at `bytes` (a file entry, in use or
// deleted). A set is taken only when its secondary count is 2 to 18, its
// second entry is a stream extension, the name entries the name length needs
// follow it, every entry shares the file entry's in-use state, and the set
// checksum holds (computed as for the set in use, since deleting a set clears
// the in-use bits without writing the checksum again).
ExfatSetResult ParseExfatEntrySet(const uint8_t* bytes, size_t length, ExfatEntrySet& out);

// The set checksum over `entries` entries; with `asInUse` the in-use bit of
// every entry type is counted as set.
uint16_t ExfatSetChecksum(const uint8_t* bytes, size_t entries, bool asInUse);

// A FILETIME from an exFAT timestamp, its 10-ms increment (0 to 199) and its
// UTC offset byte (bit 7: valid; bits 0-6: signed quarter hours). With a valid
// offset the result is UTC; without one it is the wall-clock time as stored.
// 0 for an impossible date or time.
uint64_t FileTimeFromExfatTimestamp(uint32_t stamp, uint8_t tenMs, uint8_t utcOffset);

// The volume label of a label entry (0x83), UTF-8; empty for any other entry.
std::string ExfatLabelOfEntry(const uint8_t* entry, size_t length);

// What a directory's entries tell besides file entry sets.
struct ExfatDirectoryExtras {
    bool haveLabel = false;
    std::string label;
    bool haveBitmap = false;
    uint32_t bitmapCluster = 0;
    uint64_t bitmapLength = 0;
};

// Reads a directory's bytes in pieces of any size (a cluster at a time, say)
// and calls back for every file entry set found, live or deleted, with the
// byte position of its file entry in the directory. A set cut by the end of
// a piece is kept, at most kExfatMaxSetBytes of it, until the next piece.
class ExfatDirectoryParser {
  public:
    using SetCallback = std::function<void(const ExfatEntrySet& set, uint64_t position)>;

    explicit ExfatDirectoryParser(SetCallback onSet) : onSet_(std::move(onSet)) {}

    void Feed(const uint8_t* bytes, size_t length);
    // Ends the directory: a set still cut off is dropped.
    void Finish() { pending_.clear(); }
    const ExfatDirectoryExtras& Extras() const { return extras_; }
    // Bytes fed so far.
    uint64_t Position() const { return fed_; }

  private:
    // Parses `length` bytes that start at directory position `base`; returns
    // how many were consumed (the rest is a set cut off at the end).
    size_t ParseBuffer(const uint8_t* bytes, size_t length, uint64_t base);

    SetCallback onSet_;
    ExfatDirectoryExtras extras_;
    std::vector<uint8_t> pending_;
    uint64_t pendingPosition_ = 0;
    uint64_t fed_ = 0;
};

}  // namespace sorvane
