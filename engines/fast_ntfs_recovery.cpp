#include "engines/fast_ntfs_recovery.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <unordered_set>

#include "carving/carved_file_measure.h"
#include "carving/file_signature.h"
#include "platform/file_time.h"
#include "platform/file_times.h"
#include "platform/result_codes.h"
#include "results/file_categories.h"
#include "results/folder_key.h"
#include "results/scan_resume_store.h"

namespace sorvane {
namespace {

constexpr size_t kBootBytes = 4096;
// A parent chain deeper than this is taken for a loop that hides behind reused records.
constexpr size_t kMaxFolderDepth = 4096;
// An attribute list larger than this is damage: real ones hold a few hundred entries.
constexpr uint64_t kMaxAttributeListBytes = 1 << 20;
// The allocation bitmap of a 16 TiB volume with 4 KiB clusters; larger is damage.
constexpr uint64_t kMaxBitmapBytes = uint64_t{1} << 29;
// Consecutive unreadable MFT records after which the source is taken to be gone.
constexpr int kMaxUnreadableRecords = 64;
constexpr auto kEstimateInterval = std::chrono::milliseconds(5000);

void FillTimes(const NtfsFileSummary& s, FoundItemRecord& item) {
    // $STANDARD_INFORMATION carries the times the system shows and updates;
    // the $FILE_NAME copies only change when the name does.
    if (s.hasStandardTimes) {
        item.created = s.times.created;
        item.written = s.times.written;
        item.accessed = s.times.accessed;
    } else if (s.hasName) {
        item.created = s.fileName.created;
        item.written = s.fileName.written;
        item.accessed = s.fileName.accessed;
    }
}

bool BitSet(const std::vector<uint8_t>& bitmap, uint64_t bit) { return (bitmap[bit >> 3] >> (bit & 7)) & 1; }

}  // namespace

CFastNtfsRecovery::CFastNtfsRecovery() = default;
CFastNtfsRecovery::~CFastNtfsRecovery() = default;

EngineStatus CFastNtfsRecovery::Open(const ScanSource& source) {
    letter_ = source.letter;
    partitionStart_ = source.start;
    if (!source.reader.IsOpen()) return kErrInvalidHandle;
    reader_ = source.reader;
    deviceSectorSize_ = source.sectorSize;
    // A partition reaching past the drive is read as far as the drive goes.
    const uint64_t available = source.start < reader_.totalSectors ? reader_.totalSectors - source.start : 0;
    partitionSectors_ = source.length == 0 ? available : std::min(source.length, available);
    return OpenVolume();
}

int CFastNtfsRecovery::OpenVolume() {
    bootRead_ = false;
    mftExtents_.clear();
    mftRecords_ = 0;
    bitmap_.clear();
    bitmapLength_ = 0;
    volumeBase_ = partitionStart_ * deviceSectorSize_;
    volumeBytes_ = partitionSectors_ * deviceSectorSize_;

    // Only the first sector is read: the rest of the boot area may be
    // unreadable on a worn medium without costing anything.
    std::vector<uint8_t> boot(kBootBytes, 0);
    const size_t bootLength = std::max<size_t>(512, deviceSectorSize_);
    if (bootLength > kBootBytes || volumeBytes_ < bootLength) return kErrInvalidParameter;
    const bool mainRead = ReadVolume(0, boot.data(), bootLength) == kSuccess;
    if (!mainRead || !ParseNtfsBootSector(ByteView(boot.data(), bootLength), geometry_)) {
        // A damaged first sector: NTFS keeps a copy in the volume's last sector.
        bool found = false;
        for (uint64_t sectorSize : {uint64_t{512}, uint64_t{4096}}) {
            if (volumeBytes_ < 2 * sectorSize) continue;
            std::vector<uint8_t> backup(sectorSize);
            if (ReadVolume(volumeBytes_ - sectorSize, backup.data(), backup.size()) == kSuccess &&
                ParseNtfsBootSector(ByteView(backup.data(), backup.size()), geometry_) &&
                geometry_.bytesPerSector == sectorSize) {
                std::copy(backup.begin(), backup.end(), boot.begin());
                found = true;
                break;
            }
        }
        if (!found) return kErrInvalidParameter;
    }
    bootRead_ = true;
    // The boot sector's count may pass the end of a cut-off image (reads there
    // fail one by one); a count no disk can hold is damage.
    const uint64_t availableClusters = volumeBytes_ / geometry_.clusterBytes;
    const uint64_t bootClusters = geometry_.totalSectors / geometry_.sectorsPerCluster;
    totalClusters_ =
        bootClusters != 0 && bootClusters < (uint64_t{1} << 40) ? bootClusters : availableClusters;
    chunk_.assign(static_cast<size_t>(geometry_.recordSize) * 1024, 0);

    // Without the MFT's map the engine stays open and its scan finds nothing;
    // the mirror holds a copy of the MFT's own record.
    const uint64_t mirrorCluster = ByteView(boot.data(), boot.size()).U64(56);
    if (LoadMftExtents(geometry_.mftCluster) != kSuccess) {
        if (LoadMftExtents(mirrorCluster) != kSuccess) {
            mftExtents_.clear();
            mftRecords_ = 0;
        }
    }
    return kSuccess;
}

int CFastNtfsRecovery::LoadMftExtents(uint64_t cluster) {
    if (cluster >= totalClusters_) return kErrInvalidParameter;
    const uint64_t recordOffset = cluster * geometry_.clusterBytes;
    std::vector<uint8_t> record(geometry_.recordSize);
    int rc = ReadVolume(recordOffset, record.data(), record.size());
    if (rc != kSuccess) return rc;
    if (!ApplyFixups(record.data(), record.size())) return -1;
    NtfsFileSummary summary;
    if (!SummarizeRecord(ByteView(record.data(), record.size()), summary) || !summary.hasData ||
        !summary.data.nonResident || summary.data.firstVcn != 0)
        return -1;
    std::vector<NtfsRun> runs;
    DecodeRuns(summary.data.runList, runs);
    std::vector<NtfsExtent> extents;
    PlaceRuns(runs, 0, totalClusters_, extents);
    if (extents.empty()) return -1;
    mftExtents_ = std::move(extents);
    // A much fragmented MFT keeps the rest of its map in extension records.
    if (summary.hasAttributeList) {
        DataLayout layout;
        if (LayoutOf(0, record, true, layout) == kSuccess && !layout.resident && !layout.extents.empty())
            mftExtents_ = layout.extents;
    }
    // A damaged size or map claims more records than the volume can hold.
    uint64_t mapped = std::min(TotalRunClusters(mftExtents_), totalClusters_) * geometry_.clusterBytes;
    mftRecords_ = std::min({mapped, summary.data.realSize, volumeBytes_}) / geometry_.recordSize;
    return kSuccess;
}

int CFastNtfsRecovery::ReadVolume(uint64_t offset, void* buffer, size_t length) {
    if (length == 0) return kSuccess;
    if (offset > volumeBytes_ || length > volumeBytes_ - offset) return kErrInvalidParameter;
    const uint64_t absolute = volumeBase_ + offset;
    const uint32_t sectorSize = deviceSectorSize_;
    uint32_t got = 0;
    if (absolute % sectorSize == 0 && length % sectorSize == 0)
        return ReadSectors(static_cast<uint32_t>(length / sectorSize), reader_, buffer, absolute / sectorSize,
                           sectorSize, &got);
    uint64_t first = absolute / sectorSize;
    uint64_t last = (absolute + length + sectorSize - 1) / sectorSize;
    std::vector<uint8_t> bounce(static_cast<size_t>((last - first) * sectorSize));
    int rc =
        ReadSectors(static_cast<uint32_t>(last - first), reader_, bounce.data(), first, sectorSize, &got);
    if (rc != kSuccess) return rc;
    std::memcpy(buffer, bounce.data() + (absolute - first * sectorSize), length);
    return kSuccess;
}

bool CFastNtfsRecovery::MapMftByte(uint64_t mftByte, uint64_t& volumeOffset, uint64_t& contiguous) const {
    const uint64_t clusterBytes = geometry_.clusterBytes;
    if (clusterBytes == 0 || mftExtents_.empty()) return false;
    uint64_t vcn = mftByte / clusterBytes;
    auto it = std::upper_bound(mftExtents_.begin(), mftExtents_.end(), vcn,
                               [](uint64_t v, const NtfsExtent& e) { return v < e.vcn; });
    if (it == mftExtents_.begin()) return false;
    --it;
    if (vcn >= it->vcn + it->length || it->sparse) return false;
    uint64_t within = mftByte - it->vcn * clusterBytes;
    volumeOffset = it->lcn * clusterBytes + within;
    contiguous = it->length * clusterBytes - within;
    return true;
}

int CFastNtfsRecovery::ReadRawRecord(uint64_t number, uint8_t* record) {
    const uint64_t recordSize = geometry_.recordSize;
    if (recordSize == 0 || number > UINT64_MAX / recordSize) return kErrInvalidParameter;
    uint64_t done = 0;
    // Records may straddle two runs of the MFT when clusters are smaller than records.
    while (done < recordSize) {
        uint64_t offset = 0, contiguous = 0;
        if (!MapMftByte(number * recordSize + done, offset, contiguous)) return kErrInvalidParameter;
        size_t piece = static_cast<size_t>(std::min(contiguous, recordSize - done));
        int rc = ReadVolume(offset, record + done, piece);
        if (rc != kSuccess) return rc;
        done += piece;
    }
    return kSuccess;
}

int CFastNtfsRecovery::ReadMftRecord(uint64_t number, std::vector<uint8_t>& record) {
    record.resize(geometry_.recordSize);
    int rc = ReadRawRecord(number, record.data());
    if (rc != kSuccess) return rc;
    if (!ApplyFixups(record.data(), record.size())) return -1;
    return kSuccess;
}

uint64_t CFastNtfsRecovery::LocationOf(uint64_t number) const {
    uint64_t offset = 0, contiguous = 0;
    if (!MapMftByte(number * geometry_.recordSize, offset, contiguous)) offset = 0;
    return (volumeBase_ + offset) / geometry_.bytesPerSector;
}

int CFastNtfsRecovery::Progress(int percent, int64_t remaining, uint64_t processed, uint64_t total) {
    if (!scanProgress_) return 0;
    return scanProgress_(userData_, percent, weight_, remaining, processed, total, GetFoundCount());
}

EngineStatus CFastNtfsRecovery::Scan(const std::string* scanLogName) {
    pendingFolders_.clear();
    folders_.clear();
    unreadableRecords_ = 0;
    if (scanLogName) return ReplaceLog(*scanLogName);
    int rc = StartQuickScanLog(static_cast<int64_t>(partitionStart_));
    if (rc != kSuccess) return rc;

    const uint64_t bytesPerSector = geometry_.bytesPerSector;
    const uint64_t total = bootRead_ ? mftRecords_ * geometry_.recordSize / bytesPerSector : 0;
    uint64_t processed = 0;
    int64_t remaining = -1;
    rc = MainPass(total, processed, remaining);

    // The folders on the paths are filed even when the pass stopped early, so
    // what was found so far can be browsed and its folder paths built.
    for (size_t i = 0; i < pendingFolders_.size(); ++i) {
        try {
            uint32_t number = pendingFolders_[i];
            FileFolder(number, folders_[number]);
        } catch (...) {
            // A damaged folder record is passed over.
        }
    }
    const int flushed = log_->Flush();
    if (rc != kSuccess) return rc;
    if (flushed != kSuccess) return flushed;  // results that are not in the log cannot be listed
    return Progress(100, remaining, total, total);
}

int CFastNtfsRecovery::MainPass(uint64_t total, uint64_t& processed, int64_t& remaining) {
    if (mftRecords_ == 0) return kSuccess;
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    auto lastEstimate = start;
    const uint64_t recordSize = geometry_.recordSize;
    const uint64_t bytesPerSector = geometry_.bytesPerSector;
    const uint64_t chunkRecords = chunk_.size() / recordSize;
    int unreadable = 0;

    uint64_t number = 0;
    while (number < mftRecords_) {
        uint64_t offset = 0, contiguous = 0;
        uint64_t count = 1;
        bool parse = false;
        if (!MapMftByte(number * recordSize, offset, contiguous)) {
            // A stretch a damaged map leaves out: nothing there to read.
        } else if (contiguous >= recordSize) {
            count = std::min({contiguous / recordSize, chunkRecords, mftRecords_ - number});
            parse = true;
            if (ReadVolume(offset, chunk_.data(), static_cast<size_t>(count * recordSize)) != kSuccess) {
                // One bad sector must not cost the whole chunk: read its records one by one.
                for (uint64_t i = 0; i < count; ++i) {
                    int rc = ReadRawRecord(number + i, chunk_.data() + i * recordSize);
                    if (rc == kSuccess) {
                        unreadable = 0;
                        continue;
                    }
                    std::memset(chunk_.data() + i * recordSize, 0, recordSize);
                    ++unreadableRecords_;
                    if (++unreadable >= kMaxUnreadableRecords) return rc;
                }
            } else {
                unreadable = 0;
            }
        } else {
            // A record split between two runs of the MFT.
            int rc = ReadRawRecord(number, chunk_.data());
            if (rc == kSuccess) {
                parse = true;
                unreadable = 0;
            } else {
                ++unreadableRecords_;
                if (++unreadable >= kMaxUnreadableRecords) return rc;
            }
        }
        if (parse) {
            for (uint64_t i = 0; i < count; ++i) {
                try {
                    ParseDeletedRecord(number + i, chunk_.data() + i * recordSize);
                } catch (...) {
                    // A fault in one record skips that record.
                }
            }
        }
        number += count;
        processed = number * recordSize / bytesPerSector;

        auto now = Clock::now();
        if (now - lastEstimate >= kEstimateInterval && weight_ == 100) {
            lastEstimate = now;
            auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now - start).count();
            uint64_t speed = seconds > 0 ? processed * bytesPerSector / static_cast<uint64_t>(seconds) : 1;
            if (speed == 0) speed = 1;
            remaining = static_cast<int64_t>((total - std::min(total, processed)) * bytesPerSector / speed);
        }
        int percent = total ? static_cast<int>(std::min<uint64_t>(processed, total) * 100 / total) : 100;
        int answer = Progress(percent, remaining, processed, total);
        if (answer != 0) return answer;
    }
    return kSuccess;
}

