#include "fs/exfat_volume.h"

#include <algorithm>
#include <unordered_set>

#include "device/byte_view.h"

namespace sorvane {
namespace {

// Both boot regions in the largest sectors exFAT allows.
constexpr size_t kBootRegionBytes = 24 * 4096;
// A folder is at most 256 MiB by the format's own limit.
constexpr uint64_t kMaxRootBytes = 256ull << 20;

}  // namespace

bool ExfatVolume::Open(ByteSource read) {
    read_ = std::move(read);
    fatWindowStart_ = UINT64_MAX;
    bitmap_.clear();
    label_.clear();
    std::vector<uint8_t> head(kBootRegionBytes);
    // A small volume may end before both regions in large sectors do.
    size_t length = head.size();
    while (length >= 512 && !read_(0, head.data(), length)) length /= 2;
    if (length < 512) return false;
    choice_ = ChooseExfatBootRegion(head.data(), length, geometry_);
    return choice_ != ExfatBootChoice::kNone;
}

uint32_t ExfatVolume::FatEntry(uint32_t cluster) {
    if (cluster >= uint64_t{geometry_.clusterCount} + 2) return 0;
    const uint64_t entriesPerWindow = kFatWindowBytes / 4;
    const uint64_t windowStart = cluster / entriesPerWindow * entriesPerWindow;
    if (windowStart != fatWindowStart_) {
        const uint64_t entries =
            std::min<uint64_t>(entriesPerWindow, uint64_t{geometry_.clusterCount} + 2 - windowStart);
        fatWindow_.assign(entries * 4, 0);
        if (!ReadBytes(geometry_.ActiveFatOffset() + windowStart * 4, fatWindow_.data(), fatWindow_.size())) {
            fatWindowStart_ = UINT64_MAX;
            return 0;
        }
        fatWindowStart_ = windowStart;
    }
    return ByteView(fatWindow_.data(), fatWindow_.size()).U32((cluster - windowStart) * 4);
}

std::vector<uint32_t> ExfatVolume::FollowChain(uint32_t first, uint64_t maxClusters) {
    std::vector<uint32_t> chain;
    const uint64_t limit = std::min<uint64_t>(maxClusters, geometry_.clusterCount);
    std::unordered_set<uint32_t> seen;
    uint32_t cluster = first;
    while (geometry_.IsHeapCluster(cluster) && chain.size() < limit && seen.insert(cluster).second) {
        chain.push_back(cluster);
        cluster = FatEntry(cluster);
    }
    return chain;
}

std::vector<uint32_t> ExfatVolume::ContiguousRun(uint32_t first, uint64_t count) const {
    std::vector<uint32_t> run;
    if (!geometry_.IsHeapCluster(first)) return run;
    const uint64_t available = uint64_t{geometry_.clusterCount} + 2 - first;
    count = std::min(count, available);
    run.reserve(static_cast<size_t>(count));
    for (uint64_t i = 0; i < count; ++i) run.push_back(static_cast<uint32_t>(first + i));
    return run;
}

std::vector<uint32_t> ExfatVolume::DataClusters(uint32_t first, uint64_t dataLength, bool noFatChain) {
    const uint64_t clusterBytes = geometry_.ClusterBytes();
    const uint64_t count = (dataLength + clusterBytes - 1) / clusterBytes;
    return noFatChain ? ContiguousRun(first, count) : FollowChain(first, count);
}

bool ExfatVolume::LoadBitmap(uint32_t firstCluster, uint64_t length) {
    bitmap_.clear();
    const uint64_t needed = (uint64_t{geometry_.clusterCount} + 7) / 8;
    if (length < needed) return false;
    std::vector<uint32_t> clusters = DataClusters(firstCluster, needed, false);
    if (uint64_t{clusters.size()} * geometry_.ClusterBytes() < needed) return false;
    std::vector<uint8_t> bitmap(static_cast<size_t>(needed));
    size_t at = 0;
    for (uint32_t c : clusters) {
        const size_t piece = std::min<size_t>(geometry_.ClusterBytes(), bitmap.size() - at);
        if (!ReadBytes(geometry_.ClusterOffset(c), bitmap.data() + at, piece)) return false;
        at += piece;
        if (at == bitmap.size()) break;
    }
    bitmap_ = std::move(bitmap);
    return true;
}

bool ExfatVolume::IsAllocated(uint32_t cluster) const {
    if (!geometry_.IsHeapCluster(cluster) || bitmap_.empty()) return false;
    const uint32_t index = cluster - 2;
    return (bitmap_[index / 8] >> (index % 8)) & 1;
}

bool ExfatVolume::ReadCluster(uint32_t cluster, std::vector<uint8_t>& buffer) {
    buffer.resize(geometry_.ClusterBytes());
    if (!geometry_.IsHeapCluster(cluster)) return false;
    return ReadBytes(geometry_.ClusterOffset(cluster), buffer.data(), buffer.size());
}

bool ExfatVolume::ReadDirectory(const std::vector<uint32_t>& clusters, ExfatDirectoryParser& parser,
                                uint64_t maxBytes) {
    bool allRead = true;
    uint64_t fed = 0;
    for (uint32_t c : clusters) {
        if (fed >= maxBytes) break;
        if (!ReadCluster(c, scratch_)) {
            allRead = false;
            // Zeros stand in for an unreadable cluster: they hold no entries, and
            // the positions of the entries after it stay right.
            std::fill(scratch_.begin(), scratch_.end(), 0);
        }
        parser.Feed(scratch_.data(), scratch_.size());
        fed += scratch_.size();
    }
    parser.Finish();
    return allRead;
}

bool ExfatVolume::ReadRoot() {
    ExfatDirectoryParser parser([](const ExfatEntrySet&, uint64_t) {});
    std::vector<uint32_t> root = FollowChain(geometry_.rootCluster, kMaxRootBytes / geometry_.ClusterBytes());
    // The label and the bitmap entries come first; the first cluster holds them.
    if (root.size() > 1) root.resize(1);
    // A root cut short by a failed read still names what it could: the label
    // and bitmap come first.
    static_cast<void>(ReadDirectory(root, parser, kMaxRootBytes));
    const ExfatDirectoryExtras& extras = parser.Extras();
    label_ = extras.label;
    if (!extras.haveBitmap) return false;
    return LoadBitmap(extras.bitmapCluster, extras.bitmapLength);
}

}  // namespace sorvane
