#include "engines/exfat_file_data.h"

#include <algorithm>
#include <string>

#include "carving/carved_file_measure.h"
#include "carving/fragment_check.h"
#include "platform/result_codes.h"
#include "results/file_categories.h"

namespace sorvane {
namespace {

constexpr uint32_t kEndOfChain = 0xFFFFFFFFu;
constexpr size_t kZeroPiece = 65536;
// Larger files are not read through while scanning: that would cost as much
// as recovering them.
constexpr uint64_t kLargestCheckedData = uint64_t{256} << 20;

// A file's bytes read through a given list of clusters, one cluster held at a time.
class ClusterChainSource final : public FileByteSource {
  public:
    ClusterChainSource(ExfatVolume& volume, const std::vector<uint32_t>& clusters, uint64_t length)
        : volume_(volume), clusters_(clusters), length_(length) {}

    ByteView View(uint64_t offset, size_t length) override {
        const uint64_t cb = volume_.Geometry().ClusterBytes();
        if (offset >= length_ || length == 0 || cb == 0) return {};
        const uint64_t index = offset / cb;
        if (index >= clusters_.size()) return {};
        if (index != heldIndex_) {
            heldIndex_ = UINT64_MAX;
            if (!volume_.ReadCluster(clusters_[index], held_)) return {};
            heldIndex_ = index;
        }
        const uint64_t within = offset % cb;
        const uint64_t n = std::min<uint64_t>({length, cb - within, length_ - offset});
        return ByteView(held_.data() + within, static_cast<size_t>(n));
    }
    uint64_t Length() const override { return length_; }

