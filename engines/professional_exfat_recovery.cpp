#include "engines/professional_exfat_recovery.h"

#include <algorithm>
#include <map>
#include <set>

#include "engines/exfat_file_data.h"
#include "platform/result_codes.h"
#include "results/file_categories.h"
#include "results/scan_checkpoint.h"

namespace sorvane {
namespace {

// Folder chains deeper than this are taken for loops.
constexpr uint32_t kMaxFolderLevel = 4096;
constexpr uint64_t kMaxFolderBytes = 256ull << 20;

}  // namespace

CProfessionalExfatRecovery::CProfessionalExfatRecovery() = default;
CProfessionalExfatRecovery::~CProfessionalExfatRecovery() = default;

EngineStatus CProfessionalExfatRecovery::Open(const ScanSource& source) {
    reader_.Close();
    if (!source.reader.IsOpen()) return kErrInvalidHandle;
    reader_ = source.reader;
    rangeStart_ = source.start;
    rangeLength_ = source.length;
    sectorSize_ = source.sectorSize;
    letter_ = source.letter;
    return kSuccess;
}

int CProfessionalExfatRecovery::StartScanLog(const std::string* name) {
    sets_.clear();
    lastSetEnd_ = 0;
    dropped_ = 0;
    searchBudget_.Restart();
    std::string logName =
        name ? *name : "Pro_Exfat_" + FastLogNameNow(static_cast<int64_t>(rangeStart_)).substr(5);
    return ReplaceLog(logName);
}

bool CProfessionalExfatRecovery::ReadSource(uint64_t offset, uint8_t* buffer, size_t length) {
    const uint64_t end = (rangeStart_ + rangeLength_) * sectorSize_;
    if (!reader_.IsOpen() || offset > end || length > end - offset) return false;
    size_t got = 0;
    return reader_.ReadBytes(offset, buffer, length, got) == kSuccess && got == length;
}

void CProfessionalExfatRecovery::RegisterBootSector() {
    haveLayout_ = false;
    if (!reader_.IsOpen()) return;
    const uint64_t base = rangeStart_ * sectorSize_;
    ByteSource read = [this, base](uint64_t offset, uint8_t* buffer, size_t length) {
        return offset <= UINT64_MAX - base && ReadSource(base + offset, buffer, length);
    };
    if (!volume_.Open(std::move(read))) return;
    haveLayout_ = true;
    // The live volume's bitmap tells which clusters are taken now; without it
    // every cluster is searched.
    static_cast<void>(volume_.ReadRoot());
}

bool CProfessionalExfatRecovery::MayHoldEntrySets(const uint8_t* sector, size_t sectorBytes) {
    for (size_t off = 0; off + kExfatEntryBytes <= sectorBytes; off += kExfatEntryBytes) {
        if ((sector[off] & 0x7F) != (kExfatFileEntry & 0x7F)) continue;
        const uint8_t secondaries = sector[off + 1];
        if (secondaries < 2 || secondaries >= kExfatMaxSetEntries) continue;
        // The stream extension follows the file entry, in this sector or the next.
        if (off + 2 * kExfatEntryBytes > sectorBytes) return true;
        if ((sector[off + kExfatEntryBytes] & 0x7F) == (kExfatStreamEntry & 0x7F)) return true;
    }
    return false;
}

bool CProfessionalExfatRecovery::OnSector(const uint8_t* sector, size_t available, uint64_t absoluteSector) {
    const size_t sectorBytes = std::min<size_t>(sectorSize_, available);
    bool taken = false;
    for (size_t off = 0; off + kExfatEntryBytes <= sectorBytes; off += kExfatEntryBytes) {
        if ((sector[off] & 0x7F) != (kExfatFileEntry & 0x7F)) continue;
        const uint64_t offset = absoluteSector * sectorSize_ + off;
        if (offset < lastSetEnd_) continue;  // inside a set already taken
        ExfatEntrySet set;
        const uint8_t* bytes = sector + off;
        ExfatSetResult result = ParseExfatEntrySet(bytes, available - off, set);
        if (result == ExfatSetResult::kIncomplete) {
            // The set runs past what was handed over: read it whole from the source.
            scratch_.assign(kExfatMaxSetBytes, 0);
            size_t have = scratch_.size();
            while (have >= kExfatEntryBytes && !ReadSource(offset, scratch_.data(), have)) have /= 2;
            if (have < kExfatEntryBytes) continue;
            bytes = scratch_.data();
            result = ParseExfatEntrySet(bytes, have, set);
        }
        if (result != ExfatSetResult::kSet) continue;
        TakeSet(set, offset);
        lastSetEnd_ = offset + set.entryCount * kExfatEntryBytes;
        taken = true;
        off += (set.entryCount - 1) * kExfatEntryBytes;
    }
    return taken;
}

void CProfessionalExfatRecovery::TakeSet(const ExfatEntrySet& set, uint64_t offset) {
    if (sets_.size() >= limits_.maxSets) {
        ++dropped_;
        return;
    }
    sets_.push_back({set, offset, set.wallClockTimes});
}

void CProfessionalExfatRecovery::SaveState(CheckpointWriter& w) const {
    w.U64(sets_.size());
    for (const FoundSet& f : sets_) {
        const ExfatEntrySet& s = f.set;
        w.Bool(s.inUse);
        w.U64(s.entryCount);
        w.U32(s.attributes);
        w.U64(s.created);
        w.U64(s.written);
        w.U64(s.accessed);
        w.Bool(s.wallClockTimes);
        w.Bool(s.noFatChain);
        w.U32(s.firstCluster);
        w.U64(s.dataLength);
        w.U64(s.validDataLength);
        w.Text(s.name);
        w.U64(f.offset);
        w.Bool(f.wallClock);
    }
    w.U64(lastSetEnd_);
    w.U64(dropped_);
}

bool CProfessionalExfatRecovery::RestoreState(CheckpointReader& r) {
    constexpr size_t kMaxNameBytes = 1024;
    uint64_t n = 0;
    if (!r.Count(n, 76)) return false;
    std::vector<FoundSet> sets(n);
    for (FoundSet& f : sets) {
        ExfatEntrySet& s = f.set;
        uint64_t entries = 0;
        uint32_t attributes = 0;
        if (!r.Bool(s.inUse) || !r.U64(entries) || !r.U32(attributes) || !r.U64(s.created) ||
            !r.U64(s.written) || !r.U64(s.accessed) || !r.Bool(s.wallClockTimes) || !r.Bool(s.noFatChain) ||
            !r.U32(s.firstCluster) || !r.U64(s.dataLength) || !r.U64(s.validDataLength) ||
            !r.Text(s.name, kMaxNameBytes) || !r.U64(f.offset) || !r.Bool(f.wallClock))
            return false;
        if (entries == 0 || entries > kExfatMaxSetEntries || attributes > 0xFFFF) return false;
        s.entryCount = static_cast<size_t>(entries);
        s.attributes = static_cast<uint16_t>(attributes);
    }
    uint64_t lastSetEnd = 0, dropped = 0;
    if (!r.U64(lastSetEnd) || !r.U64(dropped)) return false;
    sets_ = std::move(sets);
    lastSetEnd_ = lastSetEnd;
    dropped_ = dropped;
    return true;
}

int CProfessionalExfatRecovery::Consolidate() {
    if (!log_) return kSuccess;
    const ExfatGeometry& g = volume_.Geometry();
    const uint64_t base = rangeStart_ * sectorSize_;
    const uint64_t clusterBytes = haveLayout_ ? g.ClusterBytes() : 0;
    const uint64_t heapStart = haveLayout_ ? uint64_t{g.heapOffset} * g.bytesPerSector / sectorSize_ : 0;
    const size_t none = SIZE_MAX;

    // The cluster each set lies in (0 without a layout or outside the heap).
    std::vector<uint32_t> home(sets_.size(), 0);
    if (haveLayout_)
        for (size_t i = 0; i < sets_.size(); ++i)
            if (sets_[i].offset >= base) home[i] = g.ClusterAtOffset(sets_[i].offset - base);

    // Folders by the clusters they cover; the first set naming a cluster wins.
    std::map<uint32_t, std::pair<uint64_t, size_t>> ranges;  // first cluster -> (end, set)
    for (size_t i = 0; i < sets_.size(); ++i) {
        const ExfatEntrySet& s = sets_[i].set;
        if (!s.IsDirectory() || !haveLayout_ || !g.IsHeapCluster(s.firstCluster)) continue;
        // A folder is at most 256 MiB; a longer one is damage and must not claim the clusters after it.
        const uint64_t count = std::clamp<uint64_t>((s.dataLength + clusterBytes - 1) / clusterBytes, 1,
                                                    kMaxFolderBytes / clusterBytes);
        ranges.emplace(s.firstCluster, std::make_pair(uint64_t{s.firstCluster} + count, i));
    }
    auto folderHolding = [&](uint32_t cluster) -> size_t {
        if (cluster == 0) return none;
        auto it = ranges.upper_bound(cluster);
        if (it == ranges.begin()) return none;
        --it;
        return cluster < it->second.first ? it->second.second : none;
    };
    auto isFolderRecord = [&](size_t i) {
        const ExfatEntrySet& s = sets_[i].set;
        auto it = ranges.find(s.firstCluster);
        return s.IsDirectory() && it != ranges.end() && it->second.second == i;
    };

    // Parent of each set: a found folder, a lost folder (its cluster), or the root.
    std::vector<size_t> parent(sets_.size(), none);
    for (size_t i = 0; i < sets_.size(); ++i) {
        const size_t p = folderHolding(home[i]);
        if (p != i) parent[i] = p;  // a folder listed inside its own clusters has no parent there
    }
    // Levels of the found folders, walking up; a loop (or a chain too deep to
    // be real) is cut where it was noticed and the walk starts again.
    std::vector<uint32_t> level(sets_.size(), 0);
    // A folder where a loop was cut goes directly below the root: the lost
    // folder of its cluster would carry the key of a folder inside the loop.
    std::vector<bool> cut(sets_.size(), false);
    for (size_t i = 0; i < sets_.size(); ++i) {
        if (!isFolderRecord(i) || level[i] != 0) continue;
        for (;;) {
            std::vector<size_t> chain;
            std::set<size_t> seen;
            size_t at = i;
            while (at != none && level[at] == 0 && seen.insert(at).second && chain.size() < kMaxFolderLevel) {
                chain.push_back(at);
                at = parent[at];
            }
            if (at != none && level[at] == 0) {
                parent[at] = none;
                cut[at] = true;
                continue;
            }
            // Below a known folder, below a lost folder, or directly below the root.
            const size_t top = chain.back();
            uint32_t next = at != none ? level[at] : (home[top] != 0 && !cut[top] ? 1 : 0);
            for (size_t k = chain.size(); k-- > 0;) level[chain[k]] = ++next;
            break;
        }
    }

    // Lost folders: one per cluster that holds sets no found folder claims.
    std::set<uint32_t> lost;
    for (size_t i = 0; i < sets_.size(); ++i)
        if (parent[i] == none && home[i] != 0 && !cut[i] &&
            (!sets_[i].set.IsDirectory() || isFolderRecord(i)))
            lost.insert(home[i]);
    for (uint32_t cluster : lost) {
        FoundItemRecord* r = log_->AppendRecord();
        const uint32_t number = r->recordNumber;
        r->letter = letter_;
        r->engineCode = static_cast<uint32_t>(EngineCode::kDeepExfat);
        r->isFolder = 1;
        r->key = cluster;
        r->clusterBytes = kFolderClusterBytes;
        r->partitionStart = rangeStart_;
        r->dataStart = heapStart;
        const std::string name = LostFolderName(cluster);
        r->SetName(name);
        log_->AddChild(MakeRelationKey(0, 0), number, cluster, name.c_str());
    }

    auto relationOf = [&](size_t i) {
        const size_t p = parent[i];
        if (p != none) return MakeRelationKey(sets_[p].set.firstCluster, level[p]);
        if (home[i] != 0 && !cut[i]) return MakeRelationKey(home[i], 1);
        return MakeRelationKey(0, 0);
    };
    for (size_t i = 0; i < sets_.size(); ++i) {
        const FoundSet& f = sets_[i];
        const bool folder = f.set.IsDirectory();
        if (folder && !isFolderRecord(i) && haveLayout_) continue;  // a second entry for a known folder
        FoundItemRecord* r = log_->AppendRecord();
        const uint32_t number = r->recordNumber;
        FillExfatRecord(f.set, *r);
        r->letter = letter_;
        r->engineCode = static_cast<uint32_t>(EngineCode::kDeepExfat);
        r->location = f.offset / sectorSize_;
        r->partitionStart = rangeStart_;
        r->dataStart = heapStart;
        uint32_t bits = r->engineSpecific | (f.wallClock ? kExfatWallClockTimes : 0);
        uint32_t pieces = 0;
        if (folder) {
            r->clusterBytes = kFolderClusterBytes;
            bits = (f.set.inUse ? 0 : kExfatFolderDeleted) | (f.wallClock ? kExfatWallClockTimes : 0);
        } else {
            r->clusterBytes = static_cast<uint32_t>(clusterBytes);
            bits |= static_cast<uint32_t>(f.offset % sectorSize_ / kExfatEntryBytes) << kExfatEntryIndexShift;
            if (haveLayout_ && f.set.dataLength > 0 &&
                !ExfatDataFitsHeap(g, f.set.firstCluster, f.set.dataLength)) {
                bits |= kExfatDamaged;
            } else if (haveLayout_ && f.set.dataLength > 0) {
                const ExfatFileData data = JudgeExfatFileData(volume_, &reader_, sectorSize_,
                                                              rangeStart_ + heapStart, f.set, searchBudget_);
                if (data.damaged) bits |= kExfatDamaged;
                if (data.verdict != ContentVerdict::kNotChecked)
                    r->contentCheck = ContentCheckValue(data.verdict);
                pieces = data.pieces;
            }
        }
        r->engineSpecific = bits;
        SetRebuiltPieces(*r, pieces);
        const std::string name = f.set.name;
        log_->AddChild(relationOf(i), number, folder ? f.set.firstCluster : 0,
                       folder ? name.c_str() : nullptr);
    }
    sets_.clear();
    sets_.shrink_to_fit();
    return log_->Flush();
}

int CProfessionalExfatRecovery::CopyFileData(const FoundItemRecord& record, const CopyTarget& target) {
    if (record.size == 0) return kSuccess;
    if (!haveLayout_) return kErrReadFault;
    return CopyExfatRecord(volume_, record, rangeStart_ * sectorSize_, sectorSize_, target);
}

}  // namespace sorvane
