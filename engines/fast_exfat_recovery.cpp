#include "engines/fast_exfat_recovery.h"

#include <algorithm>
#include <chrono>
#include <set>
#include <system_error>

#include "engines/exfat_file_data.h"
#include "platform/file_time.h"
#include "platform/file_times.h"
#include "results/file_categories.h"
#include "results/scan_resume_store.h"

namespace sorvane {
namespace {

// A folder is at most 256 MiB by the format's own limit; more is damage.
constexpr uint64_t kMaxFolderBytes = 256ull << 20;
// Folders deeper than this are taken for a loop hidden behind reused clusters.
constexpr uint32_t kMaxFolderLevel = 4096;

}  // namespace

CFastExfatRecovery::CFastExfatRecovery() = default;
CFastExfatRecovery::~CFastExfatRecovery() = default;

EngineStatus CFastExfatRecovery::Open(const ScanSource& source) {
    if (opened_) return kSuccess;
    if (!source.reader.IsOpen()) return openResult_ = kErrInvalidHandle;
    reader_ = source.reader;
    partitionStart_ = source.start;
    partitionSectors_ = source.length;
    letter_ = source.letter;
    return openResult_ = OpenVolume(source.sectorSize);
}

int CFastExfatRecovery::OpenVolume(uint32_t sourceSectorSize) {
    sourceSectorSize_ = sourceSectorSize;
    const uint64_t base = partitionStart_ * sourceSectorSize;
    const uint64_t end = (partitionStart_ + partitionSectors_) * sourceSectorSize;
    ByteSource read = [this, base, end](uint64_t offset, uint8_t* buffer, size_t length) {
        if (offset > end - base || length > end - base - offset) return false;
        size_t got = 0;
        return reader_.ReadBytes(base + offset, buffer, length, got) == kSuccess && got == length;
    };
    if (!volume_.Open(std::move(read))) return kErrInvalidParameter;
    rootKey_ = volume_.Geometry().rootCluster;
    // A volume whose bitmap cannot be read is still walked; it only loses the
    // damage check and the allocation map.
    static_cast<void>(volume_.ReadRoot());
    opened_ = true;
    return kSuccess;
}

uint64_t CFastExfatRecovery::HeapStartInSourceSectors() const {
    const ExfatGeometry& g = volume_.Geometry();
    return uint64_t{g.heapOffset} * g.bytesPerSector / sourceSectorSize_;
}

int CFastExfatRecovery::Report(int percent) {
    if (!scanProgress_) return 0;
    return scanProgress_(userData_, percent, weight_, -1, 0, 0, log_ ? log_->Count() : 0);
}

EngineStatus CFastExfatRecovery::Scan(const std::string* scanLogName) {
    queue_.clear();
    readFolders_.clear();
    staged_.clear();
    claimedOnce_.clear();
    claimedTwice_.clear();
    contested_ = false;
    rebuiltOrders_.clear();
    foldersDone_ = 0;
    unreadableRecords_ = 0;
    scanAnswer_ = 0;
    searchBudget_.Restart();
    if (scanLogName) return ReplaceLog(*scanLogName);
    int rc = StartQuickScanLog(static_cast<int64_t>(partitionStart_));
    if (rc != kSuccess) return rc;
    if (!opened_) return openResult_ != kSuccess ? openResult_ : kErrInvalidHandle;
    rc = WalkTree();
    MarkOverlapsDamaged();
    // What was found before a stop is kept browsable: its folders are filed too.
    PublishFolders();
    const int flushed = log_->Flush();
    if (rc == 0 && flushed != 0) return flushed;  // results that are not in the log cannot be listed
    if (rc == 0) Report(100);
    return rc;
}

int CFastExfatRecovery::WalkTree() {
    reportClock_.Restart();
    if (int answer = Report(1); answer != 0) return scanAnswer_ = answer;
    Folder root;
    root.key = rootKey_;
    root.dataLength = kMaxFolderBytes;
    root.live = true;
    queue_.push_back(root);
    readFolders_.insert(root.key);
    while (!queue_.empty()) {
        Folder folder = queue_.front();
        queue_.pop_front();
        try {
            ReadFolder(folder);
        } catch (...) {
            // A fault while reading one folder costs that folder, never the scan.
        }
        ++foldersDone_;
        if (scanAnswer_ != 0) return scanAnswer_;
        if (reportClock_.Due()) {
            const uint64_t all = foldersDone_ + queue_.size();
            const int percent = static_cast<int>(std::min<uint64_t>(99, 1 + foldersDone_ * 98 / all));
            if (int answer = Report(percent); answer != 0) return scanAnswer_ = answer;
        }
    }
    return 0;
}

void CFastExfatRecovery::ReadFolder(const Folder& folder) {
    const ExfatGeometry& g = volume_.Geometry();
    std::vector<uint32_t> clusters;
    bool reused = false;
    if (folder.live) {
        clusters =
            volume_.DataClusters(folder.key, std::min(folder.dataLength, kMaxFolderBytes), folder.noFatChain);
    } else {
        // A deleted folder's chain is gone: its clusters are taken as contiguous.
        const uint64_t count =
            (std::min(folder.dataLength, kMaxFolderBytes) + g.ClusterBytes() - 1) / g.ClusterBytes();
        clusters = volume_.ContiguousRun(folder.key, count);
        reused = ExfatClustersReused(volume_, clusters, folder.dataLength);
    }
    ExfatDirectoryParser parser([&](const ExfatEntrySet& set, uint64_t position) {
        if (scanAnswer_ == 0) OnSet(folder, clusters, reused, set, position);
    });
    if (!volume_.ReadDirectory(clusters, parser, kMaxFolderBytes)) ++unreadableRecords_;
}

void CFastExfatRecovery::LocateEntry(uint64_t volumeOffset, uint64_t& sector, uint32_t& index) const {
    const uint64_t absolute = partitionStart_ * sourceSectorSize_ + volumeOffset;
    sector = absolute / sourceSectorSize_;
    index = static_cast<uint32_t>(absolute % sourceSectorSize_ / kExfatEntryBytes);
}

void CFastExfatRecovery::OnSet(const Folder& folder, const std::vector<uint32_t>& clusters,
                               bool clustersReused, const ExfatEntrySet& set, uint64_t position) {
    const ExfatGeometry& g = volume_.Geometry();
    const uint64_t clusterBytes = g.ClusterBytes();
    const size_t clusterIndex = static_cast<size_t>(position / clusterBytes);
    if (clusterIndex >= clusters.size()) return;
    // Live entries read from clusters that a deleted folder gave up belong to
    // whatever took those clusters over, not to the deleted folder.
    if (clustersReused && set.inUse) return;
    const bool deleted = folder.deleted || !set.inUse;
    const uint64_t entryOffset = g.ClusterOffset(clusters[clusterIndex]) + position % clusterBytes;
    uint64_t sector = 0;
    uint32_t index = 0;
    LocateEntry(entryOffset, sector, index);
    const bool wallClock = set.wallClockTimes;

    if (set.IsDirectory()) {
        if (!g.IsHeapCluster(set.firstCluster) || folder.level + 1 > kMaxFolderLevel) return;
        if (!readFolders_.insert(set.firstCluster).second) return;
        StagedFolder staged;
        FoundItemRecord& r = staged.record;
        FillExfatRecord(set, r);
        r.letter = letter_;
        r.engineCode = static_cast<uint32_t>(EngineCode::kQuickExfat);
        r.clusterBytes = kFolderClusterBytes;
        r.engineSpecific = (deleted ? kExfatFolderDeleted : 0) | (wallClock ? kExfatWallClockTimes : 0);
        r.dataStart = HeapStartInSourceSectors();
        r.location = sector;
        r.partitionStart = partitionStart_;
        staged.parent = folder.key;
        staged.level = folder.level + 1;
        staged_[set.firstCluster] = staged;
        Folder child;
        child.key = set.firstCluster;
        child.dataLength = set.dataLength;
        child.noFatChain = set.noFatChain;
        child.live = folder.live && set.inUse;
        child.deleted = deleted;
        child.level = folder.level + 1;
        queue_.push_back(child);
        if (deleted) MarkForPublishing(child.key);
        return;
    }
    if (!deleted) return;

    FoundItemRecord* r = log_->AppendRecord();
    const uint32_t recordNumber = r->recordNumber;
    FillExfatRecord(set, *r);
    r->letter = letter_;
    r->engineCode = static_cast<uint32_t>(EngineCode::kQuickExfat);
    r->clusterBytes = static_cast<uint32_t>(clusterBytes);
    r->dataStart = HeapStartInSourceSectors();
    r->location = sector;
    r->partitionStart = partitionStart_;
    uint32_t bits = r->engineSpecific | (index << kExfatEntryIndexShift);
    if (wallClock) bits |= kExfatWallClockTimes;
    ExfatFileData data = JudgeExfatFileData(volume_, &reader_, sourceSectorSize_,
                                            partitionStart_ + HeapStartInSourceSectors(), set, searchBudget_);
    if (data.damaged) bits |= kExfatDamaged;
    if (data.verdict != ContentVerdict::kNotChecked) r->contentCheck = ContentCheckValue(data.verdict);
    r->engineSpecific = bits;
    SetRebuiltPieces(*r, data.pieces);
    Claim(data.clusters);
    if (data.pieces >= 2) rebuiltOrders_.emplace(recordNumber, std::move(data.clusters));
    log_->AddChild(MakeRelationKey(folder.key, folder.level), recordNumber, set.firstCluster, nullptr);
    MarkForPublishing(folder.key);
}

void CFastExfatRecovery::Claim(const std::vector<uint32_t>& clusters) {
    if (clusters.empty()) return;
    if (claimedOnce_.empty()) {
        const size_t bytes = (size_t{volume_.Geometry().clusterCount} + 7) / 8;
        claimedOnce_.assign(bytes, 0);
        claimedTwice_.assign(bytes, 0);
    }
    for (uint32_t c : clusters) {
        const uint32_t n = c - 2;  // runs hold heap clusters only
        const uint8_t bit = static_cast<uint8_t>(1u << (n % 8));
        if (claimedOnce_[n / 8] & bit) {
            claimedTwice_[n / 8] |= bit;
            contested_ = true;
        } else {
            claimedOnce_[n / 8] |= bit;
        }
    }
}

void CFastExfatRecovery::MarkOverlapsDamaged() {
    claimedOnce_.clear();
    claimedOnce_.shrink_to_fit();
    std::map<uint32_t, std::vector<uint32_t>> rebuilt;
    rebuilt.swap(rebuiltOrders_);
    if (!contested_) {
        claimedTwice_.clear();
        return;
    }
    auto contested = [&](uint32_t c) { return (claimedTwice_[(c - 2) / 8] >> ((c - 2) % 8)) & 1; };
    // Contested cluster -> the files on it: (created, record number).
    std::map<uint32_t, std::vector<std::pair<uint64_t, uint32_t>>> claimants;
    const uint32_t count = log_->Count();
    for (uint32_t number = log_->RecordsAtOpen() + 1; number <= count; ++number) {
        FoundItemRecord r;
        if (log_->ReadRecord(number, r) != kSuccess) break;
        if (r.IsFolder() || r.Engine() != EngineCode::kQuickExfat || r.size == 0) continue;
        if (!ExfatDataFitsHeap(volume_.Geometry(), r.key, r.size)) continue;
        const bool noFatChain = (r.engineSpecific & kExfatNoFatChain) != 0;
        const auto order = rebuilt.find(number);
        const std::vector<uint32_t> clusters =
            order != rebuilt.end() ? std::move(order->second)
                                   : ExfatClustersOfFoundFile(volume_, r.key, r.size, noFatChain);
        for (uint32_t c : clusters)
            if (contested(c)) claimants[c].emplace_back(uint64_t{r.created}, number);
    }
    std::set<uint32_t> damaged;
    for (auto& [cluster, files] : claimants) {
        if (files.size() < 2) continue;
        // The file made last took the cluster; files as old as it cannot be trusted either.
        const uint64_t newest = std::max_element(files.begin(), files.end())->first;
        size_t newestCount = 0;
        for (const auto& f : files) newestCount += f.first == newest;
        for (const auto& f : files)
            if (f.first < newest || newestCount > 1) damaged.insert(f.second);
    }
    for (uint32_t number : damaged) {
        // A file put back together was proven by its own structure across
        // those clusters: the other file's claim on them is what is wrong.
        if (rebuilt.count(number)) continue;
        FoundItemRecord r;
        if (log_->ReadRecord(number, r) != kSuccess) continue;
        r.engineSpecific |= kExfatDamaged;
        // The mark is advice: a record that cannot be rewritten stays listed as it was.
        static_cast<void>(log_->RewriteRecord(r));
    }
    claimedTwice_.clear();
    claimedTwice_.shrink_to_fit();
}

void CFastExfatRecovery::MarkForPublishing(uint32_t key) {
    // Up the chain of staged folders until the root or a folder already marked.
    for (uint32_t level = 0; level <= kMaxFolderLevel; ++level) {
        auto it = staged_.find(key);
        if (it == staged_.end() || it->second.publish) return;
        it->second.publish = true;
        key = it->second.parent;
    }
}

void CFastExfatRecovery::PublishFolders() {
    for (auto& [key, staged] : staged_) {
        if (!staged.publish) continue;
        FoundItemRecord* r = log_->AppendRecord();
        const uint32_t recordNumber = r->recordNumber;
        *r = staged.record;
        r->recordNumber = recordNumber;
        const std::string name = staged.record.Name();
        log_->AddChild(MakeRelationKey(staged.parent, staged.level - 1), recordNumber, key, name.c_str());
    }
}

EngineStatus CFastExfatRecovery::LoadAllocationMap() {
    if (!opened_) return openResult_ != kSuccess ? openResult_ : kErrInvalidHandle;
    return volume_.HasBitmap() ? kSuccess : kErrReadFault;
}

bool CFastExfatRecovery::NextFreeExtent(uint64_t& start, uint64_t& length) {
    length = 0;
    if (!opened_ || !volume_.HasBitmap()) return 0;
    const ExfatGeometry& g = volume_.Geometry();
    const uint64_t ss = sourceSectorSize_;
    const uint64_t clusterBytes = g.ClusterBytes();
    const uint64_t heapBytes = uint64_t{g.heapOffset} * g.bytesPerSector;
    if (clusterBytes % ss != 0 || heapBytes % ss != 0) return 0;
    const uint64_t spc = clusterBytes / ss;
    const uint64_t heapStart = heapBytes / ss;
    const uint64_t clusters = g.clusterCount;
    if (start >= partitionSectors_) {
        start = partitionSectors_;
        return 1;
    }
    const std::vector<uint8_t>& bitmap = volume_.Bitmap();
    auto used = [&](uint64_t n) { return (bitmap[n / 8] >> (n % 8)) & 1; };
    // The boot region and the FAT before the heap count as allocated.
    uint64_t index = start > heapStart ? (start - heapStart) / spc : 0;
    if (index >= clusters) {
        start = partitionSectors_;
        return 1;
    }
    while (index < clusters && used(index)) {
        if (index % 8 == 0 && index + 8 <= clusters && bitmap[index / 8] == 0xFF)
            index += 8;
        else
            ++index;
    }
    if (index >= clusters) {
        start = partitionSectors_;
        return 1;
    }
    uint64_t end = index;
    while (end < clusters && !used(end)) {
        if (end % 8 == 0 && end + 8 <= clusters && bitmap[end / 8] == 0)
            end += 8;
        else
            ++end;
    }
    const uint64_t runStart = heapStart + index * spc;
    // A start inside a free cluster keeps its place.
    start = std::max(start, runStart);
    const uint64_t runEnd = std::min(heapStart + end * spc, partitionSectors_);
    length = runEnd > start ? runEnd - start : 0;
    return 1;
}

int CFastExfatRecovery::CopyFileData(const FoundItemRecord& record, const CopyTarget& target) {
    if (!opened_) return openResult_ != kSuccess ? openResult_ : kErrInvalidHandle;
    return CopyExfatRecord(volume_, record, partitionStart_ * sourceSectorSize_, sourceSectorSize_, target);
}

}  // namespace sorvane
