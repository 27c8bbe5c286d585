#include "fs/ntfs_data_stream.h"

#include <algorithm>
#include <cstring>

#include "fs/ntfs_lznt1.h"
#include "platform/result_codes.h"

namespace sorvane {
namespace {

constexpr size_t kCopyPiece = 65536;
// Compression units are 16 clusters of at most 4 KiB where NTFS compresses;
// anything much larger is damage.
constexpr uint64_t kMaxCompressionUnitBytes = 1 << 22;

const NtfsExtent* ExtentAt(const NtfsDataLayout& layout, uint64_t vcn) {
    auto it = std::upper_bound(layout.extents.begin(), layout.extents.end(), vcn,
                               [](uint64_t v, const NtfsExtent& e) { return v < e.vcn; });
    if (it == layout.extents.begin()) return nullptr;
    --it;
    return vcn < it->vcn + it->length ? &*it : nullptr;
}

// A compressed stream, unit by unit: LZNT1-decoded where the unit's stored
// clusters are fewer than the unit.
int ReadCompressed(const NtfsDataLayout& layout, const NtfsStreamVolume& volume, const NtfsDataSink& sink) {
    const uint64_t clusterBytes = volume.clusterBytes;
    const uint64_t unitClusters = layout.compressionUnitClusters;
    const uint64_t unitBytes = unitClusters * clusterBytes;
    if (unitClusters == 0 || unitBytes == 0 || unitBytes > kMaxCompressionUnitBytes) return kErrReadFault;
    std::vector<uint8_t> stored(static_cast<size_t>(unitBytes));
    std::vector<uint8_t> unit(static_cast<size_t>(unitBytes));
    uint64_t done = 0;
    uint64_t storedTotal = 0;
    uint64_t zeroBytes = 0;
    bool damaged = false;
    for (uint64_t vcn = 0; done < layout.size; vcn += unitClusters) {
        // A unit's stored clusters come first; the rest of the unit is a hole.
        uint64_t allocated = 0;
        for (uint64_t c = vcn; c < vcn + unitClusters;) {
            const NtfsExtent* extent = ExtentAt(layout, c);
            if (extent == nullptr) {
                // No run maps this cluster: the map is damaged.
                if (c == vcn) return kErrReadFault;
                break;
            }
            uint64_t run = std::min(extent->vcn + extent->length, vcn + unitClusters) - c;
            if (!extent->sparse) {
                storedTotal += run * clusterBytes;
                if (storedTotal > volume.volumeBytes) return kErrReadFault;
                int rc = volume.read((extent->lcn + (c - extent->vcn)) * clusterBytes,
                                     stored.data() + allocated * clusterBytes,
                                     static_cast<size_t>(run * clusterBytes));
                if (rc != kSuccess) return rc;
                allocated += run;
            }
            c += run;
        }
        const uint8_t* bytes = unit.data();
        if (allocated == unitClusters) {
            bytes = stored.data();  // a unit that would not shrink is stored as it is
        } else if (allocated == 0) {
            zeroBytes += unitBytes;
            if (zeroBytes > volume.volumeBytes) return kErrReadFault;
            std::fill(unit.begin(), unit.end(), 0);
        } else if (!DecompressLznt1(ByteView(stored.data(), static_cast<size_t>(allocated * clusterBytes)),
                                    unit.data(), unit.size())) {
            damaged = true;
        }
        size_t piece = static_cast<size_t>(std::min(unitBytes, layout.size - done));
        if (done + piece > layout.initializedSize) {
            // Bytes past the initialized size were never written: they read as zeros.
            size_t valid =
                done < layout.initializedSize ? static_cast<size_t>(layout.initializedSize - done) : 0;
            if (bytes == stored.data()) {
                std::copy(stored.begin(), stored.end(), unit.begin());
                bytes = unit.data();
            }
            std::fill(unit.begin() + static_cast<std::ptrdiff_t>(valid),
                      unit.begin() + static_cast<std::ptrdiff_t>(piece), 0);
        }
        int rc = sink(bytes, piece);
        if (rc != 0) return rc;
        done += piece;
    }
    return damaged ? kErrReadFault : kSuccess;
}

}  // namespace

void SetResidentNtfsData(const NtfsAttribute& data, NtfsDataLayout& layout) {
    layout.resident = true;
    layout.residentBytes.assign(data.value.Data(), data.value.Data() + data.value.Size());
    layout.size = layout.initializedSize = layout.residentBytes.size();
}

bool AddNtfsDataPiece(const NtfsAttribute& data, uint64_t totalClusters, NtfsDataLayout& layout) {
    const bool first = data.firstVcn == 0;
    if (first) {
        layout.size = data.realSize;
        layout.initializedSize = std::min(data.initializedSize, data.realSize);
        layout.compressed = data.IsCompressed() && data.compressionUnitShift != 0;
        if (data.compressionUnitShift < 16) layout.compressionUnitClusters = 1u << data.compressionUnitShift;
    }
    std::vector<NtfsRun> runs;
    DecodeRuns(data.runList, runs);
    PlaceRuns(runs, data.firstVcn, totalClusters, layout.extents);
    return first;
}

int ReadNtfsData(const NtfsDataLayout& layout, const NtfsStreamVolume& volume, const NtfsDataSink& sink) {
    if (layout.resident) {
        size_t length = static_cast<size_t>(std::min<uint64_t>(layout.size, layout.residentBytes.size()));
        return length ? sink(layout.residentBytes.data(), length) : kSuccess;
    }
    if (layout.compressed) return ReadCompressed(layout, volume, sink);
    const uint64_t clusterBytes = volume.clusterBytes;
    const uint64_t bytesPerSector = volume.bytesPerSector;
    if (layout.size > 0 && (clusterBytes == 0 || bytesPerSector == 0)) return kErrReadFault;
    std::vector<uint8_t> buffer(kCopyPiece);
    uint64_t done = 0;
    uint64_t zeroBytes = 0;
    uint64_t dataBytes = 0;
    for (const NtfsExtent& extent : layout.extents) {
        if (done >= layout.size) break;
        uint64_t extentStart = extent.vcn * clusterBytes;
        uint64_t extentEnd = extentStart + extent.length * clusterBytes;
        if (extentEnd <= done) continue;
        // A stretch no run maps: the map is damaged, the bytes are not known.
        if (extentStart > done) return kErrReadFault;
        uint64_t end = std::min(extentEnd, layout.size);
        while (done < end) {
            size_t piece = static_cast<size_t>(std::min<uint64_t>(kCopyPiece, end - done));
            if (extent.sparse || done >= layout.initializedSize) {
                // Holes adding up to more than the whole volume are a damaged
                // record, not a file worth writing out as zeros.
                zeroBytes += piece;
                if (zeroBytes > volume.volumeBytes) return kErrReadFault;
                std::memset(buffer.data(), 0, piece);
            } else {
                // No file holds more clusters than the volume has: runs mapping
                // more are damage, and reading them again and again would not end.
                dataBytes += piece;
                if (dataBytes > volume.volumeBytes) return kErrReadFault;
                size_t toRead = static_cast<size_t>(std::min<uint64_t>(
                    (piece + bytesPerSector - 1) / bytesPerSector * bytesPerSector, kCopyPiece));
                int rc = volume.read(extent.lcn * clusterBytes + (done - extentStart), buffer.data(), toRead);
                if (rc != kSuccess) return rc;
                // Bytes past the initialized size were never written: they read as zeros.
                if (done + piece > layout.initializedSize) {
                    size_t valid = static_cast<size_t>(layout.initializedSize - done);
                    std::memset(buffer.data() + valid, 0, piece - valid);
                }
            }
            int rc = sink(buffer.data(), piece);
            if (rc != 0) return rc;
            done += piece;
        }
    }
    return done >= layout.size ? kSuccess : kErrReadFault;
}

}  // namespace sorvane
