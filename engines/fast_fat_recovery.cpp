#include "engines/fast_fat_recovery.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <system_error>

#include "carving/carved_file_measure.h"
#include "carving/content_check.h"
#include "carving/file_signature.h"
#include "carving/fragment_check.h"
#include "device/boot_sector.h"
#include "fs/fat_directory_sector.h"
#include "platform/data_dirs.h"
#include "platform/file_time.h"
#include "platform/file_times.h"
#include "platform/path_text.h"
#include "platform/text_encoding.h"
#include "results/file_categories.h"
#include "results/file_condition.h"
#include "results/safe_name.h"

namespace sorvane {
namespace {

constexpr uint32_t kMaxClusterBytes = 104857600;
// A directory holds at most 65536 entries of 32 bytes.
constexpr uint64_t kMaxDirectoryBytes = 65536ull * 32;
// Progress of a tree walk cannot be known in advance; it is reported by time.
// Highest half tried when a deleted FAT32 entry lost the high half of its cluster.
constexpr uint32_t kMaxGuessedHigh = 256;
// Bytes one deleted folder may read while looking for its clusters after its
// chain was cleared.
constexpr uint64_t kMaxContinuationSearchBytes = 16ull * 1024 * 1024;
// How deep folders met during that search are followed first.
constexpr int kMaxClaimDepth = 4;

// Names in records are cut to the field keeping their extension, so a long
// name still goes to the right category and opens with the right program.
void SetRecordName(FoundItemRecord& record, const std::string& name) {
    record.SetName(CutNameKeepingExtension(name, kNameFieldSize - 1));
}

// A sector taken to go on with a deleted folder: directory entries, and no
// volume label, which only the root holds. A few stray bytes before zeros at
// the end of a file's last cluster otherwise pass as a label more often than
// as anything else, and would end the folder there.
bool IsSubdirectorySector(const uint8_t* sector, size_t length) {
    if (!IsFatDirectorySector(sector, length)) return false;
    for (size_t off = 0; off + 32 <= length && sector[off] != 0; off += 32)
        if (sector[off + 11] == 0x08) return false;
    return true;
}

}  // namespace

CFastFatRecovery::CFastFatRecovery() = default;
CFastFatRecovery::~CFastFatRecovery() = default;

EngineStatus CFastFatRecovery::Open(const ScanSource& source) {
    if (opened_) return kSuccess;
    if (!source.reader.IsOpen()) return openResult_ = kErrInvalidHandle;
    reader_ = source.reader;
    partitionStart_ = source.start;
    partitionSectors_ = source.length;
    letter_ = source.letter;
    return openResult_ = OpenFromBootSector(source.sectorSize);
}

int CFastFatRecovery::OpenFromBootSector(uint32_t sourceSectorSize) {
    std::vector<uint8_t> boot(4096);
    uint32_t got = 0;
    int rc =
        ReadSectors(4096 / sourceSectorSize, reader_, boot.data(), partitionStart_, sourceSectorSize, &got);
    const bool mainParsed = got * sourceSectorSize >= 512 &&
                            ParseFatBootSector(ByteView(boot.data(), got * sourceSectorSize), geometry_);
    if (!mainParsed && !ParseBackupBootSector(sourceSectorSize)) {
        if (got * sourceSectorSize < 512) return rc != kSuccess ? rc : kErrReadFault;
        return kErrInvalidParameter;
    }
    // Reads below use the volume's own sector size; the start given in the
    // source's sectors is turned into those.
    partitionUnits_ = partitionStart_ * sourceSectorSize / geometry_.bytesPerSector;
    // Records and free extents are counted in the source's sectors, as every
    // engine counts them, however large the volume's own sectors are.
    sourcePerVolumeSector_ =
        geometry_.bytesPerSector >= sourceSectorSize && geometry_.bytesPerSector % sourceSectorSize == 0
            ? geometry_.bytesPerSector / sourceSectorSize
            : 1;
    // An unreadable FAT still lets the tree be read.
    static_cast<void>(fat_.Load(reader_, partitionUnits_, geometry_));
    clusterBuffer_.assign(geometry_.ClusterBytes(), 0);
    sector_.assign(geometry_.bytesPerSector, 0);
    opened_ = true;
    return kSuccess;
}

bool CFastFatRecovery::ParseBackupBootSector(uint32_t sourceSectorSize) {
    // FAT32 keeps a copy of its boot sector at sector 6 of the volume's own
    // sector size, which may be larger than the source's.
    for (uint32_t volumeSector : {512u, 4096u}) {
        if (volumeSector < sourceSectorSize) continue;
        std::vector<uint8_t> copy(volumeSector);
        uint32_t got = 0;
        const uint32_t count = volumeSector / sourceSectorSize;
        const uint64_t first = partitionStart_ + uint64_t{kFat32BackupBootSector} * count;
        if (ReadSectors(count, reader_, copy.data(), first, sourceSectorSize, &got) != kSuccess ||
            got != count)
            continue;
        if (IsFat32BackupBootSector(copy.data(), copy.size(), volumeSector) &&
            ParseFatBootSector(ByteView(copy.data(), copy.size()), geometry_))
            return true;
    }
    return false;
}

int CFastFatRecovery::ReadRelative(uint64_t relativeSector, uint32_t sectors, uint8_t* buffer,
                                   uint32_t& bytesRead) {
    uint32_t got = 0;
    int rc =
        ReadSectors(sectors, reader_, buffer, AbsoluteSector(relativeSector), geometry_.bytesPerSector, &got);
    bytesRead = got * geometry_.bytesPerSector;
    if (bytesRead == 0 && rc == kSuccess) rc = kErrReadFault;
    return rc;
}

int CFastFatRecovery::Report(int percent, int64_t remaining) {
    if (!scanProgress_) return 0;
    uint64_t found = log_ ? log_->Count() : 0;
    return scanProgress_(userData_, percent, weight_, remaining, 0, 0, found);
}

EngineStatus CFastFatRecovery::Scan(const std::string* scanLogName) {
    stagedFolders_.clear();
    foldersToPublish_.clear();
    publishSet_.clear();
    readDirectories_.clear();
    continuationOwner_.clear();
    claimedFolders_.clear();
    workQueue_.clear();
    unreadableRecords_ = 0;
    if (scanLogName) return ReplaceLog(*scanLogName);
    int rc = StartQuickScanLog(static_cast<int64_t>(partitionStart_));
    if (rc != kSuccess) return rc;
    if (!opened_) return openResult_ != kSuccess ? openResult_ : kErrInvalidHandle;
    return ScanTree();
}

int CFastFatRecovery::ScanTree() {
    scanAnswer_ = 0;
    timedPercent_ = 1;
    reportClock_.Restart();
    searchBudget_.Restart();
    if (int answer = Report(1, -1)) return answer;
    workQueue_.push_back({RootKey(), 0, false, true});
    while (!workQueue_.empty()) {
        QueuedDirectory dir = workQueue_.front();
        workQueue_.pop_front();
        if (!readDirectories_.insert(dir.cluster).second) continue;
        ReadDirectory(dir);
        if (scanAnswer_ != 0) return scanAnswer_;
        if (reportClock_.Due()) {
            if (timedPercent_ < 79) ++timedPercent_;
            if (int answer = Report(timedPercent_, -1)) {
                // A stopped scan keeps what it found: the folders of the files
                // listed so far are published, or those files could not be reached.
                PublishFolders();
                return answer;
            }
        }
    }
    if (int answer = Report(80, 10)) {
        PublishFolders();
        return answer;
    }
    int rc = PublishFolders();
    if (rc != 0) return rc;
    if (int flushed = log_->Flush(); flushed != 0) return flushed;  // unlisted results are no results
    return Report(100, 0);
}

void CFastFatRecovery::ReadDirectory(const QueuedDirectory& dir) {
    siblingNames_.clear();
    lostLetterFiles_.clear();
    lostLetterFolders_.clear();
    ReadDirectoryEntries(dir);
    GuessLostLetters(dir);
}

CameraPlace CFastFatRecovery::PlaceOfDirectory(const QueuedDirectory& dir) const {
    if (dir.isRoot || dir.cluster == RootKey()) return CameraPlace::kRoot;
    // Only the first two levels below the root matter: DCIM and its folders.
    auto folder = stagedFolders_.find(dir.cluster);
    if (folder == stagedFolders_.end()) return CameraPlace::kNone;
    const std::string name = folder->second.record.Name();
    if (folder->second.parent == RootKey()) return PlaceOfFolder(name, CameraPlace::kRoot);
    auto parent = stagedFolders_.find(folder->second.parent);
    if (parent == stagedFolders_.end() || parent->second.parent != RootKey()) return CameraPlace::kNone;
    return PlaceOfFolder(name, PlaceOfFolder(parent->second.record.Name(), CameraPlace::kRoot));
}

void CFastFatRecovery::GuessLostLetters(const QueuedDirectory& dir) {
    if (lostLetterFiles_.empty() && lostLetterFolders_.empty()) return;
    const CameraPlace place = PlaceOfDirectory(dir);
    for (FoundItemRecord& r : lostLetterFiles_) {
        const std::string guess = GuessLostFirstCharacter(r.Name(), false, place, siblingNames_);
        if (guess.empty()) continue;
        r.SetName(guess);
        r.engineSpecific |= kFatNameGuessed;
        // A record that cannot be rewritten keeps its "!".
        static_cast<void>(log_->RewriteRecord(r));
    }
    for (uint32_t cluster : lostLetterFolders_) {
        auto it = stagedFolders_.find(cluster);
        if (it == stagedFolders_.end()) continue;
        FoundItemRecord& r = it->second.record;
        const std::string guess = GuessLostFirstCharacter(r.Name(), true, place, siblingNames_);
        if (guess.empty()) continue;
        r.SetName(guess);
        r.engineSpecific |= kFatNameGuessed;
    }
}

void CFastFatRecovery::ReadDirectoryEntries(const QueuedDirectory& dir) {
    names_.Reset();
    if (dir.isRoot && !geometry_.IsFat32()) {
        // The FAT12/16 root is a fixed area just before the data area.
        std::vector<uint8_t> root(static_cast<size_t>(geometry_.rootDirSectors) * geometry_.bytesPerSector);
        uint32_t got = 0;
        if (ReadRelative(geometry_.rootDirStart, geometry_.rootDirSectors, root.data(), got) != kSuccess)
            ++unreadableRecords_;  // the entries before the bad sector are still walked
        ByteView view(root.data(), got);
        WalkDirectoryBuffer(view, names_, [&](const FatEntryInfo& e) {
            OnEntry(dir, e, AbsoluteSector(geometry_.rootDirStart) + e.offset / geometry_.bytesPerSector);
        });
        return;
    }
    const uint32_t clusterBytes = geometry_.ClusterBytes();
    const uint64_t maxClusters = kMaxDirectoryBytes / clusterBytes + 1;
    uint32_t cluster = dir.cluster;
    // Where a deleted directory's chain is gone, its next cluster is guessed
    // (FindDirectoryContinuation); a guessed cluster is trusted only as far as
    // its sectors still look like directory entries.
    bool guessed = false;
    uint64_t searchBudget = kMaxContinuationSearchBytes / clusterBytes + 1;
    ClusterSpans fileSpans;
    for (uint64_t n = 0; n < maxClusters && geometry_.IsDataCluster(cluster); ++n) {
        uint32_t got = 0;
        uint64_t first = geometry_.ClusterSector(cluster);
        // A cluster the folder's chain leads to that cannot be read loses its
        // entries: the scan says so. A guessed continuation proves nothing.
        if (ReadRelative(first, geometry_.sectorsPerCluster, clusterBuffer_.data(), got) != kSuccess &&
            !guessed)
            ++unreadableRecords_;
        if (got == 0) return;
        ByteView view(clusterBuffer_.data(), got);
        if (n == 0 && !dir.isRoot) {
            if (!IsDotPair(view.Sub(0, 32), view.Sub(32, 32))) return;
            if (dir.deleted) {
                // A deleted folder's first cluster may now belong to another
                // folder: then its ".." names that folder's parent, not ours.
                auto it = stagedFolders_.find(dir.cluster);
                uint32_t dotdot =
                    view.U16(32 + 26) | (geometry_.IsFat32() ? uint32_t{view.U16(32 + 20)} << 16 : 0);
                if (it != stagedFolders_.end()) {
                    uint32_t parent = it->second.parent;
                    bool parentIsRoot = parent == RootKey();
                    if (!(dotdot == parent ||
                          (parentIsRoot && (dotdot == 0 || dotdot == geometry_.rootCluster))))
                        return;
                }
            }
        }
        if (guessed) {
            const size_t trusted = DirectoryPrefix(view);
            if (trusted == 0) return;
            if (trusted < got)
                got = static_cast<uint32_t>(trusted);  // the rest is not walked, and ends the folder
            view = ByteView(clusterBuffer_.data(), got);
        }
        WalkEnd end = WalkDirectoryBuffer(view, names_, [&](const FatEntryInfo& e) {
            if (dir.deleted && e.kind == FatEntryInfo::Kind::kFile && e.size > 0) {
                // The clusters its data is assumed to fill are not searched
                // for the folder's next cluster.
                uint32_t start =
                    geometry_.IsFat32() ? (uint32_t{e.clusterHigh} << 16) | e.clusterLow : e.clusterLow;
                fileSpans.Add(start, (uint64_t{e.size} + clusterBytes - 1) / clusterBytes);
            }
            OnEntry(dir, e, AbsoluteSector(first) + e.offset / geometry_.bytesPerSector);
        });
        if (end != WalkEnd::kBufferDone || got < clusterBytes) return;
        uint32_t next = fat_.Entry(cluster);
        if (next == 0 && dir.deleted) {
            next = FindDirectoryContinuation(dir.cluster, cluster, fileSpans, searchBudget, 0);
            if (next == 0) return;
            guessed = true;
        } else if (next == 0) {
            // A live folder's chain is kept in the table; a free entry there is
            // damage, and only the cluster right after is tried.
            next = cluster + 1;
            if (!geometry_.IsDataCluster(next) || !fat_.IsFree(next)) return;
            guessed = true;
        }
        if (next == kFatEndOfChain || next == cluster) return;
        cluster = next;
    }
}

size_t CFastFatRecovery::DirectoryPrefix(ByteView cluster) const {
    const size_t sector = geometry_.bytesPerSector;
    size_t length = 0;
    while (length + sector <= cluster.Size() && IsSubdirectorySector(cluster.Data() + length, sector)) {
        length += sector;
    }
    return length;
}

uint32_t CFastFatRecovery::FindDirectoryContinuation(uint32_t owner, uint32_t after, const ClusterSpans& skip,
                                                     uint64_t& budget, int depth) {
    // Only free clusters are candidates, and the search ends at the first
    // cluster something live holds: a deleted folder never takes in a cluster
    // that belongs to a live file or folder. The data of the folder's own
    // files, written between its clusters, is passed over without reading.
    uint32_t c = after;
    while (budget > 0) {
        if (c >= geometry_.MaxCluster()) return 0;
        ++c;
        if (!fat_.IsFree(c)) return 0;
        if (uint32_t end = skip.EndOf(c)) {
            c = end - 1;
            continue;
        }
        auto claimed = continuationOwner_.find(c);
        if (claimed != continuationOwner_.end()) {
            if (claimed->second == owner) return c;
            continue;
        }
        if (readDirectories_.count(c) || stagedFolders_.count(c) || claimedFolders_.count(c)) continue;
        --budget;
        uint32_t got = 0;
        if (ReadRelative(geometry_.ClusterSector(c), 1, sector_.data(), got) != kSuccess ||
            got < geometry_.bytesPerSector)
            return 0;
        ByteView view(sector_.data(), got);
        if (IsDotPair(view.Sub(0, 32), view.Sub(32, 32))) {
            // Another folder starts here, often one inside this one written
            // between its clusters. Its own later clusters look just like ours,
            // so they are given to it first.
            if (depth < kMaxClaimDepth) ClaimChain(c, depth + 1);
            continue;
        }
        if (!IsSubdirectorySector(sector_.data(), got)) continue;
        continuationOwner_.emplace(c, owner);
        return c;
    }
    return 0;
}

void CFastFatRecovery::ClaimChain(uint32_t start, int depth) {
    if (!claimedFolders_.insert(start).second) return;
    const uint32_t clusterBytes = geometry_.ClusterBytes();
    const uint64_t maxClusters = kMaxDirectoryBytes / clusterBytes + 1;
    uint64_t budget = kMaxContinuationSearchBytes / clusterBytes + 1;
    ClusterSpans spans;
    LongNameCollector names;
    uint32_t cluster = start;
    bool guessed = false;
    for (uint64_t n = 0; n < maxClusters && geometry_.IsDataCluster(cluster); ++n) {
        uint32_t got = 0;
        ReadRelative(geometry_.ClusterSector(cluster), geometry_.sectorsPerCluster, clusterBuffer_.data(),
                     got);
        ByteView view(clusterBuffer_.data(), got);
        if (guessed) view = ByteView(clusterBuffer_.data(), DirectoryPrefix(view));
        if (view.Size() == 0) return;
        WalkEnd end = WalkDirectoryBuffer(view, names, [&](const FatEntryInfo& e) { AddFileSpan(e, spans); });
        if (end != WalkEnd::kBufferDone || view.Size() < clusterBytes) return;
        uint32_t next = fat_.Entry(cluster);
        if (next != 0) return;  // only a cleared chain is guessed
        next = FindDirectoryContinuation(start, cluster, spans, budget, depth);
        if (next == 0) return;
        guessed = true;
        cluster = next;
    }
}

void CFastFatRecovery::AddFileSpan(const FatEntryInfo& e, ClusterSpans& spans) const {
    if (e.kind != FatEntryInfo::Kind::kFile || e.size == 0) return;
    uint32_t start = geometry_.IsFat32() ? (uint32_t{e.clusterHigh} << 16) | e.clusterLow : e.clusterLow;
    const uint32_t clusterBytes = geometry_.ClusterBytes();
    spans.Add(start, (uint64_t{e.size} + clusterBytes - 1) / clusterBytes);
}

void CFastFatRecovery::ClusterSpans::Add(uint32_t first, uint64_t count) {
    if (first < 2 || count == 0) return;
    uint64_t end = std::min<uint64_t>(uint64_t{first} + count, 0xFFFFFFFFull);
    auto& stored = ends_[first];
    stored = std::max<uint32_t>(stored, static_cast<uint32_t>(end));
}

uint32_t CFastFatRecovery::ClusterSpans::EndOf(uint32_t cluster) const {
    auto it = ends_.upper_bound(cluster);
    if (it == ends_.begin()) return 0;
    --it;
    return cluster < it->second ? it->second : 0;
}

bool CFastFatRecovery::ClusterStartsWithDots(uint32_t cluster) {
    if (!geometry_.IsDataCluster(cluster)) return false;
    uint32_t got = 0;
    if (ReadRelative(geometry_.ClusterSector(cluster), 1, sector_.data(), got) != kSuccess || got < 64)
        return false;
    ByteView view(sector_.data(), got);
    return IsDotPair(view.Sub(0, 32), view.Sub(32, 32));
}

uint32_t CFastFatRecovery::GuessHighClusterByDots(uint16_t low) {
    for (uint32_t high = 0; high <= kMaxGuessedHigh; ++high) {
        uint32_t cluster = (high << 16) | low;
        if (cluster > geometry_.MaxCluster()) break;
        if (ClusterStartsWithDots(cluster)) return high;
    }
    return 0;
}

int CFastFatRecovery::CheckContent(uint32_t cluster, const std::string& extension, bool& readOk) {
    readOk = false;
    if (!geometry_.IsDataCluster(cluster)) return 1;
    uint32_t got = 0;
    uint64_t relative = geometry_.ClusterSector(cluster);
    if (ReadRelative(relative, 1, sector_.data(), got) != kSuccess || got == 0) return 1;
    readOk = true;
    bool agrees = MatchesExtension(sector_.data(), got, extension, &reader_, geometry_.bytesPerSector,
                                   AbsoluteSector(relative));
    return agrees ? 1 : 0;
}

bool CFastFatRecovery::RunHoldsSomethingElse(uint32_t first, uint64_t size) {
    const uint64_t clusterBytes = geometry_.ClusterBytes();
    const uint32_t bytesPerSector = geometry_.bytesPerSector;
    if (clusterBytes == 0 || bytesPerSector == 0 || size == 0 || !geometry_.IsDataCluster(first))
        return false;
    // The cluster that holds the file's last byte, found the way the copy
    // goes: on through the free clusters after the first.
    uint64_t clusters = (size + clusterBytes - 1) / clusterBytes;
    if (clusters > geometry_.MaxCluster()) return true;  // more than the volume holds
    // Each step looks at the table from where the last one stopped, so the
    // walk costs at most one pass over the table.
    uint32_t last = first;
    for (uint64_t n = 1; n < clusters; ++n) {
        last = fat_.NextFreeAfter(last);
        if (last == 0) return true;  // the volume ends before the file does
    }
    // Systems write a file's last sector whole, zeros after its end; other
    // bytes there belong to whatever was written in that sector later.
    size_t used = static_cast<size_t>(size % bytesPerSector);
    if (used == 0) return false;
    uint64_t lastSector = geometry_.ClusterSector(last) + ((size - 1) % clusterBytes) / bytesPerSector;
    uint32_t got = 0;
    if (ReadRelative(lastSector, 1, sector_.data(), got) != kSuccess || got == 0) return false;
    for (size_t i = used; i < bytesPerSector; ++i)
        if (sector_[i] != 0) return true;
    return false;
}

void CFastFatRecovery::OnEntry(const QueuedDirectory& dir, const FatEntryInfo& entry, uint64_t entrySector) {
    using Kind = FatEntryInfo::Kind;
    const bool fat32 = geometry_.IsFat32();
    const uint32_t low = entry.clusterLow;
    uint32_t cluster = fat32 ? (uint32_t{entry.clusterHigh} << 16) | low : low;
    if (entry.kind == Kind::kFile || entry.kind == Kind::kDirectory) siblingNames_.push_back(entry.name);
    const bool lostLetter =
        entry.deleted && !entry.hasLongName && entry.name.size() > 1 && entry.name[0] == '!';

    if (entry.kind == Kind::kDirectory) {
        if (fat32 && entry.deleted && entry.clusterHigh == 0 && low != 0)
            cluster = (GuessHighClusterByDots(static_cast<uint16_t>(low)) << 16) | low;
        if (cluster == 0 || cluster == dir.cluster || !geometry_.IsDataCluster(cluster)) return;
        if (stagedFolders_.count(cluster) || readDirectories_.count(cluster)) return;
        StagedFolder folder;
        FoundItemRecord& r = folder.record;
        r.letter = letter_;
        r.engineCode = static_cast<uint32_t>(EngineCode::kQuickFat);
        r.isFolder = 1;
        r.engineSpecific = (entry.deleted || dir.deleted) ? 1 : 0;
        r.contentCheck = 1;
        r.key = cluster;
        r.clusterBytes = kFolderClusterBytes;
        r.created = entry.times.created;
        r.accessed = entry.times.accessed;
        r.written = entry.times.written;
        r.dataStart = geometry_.dataStart * sourcePerVolumeSector_;
        r.location = entrySector * sourcePerVolumeSector_;
        r.partitionStart = partitionStart_;
        SetRecordName(r, entry.name);
        folder.parent = dir.cluster;
        folder.level = dir.level + 1;
        folder.deleted = entry.deleted || dir.deleted;
        stagedFolders_.emplace(cluster, folder);
        if (lostLetter) lostLetterFolders_.push_back(cluster);
        workQueue_.push_back({cluster, dir.level + 1, folder.deleted, false});
        return;
    }
    if (entry.kind != Kind::kFile) return;
    if (!entry.deleted && !dir.deleted) return;

    std::string extension = LowerExtension(entry.name);
    int contentCheck = 1;
    if (entry.size > 0 && !extension.empty()) {
        bool readOk = false;
        if (fat32 && entry.deleted && entry.clusterHigh == 0) {
            // Some systems clear the high half of a deleted entry's cluster: the
            // first half whose data agrees with the extension is taken.
            for (uint32_t high = 0; high <= kMaxGuessedHigh; ++high) {
                uint32_t candidate = (high << 16) | low;
                if (candidate > geometry_.MaxCluster()) break;
                int check = CheckContent(candidate, extension, readOk);
                if (!readOk) break;
                if (check == 1) {
                    cluster = candidate;
                    break;
                }
            }
        }
        contentCheck = CheckContent(cluster, extension, readOk);
    }
    // A deleted file is recovered as one run from its first cluster. When
    // that run now holds something else, the copy would not be the file.
    const bool chainCleared = entry.deleted || (fat_.Loaded() && fat_.IsFree(cluster));
    uint32_t pieces = 0;
    FragmentCheck order = FragmentCheck::kCannotTell;
    if (chainCleared && entry.size > 0 && contentCheck != static_cast<int>(kContentContradicts) &&
        HasFragmentCheck(extension) && geometry_.IsDataCluster(cluster)) {
        // Types whose structure tells where the bytes go wrong are followed
        // across a gap to where they go on.
        const PiecedFile file = FileOrder(cluster, entry.size, extension, true);
        order = file.check;
        if (order == FragmentCheck::kValidToEnd) {
            contentCheck = static_cast<int>(kContentWhole);
            pieces = file.pieces;
        } else if (order == FragmentCheck::kInvalidAt) {
            contentCheck = static_cast<int>(kContentDamaged);
        }
    }
    if (chainCleared && entry.size > 0 && contentCheck != static_cast<int>(kContentContradicts) &&
        order == FragmentCheck::kCannotTell) {
        if (RunHoldsSomethingElse(cluster, entry.size)) {
            contentCheck = static_cast<int>(kContentDamaged);
        } else if (!extension.empty()) {
            ContentVerdict verdict =
                CheckRunStructure(&reader_, geometry_.bytesPerSector,
                                  AbsoluteSector(geometry_.ClusterSector(cluster)), entry.size, extension);
            if (verdict != ContentVerdict::kNotChecked)
                contentCheck = static_cast<int>(ContentCheckValue(verdict));
        }
    }

    FoundItemRecord* r = log_->AppendRecord();
    uint32_t recordNumber = r->recordNumber;
    *r = FoundItemRecord{};
    r->recordNumber = recordNumber;
    r->letter = letter_;
    r->engineCode = static_cast<uint32_t>(EngineCode::kQuickFat);
    r->isFolder = 0;
    // Files: 1 when the entry itself is deleted (its chain was cleared), 0 for a
    // live entry inside a deleted folder (its chain may still be whole).
    r->engineSpecific = entry.deleted ? 1 : 0;
    r->contentCheck = static_cast<uint32_t>(contentCheck);
    SetRebuiltPieces(*r, pieces);
    r->key = cluster;
    r->clusterBytes = geometry_.ClusterBytes();
    r->created = entry.times.created;
    r->accessed = entry.times.accessed;
    r->written = entry.times.written;
    r->size = entry.size;
    r->dataStart = geometry_.dataStart * sourcePerVolumeSector_;
    r->location = entrySector * sourcePerVolumeSector_;
    r->partitionStart = partitionStart_;
    SetRecordName(*r, entry.name);
    if (lostLetter) lostLetterFiles_.push_back(*r);
    log_->AddChild(MakeRelationKey(dir.cluster, dir.level), recordNumber, cluster, nullptr);
    MarkAncestorsForPublishing(dir.cluster);
}

void CFastFatRecovery::MarkAncestorsForPublishing(uint32_t folderCluster) {
    uint32_t cluster = folderCluster;
    // Each step goes one level up; the level bound ends a chain that loops.
    for (uint32_t guard = 0; guard < 100000; ++guard) {
        if (cluster == RootKey()) return;
        auto it = stagedFolders_.find(cluster);
        if (it == stagedFolders_.end()) return;
        if (!publishSet_.insert(cluster).second) return;  // it and its ancestors are already marked
        foldersToPublish_.push_back(cluster);
        if (it->second.parent == cluster) return;
        cluster = it->second.parent;
    }
}

int CFastFatRecovery::PublishFolders() {
    for (uint32_t cluster : foldersToPublish_) {
        auto it = stagedFolders_.find(cluster);
        if (it == stagedFolders_.end()) continue;
        const StagedFolder& folder = it->second;
        FoundItemRecord* r = log_->AppendRecord();
        uint32_t recordNumber = r->recordNumber;
        *r = folder.record;
        r->recordNumber = recordNumber;
        r->contentCheck = 1;
        log_->AddChild(MakeRelationKey(folder.parent, folder.level - 1), recordNumber, folder.record.key,
                       folder.record.name);
    }
    return 0;
}

PiecedFile CFastFatRecovery::FileOrder(uint32_t first, uint64_t size, const std::string& extension,
                                       bool scanning) {
    ClusterSpace space;
    space.clusterBytes = geometry_.ClusterBytes();
    space.nextCandidate = [this](uint32_t cluster) { return fat_.NextFreeAfter(cluster); };
    space.readCluster = [this](uint32_t cluster, uint8_t* out) {
        if (!geometry_.IsDataCluster(cluster)) return false;
        uint32_t got = 0;
        return ReadRelative(geometry_.ClusterSector(cluster), geometry_.sectorsPerCluster, out, got) ==
                   kSuccess &&
               got >= geometry_.ClusterBytes();
    };
    if (!scanning) return FindFileOrder(space, first, size, extension, FragmentSearchLimits{});
    return searchBudget_.Run([&](const FragmentSearchLimits& limits) {
        return FindFileOrder(space, first, size, extension, limits);
    });
}

template <typename Sink>
int CFastFatRecovery::CopyData(const FoundItemRecord& record, Sink&& write) {
    if (!opened_) return kErrInvalidHandle;
    if (record.clusterBytes > kMaxClusterBytes) return kErrWriteFault;
    uint64_t remaining = record.size;
    if (remaining == 0) return kSuccess;
    const uint32_t clusterBytes = geometry_.ClusterBytes();
    if (RebuiltPieces(record) >= 2) {
        // Put back together at the scan: the same search over the same bytes
        // gives the same order.
        const PiecedFile file = FileOrder(record.key, record.size, LowerExtension(record.Name()), false);
        for (uint32_t cluster : file.clusters) {
            uint32_t got = 0;
            int rc = ReadRelative(geometry_.ClusterSector(cluster), geometry_.sectorsPerCluster,
                                  clusterBuffer_.data(), got);
            if (got < clusterBytes && remaining > got) return rc != kSuccess ? rc : kErrReadFault;
            const uint32_t take = static_cast<uint32_t>(std::min<uint64_t>(remaining, got));
            if (int wrc = write(clusterBuffer_.data(), take)) return wrc;
            remaining -= take;
            if (remaining == 0) return kSuccess;
        }
        return kErrHandleEof;
    }
    uint32_t cluster = record.key;
    // A chain still in the FAT is followed. Where it is free (a deleted file's
    // chain is cleared) the file is taken to go on in the next free cluster:
    // allocated clusters in the way belong to other files.
    const uint32_t firstEntry = fat_.Entry(cluster);
    const bool chainKept = firstEntry != 0 && (record.engineSpecific & 1) == 0;
    uint64_t clustersLeft = uint64_t{geometry_.clusterCount} + 1;
    while (remaining > 0) {
        if (!geometry_.IsDataCluster(cluster) || clustersLeft-- == 0) return kErrHandleEof;
        uint32_t got = 0;
        int rc = ReadRelative(geometry_.ClusterSector(cluster), geometry_.sectorsPerCluster,
                              clusterBuffer_.data(), got);
        if (got < clusterBytes && remaining > got) return rc != kSuccess ? rc : kErrReadFault;
        uint32_t take = static_cast<uint32_t>(std::min<uint64_t>(remaining, got));
        if (int wrc = write(clusterBuffer_.data(), take)) return wrc;
        remaining -= take;
        if (remaining == 0) break;
        uint32_t next = fat_.Entry(cluster);
        if (chainKept && geometry_.IsDataCluster(next)) {
            cluster = next;
        } else if (next == 0 || !chainKept) {
            cluster = fat_.NextFreeAfter(cluster);
        } else {
            return kErrHandleEof;  // the chain ends before the size is reached
        }
    }
    return kSuccess;
}

int CFastFatRecovery::CopyFileData(const FoundItemRecord& record, const CopyTarget& target) {
    const uint64_t size = record.size;
    uint64_t written = 0;
    int rc = CopyData(record, [&](const uint8_t* data, uint32_t length) -> int {
        int wrc = target.write(data, length);
        if (wrc != kSuccess) return wrc;
        written += length;
        if (written < size && target.progress) {
            if (int answer = target.progress(static_cast<int>(written * 100 / size)); answer != 0)
                return answer;
        }
        return 0;
    });
    if (rc == kSuccess) return target.progress ? target.progress(100) : 0;
    if (rc > 0 && target.failed) target.failed(rc);
    return rc;
}

EngineStatus CFastFatRecovery::LoadAllocationMap() {
    if (!opened_) return kErrInvalidHandle;
    const uint32_t clusters = geometry_.clusterCount;
    bitmap_.assign((uint64_t{clusters} + 7) / 8, 0);
    for (uint32_t i = 0; i < clusters; ++i) {
        if (fat_.Entry(i + 2) != 0) bitmap_[i / 8] |= static_cast<uint8_t>(1u << (i % 8));
    }
    return kSuccess;
}

bool CFastFatRecovery::NextFreeExtent(uint64_t& start, uint64_t& length) {
    length = 0;
    if (bitmap_.empty()) return 0;
    if (start >= partitionSectors_) {
        start = partitionSectors_;
        return 1;
    }
    // Worked out in the volume's sectors, answered in the source's.
    const uint64_t scale = sourcePerVolumeSector_;
    const uint64_t spc = geometry_.sectorsPerCluster;
    const uint64_t clusters = geometry_.clusterCount;
    auto bit = [&](uint64_t n) { return (bitmap_[n / 8] >> (n % 8)) & 1; };
    const uint64_t at = start / scale;
    uint64_t relative = at > geometry_.dataStart ? at - geometry_.dataStart : 0;
    uint64_t cluster = relative / spc;
    if (cluster >= clusters) {
        start = partitionSectors_;
        return 1;
    }
    if (bit(cluster)) {
        uint64_t c = cluster;
        while (c < clusters && bit(c)) {
            if (c % 8 == 0 && c + 8 <= clusters && bitmap_[c / 8] == 0xFF)
                c += 8;
            else
                ++c;
        }
        if (c >= clusters) return 1;  // nothing free after it: the start stays
        cluster = c;
        relative = cluster * spc;
    }
    uint64_t end = cluster;
    while (end < clusters && !bit(end)) {
        if (end % 8 == 0 && end + 8 <= clusters && bitmap_[end / 8] == 0)
            end += 8;
        else
            ++end;
    }
    start = (geometry_.dataStart + relative) * scale;
    length = (end * spc - relative) * scale;
    if (start >= partitionSectors_)
        length = 0;
    else if (start + length > partitionSectors_)
        length = partitionSectors_ - start;
    return 1;
}

}  // namespace sorvane
