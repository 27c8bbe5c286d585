#include "engines/exfat_file_data.h"

#include <algorithm>

#include "carving/carved_file_measure.h"
#include "platform/result_codes.h"
#include "results/file_categories.h"

namespace sorvane {
namespace {

constexpr uint32_t kEndOfChain = 0xFFFFFFFFu;
constexpr size_t kZeroPiece = 65536;

}  // namespace

ItemTimes ExfatRecordTimes(const FoundItemRecord& record) {
    return (record.engineSpecific & kExfatWallClockTimes) != 0 ? WallClockTimes(record) : UtcTimes(record);
}

void FillExfatRecord(const ExfatEntrySet& set, FoundItemRecord& record) {
    record.isFolder = set.IsDirectory() ? 1 : 0;
    record.key = set.firstCluster;
    record.created = set.created;
    record.accessed = set.accessed;
    record.written = set.written;
    record.size = set.IsDirectory() ? 0 : set.dataLength;
    record.SetName(set.name);
    uint32_t bits = set.wallClockTimes ? kExfatWallClockTimes : 0;
    if (!set.IsDirectory()) {
        if (set.noFatChain) bits |= kExfatNoFatChain;
        if (!set.inUse) bits |= kExfatDeletedSet;
    }
    record.engineSpecific = bits;
}

std::vector<uint32_t> ExfatClustersOfFoundFile(ExfatVolume& volume, uint32_t firstCluster,
                                               uint64_t dataLength, bool noFatChain) {
    const uint64_t clusterBytes = volume.Geometry().ClusterBytes();
    const uint64_t count = (dataLength + clusterBytes - 1) / clusterBytes;
    if (count == 0) return {};
    if (noFatChain) return volume.ContiguousRun(firstCluster, count);
    std::vector<uint32_t> chain = volume.FollowChain(firstCluster, count);
    bool whole = chain.size() == count && volume.FatEntry(chain.back()) == kEndOfChain;
    for (size_t i = 0; whole && i < chain.size(); ++i) whole = !volume.IsAllocated(chain[i]);
    // A chain that is simply the contiguous run says nothing new; one that
    // jumps is only believed when it is whole and free.
    if (whole) return chain;
    return volume.ContiguousRun(firstCluster, count);
}

ContentVerdict CheckExfatRunStructure(DiskReader* reader, uint32_t sectorSize, uint64_t heapStartSector,
                                      uint64_t clusterBytes, const ExfatEntrySet& set,
                                      const std::vector<uint32_t>& clusters) {
    // Larger files are not read through while scanning: that would cost as
    // much as recovering them.
    static constexpr uint64_t kLargestCheckedRun = uint64_t{256} << 20;
    if (clusters.empty() || set.validDataLength < set.dataLength || set.dataLength > kLargestCheckedRun ||
        sectorSize == 0 || clusterBytes % sectorSize != 0 || clusters.front() < 2)
        return ContentVerdict::kNotChecked;
    for (size_t i = 1; i < clusters.size(); ++i)
        if (clusters[i] != clusters[i - 1] + 1) return ContentVerdict::kNotChecked;
    const uint64_t start = heapStartSector + uint64_t{clusters.front() - 2} * (clusterBytes / sectorSize);
    return CheckRunStructure(reader, sectorSize, start, set.dataLength, LowerExtension(set.name));
}

bool ExfatDataFitsHeap(const ExfatGeometry& geometry, uint32_t firstCluster, uint64_t dataLength) {
    if (!geometry.IsHeapCluster(firstCluster)) return false;
    const uint64_t available = (uint64_t{geometry.clusterCount} + 2 - firstCluster) * geometry.ClusterBytes();
    return dataLength <= available;
}

bool ExfatClustersReused(const ExfatVolume& volume, const std::vector<uint32_t>& clusters,
                         uint64_t dataLength) {
    const uint64_t clusterBytes = volume.Geometry().ClusterBytes();
    if (uint64_t{clusters.size()} * clusterBytes < dataLength) return true;
    return std::any_of(clusters.begin(), clusters.end(), [&](uint32_t c) { return volume.IsAllocated(c); });
}

int CopyExfatFileData(ExfatVolume& volume, const std::vector<uint32_t>& clusters, uint64_t dataLength,
                      uint64_t validDataLength, const FileCopyTarget& target) {
    if (dataLength == 0) return kSuccess;
    validDataLength = std::min(validDataLength, dataLength);
    const uint64_t clusterBytes = volume.Geometry().ClusterBytes();
    // Every byte of the file, past the valid length too, has a cluster; a
    // length its clusters cannot hold is damage, and copying it would fill
    // the destination with zeros a hostile entry asked for.
    if (uint64_t{clusters.size()} * clusterBytes < dataLength) return kErrFileCorrupt;
    std::vector<uint8_t> buffer;
    uint64_t written = 0;
    int lastPercent = -1;
    auto report = [&]() {
        const int percent = static_cast<int>(written * 100 / dataLength);
        if (percent == lastPercent) return 0;
        lastPercent = percent;
        return target.progress(percent);
    };
    for (size_t i = 0; written < validDataLength; ++i) {
        if (i >= clusters.size()) return kErrFileCorrupt;
        if (!volume.ReadCluster(clusters[i], buffer)) return kErrReadFault;
        const uint64_t piece = std::min<uint64_t>(clusterBytes, validDataLength - written);
        int rc = target.write(buffer.data(), static_cast<size_t>(piece));
        if (rc != kSuccess) return rc;
        written += piece;
        if (int answer = report(); answer != 0) return answer;
    }
    // Past the valid data length the file reads as zeros, whatever the
    // clusters hold; extending the copy gives those zeros without writing
    // them (a multi-gigabyte file preallocated and barely written stays
    // cheap), and writing is the fallback where a destination cannot extend.
    if (written < dataLength) {
        if (target.extend && target.extend(dataLength)) {
            written = dataLength;
            return report();
        }
        std::vector<uint8_t> zeros(kZeroPiece, 0);
        while (written < dataLength) {
            const uint64_t piece = std::min<uint64_t>(zeros.size(), dataLength - written);
            int rc = target.write(zeros.data(), static_cast<size_t>(piece));
            if (rc != kSuccess) return rc;
            written += piece;
            if (int answer = report(); answer != 0) return answer;
        }
    }
    return kSuccess;
}

int CopyExfatRecord(ExfatVolume& volume, const FoundItemRecord& record, uint64_t volumeBase,
                    uint32_t sourceSectorSize, const FileCopyTarget& target) {
    const uint64_t size = record.size;
    if (size == 0) return kSuccess;
    uint64_t validLength = size;
    const uint64_t at = uint64_t{record.location} * sourceSectorSize +
                        ((record.engineSpecific >> kExfatEntryIndexShift) & 0xFF) * kExfatEntryBytes;
    if (at >= volumeBase) {
        uint8_t setBytes[kExfatMaxSetBytes] = {};
        size_t have = sizeof setBytes;
        // Near the end of the volume fewer bytes are there to read.
        while (have >= kExfatEntryBytes && !volume.ReadBytes(at - volumeBase, setBytes, have)) have /= 2;
        ExfatEntrySet set;
        if (have >= kExfatEntryBytes && ParseExfatEntrySet(setBytes, have, set) == ExfatSetResult::kSet &&
            set.firstCluster == record.key && set.dataLength == size)
            validLength = set.validDataLength;
    }
    const bool noFatChain = (record.engineSpecific & kExfatNoFatChain) != 0;
    std::vector<uint32_t> clusters = ExfatClustersOfFoundFile(volume, record.key, size, noFatChain);
    return CopyExfatFileData(volume, clusters, size, validLength, target);
}

}  // namespace sorvane