void CFastNtfsRecovery::ParseDeletedRecord(uint64_t number, const uint8_t* bytes) {
    // The volume's own files, and numbers a folder key cannot hold, are not listed.
    if (number <= kNtfsLastMetadataRecord || number > UINT32_MAX) return;
    ByteView raw(bytes, geometry_.recordSize);
    // Most records are in use or empty: turn them away before any copying.
    if (raw.U32(0) != kNtfsFileMagic || raw.U16(22) != 0) return;
    scratchRecord_.assign(bytes, bytes + geometry_.recordSize);
    if (!ApplyFixups(scratchRecord_.data(), scratchRecord_.size())) return;
    NtfsFileSummary summary;
    if (!SummarizeRecord(ByteView(scratchRecord_.data(), scratchRecord_.size()), summary)) return;
    // Extension records hold pieces of another file, not a file of their own.
    if (summary.header.baseReference != 0) return;
    // A file with many pieces may keep its name in an extension record.
    FindListedName(number, summary);
    if (!summary.hasName) return;

    FoundItemRecord item;
    item.letter = letter_;
    item.engineCode = static_cast<uint32_t>(EngineCode::kQuickNtfs);
    item.isFolder = 0;
    item.key = static_cast<uint32_t>(number);
    item.clusterBytes = static_cast<uint32_t>(geometry_.clusterBytes);
    FillTimes(summary, item);
    item.size = SummaryFileSize(summary);
    if (summary.hasAttributeList &&
        !(summary.hasData && (!summary.data.nonResident || summary.data.firstVcn == 0))) {
        // The start of the data, and its size, lie in an extension record.
        DataLayout layout;
        if (LayoutOf(number, scratchRecord_, true, layout) == kSuccess) item.size = layout.size;
    }
    item.dataStart = 0;
    item.location = LocationOf(number);
    item.partitionStart = partitionStart_;
    item.SetName(summary.fileName.name);
    item.contentCheck = ContentCheckOf(number, summary.fileName.name, scratchRecord_);

    uint64_t parentReference = summary.fileName.parentReference;
    uint32_t level = FolderLevelOf(parentReference);
    uint32_t parent = static_cast<uint32_t>(NtfsReferenceRecord(parentReference));

    FoundItemRecord* slot = log_->AppendRecord();
    uint32_t recordNumber = slot->recordNumber;
    *slot = item;
    slot->recordNumber = recordNumber;
    log_->AddChild(MakeRelationKey(parent, level), recordNumber, item.key, nullptr);
}