  private:
    ExfatVolume& volume_;
    const std::vector<uint32_t>& clusters_;
    uint64_t length_;
    std::vector<uint8_t> held_;
    uint64_t heldIndex_ = UINT64_MAX;
};

// How many runs of consecutive clusters `clusters` makes.
uint32_t RunCount(const std::vector<uint32_t>& clusters) {
    uint32_t runs = clusters.empty() ? 0 : 1;
    for (size_t i = 1; i < clusters.size(); ++i)
        if (clusters[i] != clusters[i - 1] + 1) ++runs;
    return runs;
}

// Where data read through `clusters` checked out to its end: the runs it was
// put back together from (0 for one run, or more runs than a record holds).
uint32_t PiecesOf(const std::vector<uint32_t>& clusters) {
    const uint32_t runs = RunCount(clusters);
    return runs >= 2 && runs <= kMaxRebuiltPieces ? runs : 0;
}

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
    // A chain that is simply the contiguous run says nothing new; one that
    // jumps is only believed when it is whole and free.
    std::vector<uint32_t> chain = ExfatWholeChain(volume, firstCluster, dataLength);
    if (!chain.empty()) return chain;
    return volume.ContiguousRun(firstCluster, count);
}

std::vector<uint32_t> ExfatWholeChain(ExfatVolume& volume, uint32_t firstCluster, uint64_t dataLength) {
    const uint64_t clusterBytes = volume.Geometry().ClusterBytes();
    if (clusterBytes == 0) return {};
    const uint64_t count = (dataLength + clusterBytes - 1) / clusterBytes;
    if (count == 0) return {};
    std::vector<uint32_t> chain = volume.FollowChain(firstCluster, count);
    bool whole = chain.size() == count && volume.FatEntry(chain.back()) == kEndOfChain;
    for (size_t i = 0; whole && i < chain.size(); ++i) whole = !volume.IsAllocated(chain[i]);
    if (!whole) chain.clear();
    return chain;
}

uint32_t ExfatNextFreeCluster(const ExfatVolume& volume, uint32_t cluster) {
    const ExfatGeometry& g = volume.Geometry();
    const uint64_t end = uint64_t{g.clusterCount} + 2;  // one past the last heap cluster
    uint64_t next = std::max<uint64_t>(uint64_t{cluster} + 1, 2);
    if (!volume.HasBitmap()) return next < end ? static_cast<uint32_t>(next) : 0;
    const std::vector<uint8_t>& bitmap = volume.Bitmap();
    while (next < end) {
        const uint64_t index = next - 2;
        // Whole bytes of clusters in use are stepped over at once: the
        // candidates of a search may lie past most of a full card.
        if (index % 8 == 0 && index / 8 < bitmap.size() && bitmap[index / 8] == 0xFF) {
            next += 8;
            continue;
        }
        if (!volume.IsAllocated(static_cast<uint32_t>(next))) return static_cast<uint32_t>(next);
        ++next;
    }
    return 0;
}

PiecedFile ExfatFreeClusterOrder(ExfatVolume& volume, uint32_t firstCluster, uint64_t dataLength,
                                 std::string_view extension, const FragmentSearchLimits& limits) {
    const ExfatGeometry& g = volume.Geometry();
    ClusterSpace space;
    space.clusterBytes = static_cast<uint32_t>(g.ClusterBytes());
    space.nextCandidate = [&volume](uint32_t cluster) { return ExfatNextFreeCluster(volume, cluster); };
    space.readCluster = [&volume, &g](uint32_t cluster, uint8_t* out) {
        return g.IsHeapCluster(cluster) && volume.ReadBytes(g.ClusterOffset(cluster), out, g.ClusterBytes());
    };
    return FindFileOrder(space, firstCluster, dataLength, extension, limits);
}

ExfatFileData JudgeExfatFileData(ExfatVolume& volume, DiskReader* reader, uint32_t sectorSize,
                                 uint64_t heapStartSector, const ExfatEntrySet& set,
                                 FragmentSearchBudget& budget) {
    ExfatFileData out;
    const ExfatGeometry& g = volume.Geometry();
    if (set.dataLength == 0) return out;
    if (!ExfatDataFitsHeap(g, set.firstCluster, set.dataLength)) {
        out.damaged = true;
        return out;
    }
    const std::string extension = LowerExtension(set.name);
    // Past the valid data length a file reads as zeros, whatever its
    // clusters hold: its structure cannot be checked through them.
    const bool checkable = !set.noFatChain && HasFragmentCheck(extension) &&
                           set.validDataLength >= set.dataLength && set.dataLength <= kLargestCheckedData;
    if (checkable) {
        std::vector<uint32_t> chain = ExfatWholeChain(volume, set.firstCluster, set.dataLength);
        if (!chain.empty()) {
            // The chain the FAT still holds is the file's, as long as its
            // clusters were not written since: its structure tells.
            ClusterChainSource source(volume, chain, set.dataLength);
            const FragmentVerdict v = CheckFragmentsByExtension(extension, source);
            if (v.check != FragmentCheck::kCannotTell) {
                out.verdict = v.Valid() ? ContentVerdict::kWhole : ContentVerdict::kDamaged;
                out.damaged = !v.Valid();
                out.pieces = v.Valid() ? PiecesOf(chain) : 0;
                out.clusters = std::move(chain);
                return out;
            }
        } else if (!volume.IsAllocated(set.firstCluster)) {
            const PiecedFile file = budget.Run([&](const FragmentSearchLimits& limits) {
                return ExfatFreeClusterOrder(volume, set.firstCluster, set.dataLength, extension, limits);
            });
            const uint32_t runs = RunCount(file.clusters);
            if (file.check == FragmentCheck::kValidToEnd && runs <= kMaxRebuiltPieces) {
                out.verdict = ContentVerdict::kWhole;
                out.pieces = PiecesOf(file.clusters);
                out.clusters = file.clusters;
                return out;
            }
            if (file.check == FragmentCheck::kInvalidAt) {
                // The free clusters read as one run go wrong, and no two
                // pieces of them were found to hold the file within the
                // search's share: the copy would not be the file.
                out.verdict = ContentVerdict::kDamaged;
                out.damaged = true;
                out.clusters = ExfatClustersOfFoundFile(volume, set.firstCluster, set.dataLength, false);
                return out;
            }
        }
    }
    out.clusters = ExfatClustersOfFoundFile(volume, set.firstCluster, set.dataLength, set.noFatChain);
    if (ExfatClustersReused(volume, out.clusters, set.dataLength)) {
        out.damaged = true;
        return out;
    }
    // Free clusters may still have been written since: when the data is one
    // run, the file's own structure tells whether it still holds it.
    out.verdict =
        CheckExfatRunStructure(reader, sectorSize, heapStartSector, g.ClusterBytes(), set, out.clusters);
    out.damaged = out.verdict == ContentVerdict::kDamaged;
    return out;
}

std::vector<uint32_t> ExfatClustersOfRecord(ExfatVolume& volume, const FoundItemRecord& record) {
    const uint64_t size = record.size;
    const uint32_t first = record.key;
    const bool noFatChain = (record.engineSpecific & kExfatNoFatChain) != 0;
    if (!noFatChain && RebuiltPieces(record) >= 2) {
        std::vector<uint32_t> chain = ExfatWholeChain(volume, first, size);
        if (!chain.empty()) return chain;
        // Put back together at the scan: the same search over the same bytes
        // gives the same order; a copy waits for it to end.
        return ExfatFreeClusterOrder(volume, first, size, LowerExtension(record.Name()), {}).clusters;
    }
    return ExfatClustersOfFoundFile(volume, first, size, noFatChain);
}

ContentVerdict CheckExfatRunStructure(DiskReader* reader, uint32_t sectorSize, uint64_t heapStartSector,
                                      uint64_t clusterBytes, const ExfatEntrySet& set,
                                      const std::vector<uint32_t>& clusters) {
    if (clusters.empty() || set.validDataLength < set.dataLength || set.dataLength > kLargestCheckedData ||
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
    return CopyExfatFileData(volume, ExfatClustersOfRecord(volume, record), size, validLength, target);
}

}  // namespace sorvane
