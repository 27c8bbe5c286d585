#include "carving/fragment_search.h"

#include <algorithm>
#include <unordered_map>

namespace sorvane {

namespace {

// A file's bytes read through a list of clusters, each read once and kept
// while the cache has room, so the many tries of a search re-read memory.
class ClusterListSource final : public FileByteSource {
  public:
    ClusterListSource(const ClusterSpace& space, uint64_t size, uint64_t cacheBytes)
        : space_(space), size_(size), maxCached_(cacheBytes / std::max<uint32_t>(space.clusterBytes, 1)) {}

    void Use(const std::vector<uint32_t>* clusters) { clusters_ = clusters; }
    uint64_t BytesRead() const { return bytesRead_; }

    ByteView View(uint64_t offset, size_t length) override {
        if (offset >= size_ || length == 0) return {};
        const uint64_t cb = space_.clusterBytes;
        const uint64_t index = offset / cb;
        if (index >= clusters_->size()) return {};
        const uint8_t* data = Cluster((*clusters_)[index]);
        if (!data) return {};
        const uint64_t within = offset % cb;
        const uint64_t n = std::min<uint64_t>({length, cb - within, size_ - offset});
        bytesRead_ += n;
        return ByteView(data + within, static_cast<size_t>(n));
    }
    uint64_t Length() const override { return size_; }

  private:
    const uint8_t* Cluster(uint32_t cluster) {
        if (const auto it = cache_.find(cluster); it != cache_.end()) return it->second.data();
        std::vector<uint8_t> bytes(space_.clusterBytes);
        if (!space_.readCluster(cluster, bytes.data())) return nullptr;
        if (cache_.size() >= maxCached_) {
            scratch_ = std::move(bytes);
            return scratch_.data();
        }
        return cache_.emplace(cluster, std::move(bytes)).first->second.data();
    }

    const ClusterSpace& space_;
    uint64_t size_;
    size_t maxCached_;
    const std::vector<uint32_t>* clusters_ = nullptr;
    std::unordered_map<uint32_t, std::vector<uint8_t>> cache_;
    std::vector<uint8_t> scratch_;
    uint64_t bytesRead_ = 0;
};

// The candidates from the first cluster on, extended only as far as a try needs.
class Candidates {
  public:
    Candidates(const ClusterSpace& space, uint32_t first) : space_(space) { list_.push_back(first); }
    // True when at least `count` candidates exist.
    bool Reach(uint64_t count) {
        while (list_.size() < count && !ended_) {
            const uint32_t next = space_.nextCandidate(list_.back());
            if (next == 0 || next <= list_.back()) {
                ended_ = true;
                break;
            }
            list_.push_back(next);
        }
        return list_.size() >= count;
    }
    uint32_t operator[](size_t i) const { return list_[i]; }

  private:
    const ClusterSpace& space_;
    std::vector<uint32_t> list_;
    bool ended_ = false;
};

}  // namespace

PiecedFile FindFileOrder(const ClusterSpace& space, uint32_t firstCluster, uint64_t size,
                         std::string_view extension, const FragmentSearchLimits& limits) {
    PiecedFile result;
    const uint64_t cb = space.clusterBytes;
    if (cb == 0 || size == 0) return result;
    const uint64_t n = (size + cb - 1) / cb;
    Candidates candidates(space, firstCluster);
    if (!candidates.Reach(n)) return result;
    for (uint64_t i = 0; i < n; ++i) result.clusters.push_back(candidates[i]);
    result.pieces = 1;
    if (!HasFragmentCheck(extension)) return result;

    ClusterListSource source(space, size, limits.cacheBytes);
    source.Use(&result.clusters);
    const FragmentVerdict oneRun = CheckFragmentsByExtension(extension, source);
    result.check = oneRun.check;
    result.checks = 1;
    if (oneRun.check != FragmentCheck::kInvalidAt || n < 2) return result;

    // Every byte before the offset the check gives is right, so the first
    // wrong cluster is the first one that does not start before it; and it
    // starts before the end of the wrong structure, where that is known.
    const uint64_t firstBreak = std::max<uint64_t>(1, (oneRun.offset + cb - 1) / cb);
    uint64_t lastBreak = n - 1;
    if (oneRun.end > oneRun.offset)
        lastBreak = std::clamp<uint64_t>((oneRun.end + cb - 1) / cb - 1, firstBreak, n - 1);
    if (firstBreak > lastBreak) return result;
    std::vector<uint32_t> order;
    source.Use(&order);
    // The nearest continuation first: a writer fills the next hole it finds.
    for (uint64_t j = firstBreak + 1;; ++j) {
        bool reached = false;
        // The break nearest where the structure failed first: the checks of
        // coded data fail soon after it but can bound it from below only
        // loosely.
        for (uint64_t k = std::min(lastBreak, j - 1) + 1; k-- > firstBreak;) {
            if (result.checks >= limits.maxChecks || source.BytesRead() >= limits.maxBytesChecked)
                return result;
            if (result.checks % 16 == 0 && std::chrono::steady_clock::now() >= limits.deadline) return result;
            if (!candidates.Reach(j + (n - k))) continue;
            reached = true;
            order.assign(result.clusters.begin(), result.clusters.begin() + static_cast<ptrdiff_t>(k));
            for (uint64_t i = j; i < j + (n - k); ++i) order.push_back(candidates[i]);
            const FragmentVerdict v = CheckFragmentsByExtension(extension, source);
            ++result.checks;
            if (v.Valid()) {
                result.clusters = order;
                result.pieces = 2;
                result.check = FragmentCheck::kValidToEnd;
                return result;
            }
        }
        if (!reached) break;  // no later candidate leaves room for the rest of the file
    }
    return result;
}

}  // namespace sorvane