uint32_t CFastNtfsRecovery::FolderLevelOf(uint64_t parentReference) {
    uint64_t first = NtfsReferenceRecord(parentReference);
    if (first == kNtfsRootRecord) return 0;
    if (auto known = folders_.find(static_cast<uint32_t>(first));
        known != folders_.end() && first <= UINT32_MAX)
        return known->second.level;

    struct Step {
        uint32_t number;
        FolderState state;
    };
    std::vector<Step> chain;
    uint64_t current = first;
    uint16_t expectedSequence = NtfsReferenceSequence(parentReference);
    uint32_t baseLevel = 0;
    while (true) {
        if (current == kNtfsRootRecord) break;
        if (current <= UINT32_MAX) {
            if (auto known = folders_.find(static_cast<uint32_t>(current)); known != folders_.end()) {
                baseLevel = known->second.level;
                break;
            }
        }
        bool loops =
            std::any_of(chain.begin(), chain.end(), [&](const Step& s) { return s.number == current; });
        if (loops || chain.size() >= kMaxFolderDepth || current > UINT32_MAX) {
            // The folder whose parent closes the loop is filed under the root.
            if (chain.empty()) {
                chain.push_back({static_cast<uint32_t>(current), {0, 0, FolderKind::kLost}});
            } else {
                chain.back().state.kind = FolderKind::kLost;
            }
            break;
        }
        Step step{static_cast<uint32_t>(current), {}};
        NtfsFileSummary summary;
        bool ok = ReadMftRecord(current, parentRecord_) == kSuccess &&
                  SummarizeRecord(ByteView(parentRecord_.data(), parentRecord_.size()), summary) &&
                  summary.header.IsDirectory() && summary.header.baseReference == 0;
        if (ok) {
            FindListedName(current, summary);
            ok = summary.hasName;
        }
        // A parent whose record was given to something else since is not this
        // file's folder; a deleted folder's number moved on by one when it was freed.
        if (ok && expectedSequence != 0) {
            uint16_t sequence = summary.header.sequence;
            ok = sequence == expectedSequence ||
                 (!summary.header.InUse() && sequence == static_cast<uint16_t>(expectedSequence + 1));
        }
        if (!ok) {
            step.state.kind = FolderKind::kLost;
            chain.push_back(step);
            break;
        }
        uint64_t next = NtfsReferenceRecord(summary.fileName.parentReference);
        step.state.parent = static_cast<uint32_t>(next);
        chain.push_back(step);
        expectedSequence = NtfsReferenceSequence(summary.fileName.parentReference);
        current = next;
    }

    uint32_t level = baseLevel;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        level = it->state.kind == FolderKind::kLost ? 1 : level + 1;
        it->state.level = level;
    }
    for (const Step& step : chain) {
        if (folders_.emplace(step.number, step.state).second) pendingFolders_.push_back(step.number);
    }
    return folders_[static_cast<uint32_t>(first)].level;
}

