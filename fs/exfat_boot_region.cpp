#include "fs/exfat_boot_region.h"

#include "device/boot_sector.h"
#include "device/byte_view.h"

namespace sorvane {

uint32_t ExfatGeometry::ClusterAtOffset(uint64_t offset) const {
    const uint64_t heapStart = uint64_t{heapOffset} * bytesPerSector;
    if (offset < heapStart || ClusterBytes() == 0) return 0;
    const uint64_t index = (offset - heapStart) / ClusterBytes();
    return index < clusterCount ? static_cast<uint32_t>(index + 2) : 0;
}

uint64_t ExfatGeometry::ActiveFatOffset() const {
    // Bit 0 of the volume flags picks the second FAT where there are two.
    const uint64_t which = (fatCount == 2 && (volumeFlags & 1)) ? 1 : 0;
    return (uint64_t{fatOffset} + which * fatLength) * bytesPerSector;
}

bool ParseExfatBootSector(const uint8_t* sector, size_t length, ExfatGeometry& out) {
    if (!IsExfatBootSector(sector, length)) return false;
    ByteView s(sector, length);
    ExfatGeometry g;
    g.bytesPerSector = 1u << s.U8(108);
    g.sectorsPerCluster = 1u << s.U8(109);
    g.volumeSectors = s.U64(72);
    g.fatOffset = s.U32(80);
    g.fatLength = s.U32(84);
    g.heapOffset = s.U32(88);
    g.clusterCount = s.U32(92);
    g.rootCluster = s.U32(96);
    g.serialNumber = s.U32(100);
    g.volumeFlags = s.U16(106);
    g.fatCount = s.U8(110);
    out = g;
    return true;
}

uint32_t ExfatBootChecksum(const uint8_t* region, uint32_t bytesPerSector) {
    uint32_t sum = 0;
    const size_t bytes = size_t{bytesPerSector} * 11;
    for (size_t i = 0; i < bytes; ++i) {
        if (i == 106 || i == 107 || i == 112) continue;
        sum = ((sum & 1) ? 0x80000000u : 0) + (sum >> 1) + region[i];
    }
    return sum;
}

bool ExfatBootChecksumHolds(const uint8_t* region, size_t length, uint32_t bytesPerSector) {
    if (!region || bytesPerSector < 512 || length < size_t{bytesPerSector} * 12) return false;
    const uint32_t sum = ExfatBootChecksum(region, bytesPerSector);
    ByteView check(region + size_t{bytesPerSector} * 11, bytesPerSector);
    for (size_t off = 0; off < bytesPerSector; off += 4)
        if (check.U32(off) != sum) return false;
    return true;
}

ExfatBootChoice ChooseExfatBootRegion(const uint8_t* head, size_t length, ExfatGeometry& out) {
    if (!head) return ExfatBootChoice::kNone;
    ExfatGeometry main;
    const bool mainPasses = ParseExfatBootSector(head, length, main);
    if (mainPasses) {
        const size_t regionBytes = size_t{main.bytesPerSector} * 12;
        if (length < regionBytes || ExfatBootChecksumHolds(head, length, main.bytesPerSector)) {
            out = main;
            return ExfatBootChoice::kMain;
        }
    }
    // The backup region starts at sector 12, in the volume's own sectors; a
    // damaged main sector no longer says how large they are, so each size is tried.
    for (uint32_t size = 512; size <= 4096; size *= 2) {
        const size_t at = size_t{size} * 12;
        if (length < at + size_t{size} * 12) break;
        ExfatGeometry backup;
        if (ParseExfatBootSector(head + at, length - at, backup) && backup.bytesPerSector == size &&
            ExfatBootChecksumHolds(head + at, length - at, size)) {
            out = backup;
            return ExfatBootChoice::kBackup;
        }
    }
    if (mainPasses) {
        out = main;
        return ExfatBootChoice::kMain;
    }
    return ExfatBootChoice::kNone;
}

}  // namespace sorvane
