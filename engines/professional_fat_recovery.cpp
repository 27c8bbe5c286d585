#include "engines/professional_fat_recovery.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <set>
#include <unordered_map>
#include <utility>

#include "carving/content_check.h"
#include "carving/file_signature.h"
#include "carving/fragment_check.h"
#include "device/boot_sector.h"
#include "device/byte_view.h"
#include "engines/fat_lost_letter_pass.h"
#include "fs/fat_directory.h"
#include "fs/fat_directory_sector.h"
#include "platform/result_codes.h"
#include "results/file_categories.h"
#include "results/file_condition.h"
#include "results/scan_checkpoint.h"

namespace sorvane {
namespace {

constexpr uint32_t kMaxClusterBytesToCopy = 104857600;
constexpr uint32_t kHighWordCandidates = 256;
constexpr size_t kMaxLongNameParts = 19;
constexpr size_t kMaxChainDepth = 256;

uint32_t EntryCluster(ByteView e) { return (static_cast<uint32_t>(e.U16(20)) << 16) | e.U16(26); }

// How many runs of consecutive clusters `clusters` makes.
uint32_t RunCount(const std::vector<uint32_t>& clusters) {
    uint32_t runs = clusters.empty() ? 0 : 1;
    for (size_t i = 1; i < clusters.size(); ++i)
        if (clusters[i] != clusters[i - 1] + 1) ++runs;
    return runs;
}

bool IsPowerOfTwoUpTo128(uint64_t v) { return v >= 1 && v <= 128 && (v & (v - 1)) == 0; }

// The directory a deep-scan name is made for: names are what the disk says,
// with a long name preferred; a deleted short name shows "!" for its lost
// first character.
std::string EntryName(ByteView entry, const LongNameCollector& names, bool useLongName) {
    if (useLongName && !names.Empty()) {
        std::string name = names.Utf8();
        if (!name.empty()) return name;
    }
    return ShortEntryName(entry);
}

void WriteGuess(CheckpointWriter& w, const FatVolumeGuess& g) {
    w.U32(g.sectorsPerCluster);
    w.U32(g.dataAreaOffset);
    w.U64(g.volumeStart);
}

bool ReadGuess(CheckpointReader& r, FatVolumeGuess& g) {
    return r.U32(g.sectorsPerCluster) && r.U32(g.dataAreaOffset) && r.U64(g.volumeStart);
}

void WriteOptionalGuess(CheckpointWriter& w, const std::optional<FatVolumeGuess>& g) {
    w.Bool(g.has_value());
    if (g) WriteGuess(w, *g);
}

bool ReadOptionalGuess(CheckpointReader& r, std::optional<FatVolumeGuess>& g) {
    bool present = false;
    if (!r.Bool(present)) return false;
    g.reset();
    if (!present) return true;
    FatVolumeGuess guess;
    if (!ReadGuess(r, guess)) return false;
    g = guess;
    return true;
}

}  // namespace

std::optional<uint64_t> FatVolumeGuess::ClusterSector(uint32_t cluster) const {
    if (sectorsPerCluster == 0) return std::nullopt;
    if (cluster == 0) {
        if (DataAreaStart() < 32) return std::nullopt;
        return DataAreaStart() - 32;
    }
    if (cluster == 1) return std::nullopt;
    return DataAreaStart() + static_cast<uint64_t>(cluster - 2) * sectorsPerCluster;
}

std::optional<uint32_t> FatVolumeGuess::ClusterAt(uint64_t sector) const {
    if (sectorsPerCluster == 0) return std::nullopt;
    const uint64_t base = DataAreaStart();
    if (sector >= base) {
        uint64_t delta = sector - base;
        if (delta % sectorsPerCluster != 0) return std::nullopt;
        uint64_t k = delta / sectorsPerCluster + 2;
        if (k > 0x0FFFFFFF) return std::nullopt;
        return static_cast<uint32_t>(k);
    }
    if (sector + 2ull * sectorsPerCluster == base) return 0u;
    return std::nullopt;
}

CProfessionalFatRecovery::CProfessionalFatRecovery() = default;
CProfessionalFatRecovery::~CProfessionalFatRecovery() = default;

EngineStatus CProfessionalFatRecovery::Open(const ScanSource& source) {
    if (reader_.IsOpen()) return 0;
    if (!source.reader.IsOpen()) return kErrInvalidHandle;
    reader_ = source.reader;
    sectorSize_ = source.sectorSize;
    rangeStart_ = source.start;
    rangeLength_ = source.length;
    letter_ = source.letter;
    passContext_.reset();
    consolidationContext_.reset();
    bootTableTried_ = bootTableLoaded_ = false;
    return 0;
}

void CProfessionalFatRecovery::ResetLists() {
    guesses_.clear();
    sightings_.clear();
    orphans_.clear();
    fragments_.clear();
    stored_.clear();
    storedBytes_ = 0;
    known_.clear();
    needed_.clear();
    continuations_.clear();
    levelCache_.clear();
    bootVolume_ = false;
    passContext_.reset();
    consolidationContext_.reset();
    dropped_ = 0;
}

int CProfessionalFatRecovery::StartScanLog(const std::string* name) {
    ResetLists();
    searchBudget_.Restart();
    std::string logName =
        name ? *name : "Pro_Fat_" + FastLogNameNow(static_cast<int64_t>(rangeStart_)).substr(5);
    return ReplaceLog(logName);
}

bool CProfessionalFatRecovery::ReadOneSector(uint64_t sector, uint8_t* buffer) {
    uint32_t got = 0;
    return ReadSectors(1, reader_, buffer, sector, sectorSize_, &got) == 0 && got == 1;
}

void CProfessionalFatRecovery::RegisterBootSector() {
    std::vector<uint8_t> boot(4096);
    uint32_t got = 0;
    uint32_t count = static_cast<uint32_t>(boot.size() / sectorSize_);
    if (count == 0) count = 1, boot.resize(sectorSize_);
    // A boot sector that cannot be read is none.
    static_cast<void>(ReadSectors(count, reader_, boot.data(), rangeStart_, sectorSize_, &got));
    if (got == 0 || !IsFatBootSector(boot.data(), sectorSize_)) return;
    ByteView b(boot.data(), boot.size());
    // The boot sector counts in the volume's own sectors, which may be larger
    // than the source's (a FAT volume of 4096-byte sectors in an image): every
    // guess counts in the source's.
    const uint32_t volumeSector = b.U16(11);
    if (volumeSector < sectorSize_ || volumeSector % sectorSize_ != 0) return;
    const uint64_t scale = volumeSector / sectorSize_;
    FatVolumeGuess guess;
    guess.volumeStart = rangeStart_;
    guess.sectorsPerCluster = static_cast<uint32_t>(b.U8(13) * scale);
    uint64_t offset;
    if (b.Equals(82, "FAT32   ")) {
        offset = (b.U16(14) + static_cast<uint64_t>(b.U8(16)) * b.U32(36)) * scale;
        rootCluster_ = b.U32(44);
    } else {
        // The fixed root folder the guesses place 32 sectors before cluster 2.
        offset = (b.U16(14) + static_cast<uint64_t>(b.U8(16)) * b.U16(22)) * scale + 32;
        rootCluster_ = 0;
    }
    if (guess.sectorsPerCluster == 0 || offset > 0xFFFFFFFFull) return;
    guess.dataAreaOffset = static_cast<uint32_t>(offset);
    guesses_.insert(guesses_.begin(), guess);
    bootVolume_ = true;
}

std::optional<FatVolumeGuess> CProfessionalFatRecovery::LookupGeometry(uint32_t cluster,
                                                                       uint64_t sector) const {
    for (const FatVolumeGuess& g : guesses_) {
        auto first = g.ClusterSector(cluster);
        if (first && *first == sector) return g;
    }
    return std::nullopt;
}

void CProfessionalFatRecovery::AddGuess(const FatVolumeGuess& guess) {
    if (std::find(guesses_.begin(), guesses_.end(), guess) != guesses_.end()) return;
    if (guesses_.size() >= limits_.maxGuesses) {
        ++dropped_;
        return;
    }
    guesses_.push_back(guess);
    levelCache_.clear();
}

void CProfessionalFatRecovery::AddSighting(uint32_t cluster, uint64_t sector) {
    for (const FatDirSighting& earlier : sightings_) {
        if (earlier.cluster == cluster) continue;
        FatDirSighting a = earlier, b{cluster, sector};
        if (a.sector > b.sector) std::swap(a, b);
        if (b.cluster <= a.cluster || b.sector == a.sector) continue;
        uint64_t sectorDistance = b.sector - a.sector;
        uint64_t clusterDistance = b.cluster - a.cluster;
        if (sectorDistance % clusterDistance != 0) continue;
        uint64_t spc = sectorDistance / clusterDistance;
        if (!IsPowerOfTwoUpTo128(spc)) continue;
        uint64_t below = spc * (static_cast<uint64_t>(a.cluster) - 2);
        if (a.cluster < 2 || below > a.sector) continue;
        uint64_t base = a.sector - below;
        if (base != b.sector - spc * (static_cast<uint64_t>(b.cluster) - 2)) continue;
        FatVolumeGuess guess;
        guess.sectorsPerCluster = static_cast<uint32_t>(spc);
        // A data area that starts before the range cannot be an offset from
        // its start; the data area's own sector is then the volume start.
        if (base >= rangeStart_ && base - rangeStart_ <= 0xFFFFFFFFull) {
            guess.volumeStart = rangeStart_;
            guess.dataAreaOffset = static_cast<uint32_t>(base - rangeStart_);
        } else {
            guess.volumeStart = base;
            guess.dataAreaOffset = 0;
        }
        AddGuess(guess);
        break;
    }
    if (sightings_.size() >= limits_.maxSightings) {
        // The oldest sighting is the least likely to pair with what comes next.
        sightings_.erase(sightings_.begin());
        ++dropped_;
    }
    sightings_.push_back({cluster, sector});
}

void CProfessionalFatRecovery::OnDirectoryStart(const uint8_t* sector, uint64_t absoluteSector) {
    ByteView v(sector, sectorSize_);
    const uint32_t cluster = EntryCluster(v);
    auto guess = LookupGeometry(cluster, absoluteSector);
    if (!guess) {
        AddSighting(cluster, absoluteSector);
        guess = LookupGeometry(cluster, absoluteSector);
    }
    if (guess) {
        PlaceOrphans();
        // The sectors that follow in this cluster belong to the same directory.
        EnterContext(DirContext{*guess, cluster, absoluteSector}, sector);
    }
    ParseAndJoin(std::vector<uint8_t>(sector, sector + sectorSize_), absoluteSector, cluster, guess);
}

namespace {

// True when no entry of the sector marks the end of its directory.
bool SectorFullOfEntries(const uint8_t* sector, size_t size) {
    for (size_t off = 0; off + kFatEntrySize <= size; off += kFatEntrySize)
        if (sector[off] == 0) return false;
    return true;
}

}  // namespace

void CProfessionalFatRecovery::EnterContext(const DirContext& context, const uint8_t* sector) {
    passContext_ = context;
    contextFull_ = true;
    contextNext_ = context.sector;
    contextDataEnd_ = 0;
    FollowContext(sector, context.sector);
}

void CProfessionalFatRecovery::FollowContext(const uint8_t* sector, uint64_t absoluteSector) {
    const FatVolumeGuess& guess = passContext_->guess;
    if (absoluteSector == passContext_->sector) contextDataEnd_ = 0;  // a new cluster
    contextFull_ = contextFull_ && absoluteSector == contextNext_ && SectorFullOfEntries(sector, sectorSize_);
    contextNext_ = absoluteSector + 1;
    contextDataEnd_ = std::max(contextDataEnd_, FilesDataEnd(guess, sector, nullptr));
    // The cluster's last sector, full of entries: its folder goes on in the
    // cluster after the data of its files, unless it goes on right here.
    if (contextFull_ && contextDataEnd_ != 0 && passContext_->cluster != 0 &&
        absoluteSector + 1 == passContext_->sector + guess.sectorsPerCluster &&
        continuations_.size() < limits_.maxDirectories) {
        continuations_[{guess.volumeStart, guess.dataAreaOffset, guess.sectorsPerCluster, contextDataEnd_}] =
            passContext_->cluster;
    }
}

uint32_t CProfessionalFatRecovery::FilesDataEnd(const FatVolumeGuess& guess, const uint8_t* sector,
                                                uint32_t* firstStart) const {
    uint32_t end = 0;
    ByteView v(sector, sectorSize_);
    for (size_t off = 0; off + kFatEntrySize <= sectorSize_; off += kFatEntrySize) {
        ByteView e = v.Sub(off, kFatEntrySize);
        if (e.U8(0) == 0) break;
        const uint32_t after = DataEndOf(guess, e);
        if (after == 0) continue;
        if (firstStart) {
            *firstStart = EntryCluster(e);
            return after;
        }
        end = std::max(end, after);
    }
    return end;
}

uint32_t CProfessionalFatRecovery::DataEndOf(const FatVolumeGuess& guess, ByteView e) const {
    const uint64_t clusterBytes = uint64_t{guess.sectorsPerCluster} * sectorSize_;
    const uint8_t attr = e.U8(11);
    if (clusterBytes == 0 || attr == kFatAttrLongName || (attr & (kFatAttrDirectory | kFatAttrVolumeLabel)) ||
        e.U32(28) == 0)
        return 0;
    const uint64_t first = EntryCluster(e);
    const uint64_t after = first + (e.U32(28) + clusterBytes - 1) / clusterBytes;
    return first < 2 || after > 0x0FFFFFFF ? 0 : static_cast<uint32_t>(after);
}

std::optional<uint32_t> CProfessionalFatRecovery::ContinuedFolder(const FatVolumeGuess& guess,
                                                                  uint32_t cluster, const uint8_t* sector) {
    auto take = [&](uint32_t at) -> std::optional<uint32_t> {
        auto it = continuations_.find({guess.volumeStart, guess.dataAreaOffset, guess.sectorsPerCluster, at});
        if (it == continuations_.end()) return std::nullopt;
        const uint32_t folder = it->second;
        continuations_.erase(it);
        return folder;
    };
    // Most systems add the folder's cluster when the entry is made, before
    // the file's data; some write the data first, so the first file the new
    // cluster lists lies between the two.
    if (auto folder = take(cluster)) return folder;
    uint32_t firstStart = 0;
    if (FilesDataEnd(guess, sector, &firstStart) != cluster) return std::nullopt;
    return take(firstStart);
}

bool CProfessionalFatRecovery::FragmentContinues(const FatNameFragment& fragment, const uint8_t* sector,
                                                 uint64_t absoluteSector) const {
    ByteView e(sector, kFatEntrySize);
    const uint8_t attr = e.U8(11);
    if (attr == kFatAttrLongName) return e.U8(13) == fragment.checksum;
    if (e.U8(0) == kFatDeletedMark) {
        return fragment.guess && absoluteSector > fragment.sector &&
               absoluteSector - fragment.sector < fragment.guess->sectorsPerCluster;
    }
    return ShortNameChecksum(e) == fragment.checksum;
}

void CProfessionalFatRecovery::OnDirectorySector(const uint8_t* sector, uint64_t absoluteSector) {
    for (size_t i = 0; i < fragments_.size(); ++i) {
        if (!FragmentContinues(fragments_[i], sector, absoluteSector)) continue;
        FatNameFragment fragment = std::move(fragments_[i]);
        fragments_.erase(fragments_.begin() + static_cast<std::ptrdiff_t>(i));
        std::vector<uint8_t> joined = std::move(fragment.bytes);
        joined.insert(joined.end(), sector, sector + sectorSize_);
        auto guess =
            fragment.guess ? fragment.guess : LookupGeometry(fragment.directoryCluster, fragment.sector);
        ParseAndJoin(std::move(joined), fragment.sector, fragment.directoryCluster, guess);
        return;
    }
    if (passContext_) {
        // The context's sector is the first of its cluster: the rest of that
        // cluster belongs to the same directory, and so does the next cluster
        // when this one was full and the entries go straight on.
        const uint64_t end = passContext_->sector + passContext_->guess.sectorsPerCluster;
        const bool sameCluster = absoluteSector >= passContext_->sector && absoluteSector < end;
        const bool goesOn = absoluteSector == end && contextFull_ && contextNext_ == absoluteSector;
        if (sameCluster || goesOn) {
            if (goesOn) passContext_->sector = absoluteSector;
            FollowContext(sector, absoluteSector);
            DirContext ctx = *passContext_;
            ParseAndJoin(std::vector<uint8_t>(sector, sector + sectorSize_), absoluteSector, ctx.cluster,
                         ctx.guess);
            return;
        }
    }
    for (const FatVolumeGuess& g : guesses_) {
        auto k = g.ClusterAt(absoluteSector);
        if (!k) continue;
        const uint32_t folder = ContinuedFolder(g, *k, sector).value_or(*k);
        EnterContext(DirContext{g, folder, absoluteSector}, sector);
        FatVolumeGuess guess = g;
        ParseAndJoin(std::vector<uint8_t>(sector, sector + sectorSize_), absoluteSector, folder, guess);
        return;
    }
    if (storedBytes_ + sectorSize_ > limits_.maxStoredBytes) {
        ++dropped_;
        return;
    }
    auto [it, inserted] = stored_.try_emplace(absoluteSector);
    if (inserted) {
        it->second.bytes.assign(sector, sector + sectorSize_);
        storedBytes_ += sectorSize_;
    }
}

void CProfessionalFatRecovery::ParseAndJoin(std::vector<uint8_t> buffer, uint64_t firstSector,
                                            std::optional<uint32_t> cluster,
                                            std::optional<FatVolumeGuess> guess) {
    // Each join consumes a stored sector, so this ends; the bound guards a
    // chain of joins on hostile input.
    for (int joins = 0; joins < 64; ++joins) {
        uint32_t directoryCluster = 0;
        OpenName open =
            ParseEntries(buffer.data(), buffer.size(), firstSector, cluster, guess, directoryCluster);
        if (!open.open) return;
        std::vector<uint8_t> saved(buffer.begin() + static_cast<std::ptrdiff_t>(open.offset), buffer.end());
        uint64_t savedSector = firstSector + open.offset / sectorSize_;
        // The continuation may have been met earlier in the pass and stored.
        std::optional<std::pair<const uint64_t, StoredSector>*> found;
        for (auto& entry : stored_) {
            StoredSector& s = entry.second;
            if (s.used || s.bytes.size() < kFatEntrySize) continue;
            ByteView e(s.bytes.data(), kFatEntrySize);
            bool continues = false;
            if (e.U8(11) == kFatAttrLongName && e.U8(13) == open.checksum) {
                continues = true;
                if (guess) {
                    auto first = guess->ClusterSector(directoryCluster);
                    continues =
                        first && entry.first >= *first && entry.first < *first + guess->sectorsPerCluster;
                }
            } else if (e.U8(11) != kFatAttrLongName && e.U8(0) != kFatDeletedMark && e.U8(0) != 0 &&
                       ShortNameChecksum(ByteView(s.bytes.data(), kFatEntrySize)) == open.checksum) {
                continues = true;
            }
            if (continues) {
                found = &entry;
                break;
            }
        }
        if (!found) {
            if (fragments_.size() >= limits_.maxFragments) {
                fragments_.erase(fragments_.begin());
                ++dropped_;
            }
            FatNameFragment fragment;
            fragment.checksum = open.checksum;
            fragment.bytes = std::move(saved);
            fragment.sector = savedSector;
            fragment.directoryCluster = directoryCluster;
            fragment.guess = guess;
            fragments_.push_back(std::move(fragment));
            return;
        }
        StoredSector& next = (*found)->second;
        next.used = true;
        saved.insert(saved.end(), next.bytes.begin(), next.bytes.end());
        buffer = std::move(saved);
        firstSector = savedSector;
        cluster = directoryCluster;
    }
}

bool CProfessionalFatRecovery::IsDirectoryStartAt(const FatVolumeGuess& guess, uint32_t cluster) {
    auto first = guess.ClusterSector(cluster);
    if (!first || cluster < 2) return false;
    scratch_.resize(sectorSize_);
    return ReadOneSector(*first, scratch_.data()) && IsFatDirectoryStart(scratch_.data(), sectorSize_, 0);
}

std::optional<uint32_t> CProfessionalFatRecovery::ParentOnDisk(uint32_t cluster,
                                                               const FatVolumeGuess& guess) {
    auto first = guess.ClusterSector(cluster);
    if (!first) return std::nullopt;
    scratch_.resize(sectorSize_);
    if (!ReadOneSector(*first, scratch_.data())) return std::nullopt;
    if (!IsFatDirectoryStart(scratch_.data(), sectorSize_, 0)) return std::nullopt;
    return EntryCluster(ByteView(scratch_.data() + kFatEntrySize, kFatEntrySize));
}

uint32_t CProfessionalFatRecovery::SearchHighWord(uint16_t low, const FatVolumeGuess& guess,
                                                  const std::string& extension, bool directory) {
    scratch_.resize(sectorSize_);
    const uint64_t rangeEnd = rangeStart_ + rangeLength_;
    for (uint32_t h = 0; h <= kHighWordCandidates; ++h) {
        uint32_t cluster = (h << 16) | low;
        auto first = guess.ClusterSector(cluster);
        if (!first || *first >= rangeEnd) break;
        if (!ReadOneSector(*first, scratch_.data())) continue;
        if (directory) {
            if (scratch_[0] == '.' && scratch_[1] == ' ' && scratch_[32] == '.' && scratch_[33] == '.')
                return cluster;
        } else if (MatchesExtension(scratch_.data(), sectorSize_, extension, &reader_, sectorSize_, *first)) {
            return cluster;
        }
    }
    return low;
}

uint32_t CProfessionalFatRecovery::FolderLevel(uint32_t cluster, const FatVolumeGuess& guess) {
    if (cluster == 0 || cluster == rootCluster_) return 0;
    auto key = std::make_pair(guess.DataAreaStart() * 256 + guess.sectorsPerCluster, cluster);
    if (auto it = levelCache_.find(key); it != levelCache_.end()) return it->second;
    uint32_t level = 0;
    std::set<uint32_t> visited;
    uint32_t c = cluster;
    std::vector<uint8_t> sector(sectorSize_);
    while (visited.size() < kMaxChainDepth) {
        visited.insert(c);
        auto first = guess.ClusterSector(c);
        if (!first || !ReadOneSector(*first, sector.data())) {
            ++level;
            break;
        }
        ByteView e(sector.data(), sector.size());
        if (e.U8(11) == kFatAttrVolumeLabel) break;
        ++level;
        if (!IsFatDirectoryStart(sector.data(), sector.size(), 0)) break;
        uint32_t parent = EntryCluster(e.Sub(kFatEntrySize, kFatEntrySize));
        if (parent == 0 || parent == rootCluster_ || visited.count(parent)) break;
        c = parent;
    }
    if (levelCache_.size() > 65536) levelCache_.clear();
    levelCache_[key] = level;
    return level;
}

uint32_t CProfessionalFatRecovery::ContentCheck(const FoundItemRecord& record) {
    std::string ext = LowerExtension(record.Name());
    if (ext.empty() || record.key < 2 || record.clusterBytes == 0) return 1;
    FatVolumeGuess guess{record.clusterBytes / sectorSize_, static_cast<uint32_t>(record.dataStart),
                         record.partitionStart};
    auto first = guess.ClusterSector(record.key);
    if (!first) return 1;
    std::vector<uint8_t> sector(sectorSize_);
    if (!ReadOneSector(*first, sector.data())) return 1;
    return MatchesExtension(sector.data(), sector.size(), ext, &reader_, sectorSize_, *first) ? 1 : 0;
}

bool CProfessionalFatRecovery::LoadBootTable() {
    if (bootTableTried_) return bootTableLoaded_;
    bootTableTried_ = true;
    std::vector<uint8_t> boot(sectorSize_);
    FatGeometry geometry;
    if (!ReadOneSector(rangeStart_, boot.data()) ||
        !ParseFatBootSector(ByteView(boot.data(), boot.size()), geometry) ||
        geometry.bytesPerSector != sectorSize_)
        return false;
    bootFat_ = FatTable();
    if (bootFat_.Load(reader_, rangeStart_, geometry) != 0) return false;
    bootGeometry_ = geometry;
    return bootTableLoaded_ = true;
}

bool CProfessionalFatRecovery::OnBootVolume(const FoundItemRecord& record) {
    return LoadBootTable() && record.partitionStart == rangeStart_ &&
           record.dataStart == bootGeometry_.dataStart &&
           record.clusterBytes == bootGeometry_.ClusterBytes() && bootGeometry_.IsDataCluster(record.key);
}

PiecedFile CProfessionalFatRecovery::BootVolumeOrder(const FoundItemRecord& record,
                                                     const FragmentSearchLimits& limits) {
    ClusterSpace space;
    space.clusterBytes = bootGeometry_.ClusterBytes();
    space.nextCandidate = [this](uint32_t cluster) { return bootFat_.NextFreeAfter(cluster); };
    space.readCluster = [this](uint32_t cluster, uint8_t* out) {
        if (!bootGeometry_.IsDataCluster(cluster)) return false;
        uint32_t got = 0;
        const uint32_t count = bootGeometry_.sectorsPerCluster;
        return ReadSectors(count, reader_, out, rangeStart_ + bootGeometry_.ClusterSector(cluster),
                           sectorSize_, &got) == 0 &&
               got == count;
    };
    return FindFileOrder(space, record.key, record.size, LowerExtension(record.Name()), limits);
}

void CProfessionalFatRecovery::PutBackTogether(FoundItemRecord& record) {
    if (record.size == 0 || record.contentCheck == kContentContradicts ||
        !HasFragmentCheck(LowerExtension(record.Name())) || searchBudget_.Exhausted() ||
        !OnBootVolume(record))
        return;
    // Where the table shows the first cluster free, the entry's chain went
    // with it, and the clusters in use on the way belong to later files. The
    // table is read in windows: looking an entry up counts against the share.
    const PiecedFile file = searchBudget_.Run([&](const FragmentSearchLimits& limits) {
        return bootFat_.IsFree(record.key) ? BootVolumeOrder(record, limits) : PiecedFile{};
    });
    const uint32_t runs = RunCount(file.clusters);
    if (file.check == FragmentCheck::kValidToEnd && runs <= kMaxRebuiltPieces) {
        record.contentCheck = kContentWhole;
        SetRebuiltPieces(record, runs);
    } else if (file.check == FragmentCheck::kInvalidAt) {
        record.contentCheck = kContentDamaged;
    }
}

void CProfessionalFatRecovery::WriteFile(const FoundItemRecord& record, uint32_t directoryCluster,
                                         const FatVolumeGuess& guess) {
    if (!log_) return;
    FoundItemRecord filled = record;
    filled.clusterBytes = guess.sectorsPerCluster * sectorSize_;
    filled.dataStart = guess.dataAreaOffset;
    filled.partitionStart = guess.volumeStart;
    filled.contentCheck = ContentCheck(filled);
    PutBackTogether(filled);
    uint32_t level = FolderLevel(directoryCluster, guess);
    FoundItemRecord* slot = log_->AppendRecord();
    uint32_t number = slot->recordNumber;
    *slot = filled;
    slot->recordNumber = number;
    log_->AddChild(MakeRelationKey(NormaliseCluster(directoryCluster), level), number, 0, nullptr);
}

void CProfessionalFatRecovery::RegisterNeeded(uint32_t directoryCluster,
                                              const std::optional<FatVolumeGuess>& guess, uint64_t sector) {
    std::set<uint32_t> chain;
    uint32_t c = directoryCluster;
    uint64_t seenAt = sector;
    while (c >= 2 && c != rootCluster_ && chain.size() < kMaxChainDepth) {
        if (!chain.insert(c).second) break;
        if (needed_.count(c)) break;  // its ancestors were registered with it
        if (needed_.size() >= limits_.maxDirectories) {
            ++dropped_;
            break;
        }
        needed_[c] = NeededDirectory{guess, seenAt};
        std::optional<uint32_t> parent;
        if (auto it = known_.find(c); it != known_.end())
            parent = it->second.parent;
        else if (guess)
            parent = ParentOnDisk(c, *guess);
        if (!parent) break;
        c = *parent;
        if (guess) {
            auto first = guess->ClusterSector(c);
            seenAt = first ? *first : 0;
        }
    }
}

CProfessionalFatRecovery::OpenName CProfessionalFatRecovery::ParseEntries(
    const uint8_t* buffer, size_t length, uint64_t firstSector, std::optional<uint32_t> givenCluster,
    const std::optional<FatVolumeGuess>& guess, uint32_t& directoryCluster) {
    OpenName open;
    ByteView v(buffer, length);
    length -= length % kFatEntrySize;

    // Which directory these entries belong to.
    std::optional<uint32_t> cluster;
    if (length >= kFatEntrySize && v.U8(11) == kFatAttrVolumeLabel && v.U8(0) != kFatDeletedMark) {
        cluster = rootCluster_;
    } else if (IsFatDirectoryStart(buffer, length, 0)) {
        cluster = EntryCluster(v);
    } else if (guess && givenCluster &&
               (*givenCluster == rootCluster_ || IsDirectoryStartAt(*guess, *givenCluster))) {
        cluster = givenCluster;
    } else if (guess) {
        // A subdirectory's ".." entry names the directory that lists it.
        for (size_t off = 0; off + kFatEntrySize <= length && !cluster; off += kFatEntrySize) {
            ByteView e = v.Sub(off, kFatEntrySize);
            if (e.U8(0) == 0) break;
            if (e.U8(11) == kFatAttrLongName || !(e.U8(11) & kFatAttrDirectory) || e.U8(0) == '.') continue;
            if (!IsFatDirectoryEntry(buffer, length, off)) continue;
            uint32_t sub = EntryCluster(e);
            if (sub < 2) continue;
            if (auto parent = ParentOnDisk(sub, *guess)) cluster = NormaliseCluster(*parent);
        }
    }
    directoryCluster = cluster.value_or(givenCluster.value_or(rootCluster_));

    LongNameCollector names;
    size_t runStart = 0;
    size_t parts = 0;
    bool inName = false;
    for (size_t off = 0; off + kFatEntrySize <= length; off += kFatEntrySize) {
        ByteView e = v.Sub(off, kFatEntrySize);
        if (e.U8(0) == 0) return open;
        if (!IsFatDirectoryEntry(buffer, length, off)) {
            names.Reset();
            inName = false;
            parts = 0;
            continue;
        }
        const uint8_t attr = e.U8(11);
        if (attr == kFatAttrLongName) {
            if (!inName || e.U8(13) != names.Checksum()) {
                names.Reset();
                inName = true;
                parts = 0;
                runStart = off;
            }
            if (parts == kMaxLongNameParts || !names.Add(e))
                return open;  // a 20th part: nothing more is trusted
            ++parts;
            continue;
        }
        const bool deleted = e.U8(0) == kFatDeletedMark;
        // A live entry must carry the checksum its long name was written with.
        bool useLongName = inName && (deleted || ShortNameChecksum(e) == names.Checksum());
        std::string name = EntryName(e, names, useLongName);
        // The delete mark took the short name's first character (guessed at the end).
        const uint32_t lostLetter = deleted && name.size() > 1 && name[0] == '!' && name == ShortEntryName(e)
                                        ? kFatFirstCharacterLost
                                        : 0;
        names.Reset();
        inName = false;
        parts = 0;
        if (attr & kFatAttrDirectory) {
            if (e.U8(0) == '.') continue;  // "." and ".." name this directory and its parent
            uint32_t sub = EntryCluster(e);
            if (deleted && e.U16(20) == 0 && guess) sub = SearchHighWord(e.U16(26), *guess, "", true);
            if (sub != 0 && sub != directoryCluster && !EarlierEntryHolds(sub, directoryCluster, guess)) {
                if (known_.size() < limits_.maxDirectories || known_.count(sub)) {
                    KnownDirectory& dir = known_[sub];
                    FoundItemRecord& r = dir.record;
                    r = FoundItemRecord{};
                    r.letter = letter_;
                    r.engineCode = static_cast<uint32_t>(EngineCode::kDeepFat);
                    r.isFolder = 1;
                    r.contentCheck = 1;
                    r.key = sub;
                    r.clusterBytes = 0;
                    FatEntryTimes t = EntryTimes(e);
                    r.created = t.created;
                    r.accessed = t.accessed;
                    r.written = t.written;
                    r.location = firstSector;
                    r.engineSpecific = lostLetter;
                    r.SetName(name);
                    dir.parent = NormaliseCluster(directoryCluster);
                    dir.guess = guess;
                } else {
                    ++dropped_;
                }
            }
            continue;
        }
        if (!(attr & kFatAttrArchive)) continue;
        uint32_t first = EntryCluster(e);
        std::string ext = LowerExtension(name);
        if (deleted && e.U16(20) == 0 && guess && !ext.empty())
            first = SearchHighWord(e.U16(26), *guess, ext, false);
        FoundItemRecord r;
        r.letter = letter_;
        r.engineCode = static_cast<uint32_t>(EngineCode::kDeepFat);
        r.isFolder = 0;
        r.contentCheck = 1;
        r.key = first;
        FatEntryTimes t = EntryTimes(e);
        r.created = t.created;
        r.accessed = t.accessed;
        r.written = t.written;
        r.size = e.U32(28);
        r.location = firstSector;
        r.engineSpecific = lostLetter;
        r.SetName(name);
        if (guess) {
            WriteFile(r, directoryCluster, *guess);
        } else if (orphans_.size() < limits_.maxOrphans) {
            orphans_.push_back({r, directoryCluster, false});
        } else {
            ++dropped_;
        }
        RegisterNeeded(directoryCluster, guess, firstSector);
    }
    if (inName) {
        open.open = true;
        open.checksum = names.Checksum();
        open.offset = runStart;
    }
    return open;
}

void CProfessionalFatRecovery::PlaceOrphans() {
    if (orphans_.empty()) return;
    for (const FatVolumeGuess& g : guesses_) {
        for (FatOrphanEntry& o : orphans_) {
            if (o.placed) continue;
            auto first = g.ClusterSector(o.directoryCluster);
            if (!first || *first != o.record.location) continue;
            WriteFile(o.record, o.directoryCluster, g);
            o.placed = true;
        }
    }
    std::erase_if(orphans_, [](const FatOrphanEntry& o) { return o.placed; });
}

std::optional<FatVolumeGuess> CProfessionalFatRecovery::NearestGuessBelow(uint64_t sector) const {
    std::optional<FatVolumeGuess> best;
    for (size_t i = 0; i < guesses_.size(); ++i) {
        if (bootVolume_ && i == 0) continue;  // the live volume's layout says nothing about earlier ones
        const FatVolumeGuess& g = guesses_[i];
        if (g.DataAreaStart() > sector) continue;
        if (!best || g.DataAreaStart() > best->DataAreaStart()) best = g;
    }
    return best;
}

int CProfessionalFatRecovery::Consolidate() {
    // 1. Sectors that could not be placed during the pass.
    consolidationContext_.reset();
    for (auto& [sectorNumber, stored] : stored_) {
        if (stored.used) continue;
        stored.used = true;
        const uint8_t* sector = stored.bytes.data();
        bool joined = false;
        for (size_t i = 0; i < fragments_.size(); ++i) {
            if (!FragmentContinues(fragments_[i], sector, sectorNumber)) continue;
            FatNameFragment fragment = std::move(fragments_[i]);
            fragments_.erase(fragments_.begin() + static_cast<std::ptrdiff_t>(i));
            std::vector<uint8_t> buffer = std::move(fragment.bytes);
            buffer.insert(buffer.end(), stored.bytes.begin(), stored.bytes.end());
            auto guess =
                fragment.guess ? fragment.guess : LookupGeometry(fragment.directoryCluster, fragment.sector);
            ParseAndJoin(std::move(buffer), fragment.sector, fragment.directoryCluster, guess);
            joined = true;
            break;
        }
        if (joined) continue;
        bool placed = false;
        for (const FatVolumeGuess& g : guesses_) {
            auto k = g.ClusterAt(sectorNumber);
            if (!k) continue;
            consolidationContext_ = DirContext{g, *k, sectorNumber};
            ParseAndJoin(stored.bytes, sectorNumber, *k, g);
            placed = true;
            break;
        }
        if (placed) continue;
        if (consolidationContext_ && sectorNumber > consolidationContext_->sector &&
            sectorNumber < consolidationContext_->sector + consolidationContext_->guess.sectorsPerCluster) {
            DirContext ctx = *consolidationContext_;
            ParseAndJoin(stored.bytes, sectorNumber, ctx.cluster, ctx.guess);
            continue;
        }
        if (auto g = NearestGuessBelow(sectorNumber)) {
            uint64_t k = (sectorNumber - g->DataAreaStart()) / g->sectorsPerCluster + 2;
            if (k <= 0x0FFFFFFF) ParseAndJoin(stored.bytes, sectorNumber, static_cast<uint32_t>(k), g);
        }
    }
    stored_.clear();
    storedBytes_ = 0;

    // 2. Every directory that holds files becomes a folder.
    if (log_) {
        std::set<uint32_t> written;
        for (const DirInfoEntry& f : log_->Folders())
            written.insert(uint32_t{f.key});  // a resumed scan made these already
        for (const auto& [cluster, needed] : needed_) {
            if (written.count(cluster)) continue;
            auto known = known_.find(cluster);
            std::optional<FatVolumeGuess> guess = needed.guess;
            if (!guess && known != known_.end()) guess = known->second.guess;
            if (!guess) {
                for (const FatVolumeGuess& g : guesses_) {
                    auto first = g.ClusterSector(cluster);
                    if (first && needed.sector >= *first && needed.sector < *first + g.sectorsPerCluster) {
                        guess = g;
                        break;
                    }
                }
            }
            FoundItemRecord record;
            uint32_t parent = rootCluster_;
            if (known != known_.end()) {
                record = known->second.record;
                parent = known->second.parent;
            } else {
                record.letter = letter_;
                record.engineCode = static_cast<uint32_t>(EngineCode::kDeepFat);
                record.isFolder = 1;
                record.contentCheck = 1;
                record.key = cluster;
                record.SetName(LostFolderName(cluster));
                if (guess) parent = NormaliseCluster(ParentOnDisk(cluster, *guess).value_or(rootCluster_));
            }
            FoundItemRecord* slot = log_->AppendRecord();
            uint32_t number = slot->recordNumber;
            *slot = record;
            slot->recordNumber = number;
            if (guess) {
                uint32_t parentLevel = FolderLevel(parent, *guess);
                log_->AddChild(MakeRelationKey(parent, parentLevel), number, cluster, record.name);
            }
            written.insert(cluster);
        }
    }
    needed_.clear();
    known_.clear();

    // 3. Entries that never met their geometry take the nearest one below them.
    PlaceOrphans();
    for (FatOrphanEntry& o : orphans_) {
        auto g = NearestGuessBelow(o.record.location);
        if (!g) continue;
        WriteFile(o.record, o.directoryCluster, *g);
        o.placed = true;
    }
    orphans_.clear();
    if (!log_) return 0;
    FileListsAtBrowsedLevels();
    // A failed guess leaves "!" names, which are still the files' names.
    static_cast<void>(GuessLostLettersInLog(*log_, RootKey()));
    return log_->Flush();
}

bool CProfessionalFatRecovery::EarlierEntryHolds(uint32_t sub, uint32_t directoryCluster,
                                                 const std::optional<FatVolumeGuess>& guess) {
    auto known = known_.find(sub);
    if (known == known_.end() || !guess) return false;
    const uint32_t parent = NormaliseCluster(directoryCluster);
    if (known->second.parent == parent) return false;
    // Two entries name the same directory: the cluster was freed and used
    // again. The directory's own ".." entry tells which entry it belongs to now.
    auto onDisk = ParentOnDisk(sub, *guess);
    return onDisk && NormaliseCluster(*onDisk) == known->second.parent;
}

void CProfessionalFatRecovery::FileListsAtBrowsedLevels() {
    // Lists are filed at a directory's depth on disk, found from its ".."
    // chain while the scan runs; its folder is filed where its entry was
    // found. Where the two differ (a parent whose first cluster was
    // overwritten, a cluster used again), the list moves to the level its
    // folder is browsed at, or browsing would never reach the files in it.
    std::unordered_map<uint32_t, FolderKey> folderKeys;  // record number -> folder key
    for (const DirInfoEntry& f : log_->Folders()) folderKeys[f.recordNumber] = f.key;
    std::map<FolderKey, std::vector<RelationKey>> listsOf;
    for (const auto& [relation, list] : log_->Children())
        listsOf[RelationFolderKey(relation)].push_back(relation);

    std::vector<std::pair<RelationKey, RelationKey>> moves;
    std::deque<std::pair<FolderKey, uint32_t>> queue{{RootKey(), 0}};
    std::set<FolderKey> reached{RootKey()};
    while (!queue.empty()) {
        const auto [key, level] = queue.front();
        queue.pop_front();
        const RelationKey browsed = MakeRelationKey(key, level);
        for (RelationKey relation : listsOf[key]) {
            if (relation != browsed) moves.emplace_back(relation, browsed);
            for (uint32_t number : log_->Children().at(relation)) {
                auto folder = folderKeys.find(number);
                if (folder != folderKeys.end() && reached.insert(folder->second).second)
                    queue.emplace_back(folder->second, level + 1);
            }
        }
    }
    for (const auto& [from, to] : moves) log_->MoveChildren(from, to);
}

void CProfessionalFatRecovery::SaveState(CheckpointWriter& w) const {
    w.U64(guesses_.size());
    for (const FatVolumeGuess& g : guesses_) WriteGuess(w, g);
    w.U64(sightings_.size());
    for (const FatDirSighting& s : sightings_) {
        w.U32(s.cluster);
        w.U64(s.sector);
    }
    w.U64(orphans_.size());
    for (const FatOrphanEntry& o : orphans_) {
        WriteRecord(w, o.record);
        w.U32(o.directoryCluster);
        w.Bool(o.placed);
    }
    w.U64(fragments_.size());
    for (const FatNameFragment& f : fragments_) {
        w.U8(f.checksum);
        w.Bytes(f.bytes);
        w.U64(f.sector);
        w.U32(f.directoryCluster);
        WriteOptionalGuess(w, f.guess);
    }
    w.U64(stored_.size());
    for (const auto& [sector, stored] : stored_) {
        w.U64(sector);
        w.Bytes(stored.bytes);
        w.Bool(stored.used);
    }
    w.U64(storedBytes_);
    w.U64(known_.size());
    for (const auto& [cluster, known] : known_) {
        w.U32(cluster);
        WriteRecord(w, known.record);
        w.U32(known.parent);
        WriteOptionalGuess(w, known.guess);
    }
    w.U64(needed_.size());
    for (const auto& [cluster, needed] : needed_) {
        w.U32(cluster);
        WriteOptionalGuess(w, needed.guess);
        w.U64(needed.sector);
    }
    w.Bool(bootVolume_);
    w.Bool(passContext_.has_value());
    if (passContext_) {
        WriteGuess(w, passContext_->guess);
        w.U32(passContext_->cluster);
        w.U64(passContext_->sector);
    }
    w.U32(rootCluster_);
    w.U64(dropped_);
}

bool CProfessionalFatRecovery::RestoreState(CheckpointReader& r) {
    // Read into fresh lists first: a damaged state leaves the engine as it was.
    std::vector<FatVolumeGuess> guesses;
    std::vector<FatDirSighting> sightings;
    std::vector<FatOrphanEntry> orphans;
    std::vector<FatNameFragment> fragments;
    std::map<uint64_t, StoredSector> stored;
    std::map<uint32_t, KnownDirectory> known;
    std::map<uint32_t, NeededDirectory> needed;
    uint64_t n = 0;
    if (!r.Count(n, 16)) return false;
    guesses.resize(n);
    for (FatVolumeGuess& g : guesses)
        if (!ReadGuess(r, g)) return false;
    if (!r.Count(n, 12)) return false;
    sightings.resize(n);
    for (FatDirSighting& s : sightings)
        if (!r.U32(s.cluster) || !r.U64(s.sector)) return false;
    if (!r.Count(n, sizeof(FoundItemRecord))) return false;
    orphans.resize(n);
    for (FatOrphanEntry& o : orphans)
        if (!ReadRecord(r, o.record) || !r.U32(o.directoryCluster) || !r.Bool(o.placed)) return false;
    if (!r.Count(n, 22)) return false;
    fragments.resize(n);
    for (FatNameFragment& f : fragments)
        if (!r.U8(f.checksum) || !r.Bytes(f.bytes, limits_.maxStoredBytes) || !r.U64(f.sector) ||
            !r.U32(f.directoryCluster) || !ReadOptionalGuess(r, f.guess))
            return false;
    if (!r.Count(n, 17)) return false;
    for (uint64_t i = 0; i < n; ++i) {
        uint64_t sector = 0;
        StoredSector s;
        if (!r.U64(sector) || !r.Bytes(s.bytes, sectorSize_) || !r.Bool(s.used)) return false;
        stored[sector] = std::move(s);
    }
    uint64_t storedBytes = 0;
    if (!r.U64(storedBytes) || !r.Count(n, sizeof(FoundItemRecord))) return false;
    for (uint64_t i = 0; i < n; ++i) {
        uint32_t cluster = 0;
        KnownDirectory k;
        if (!r.U32(cluster) || !ReadRecord(r, k.record) || !r.U32(k.parent) || !ReadOptionalGuess(r, k.guess))
            return false;
        known[cluster] = std::move(k);
    }
    if (!r.Count(n, 13)) return false;
    for (uint64_t i = 0; i < n; ++i) {
        uint32_t cluster = 0;
        NeededDirectory d;
        if (!r.U32(cluster) || !ReadOptionalGuess(r, d.guess) || !r.U64(d.sector)) return false;
        needed[cluster] = d;
    }
    bool bootVolume = false, haveContext = false;
    std::optional<DirContext> context;
    if (!r.Bool(bootVolume) || !r.Bool(haveContext)) return false;
    if (haveContext) {
        DirContext c;
        if (!ReadGuess(r, c.guess) || !r.U32(c.cluster) || !r.U64(c.sector)) return false;
        context = c;
    }
    uint32_t rootCluster = 0;
    uint64_t dropped = 0;
    if (!r.U32(rootCluster) || !r.U64(dropped)) return false;

    guesses_ = std::move(guesses);
    sightings_ = std::move(sightings);
    orphans_ = std::move(orphans);
    fragments_ = std::move(fragments);
    stored_ = std::move(stored);
    storedBytes_ = static_cast<size_t>(storedBytes);
    known_ = std::move(known);
    needed_ = std::move(needed);
    bootVolume_ = bootVolume;
    passContext_ = context;
    contextFull_ = false;
    consolidationContext_.reset();
    rootCluster_ = rootCluster;
    dropped_ = dropped;
    levelCache_.clear();
    return true;
}

int CProfessionalFatRecovery::CopyFileData(const FoundItemRecord& record, const CopyTarget& target) {
    if (record.clusterBytes > kMaxClusterBytesToCopy) return kErrWriteFault;
    if (record.size == 0) return 0;
    if (record.clusterBytes == 0 || record.clusterBytes % sectorSize_ != 0 || record.key < 2)
        return kErrReadFault;
    FatVolumeGuess guess{record.clusterBytes / sectorSize_, static_cast<uint32_t>(record.dataStart),
                         record.partitionStart};
    // Put back together at the scan: the same search over the same bytes
    // gives the same order.
    std::vector<uint32_t> order;
    if (RebuiltPieces(record) >= 2) {
        if (!OnBootVolume(record)) return kErrReadFault;
        order = BootVolumeOrder(record, {}).clusters;
    }
    std::vector<uint8_t> cluster(record.clusterBytes);
    uint64_t written = 0;
    for (uint64_t i = 0; written < record.size; ++i) {
        if (!order.empty() && i >= order.size()) return kErrReadFault;
        const uint64_t c = order.empty() ? record.key + i : order[i];
        if (c > 0x0FFFFFFF) return kErrReadFault;
        auto first = guess.ClusterSector(static_cast<uint32_t>(c));
        if (!first) return kErrReadFault;
        uint32_t got = 0;
        const int read =
            ReadSectors(guess.sectorsPerCluster, reader_, cluster.data(), *first, sectorSize_, &got);
        const uint64_t piece = std::min<uint64_t>(record.clusterBytes, record.size - written);
        // A cluster read only in part would leave a gap the next cluster's
        // bytes close up: the copy fails rather than shift the rest of the file.
        if (static_cast<uint64_t>(got) * sectorSize_ < piece) return read != 0 ? read : kErrReadFault;
        int rc = target.write(cluster.data(), static_cast<size_t>(piece));
        if (rc != 0) return rc;
        written += piece;
        int answer = target.progress(static_cast<int>(written * 100 / record.size));
        if (answer != 0) return answer;
    }
    return 0;
}

}  // namespace sorvane