void CFastNtfsRecovery::FileFolder(uint32_t number, const FolderState& state) {
    FoundItemRecord item;
    item.letter = letter_;
    item.engineCode = static_cast<uint32_t>(EngineCode::kQuickNtfs);
    item.isFolder = 1;
    item.contentCheck = 1;
    item.key = number;
    item.clusterBytes = kFolderClusterBytes;
    item.location = LocationOf(number);
    item.partitionStart = partitionStart_;

    RelationKey parent = MakeRelationKey(kNtfsRootKey, 0);
    NtfsFileSummary summary;
    bool named = state.kind == FolderKind::kDirectory && ReadMftRecord(number, parentRecord_) == kSuccess &&
                 SummarizeRecord(ByteView(parentRecord_.data(), parentRecord_.size()), summary);
    if (named) {
        FindListedName(number, summary);
        named = summary.hasName;
    }
    if (named) {
        item.SetName(summary.fileName.name);
        FillTimes(summary, item);
        parent = MakeRelationKey(state.parent, state.level - 1);
    } else {
        item.SetName(LostFolderName(number));
    }
    FoundItemRecord* slot = log_->AppendRecord();
    uint32_t recordNumber = slot->recordNumber;
    *slot = item;
    slot->recordNumber = recordNumber;
    log_->AddChild(parent, recordNumber, number, item.name);
}

