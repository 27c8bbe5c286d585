#include "fs/fat_volume.h"

#include <algorithm>

#include "platform/result_codes.h"

namespace sorvane {

bool ParseFatBootSector(ByteView boot, FatGeometry& out) {
    out = FatGeometry{};
    if (!boot.Has(0, 512)) return false;
    const uint32_t bps = boot.U16(11);
    const uint32_t spc = boot.U8(13);
    if (bps != 512 && bps != 1024 && bps != 2048 && bps != 4096) return false;
    if (spc == 0 || (spc & (spc - 1)) != 0) return false;
    out.bytesPerSector = bps;
    out.sectorsPerCluster = spc;
    out.reservedSectors = boot.U16(14);
    out.fatCount = boot.U8(16);
    out.rootEntryCount = boot.U16(17);
    const uint32_t total16 = boot.U16(19);
    out.totalSectors = total16 != 0 ? total16 : boot.U32(32);
    const uint32_t fat16Size = boot.U16(22);
    const bool fat32 = fat16Size == 0 || boot.Equals(82, "FAT32   ");
    out.sectorsPerFat = fat16Size != 0 ? fat16Size : boot.U32(36);
    if (out.reservedSectors == 0 || out.fatCount == 0 || out.sectorsPerFat == 0) return false;

    // The fixed root holds exactly the entries the boot sector gives it; taking
    // any other length would shift every cluster of the volume.
    out.rootDirSectors = fat32 ? 0 : (out.rootEntryCount * 32 + bps - 1) / bps;
    out.rootDirStart = out.reservedSectors + static_cast<uint64_t>(out.fatCount) * out.sectorsPerFat;
    out.dataStart = out.rootDirStart + out.rootDirSectors;
    if (out.totalSectors <= out.dataStart) return false;
    uint64_t clusters = (out.totalSectors - out.dataStart) / spc;
    if (fat32) {
        out.fatBits = 32;
        out.rootCluster = boot.U32(44) & 0x0FFFFFFF;
    } else {
        out.fatBits = clusters < 4085 ? 12 : 16;
        if (out.rootDirSectors == 0) return false;
    }
    // A FAT shorter than the data area can describe limits the clusters in use.
    uint64_t fatEntries = out.FatBytes() * 8 / static_cast<uint64_t>(out.fatBits);
    if (fatEntries < 3) return false;
    clusters = std::min<uint64_t>(clusters, fatEntries - 2);
    clusters = std::min<uint64_t>(clusters, 0x0FFFFFF5);
    if (clusters == 0) return false;
    out.clusterCount = static_cast<uint32_t>(clusters);
    if (fat32 && !out.IsDataCluster(out.rootCluster)) out.rootCluster = 2;
    return true;
}

int FatTable::Load(DiskReader& reader, uint64_t partitionStart, const FatGeometry& geometry) {
    reader_ = &reader;
    geometry_ = geometry;
    fatStart_ = partitionStart + geometry.reservedSectors;
    // At least two sectors, so a 12-bit entry that straddles a sector fits.
    uint64_t window = std::max<uint64_t>(windowBytes_ / geometry.bytesPerSector, 2) * geometry.bytesPerSector;
    uint64_t want = std::min<uint64_t>(geometry.FatBytes(), window);
    window_.assign(static_cast<size_t>(want), 0);
    windowOffset_ = 0;
    windowLength_ = 0;
    windowTried_ = false;
    return EnsureWindow(0, 1) ? kSuccess : kErrReadFault;
}

bool FatTable::EnsureWindow(uint64_t offset, uint32_t width) {
    if (offset >= windowOffset_ && offset + width <= windowOffset_ + windowLength_) return true;
    if (!reader_ || window_.empty()) return false;
    const uint32_t bps = geometry_.bytesPerSector;
    const uint64_t fatBytes = geometry_.FatBytes();
    if (offset + width > fatBytes) return false;
    uint64_t start = offset / bps * bps;
    // A window that was tried and came back short is not read again for
    // entries it should have held: a damaged source must not be re-read per entry.
    if (windowTried_ && windowLength_ < windowWanted_ && start >= windowOffset_ &&
        start < windowOffset_ + windowWanted_)
        return false;
    uint64_t length = std::min<uint64_t>(window_.size(), fatBytes - start);
    uint32_t sectors = static_cast<uint32_t>((length + bps - 1) / bps);
    uint32_t got = 0;
    // A window that would pass the end of the source is cut to what is there.
    uint64_t first = fatStart_ + start / bps;
    uint64_t avail = reader_->totalSectors > first ? reader_->totalSectors - first : 0;
    sectors = static_cast<uint32_t>(std::min<uint64_t>(sectors, avail));
    windowTried_ = true;
    windowWanted_ = static_cast<uint32_t>(length);
    windowOffset_ = start;
    windowLength_ = 0;
    if (sectors == 0) return false;
    // The window holds what could be read; the caller asks whether it covers enough.
    static_cast<void>(ReadSectors(sectors, *reader_, window_.data(), first, bps, &got));
    windowLength_ = got * bps;
    return offset + width <= windowOffset_ + windowLength_;
}

uint32_t FatTable::Entry(uint32_t cluster) {
    if (!geometry_.IsDataCluster(cluster)) return kFatEndOfChain;
    uint32_t value;
    switch (geometry_.fatBits) {
        case 12: {
            uint64_t offset = cluster + cluster / 2;
            if (!EnsureWindow(offset, 2)) return kFatEndOfChain;
            ByteView w(window_.data(), windowLength_);
            uint32_t pair = w.U16(static_cast<size_t>(offset - windowOffset_));
            value = (cluster & 1) ? pair >> 4 : pair & 0x0FFF;
            if (value >= 0x0FF7) return kFatEndOfChain;
            break;
        }
        case 16: {
            uint64_t offset = uint64_t{cluster} * 2;
            if (!EnsureWindow(offset, 2)) return kFatEndOfChain;
            ByteView w(window_.data(), windowLength_);
            value = w.U16(static_cast<size_t>(offset - windowOffset_));
            if (value >= 0xFFF7) return kFatEndOfChain;
            break;
        }
        default: {
            uint64_t offset = uint64_t{cluster} * 4;
            if (!EnsureWindow(offset, 4)) return kFatEndOfChain;
            ByteView w(window_.data(), windowLength_);
            value = w.U32(static_cast<size_t>(offset - windowOffset_)) & 0x0FFFFFFF;
            if (value >= 0x0FFFFFF7) return kFatEndOfChain;
            break;
        }
    }
    if (value == 0) return 0;
    return geometry_.IsDataCluster(value) ? value : kFatEndOfChain;
}

uint32_t FatTable::NextFreeAfter(uint32_t cluster) {
    for (uint64_t c = uint64_t{cluster} + 1; c <= geometry_.MaxCluster(); ++c) {
        if (Entry(static_cast<uint32_t>(c)) == 0) return static_cast<uint32_t>(c);
    }
    return 0;
}

}  // namespace sorvane
