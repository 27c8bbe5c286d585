// Parsing of NTFS on-disk structures the quick scan reads: the boot sector,
// MFT file records (update-sequence fixups, header, attribute walk) and the
// attributes it needs ($STANDARD_INFORMATION, $FILE_NAME, $DATA,
// $ATTRIBUTE_LIST). Every read goes through ByteView: a damaged record ends
// its own parse and never reads outside its buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "device/byte_view.h"
#include "fs/ntfs_runlist.h"

namespace sorvane {

inline constexpr uint32_t kNtfsFileMagic = 0x454C4946;  // "FILE"
inline constexpr uint32_t kNtfsRootRecord = 5;
inline constexpr uint32_t kNtfsBitmapRecord = 6;
inline constexpr uint32_t kNtfsLastMetadataRecord = 11;  // records 0..11 are the volume's own files

enum NtfsAttributeType : uint32_t {
    kNtfsStandardInformation = 0x10,
    kNtfsAttributeList = 0x20,
    kNtfsFileName = 0x30,
    kNtfsData = 0x80,
    kNtfsIndexAllocation = 0xA0,
    kNtfsAttributeEnd = 0xFFFFFFFF,
};

enum NtfsFileNameSpace : uint8_t {
    kNtfsPosixName = 0,
    kNtfsWin32Name = 1,
    kNtfsDosName = 2,
    kNtfsWin32DosName = 3
};

// The MFT record number inside a file reference (its low 48 bits) and the
// sequence number the reference expects (its high 16 bits).
constexpr uint64_t NtfsReferenceRecord(uint64_t reference) { return reference & 0x0000FFFFFFFFFFFFull; }
constexpr uint16_t NtfsReferenceSequence(uint64_t reference) {
    return static_cast<uint16_t>(reference >> 48);
}

// What the quick scan needs from an NTFS boot sector.
struct NtfsGeometry {
    uint32_t bytesPerSector = 512;
    uint32_t sectorsPerCluster = 0;
    uint64_t clusterBytes = 0;
    uint64_t totalSectors = 0;  // volume sectors by the boot sector
    uint64_t mftCluster = 0;
    uint32_t recordSize = 1024;  // bytes of one MFT record
};

// Reads the geometry from the volume's first sector. The sectors-per-cluster
// byte above 0x80 is a power of two exponent (2^(256 - value)), as volumes
// with clusters of 64 KiB and more store it. The record size is taken from the
// boot sector when it is sane (a power of two from 256 to 65536 bytes);
// otherwise 1024 bytes for 512-byte sectors, else one sector. Returns false
// when the fields cannot describe a volume.
[[nodiscard]] bool ParseNtfsBootSector(ByteView sector, NtfsGeometry& geometry);

// Undoes the update-sequence protection of a record in place: the last two
// bytes of each protected stride are replaced by their saved values. The array
// is found through the record header; the stride is the record size divided by
// the number of protected strides (512 bytes on every volume written so far).
// The stored tails are not compared: a torn deleted record is still worth
// reading. Returns false when the header cannot describe the array.
[[nodiscard]] bool ApplyFixups(uint8_t* record, size_t recordSize);

struct NtfsRecordHeader {
    uint16_t sequence = 0;
    uint16_t flags = 0;
    uint32_t bytesInUse = 0;
    uint16_t firstAttribute = 0;
    uint64_t baseReference = 0;  // non-zero in an extension record
    uint32_t ownNumber = 0;      // only on NTFS 3.1 records; the record's position is the truth
    bool InUse() const { return (flags & 0x0001) != 0; }
    bool IsDirectory() const { return (flags & 0x0002) != 0; }
};

// True when `record` starts with "FILE" and its header fields lie inside it.
[[nodiscard]] bool ParseRecordHeader(ByteView record, NtfsRecordHeader& header);

struct NtfsAttribute {
    uint32_t type = 0;
    uint32_t length = 0;
    bool nonResident = false;
    uint8_t nameLength = 0;  // UTF-16 units; 0 for the unnamed stream
    uint16_t flags = 0;      // 0x0001 compressed, 0x4000 encrypted, 0x8000 sparse
    ByteView bytes;          // the whole attribute
    // Resident attributes.
    ByteView value;
    // Non-resident attributes.
    uint64_t firstVcn = 0;
    uint64_t lastVcn = 0;
    uint8_t compressionUnitShift = 0;  // compression unit = 2^shift clusters
    uint64_t allocatedSize = 0;
    uint64_t realSize = 0;
    uint64_t initializedSize = 0;
    ByteView runList;

    bool IsCompressed() const { return (flags & 0x0001) != 0; }
};

// Walks the attributes of a record whose fixups were applied. Next() returns
// false at the end marker or at the first attribute whose header does not fit
// inside the bytes in use.
class NtfsAttributeWalker {
  public:
    NtfsAttributeWalker(ByteView record, const NtfsRecordHeader& header);
    bool Next(NtfsAttribute& attribute);

  private:
    ByteView record_;
    size_t position_ = 0;
    size_t limit_ = 0;
    int remaining_ = 0;  // more attributes than fit in a record mean damage
};

struct NtfsFileName {
    uint64_t parentReference = 0;
    uint64_t created = 0;
    uint64_t written = 0;
    uint64_t mftChanged = 0;
    uint64_t accessed = 0;
    uint64_t realSize = 0;
    uint8_t nameSpace = 0;
    std::string name;  // UTF-8
};

// Parses the value of a $FILE_NAME attribute.
[[nodiscard]] bool ParseFileName(ByteView value, NtfsFileName& out);

struct NtfsStandardTimes {
    uint64_t created = 0;
    uint64_t written = 0;
    uint64_t mftChanged = 0;
    uint64_t accessed = 0;
};
[[nodiscard]] bool ParseStandardInformation(ByteView value, NtfsStandardTimes& out);

struct NtfsAttributeListEntry {
    uint32_t type = 0;
    uint8_t nameLength = 0;
    uint64_t firstVcn = 0;
    uint64_t reference = 0;
};
// Parses the entries of an $ATTRIBUTE_LIST value; stops at the first damaged entry.
void ParseAttributeList(ByteView list, std::vector<NtfsAttributeListEntry>& entries);

// What the quick scan keeps of one file record.
struct NtfsFileSummary {
    NtfsRecordHeader header;
    bool hasName = false;
    NtfsFileName fileName;  // Win32 name preferred over the DOS name
    bool hasStandardTimes = false;
    NtfsStandardTimes times;
    bool hasData = false;  // an unnamed $DATA attribute was found in this record
    NtfsAttribute data;    // the unnamed $DATA attribute with the lowest first VCN
    bool hasAttributeList = false;
    NtfsAttribute attributeList;
};

// Parses a fixed-up record. Returns false when it is not a "FILE" record.
// A damaged attribute ends the walk; what was read before it is kept.
[[nodiscard]] bool SummarizeRecord(ByteView record, NtfsFileSummary& summary);

// The file's size by its record: the unnamed $DATA size when present, else
// the size in its $FILE_NAME.
uint64_t SummaryFileSize(const NtfsFileSummary& summary);

}  // namespace sorvane