namespace {
// Larger files are not read through for their structure during a quick scan:
// that would cost as much as recovering them.
constexpr uint64_t kLargestCheckedRun = uint64_t{256} << 20;
}  // namespace

uint32_t CFastNtfsRecovery::ContentCheckOf(uint64_t number, const std::string& name,
                                           const std::vector<uint8_t>& record) {
    size_t dot = name.rfind('.');
    if (dot == std::string::npos) return 1;
    std::string_view extension = std::string_view(name).substr(dot + 1);
    DataLayout layout;
    if (LayoutOf(number, record, false, layout) != kSuccess) return 1;
    if (layout.resident) {
        if (layout.residentBytes.empty()) return 0;
        return MatchesExtension(layout.residentBytes.data(), layout.residentBytes.size(), extension, nullptr,
                                deviceSectorSize_, 0)
                   ? 1
                   : 0;
    }
    // Compressed data does not start with the file's own bytes.
    if (layout.compressed || layout.extents.empty()) return 1;
    const NtfsExtent& first = layout.extents.front();
    if (first.vcn != 0 || first.sparse || first.lcn == 0 || layout.initializedSize == 0) return 1;
    std::vector<uint8_t> sector(geometry_.bytesPerSector);
    uint64_t offset = first.lcn * geometry_.clusterBytes;
    if (ReadVolume(offset, sector.data(), sector.size()) != kSuccess) return 1;
    size_t length = static_cast<size_t>(std::min<uint64_t>(sector.size(), layout.size));
    const uint64_t startSector = (volumeBase_ + offset) / deviceSectorSize_;
    if (!MatchesExtension(sector.data(), length, extension, &reader_, deviceSectorSize_, startSector))
        return 0;
    // The clusters of a deleted file are free for reuse: when its data lies in
    // one run, the file's own structure tells whether that run still holds it
    // (a picture whose end was overwritten is damaged, not whole).
    if (layout.initializedSize < layout.size || layout.size > kLargestCheckedRun) return 1;
    uint64_t nextVcn = 0, nextLcn = first.lcn;
    for (const NtfsExtent& extent : layout.extents) {
        if (extent.sparse || extent.vcn != nextVcn || extent.lcn != nextLcn) return 1;
        nextVcn += extent.length;
        nextLcn += extent.length;
    }
    ContentVerdict verdict =
        CheckRunStructure(&reader_, deviceSectorSize_, startSector, layout.size, extension);
    return verdict == ContentVerdict::kNotChecked ? 1 : ContentCheckValue(verdict);
}

