// Reading a file's unnamed NTFS data stream: resident bytes, or runs of
// clusters that may be sparse (holes read as zeros), LZNT1-compressed unit by
// unit, and written only up to the initialized size (zeros past it). Both
// NTFS engines copy and preview files through it; where the volume's bytes
// come from is theirs to say.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "fs/ntfs_record.h"
#include "fs/ntfs_runlist.h"

namespace sorvane {

// Where the bytes of a file's unnamed data stream are.
struct NtfsDataLayout {
    bool resident = false;
    std::vector<uint8_t> residentBytes;
    uint64_t size = 0;
    uint64_t initializedSize = 0;  // bytes past it read as zeros
    bool compressed = false;
    uint32_t compressionUnitClusters = 0;
    std::vector<NtfsExtent> extents;  // sorted by VCN
};

// The volume a stream is read from.
struct NtfsStreamVolume {
    uint64_t clusterBytes = 0;
    uint64_t bytesPerSector = 512;
    // The volume's size: runs mapping more data, or holes adding up to more,
    // are damage.
    uint64_t volumeBytes = 0;
    // Reads `length` bytes at byte `offset` of the volume, all of them.
    // Returns 0 or the read's result code.
    std::function<int(uint64_t offset, void* buffer, size_t length)> read;
};

// Takes the bytes of a resident $DATA attribute; the stream's size is theirs.
void SetResidentNtfsData(const NtfsAttribute& data, NtfsDataLayout& layout);
// Adds a piece of a non-resident $DATA attribute: its runs, placed on a volume
// of `totalClusters` clusters, and, for the piece that starts the stream
// (first VCN 0), the sizes and compression. Returns true for that piece.
bool AddNtfsDataPiece(const NtfsAttribute& data, uint64_t totalClusters, NtfsDataLayout& layout);

// Answers 0 to go on; any other answer ends the read and is returned.
using NtfsDataSink = std::function<int(const uint8_t* bytes, size_t length)>;

// Streams the layout's `size` bytes to `sink` in order, in pieces of at most
// 64 KiB. Returns 0; 30 (read fault) where no run maps a stretch before the
// end, where the runs or holes add up to more than the volume, or where a
// compressed unit does not decode (its bytes are still passed on); a read's
// result code; or the sink's non-zero answer.
[[nodiscard]] int ReadNtfsData(const NtfsDataLayout& layout, const NtfsStreamVolume& volume,
                               const NtfsDataSink& sink);

}  // namespace sorvane
