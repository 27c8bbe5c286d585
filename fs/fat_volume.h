// The layout of a FAT12/16/32 volume as its boot sector describes it, and the
// reading of its file allocation table. Sector numbers here are relative to
// the volume start unless a name says "absolute".
#pragma once

#include <cstdint>
#include <vector>

#include "device/byte_view.h"
#include "device/disk_reader.h"

namespace sorvane {

struct FatGeometry {
    uint32_t bytesPerSector = 512;
    uint32_t sectorsPerCluster = 1;
    uint32_t reservedSectors = 0;
    uint32_t fatCount = 0;
    uint32_t sectorsPerFat = 0;
    uint32_t rootEntryCount = 0;  // FAT12/16 fixed root directory; 0 on FAT32
    uint32_t rootDirSectors = 0;  // sectors of the FAT12/16 root directory
    uint64_t totalSectors = 0;    // the 16-bit field at 19, or the 32-bit one at 32 when that is 0
    int fatBits = 0;              // 12, 16 or 32
    uint32_t rootCluster = 0;     // FAT32 root directory cluster; 0 on FAT12/16 (the fixed root)
    uint64_t rootDirStart = 0;    // first sector of the FAT12/16 root directory
    uint64_t dataStart = 0;       // first sector of the data area (cluster 2)
    uint32_t clusterCount = 0;    // data clusters; valid cluster numbers are 2 .. clusterCount + 1

    bool IsFat32() const { return fatBits == 32; }
    uint32_t ClusterBytes() const { return bytesPerSector * sectorsPerCluster; }
    uint32_t MaxCluster() const { return clusterCount + 1; }
    bool IsDataCluster(uint32_t cluster) const { return cluster >= 2 && cluster <= MaxCluster(); }
    // First sector (relative) of a data cluster; the caller checks IsDataCluster.
    uint64_t ClusterSector(uint32_t cluster) const {
        return dataStart + static_cast<uint64_t>(cluster - 2) * sectorsPerCluster;
    }
    uint64_t FatBytes() const { return static_cast<uint64_t>(sectorsPerFat) * bytesPerSector; }
};

// Reads a boot sector's layout. Returns false when the fields cannot describe a
// FAT volume (zero or odd sizes, a data area beyond the volume); `out` is then
// unusable. FAT32 is told by a 16-bit FAT size of 0 or the "FAT32   " text at 82;
// FAT12 and FAT16 by the cluster count, the way the file system itself decides.
[[nodiscard]] bool ParseFatBootSector(ByteView boot, FatGeometry& out);

// The value of a FAT entry that marks the end of a chain, a bad cluster, or an
// entry that could not be read.
inline constexpr uint32_t kFatEndOfChain = 0xFFFFFFFFu;

// The first FAT of a volume, read through a window of at most `kWindowBytes`
// that moves when an entry outside it is asked for. Entries are returned as
// cluster numbers: 0 free, 2 .. MaxCluster the next cluster, kFatEndOfChain for
// end of chain, bad clusters, reserved values and anything unreadable.
class FatTable {
  public:
    static constexpr uint32_t kWindowBytes = 16u * 1024 * 1024;

    // `windowBytes` (a multiple of the sector size) bounds the memory the table
    // keeps; smaller windows move more often.
    explicit FatTable(uint32_t windowBytes = kWindowBytes) : windowBytes_(windowBytes) {}

    // Reads the first window. `reader` must outlive the table. Returns 0 or the
    // read's result code (the table then answers end of chain everywhere).
    [[nodiscard]] int Load(DiskReader& reader, uint64_t partitionStart, const FatGeometry& geometry);
    bool Loaded() const { return reader_ != nullptr; }

    uint32_t Entry(uint32_t cluster);
    bool IsFree(uint32_t cluster) { return Entry(cluster) == 0; }
    // The first free cluster after `cluster`, or 0 when there is none.
    uint32_t NextFreeAfter(uint32_t cluster);

  private:
    bool EnsureWindow(uint64_t offset, uint32_t width);

    uint32_t windowBytes_;
    DiskReader* reader_ = nullptr;
    FatGeometry geometry_;
    uint64_t fatStart_ = 0;  // absolute sector
    std::vector<uint8_t> window_;
    uint64_t windowOffset_ = 0;  // byte offset in the FAT of window_[0]
    uint32_t windowLength_ = 0;  // valid bytes in window_
    uint32_t windowWanted_ = 0;  // bytes asked for at windowOffset_
    bool windowTried_ = false;   // window_ was read at windowOffset_ (perhaps short)
};

}  // namespace sorvane