void CFastNtfsRecovery::ReadAttributeList(const NtfsAttribute& list, std::vector<uint8_t>& bytes) {
    bytes.clear();
    if (!list.nonResident) {
        bytes.assign(list.value.Data(), list.value.Data() + list.value.Size());
        return;
    }
    if (list.realSize > kMaxAttributeListBytes) return;
    DataLayout layout;
    std::vector<NtfsRun> runs;
    DecodeRuns(list.runList, runs);
    PlaceRuns(runs, 0, totalClusters_, layout.extents);
    layout.size = layout.initializedSize = list.realSize;
    ReadData(layout, [&](const uint8_t* data, size_t length) {
        bytes.insert(bytes.end(), data, data + length);
        return 0;
    });
}

void CFastNtfsRecovery::FindListedName(uint64_t number, NtfsFileSummary& summary) {
    if (summary.hasName || !summary.hasAttributeList) return;
    std::vector<uint8_t> listBytes;
    ReadAttributeList(summary.attributeList, listBytes);
    std::vector<NtfsAttributeListEntry> entries;
    ParseAttributeList(ByteView(listBytes.data(), listBytes.size()), entries);
    std::unordered_set<uint64_t> visited{number};
    std::vector<uint8_t> extension;
    for (const NtfsAttributeListEntry& entry : entries) {
        if (entry.type != kNtfsFileName) continue;
        uint64_t other = NtfsReferenceRecord(entry.reference);
        if (!visited.insert(other).second || ReadMftRecord(other, extension) != kSuccess) continue;
        ByteView view(extension.data(), extension.size());
        NtfsRecordHeader header;
        if (!ParseRecordHeader(view, header) || NtfsReferenceRecord(header.baseReference) != number) continue;
        NtfsAttributeWalker walker(view, header);
        NtfsAttribute a;
        while (walker.Next(a)) {
            NtfsFileName name;
            if (a.type != kNtfsFileName || a.nonResident || !ParseFileName(a.value, name)) continue;
            bool better = !summary.hasName ||
                          (summary.fileName.nameSpace == kNtfsDosName && name.nameSpace != kNtfsDosName) ||
                          (summary.fileName.nameSpace == kNtfsPosixName && name.nameSpace == kNtfsWin32Name);
            if (better) {
                summary.fileName = std::move(name);
                summary.hasName = true;
            }
        }
    }
}

