// The exFAT boot region: the layout of a volume from its boot sector, the
// boot checksum that guards the region's first eleven sectors, and the choice
// between the main region and its backup copy.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sorvane {

// The layout of an exFAT volume. Sector numbers are in the volume's own
// sectors, counted from its first sector.
struct ExfatGeometry {
    uint32_t bytesPerSector = 512;
    uint32_t sectorsPerCluster = 1;
    uint64_t volumeSectors = 0;
    uint32_t fatOffset = 0;   // first sector of the first FAT
    uint32_t fatLength = 0;   // sectors per FAT
    uint32_t heapOffset = 0;  // first sector of cluster 2
    uint32_t clusterCount = 0;
    uint32_t rootCluster = 0;
    uint32_t serialNumber = 0;
    uint8_t fatCount = 1;
    uint16_t volumeFlags = 0;

    uint32_t ClusterBytes() const { return bytesPerSector * sectorsPerCluster; }
    // True for the clusters of the heap: 2 to clusterCount + 1.
    bool IsHeapCluster(uint64_t cluster) const { return cluster >= 2 && cluster - 2 < clusterCount; }
    // Byte offset of a heap cluster from the volume start.
    uint64_t ClusterOffset(uint32_t cluster) const {
        return (uint64_t{heapOffset} + uint64_t{cluster - 2} * sectorsPerCluster) * bytesPerSector;
    }
    // The heap cluster holding byte `offset` of the volume; 0 before the heap or past it.
    uint32_t ClusterAtOffset(uint64_t offset) const;
    // Byte offset of the first FAT from the volume start (the second FAT, when
    // the volume flags say it is the active one).
    uint64_t ActiveFatOffset() const;
};

// Fills `out` from a boot sector that passes IsExfatBootSector; false otherwise.
[[nodiscard]] bool ParseExfatBootSector(const uint8_t* sector, size_t length, ExfatGeometry& out);

// The boot checksum over the first eleven sectors of a region of
// `bytesPerSector`-byte sectors, leaving out the volume flags and the percent
// in use, which change without the checksum being written again.
uint32_t ExfatBootChecksum(const uint8_t* region, uint32_t bytesPerSector);

// True when the twelfth sector of the region repeats its boot checksum. The
// region must hold twelve sectors.
bool ExfatBootChecksumHolds(const uint8_t* region, size_t length, uint32_t bytesPerSector);

enum class ExfatBootChoice { kMain, kBackup, kNone };

// Chooses the region to read the layout from, given the first `length` bytes
// of a volume (24 sectors cover both regions): the main region when its boot
// sector passes and its checksum holds (or the buffer is too short to check
// it), else the backup region under the same tests, else the main boot sector
// alone when it passes, else none.
ExfatBootChoice ChooseExfatBootRegion(const uint8_t* head, size_t length, ExfatGeometry& out);

}  // namespace sorvane
