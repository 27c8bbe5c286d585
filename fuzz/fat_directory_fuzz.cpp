// The FAT directory walk on any bytes: entry plausibility, short and long
// names (also split across two buffers), times, and the boot-sector layout.
#include <cstddef>
#include <cstdint>

#include "device/byte_view.h"
#include "fs/fat_directory.h"
#include "fs/fat_volume.h"

using namespace sorvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    ByteView all(data, size);
    FatGeometry geometry;
    if (ParseFatBootSector(all, geometry)) {
        // The layout must describe clusters inside the volume it claims.
        if (geometry.IsDataCluster(geometry.MaxCluster()) &&
            geometry.ClusterSector(geometry.MaxCluster()) >= geometry.totalSectors)
            __builtin_trap();
    }
    LongNameCollector names;
    size_t visited = 0;
    auto visit = [&](const FatEntryInfo& entry) {
        visited += entry.name.size();
        if (entry.offset + kFatEntrySize > size) __builtin_trap();
    };
    WalkDirectoryBuffer(all, names, visit);
    // The same bytes as two clusters of one directory: names carried across.
    names.Reset();
    size_t half = size / 2 / kFatEntrySize * kFatEntrySize;
    if (WalkDirectoryBuffer(all.Sub(0, half), names, visit) == WalkEnd::kBufferDone)
        WalkDirectoryBuffer(all.Sub(half, size - half), names, visit);
    for (size_t off = 0; off + kFatEntrySize <= size; off += kFatEntrySize) {
        ByteView entry = all.Sub(off, kFatEntrySize);
        IsPlausibleEntry(entry, all.Sub(off + kFatEntrySize, kFatEntrySize));
        visited += ShortEntryName(entry).size();
        EntryTimes(entry);
    }
    return visited == static_cast<size_t>(-1);
}