int CFastNtfsRecovery::LayoutOf(uint64_t number, const std::vector<uint8_t>& record, bool followList,
                                DataLayout& layout) {
    layout = DataLayout{};
    NtfsFileSummary summary;
    if (!SummarizeRecord(ByteView(record.data(), record.size()), summary)) return kErrInvalidParameter;
    if (summary.hasData && !summary.data.nonResident) {
        SetResidentNtfsData(summary.data, layout);
        return kSuccess;
    }
    bool sized = false;
    auto takePiece = [&](const NtfsAttribute& a) {
        sized = AddNtfsDataPiece(a, totalClusters_, layout) || sized;
    };
    if (summary.hasData) takePiece(summary.data);

    if (followList && summary.hasAttributeList) {
        std::vector<uint8_t> listBytes;
        ReadAttributeList(summary.attributeList, listBytes);
        std::vector<NtfsAttributeListEntry> entries;
        ParseAttributeList(ByteView(listBytes.data(), listBytes.size()), entries);
        std::unordered_set<uint64_t> visited{number};
        std::vector<uint8_t> extension;
        for (const NtfsAttributeListEntry& entry : entries) {
            if (entry.type != kNtfsData || entry.nameLength != 0) continue;
            uint64_t other = NtfsReferenceRecord(entry.reference);
            if (!visited.insert(other).second) continue;
            if (ReadMftRecord(other, extension) != kSuccess) continue;
            NtfsRecordHeader header;
            ByteView view(extension.data(), extension.size());
            // A record given to another file since holds none of this file's data.
            if (!ParseRecordHeader(view, header) || NtfsReferenceRecord(header.baseReference) != number)
                continue;
            NtfsAttributeWalker walker(view, header);
            NtfsAttribute a;
            while (walker.Next(a)) {
                if (a.type == kNtfsData && a.nameLength == 0 && a.nonResident) {
                    if (a.firstVcn == 0 && sized) continue;
                    takePiece(a);
                }
            }
        }
        std::sort(layout.extents.begin(), layout.extents.end(),
                  [](const NtfsExtent& a, const NtfsExtent& b) { return a.vcn < b.vcn; });
    }
    if (!sized && layout.extents.empty()) return kErrInvalidParameter;
    return kSuccess;
}

int CFastNtfsRecovery::ReadData(const DataLayout& layout, const NtfsDataSink& sink) {
    NtfsStreamVolume volume;
    volume.clusterBytes = geometry_.clusterBytes;
    volume.bytesPerSector = geometry_.bytesPerSector;
    volume.volumeBytes = volumeBytes_;
    volume.read = [this](uint64_t offset, void* buffer, size_t length) {
        return ReadVolume(offset, buffer, length);
    };
    return ReadNtfsData(layout, volume, sink);
}

int CFastNtfsRecovery::CopyFileData(const FoundItemRecord& record, const CopyTarget& target) {
    if (!bootRead_) return kErrInvalidParameter;
    std::vector<uint8_t> mftRecord;
    int rc = ReadMftRecord(record.key, mftRecord);
    if (rc == kSuccess) {
        DataLayout layout;
        if (LayoutOf(record.key, mftRecord, true, layout) == kSuccess) {
            const uint64_t size = layout.size;
            uint64_t written = 0;
            rc = ReadData(layout, [&](const uint8_t* bytes, size_t length) {
                int writeRc = target.write(bytes, length);
                if (writeRc != kSuccess) return writeRc;
                written += length;
                return target.progress(size ? static_cast<int>(written * 100 / size) : 100);
            });
        }
        // A record without an unnamed data stream is an empty file.
    }
    if (rc > 0) target.failed(rc);
    return rc;
}

EngineStatus CFastNtfsRecovery::LoadAllocationMap() {
    bitmap_.clear();
    bitmapLength_ = 0;
    if (!bootRead_) return kErrInvalidParameter;
    std::vector<uint8_t> record;
    int rc = ReadMftRecord(kNtfsBitmapRecord, record);
    if (rc != kSuccess) return rc > 0 ? rc : kErrInvalidParameter;
    DataLayout layout;
    rc = LayoutOf(kNtfsBitmapRecord, record, true, layout);
    if (rc != kSuccess) return rc;
    if (layout.size > kMaxBitmapBytes) return kErrInvalidParameter;
    bitmap_.reserve(static_cast<size_t>(layout.size));
    rc = ReadData(layout, [&](const uint8_t* bytes, size_t length) {
        bitmap_.insert(bitmap_.end(), bytes, bytes + length);
        return 0;
    });
    if (rc != kSuccess) {
        bitmap_.clear();
        return rc;
    }
    bitmapLength_ = bitmap_.size();
    return kSuccess;
}

bool CFastNtfsRecovery::NextFreeExtent(uint64_t& start, uint64_t& length) {
    if (bitmapLength_ == 0) return 0;
    // Counted in the source's sectors, which are smaller than the volume's
    // own on a volume of 4096-byte sectors read from an image.
    const uint64_t perCluster = std::max<uint64_t>(1, geometry_.clusterBytes / deviceSectorSize_);
    const uint64_t volumeSectors = volumeBytes_ / deviceSectorSize_;
    length = 0;
    if (start >= volumeSectors) {
        start = volumeSectors;
        return 1;
    }
    const uint64_t clusters = std::min(bitmapLength_ * 8, totalClusters_);
    uint64_t cluster = start / perCluster;
    while (cluster < clusters && BitSet(bitmap_, cluster)) {
        if ((cluster & 7) == 0 && bitmap_[cluster >> 3] == 0xFF) {
            cluster += 8;
        } else {
            ++cluster;
        }
    }
    if (cluster >= clusters) {
        start = volumeSectors;
        return 1;
    }
    start = std::max(start, cluster * perCluster);
    uint64_t free = cluster;
    while (free < clusters && !BitSet(bitmap_, free)) {
        if ((free & 7) == 0 && bitmap_[free >> 3] == 0) {
            free += 8;
        } else {
            ++free;
        }
    }
    free = std::min(free, clusters);
    uint64_t end = std::min(free * perCluster, volumeSectors);
    length = end > start ? end - start : 0;
    return 1;
}

}  // namespace sorvane
