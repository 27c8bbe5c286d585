#include "engines/professional_recovery.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "carving/file_signature.h"
#include "device/byte_view.h"
#include "engines/engine_factory.h"
#include "engines/exfat_file_data.h"
#include "engines/fast_ntfs_recovery.h"
#include "fs/fat_directory_sector.h"
#include "platform/file_handle.h"
#include "platform/path_text.h"
#include "platform/read_ahead.h"
#include "platform/result_codes.h"
#include "platform/volume_registry.h"
#include "results/file_categories.h"
#include "results/result_order.h"

namespace sorvane {
namespace {

constexpr uint32_t kImageDriveIndex128 = 128;
constexpr int kQuickWeight = 9;
constexpr int kPassWeight = 90;
constexpr int64_t kEstimateIntervalMs = 5000;
// A deep scan saves its state every few seconds, so a scan killed at any
// moment continues from a few seconds before, but never spends more than
// about a tenth of its time doing so.
constexpr int64_t kCheckpointIntervalMs = 2000;
constexpr int64_t kCheckpointCostFactor = 10;
constexpr size_t kFreshRecordBytes = 8192;
// How far ahead of the pass the source is read, in bytes: enough to keep the
// medium busy while a chunk is classified, small enough to stay in the cache.
constexpr uint64_t kReadAheadBytes = 16ull << 20;
constexpr size_t kReadAheadPiece = 1u << 20;

// Brings the source into the system's cache ahead of the pass on a thread of
// its own: the point is that the pages are in the cache (and the cost of
// bringing them there is paid) before the pass reads them. Where the system
// takes a request to fill its cache, that costs no copy (a copy of every byte
// is as dear as the pass's own read when the source is cached already);
// elsewhere the thread reads into a scratch buffer that nobody looks at.
// The pass still reads every chunk itself, so what it sees cannot change.
class ReadAheadThread {
  public:
    explicit ReadAheadThread(const FileHandle& handle) : handle_(handle), thread_([this] { Loop(); }) {}
    ~ReadAheadThread() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    // The pass now reads bytes [from, end) of the source, from `from` on.
    void Follow(uint64_t from, uint64_t end) {
        bool wake;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (end != end_ || from < consumed_ || from > ahead_) ahead_ = from;
            consumed_ = from;
            end_ = end;
            // Woken only once half the lead is used up: waking it for every
            // chunk costs more in switches than the reading saves.
            wake = ahead_ < end_ && ahead_ - consumed_ <= kReadAheadBytes / 2;
        }
        if (wake) wake_.notify_one();
    }

  private:
    void Loop() {
        std::vector<uint8_t> scratch(kReadAheadPiece);
        std::unique_lock<std::mutex> lock(mutex_);
        while (!stop_) {
            if (ahead_ >= end_ || ahead_ >= consumed_ + kReadAheadBytes) {
                wake_.wait(lock);
                continue;
            }
            uint64_t at = ahead_;
            size_t length = static_cast<size_t>(std::min<uint64_t>(kReadAheadPiece, end_ - at));
            lock.unlock();
            size_t got = length;
            // Only how far the read got matters: it warms the cache.
            if (!AdviseWillNeed(handle_, at, length))
                static_cast<void>(handle_.ReadAt(at, scratch.data(), length, got));
            lock.lock();
            if (ahead_ == at)
                ahead_ = got == 0 ? end_ : at + got;  // a failing read ends the read-ahead of this run
        }
    }

    const FileHandle& handle_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    uint64_t consumed_ = 0, ahead_ = 0, end_ = 0;
    std::thread thread_;
};

// True when the sector may be an NTFS file record of `recordSize` bytes: the
// magic, a sane size in use, the allocated size, and the update sequence number
// repeated at the end of the first sector.
inline bool LooksLikeFileRecord(const uint8_t* p, uint32_t recordSize) {
    if (p[0] != 'F' || p[1] != 'I' || p[2] != 'L' || p[3] != 'E') return false;
    ByteView v(p, 512);
    return v.U32(24) <= recordSize && v.U32(28) == recordSize && v.U16(48) == v.U16(510);
}

// False for almost every ordinary sector, in a few instructions: a sector of
// FAT directory entries (or a directory start) has a first entry whose
// attribute byte is below 0x40 and names a file, a directory, a label or a
// long-name piece. The full tests below decide the rest.
inline bool MayHoldFatEntries(const uint8_t* p) {
    const uint8_t attr = p[11];
    return p[0] != 0 && attr < 0x40 && ((attr & 0x30) != 0 || attr == 0x08 || attr == 0x0F);
}

std::string LowerExtensionOf(const FoundItemRecord& r) { return LowerExtension(r.Name()); }

// A carved file that starts where a file-system file starts is that file when
// their extensions agree (a carved JPEG inside a ".thm" thumbnail counts too).
bool SameCarvedFile(const std::string& fileSystemExt, const std::string& carvedExt) {
    return fileSystemExt == carvedExt || (fileSystemExt == "thm" && carvedExt == "jpg");
}

}  // namespace

CProfessionalRecovery::CProfessionalRecovery() = default;

CProfessionalRecovery::~CProfessionalRecovery() {
    quick_.reset();
    reader_.Close();
}

int CProfessionalRecovery::OpenImage(const std::filesystem::path& imagePath, uint16_t letter) {
    FileHandle probe;
    int rc = OpenReadOnly(imagePath, probe);
    if (rc != 0) return rc;
    uint64_t size = 0;
    rc = probe.Size(size);
    if (rc != 0) return rc;
    letter_ = letter;
    sectorSize_ = 512;
    driveIndex_ = kImageDriveIndex128;
    rangeStart_ = 0;
    rangeLength_ = size / sectorSize_;
    imagePath_ = imagePath;
    reader_.Close();
    rc = OpenImageReader(imagePath, reader_);
    if (rc != 0) return rc;
    resume_ = ResumeRecord{};
    resumeFlag_ = CScanResumeStore::Instance().FindForImage(imagePath, resume_);
    int fatResult = fat_.OpenImage(imagePath, letter);
    int exfatResult = exfat_.OpenImage(imagePath, letter);
    int ntfsResult = ntfs_.OpenImage(imagePath, letter);
    quick_ = CreateRecoveryEngineForImage(imagePath, letter, false);
    if (ntfsResult != 0) return ntfsResult;
    return fatResult != 0 ? fatResult : exfatResult;
}

int CProfessionalRecovery::OpenPartition(int driveIndex, uint64_t partitionStart, uint64_t partitionSectors,
                                         uint16_t letter) {
    letter_ = letter;
    driveIndex_ = driveIndex;
    rangeStart_ = partitionStart;
    rangeLength_ = partitionSectors;
    imagePath_.clear();
    reader_.Close();
    int rc = OpenPhysicalDriveReader(reader_, driveIndex);
    if (rc != 0) return rc;
    sectorSize_ = DriveSectorSize(reader_);
    if (sectorSize_ < 512 || sectorSize_ % 512 != 0 || sectorSize_ > kChunkBytes) sectorSize_ = 512;
    resume_ = ResumeRecord{};
    resumeFlag_ = CScanResumeStore::Instance().FindForPartition(
        static_cast<uint32_t>(driveIndex), partitionStart, partitionSectors, letter, resume_);
    int fatResult = fat_.OpenPartition(driveIndex, partitionStart, partitionSectors, letter);
    int exfatResult = exfat_.OpenPartition(driveIndex, partitionStart, partitionSectors, letter);
    int ntfsResult = ntfs_.OpenPartition(driveIndex, partitionStart, partitionSectors, letter);
    quick_ = CreateRecoveryEngine(driveIndex, partitionStart, partitionSectors, letter, false);
    if (ntfsResult != 0) return ntfsResult;
    return fatResult != 0 ? fatResult : exfatResult;
}

void CProfessionalRecovery::DeclineResume() {
    if (!resumeFlag_) return;
    CScanResumeStore& store = CScanResumeStore::Instance();
    store.DeleteScan(PathFromUtf8(resume_.scanFolder));
    store.Save();
    resumeFlag_ = false;
    resume_ = ResumeRecord{};
}

int CProfessionalRecovery::SetCallbacks(ScanProgressCallback scanProgress, CopyProgressCallback copyProgress,
                                        void* userData, int) {
    scanProgress_ = scanProgress;
    copyProgress_ = copyProgress;
    userData_ = userData;
    weight_ = kPassWeight;
    if (quick_) quick_->SetCallbacks(scanProgress, copyProgress, userData, kQuickWeight);
    fat_.SetCallbacks(scanProgress, copyProgress, userData, kPassWeight);
    ntfs_.SetCallbacks(scanProgress, copyProgress, userData, kPassWeight);
    exfat_.SetCallbacks(scanProgress, copyProgress, userData, kPassWeight);
    carver_.SetCallbacks(scanProgress, copyProgress, userData, kPassWeight);
    return 0;
}

std::vector<std::string> CProfessionalRecovery::FileSystemsFound() {
    std::vector<std::string> found;
    if (fat_.GetFoundCount() > 0) found.push_back("FAT");
    if (ntfs_.GetFoundCount() > 0) found.push_back("NTFS");
    if (exfat_.GetFoundCount() > 0) found.push_back("exFAT");
    return found;
}

int CProfessionalRecovery::SetSearchCallback(SearchProgressCallback callback, void* userData) {
    searchCallback_ = callback;
    searchUserData_ = userData;
    if (quick_) quick_->SetSearchCallback(callback, userData);
    fat_.SetSearchCallback(callback, userData);
    ntfs_.SetSearchCallback(callback, userData);
    exfat_.SetSearchCallback(callback, userData);
    carver_.SetSearchCallback(callback, userData);
    return 0;
}

uint64_t CProfessionalRecovery::GetFoundCount() {
    uint64_t n =
        fat_.GetFoundCount() + ntfs_.GetFoundCount() + exfat_.GetFoundCount() + carver_.GetFoundCount();
    if (quick_) n += quick_->GetFoundCount();
    return n;
}

uint64_t CProfessionalRecovery::FoundForProgress() {
    // What the user is told has been found must never be more than the list
    // at the end shows: only files that will be listed are counted.
    return ListedSoFar();
}

int CProfessionalRecovery::ClassifyChunk(const uint8_t* chunk, uint32_t sectors, uint64_t firstSector,
                                         int64_t& overshoot) {
    const uint32_t ss = sectorSize_;
    // The size the volume's boot sector gives, or the usual one for the sector size.
    const uint32_t recordSize = ntfs_.RecordSize();
    const int64_t chunkBytes = static_cast<int64_t>(sectors) * ss;
    int64_t remaining = chunkBytes;
    overshoot = 0;
    uint64_t found = FoundForProgress();
    for (uint32_t i = 0; i < sectors;) {
        const uint8_t* p = chunk + static_cast<size_t>(i) * ss;
        const uint64_t absolute = firstSector + i;
        uint64_t consumed = 1;
        if (LooksLikeFileRecord(p, recordSize)) {
            const uint8_t* record = p;
            if (static_cast<int64_t>(recordSize) > remaining) {
                // The record runs past this chunk: read it afresh, whole.
                recordBuffer_.assign(kFreshRecordBytes, 0);
                uint32_t got = 0;
                // Enough sectors for the record are all that is asked of either read.
                static_cast<void>(ReadSectors(static_cast<uint32_t>(kFreshRecordBytes / ss), reader_,
                                              recordBuffer_.data(), absolute, ss, &got));
                if (got == 0) {
                    static_cast<void>(
                        ReadSectors(recordSize / ss, reader_, recordBuffer_.data(), absolute, ss, &got));
                }
                record = static_cast<uint64_t>(got) * ss >= recordSize ? recordBuffer_.data() : nullptr;
            }
            if (record && !(ByteView(record, recordSize).U16(22) & 0x0002))
                ntfs_.OnFileRecord(record, recordSize, absolute);
        } else if (CProfessionalExfatRecovery::MayHoldEntrySets(p, ss) &&
                   exfat_.OnSector(p, static_cast<size_t>(remaining), absolute)) {
            // Sectors of exFAT entry sets hold no file data for the carver.
        } else if (MayHoldFatEntries(p) && p[0] == '.' && IsFatDirectoryStart(p, ss, 0)) {
            fat_.OnDirectoryStart(p, absolute);
        } else if (MayHoldFatEntries(p) && IsFatDirectorySector(p, ss)) {
            fat_.OnDirectorySector(p, absolute);
        } else {
            // The carver counts what it adds, but a carved file may yet prove a
            // copy of a listed one: the count it reports stays the listed one.
            uint64_t shownFound = found;
            int rc = carver_.RecordCarvedFile(ss, p, static_cast<size_t>(remaining), absolute, done_ + i,
                                              total_, static_cast<int32_t>(remainingSeconds_), &reader_,
                                              consumed, shownFound);
            if (rc == kCancelCode) {
                overshoot = -static_cast<int64_t>(sectors - i);
                return kCancelCode;
            }
            if (consumed == 0) consumed = 1;
            // A carved file's length is often a guess that runs over what
            // follows it; exFAT entry sets prove themselves by their checksum,
            // so the sectors it took are still searched for them (those past
            // this chunk below).
            const uint64_t inChunk = std::min<uint64_t>(consumed, sectors - i);
            for (uint64_t k = 1; k < inChunk; ++k) {
                const uint8_t* q = p + k * ss;
                if (CProfessionalExfatRecovery::MayHoldEntrySets(q, ss))
                    exfat_.OnSector(q, static_cast<size_t>(remaining - static_cast<int64_t>(k * ss)),
                                    absolute + k);
            }
        }
        remaining -= static_cast<int64_t>(consumed) * ss;
        if (remaining < 0) {
            overshoot = -remaining / ss;
            SearchExfatSetsBeyondChunk(firstSector + sectors, static_cast<uint64_t>(overshoot));
            break;
        }
        i += static_cast<uint32_t>(consumed);
    }
    return 0;
}

void CProfessionalRecovery::SearchExfatSetsBeyondChunk(uint64_t firstSector, uint64_t count) {
    // Only an exFAT volume has entry sets to lose under a carved file's guessed length.
    if (!exfat_.HasLayout() || count == 0) return;
    const uint32_t ss = sectorSize_;
    std::vector<uint8_t> piece(kChunkBytes);
    const uint32_t pieceSectors = kChunkBytes / ss;
    for (uint64_t done = 0; done < count;) {
        const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(pieceSectors, count - done));
        uint32_t got = 0;
        // The sectors read are searched; the first that cannot be read ends the search.
        static_cast<void>(ReadSectors(n, reader_, piece.data(), firstSector + done, ss, &got));
        if (got == 0) return;
        for (uint32_t k = 0; k < got; ++k) {
            const uint8_t* q = piece.data() + static_cast<size_t>(k) * ss;
            if (CProfessionalExfatRecovery::MayHoldEntrySets(q, ss))
                exfat_.OnSector(q, static_cast<size_t>(got - k) * ss, firstSector + done + k);
        }
        done += got;
    }
}

int CProfessionalRecovery::Scan(const std::string*) {
    CScanResumeStore& store = CScanResumeStore::Instance();
    chunksRead_ = 0;
    unreadable_ = BadSectorMap();
    recordsUnreadable_ = false;
    done_ = 0;
    total_ = 0;
    quickFiles_.reset();
    deepDuplicates_.reset();
    folderMerge_.reset();
    listed_ = ListedCount();
    remainingSeconds_ = -1;
    freeOnly_ = false;
    resumedAt_ = 0;
    resumed_ = false;
    resumeDiscarded_ = false;
    resumedFinished_ = false;
    checkpoints_ = 0;
    engineState_.reset();
    checkpointBytes_.clear();

    Checkpoint saved;
    bool resuming = resumeFlag_;
    scanFolder_ = resuming ? PathFromUtf8(resume_.scanFolder) : store.NewScanFolder();
    if (resuming && !LoadCheckpoint(saved)) {
        // Logs that no checkpoint describes may hold records written after the
        // last consistent moment: continuing them could list a file twice or
        // lose one. The earlier scan is dropped and this one starts afresh.
        store.DeleteScan(scanFolder_);
        resuming = false;
        resumeFlag_ = false;
        resumeDiscarded_ = true;
        scanFolder_ = store.NewScanFolder();
    }
    const Checkpoint* from = resuming ? &saved : nullptr;

    int quickResult = RunQuickScan(from);
    if (quickResult == kCancelCode) {
        if (!resuming) {
            store.DecrementScanCounter();
            store.Save();
        }
        return quickResult;
    }
    // Records that cannot be read (a boot sector with impossible fields,
    // an MFT and mirror that do not read) cost the file system's own list,
    // never the search: the pass then covers the whole range.
    if (from) {
        // What the first run found out is kept: a reattached log says nothing of it.
        recordsUnreadable_ = saved.recordsUnreadable;
        freeOnly_ = saved.freeOnly && quick_ != nullptr;
        if (auto* quickLog = dynamic_cast<CLogEngineBase*>(quick_.get()))
            quickLog->SetUnreadableRecords(saved.quickUnreadableRecords);
    } else if (quick_) {
        auto* ntfs = dynamic_cast<CFastNtfsRecovery*>(quick_.get());
        if (quickResult != 0 || (ntfs && ntfs->MftRecordCount() == 0)) {
            recordsUnreadable_ = true;
            freeOnly_ = false;
            if (quickResult != 0) quick_.reset();
        }
    }
    if (int rc = StartSubEngineLogs(from); rc != 0) return rc;
    if (from && !saved.finished && !RestoreEngineState()) {
        // Cannot happen with a checkpoint this program wrote whole; a damaged
        // one must not be continued.
        resumeFlag_ = false;
        store.DeleteScan(scanFolder_);
        store.Save();
        const int rc = Scan(nullptr);
        resumeDiscarded_ = true;
        return rc;
    }
    if (from && !saved.logs[0]) quick_.reset();
    PassRun run = PlanPass(from);

    int result = 0;
    if (from && saved.finished) {
        // A finished scan is shown as it ended; nothing is searched again.
        resumedFinished_ = true;
    } else {
        result = RunPass(run);
        if (result != 0) {
            // The state at the stop is saved before the consolidation below
            // adds to the logs, so a resumed scan goes on from the pass itself.
            SaveCheckpoint(run, false);
        }
        // Consolidation, also after a stop, so what was found can be shown.
        fat_.Consolidate();
        ntfs_.Consolidate();
        exfat_.Consolidate();
        GiveCarvedExtensions();
        LendCarvedVerdicts();
        if (result == 0) SaveCheckpoint(run, true);
    }
    if (result == 0 && scanProgress_) scanProgress_(userData_, 100, 100, 0, 0, 0, ShownSoFar(true));
    return result;
}

CScanLog* CProfessionalRecovery::LogOf(int slot) {
    switch (slot) {
        case 0: {
            auto* quick = dynamic_cast<CLogEngineBase*>(quick_.get());
            return quick ? quick->Log() : nullptr;
        }
        case 1:
            return fat_.Log();
        case 2:
            return ntfs_.Log();
        case 3:
            return exfat_.Log();
        case 4:
            return carver_.Log();
    }
    return nullptr;
}

int CProfessionalRecovery::SaveCheckpoint(const PassRun& run, bool finished) {
    CheckpointWriter w;
    w.U32(static_cast<uint32_t>(driveIndex_));
    w.U64(rangeStart_);
    w.U64(rangeLength_);
    w.U32(sectorSize_);
    w.Bool(finished);
    w.U64(run.start);
    w.U64(run.length);
    w.U64(run.position);
    w.U64(done_);
    w.U64(chunksRead_);
    w.Bool(recordsUnreadable_);
    w.Bool(freeOnly_);
    auto* quickLog = dynamic_cast<CLogEngineBase*>(quick_.get());
    w.U64(quickLog ? quickLog->UnreadableRecords() : 0);
    w.U64(unreadable_.Ranges().size());
    for (const SectorRange& range : unreadable_.Ranges()) {
        w.U64(range.first);
        w.U64(range.count);
    }
    int result = 0;
    for (int slot = 0; slot < 5; ++slot) {
        CScanLog* log = LogOf(slot);
        w.Bool(log != nullptr);
        if (!log) continue;
        LogCheckpoint described;
        if (int rc = CheckpointLog(*log, described); rc != 0 && result == 0) result = rc;
        WriteLogCheckpoint(w, described);
    }
    // Records that did not reach the disk cannot be described; the previous
    // checkpoint stays the one to continue from.
    if (result != 0) return result;
    if (!finished) {
        fat_.SaveState(w);
        ntfs_.SaveState(w);
        exfat_.SaveState(w);
        const CarveJob& job = carver_.Job();
        w.U64(job.tsRanges.size());
        for (const TsRange& ts : job.tsRanges) {
            w.U64(ts.firstSector);
            w.U64(ts.lastSector);
        }
        w.Bool(job.inTransportStream);
        w.Bool(job.inMts);
    }
    if (int rc = SaveCheckpointFile(scanFolder_, w.Data()); rc != 0) return rc;
    ++checkpoints_;
    return CScanResumeStore::Instance().WriteProgress(
        letter_, static_cast<uint32_t>(driveIndex_), rangeStart_, rangeLength_, run.start, run.length,
        run.position, done_, FoundForProgress(), scanFolder_, imagePath_);
}

bool CProfessionalRecovery::LoadCheckpoint(Checkpoint& out) {
    if (LoadCheckpointFile(scanFolder_, checkpointBytes_) != 0) return false;
    engineState_.emplace(checkpointBytes_);
    CheckpointReader& r = *engineState_;
    uint32_t driveIndex = 0, sectorSize = 0;
    uint64_t rangeStart = 0, rangeLength = 0, ranges = 0;
    if (!r.U32(driveIndex) || !r.U64(rangeStart) || !r.U64(rangeLength) || !r.U32(sectorSize)) return false;
    // The checkpoint of another range (a foreign or damaged folder) is not this scan's.
    if (driveIndex != static_cast<uint32_t>(driveIndex_) || rangeStart != rangeStart_ ||
        rangeLength != rangeLength_ || sectorSize != sectorSize_)
        return false;
    if (!r.Bool(out.finished) || !r.U64(out.run.start) || !r.U64(out.run.length) ||
        !r.U64(out.run.position) || !r.U64(out.done) || !r.U64(out.chunksRead) ||
        !r.Bool(out.recordsUnreadable) || !r.Bool(out.freeOnly) || !r.U64(out.quickUnreadableRecords) ||
        !r.Count(ranges, 16))
        return false;
    if (out.run.start > rangeLength_ || out.run.length > rangeLength_ - out.run.start ||
        out.run.position > out.run.length || out.done > rangeLength_)
        return false;
    for (uint64_t i = 0; i < ranges; ++i) {
        uint64_t first = 0, count = 0;
        if (!r.U64(first) || !r.U64(count)) return false;
        out.unreadable.Add(first, count);
    }
    static const char* const kPrefixes[5] = {"Fast_", "Pro_Fat_", "Pro_Ntfs_", "Pro_Exfat_", "File_Type_"};
    for (int slot = 0; slot < 5; ++slot) {
        bool present = false;
        if (!r.Bool(present)) return false;
        if (!present) continue;
        LogCheckpoint log;
        if (!ReadLogCheckpoint(r, log) || !IsLogFileName(log.name, kPrefixes[slot])) return false;
        out.logs[slot] = std::move(log);
    }
    if (!out.logs[1] || !out.logs[2] || !out.logs[3] || !out.logs[4]) return false;
    // Whatever was appended after the checkpoint goes; the logs are then as
    // they were at that moment.
    for (const auto& log : out.logs)
        if (log && CutLogBack(scanFolder_, *log) != 0) return false;
    return true;
}

bool CProfessionalRecovery::RestoreEngineState() {
    if (!engineState_) return false;
    CheckpointReader& r = *engineState_;
    if (!fat_.RestoreState(r) || !ntfs_.RestoreState(r) || !exfat_.RestoreState(r)) return false;
    uint64_t n = 0;
    if (!r.Count(n, 16)) return false;
    TsRangeList ranges(n);
    for (TsRange& ts : ranges)
        if (!r.U64(ts.firstSector) || !r.U64(ts.lastSector)) return false;
    CarveJob& job = carver_.Job();
    if (!r.Bool(job.inTransportStream) || !r.Bool(job.inMts) || !r.AtEnd()) return false;
    job.tsRanges = std::move(ranges);
    return true;
}

int CProfessionalRecovery::QuickProgress(void* self, int percent, int weight, int64_t remaining,
                                         uint64_t done, uint64_t total, uint64_t) {
    auto* me = static_cast<CProfessionalRecovery*>(self);
    if (!me->scanProgress_) return 0;
    // The quick engine counts its folders too; the user hears of files.
    CScanLog* log = me->LogOf(0);
    const uint64_t files = me->shownFilter_ ? me->ShownSoFar() : log ? log->ListedFileCount() : 0;
    return me->scanProgress_(me->userData_, percent, weight, remaining, done, total, files);
}

int CProfessionalRecovery::RunQuickScan(const Checkpoint* saved) {
    if (!quick_) return 0;
    quick_->SetCallbacks(QuickProgress, nullptr, this, kQuickWeight);
    freeOnly_ = quick_->LoadAllocationMap() == 0;
    if (saved) {
        if (!saved->logs[0]) return 0;  // the first run had no quick list; dropped once restored
        std::string name = saved->logs[0]->name;
        return quick_->Scan(&name);
    }
    return quick_->Scan(nullptr);
}

int CProfessionalRecovery::StartSubEngineLogs(const Checkpoint* saved) {
    auto nameOf = [saved](int slot) -> const std::string* {
        return saved && saved->logs[slot] ? &saved->logs[slot]->name : nullptr;
    };
    int rc = 0;
    if (const std::string* carveName = nameOf(4)) {
        if (!imagePath_.empty())
            rc = carver_.AttachToImage(sectorSize_, *carveName, letter_, imagePath_);
        else
            rc = carver_.AttachToDrive(sectorSize_, driveIndex_, *carveName, letter_);
    } else if (!imagePath_.empty()) {
        rc = carver_.OpenImage(imagePath_, letter_);
    } else {
        rc = carver_.OpenPartition(driveIndex_, rangeStart_, rangeLength_, letter_);
    }
    // A log that cannot be started would lose everything its engine finds.
    int fatRc = fat_.StartScanLog(nameOf(1));
    int ntfsRc = ntfs_.StartScanLog(nameOf(2));
    int exfatRc = exfat_.StartScanLog(nameOf(3));
    if (rc == 0) rc = fatRc;
    if (rc == 0) rc = exfatRc;
    if (rc == 0) rc = ntfsRc;
    fat_.RegisterBootSector();
    exfat_.RegisterBootSector();
    carver_.Job().StartScan();
    return rc;
}

CProfessionalRecovery::PassRun CProfessionalRecovery::PlanPass(const Checkpoint* saved) {
    // Runs are relative to the range start.
    PassRun run;
    if (freeOnly_) {
        uint64_t start = 0, length = 0;
        while (start < rangeLength_ && quick_->NextFreeExtent(start, length) && length > 0) {
            total_ += length;
            start += length;
        }
        run.start = 0;
        if (!quick_->NextFreeExtent(run.start, run.length)) run.length = 0;
    } else {
        total_ = rangeLength_;
        run.length = rangeLength_;
    }
    if (saved) {
        run = saved->run;
        done_ = saved->done;
        chunksRead_ = saved->chunksRead;
        unreadable_ = saved->unreadable;
        resumedAt_ = done_;
        resumed_ = true;
        resumeFlag_ = false;
    }
    return run;
}

int CProfessionalRecovery::RunPass(PassRun& run) {
    std::vector<uint8_t> chunk(kChunkBytes);
    const uint32_t chunkSectors = kChunkBytes / sectorSize_;
    int result = 0;
    const auto passStart = std::chrono::steady_clock::now();
    auto lastEstimate = passStart;
    const uint64_t doneAtStart = done_;
    AdviseSequential(reader_.handle);
    // The first checkpoint keeps the quick scan's work; later ones follow
    // every few seconds, spaced so that writing them stays a small share of
    // the scan however large the engines' state grows.
    uint64_t chunksSinceCheckpoint = 0;
    auto checkpoint = [&] {
        const auto before = std::chrono::steady_clock::now();
        SaveCheckpoint(run, false);
        const auto after = std::chrono::steady_clock::now();
        const int64_t took = std::chrono::duration_cast<std::chrono::milliseconds>(after - before).count();
        checkpointIntervalMs_ = std::max<int64_t>(kCheckpointIntervalMs, took * kCheckpointCostFactor);
        chunksSinceCheckpoint = 0;
        return after;
    };
    auto lastCheckpoint = checkpoint();
    std::unique_ptr<ReadAheadThread> readAhead;
    if (run.length > run.position) readAhead = std::make_unique<ReadAheadThread>(reader_.handle);
    while (result == 0) {
        while (run.position < run.length) {
            uint64_t left = run.length - run.position;
            uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(chunkSectors, left));
            uint64_t absolute = rangeStart_ + run.start + run.position;
            if (readAhead)
                readAhead->Follow(absolute * sectorSize_,
                                  (rangeStart_ + run.start + run.length) * sectorSize_);
            // A chunk with unreadable sectors is searched with zeros in their
            // place: the sectors around a bad one still hold files.
            uint32_t got = n;
            if (ReadSectorsSalvaging(n, reader_, chunk.data(), absolute, sectorSize_, unreadable_) ==
                kErrInvalidParameter)
                got = 0;
            ++chunksRead_;
            int64_t overshoot = 0;
            if (got > 0) {
                try {
                    result = ClassifyChunk(chunk.data(), got, absolute, overshoot);
                } catch (...) {
                    // A fault while classifying costs the rest of this chunk, never the scan.
                    overshoot = 0;
                }
            }
            int64_t advance = static_cast<int64_t>(n) + overshoot;
            if (advance < 0) advance = 0;
            uint64_t step = std::min<uint64_t>(static_cast<uint64_t>(advance), left);
            run.position += step;
            done_ += step;
            auto now = std::chrono::steady_clock::now();
            auto sinceEstimate =
                std::chrono::duration_cast<std::chrono::milliseconds>(now - lastEstimate).count();
            if (sinceEstimate >= kEstimateIntervalMs && weight_ == kPassWeight) {
                lastEstimate = now;
                int64_t elapsed = std::chrono::duration_cast<std::chrono::seconds>(now - passStart).count();
                if (elapsed > 0) {
                    uint64_t speed = static_cast<uint64_t>(sectorSize_) * (done_ - doneAtStart) / elapsed;
                    if (speed == 0) speed = 1;
                    remainingSeconds_ =
                        static_cast<int64_t>((total_ > done_ ? total_ - done_ : 0) * sectorSize_ / speed);
                }
            }
            if (result != 0) break;
            if (scanProgress_) {
                int percent =
                    total_ ? static_cast<int>(std::min<uint64_t>(done_, total_) * 100 / total_) + 10 : 100;
                int answer = scanProgress_(userData_, std::min(percent, 100), kPassWeight, remainingSeconds_,
                                           done_, total_, ShownSoFar());
                if (answer != 0) {
                    result = answer;
                    break;
                }
            }
            ++chunksSinceCheckpoint;
            const bool due =
                checkpointChunks_ > 0
                    ? chunksSinceCheckpoint >= checkpointChunks_
                    : std::chrono::duration_cast<std::chrono::milliseconds>(now - lastCheckpoint).count() >=
                          checkpointIntervalMs_;
            if (due) lastCheckpoint = checkpoint();
        }
        if (result != 0 || !freeOnly_) break;
        uint64_t next = run.start + run.length;
        uint64_t length = 0;
        if (next >= rangeLength_ || !quick_->NextFreeExtent(next, length) || length == 0) break;
        run.start = next;
        run.length = length;
        run.position = 0;
    }
    return result;
}

std::optional<uint64_t> CProfessionalRecovery::DataStartOf(const FoundItemRecord& r) {
    if (r.IsFolder()) return std::nullopt;
    const uint32_t ss = sectorSize_;
    switch (r.Engine()) {
        case EngineCode::kQuickNtfs:
        case EngineCode::kDeepNtfs: {
            std::vector<NtfsRun> runs;
            if (ntfs_.ReadDataRuns(r.location, runs) != 0 || runs.empty() || runs[0].sparse ||
                runs[0].offset < 0)
                return std::nullopt;
            return static_cast<uint64_t>(runs[0].offset) * r.clusterBytes / ss + r.partitionStart;
        }
        case EngineCode::kQuickFat:
        case EngineCode::kDeepFat: {
            if (r.clusterBytes == kFolderClusterBytes) return std::nullopt;
            if (r.key >= 2)
                return static_cast<uint64_t>(r.clusterBytes / ss) * (r.key - 2) + r.partitionStart +
                       r.dataStart;
            if (r.key == 0 && r.partitionStart + r.dataStart >= 32)
                return r.partitionStart + r.dataStart - 32;
            return std::nullopt;
        }
        case EngineCode::kQuickExfat:
        case EngineCode::kDeepExfat: {
            if (r.clusterBytes == kFolderClusterBytes || r.key < 2 || r.clusterBytes % ss != 0)
                return std::nullopt;
            return r.partitionStart + r.dataStart + uint64_t{r.key - 2} * (r.clusterBytes / ss);
        }
        default:
            return std::nullopt;
    }
}

uint64_t CProfessionalRecovery::ListedSoFar(bool complete) {
    // Worked out from the records written since the last call, at most a few
    // times a second and for a few dozen milliseconds each time: the progress
    // callback asks after every chunk, and an NTFS file's start costs a read.
    // A count that lags behind the logs is still never more than the list.
    constexpr size_t kRecordsPerRead = 4096;
    const auto now = std::chrono::steady_clock::now();
    if (!complete && listed_.updated && now - *listed_.updated < std::chrono::milliseconds(200))
        return listed_.count;
    listed_.updated = now;
    const auto deadline = now + std::chrono::milliseconds(50);
    const FoundFileIdentities* quick = nullptr;
    std::vector<FoundItemRecord> fresh;
    for (int slot = 0; slot < 5; ++slot) {
        CScanLog* log = LogOf(slot);
        while (log && log->Count() > listed_.cursor[slot]) {
            if (!complete && std::chrono::steady_clock::now() > deadline) return listed_.count;
            fresh.clear();
            const uint32_t first = listed_.cursor[slot] + 1;
            const uint32_t last =
                static_cast<uint32_t>(std::min<uint64_t>(log->Count(), first + kRecordsPerRead - 1));
            static_cast<void>(log->ReadRange(first, last, fresh));
            if (fresh.empty()) break;  // counted on a later call
            listed_.cursor[slot] += static_cast<uint32_t>(fresh.size());
            for (const FoundItemRecord& r : fresh) CountListed(r, quick);
        }
    }
    return listed_.count;
}

uint64_t CProfessionalRecovery::ShownSoFar(bool complete) {
    const uint64_t listed = ListedSoFar(complete);
    return shownFilter_ ? listed_.shown : listed;
}

void CProfessionalRecovery::LendCarvedVerdicts() {
    // The deep FAT engine copies a file as one run from its first cluster,
    // and the deep NTFS engine a file whose data is one run: the run the
    // carver measured from the same sector, so the carver's structure check
    // holds for it: whole when the structure ended within the file's size;
    // damaged when it broke, or was cut short by another file's start, which
    // then lies inside the run the copy takes. Nothing is read from the disk
    // but the file records of NTFS files that a carved file may match.
    CScanLog* carvedLog = carver_.Log();
    if (!carvedLog || carvedLog->Count() == 0) return;
    struct Carved {
        std::string ext;
        uint64_t size = 0;
        uint32_t check = 0;
    };
    std::map<uint64_t, Carved> carved;
    std::set<std::string> carvedTypes;
    // Where a read fails, the records after it stay as they are.
    carvedLog->ForEachRecordFrom(1, [&](FoundItemRecord& r) {
        const uint32_t check = r.contentCheck;
        if (r.IsFolder() || (check != kContentWhole && check != kContentDamaged)) return;
        carved[uint64_t{r.location}] = Carved{LowerExtensionOf(r), uint64_t{r.size}, check};
        carvedTypes.insert(carved[uint64_t{r.location}].ext);
    });
    if (carved.empty()) return;
    carvedTypes.insert("thm");  // a camera's thumbnail is carved as a JPEG
    for (CScanLog* log : {fat_.Log(), ntfs_.Log()}) {
        if (!log || log->Count() == 0) continue;
        std::vector<FoundItemRecord> lent;
        log->ForEachRecordFrom(1, [&](FoundItemRecord& r) {
            if (r.IsFolder() || r.size == 0 || r.contentCheck != kContentNotChecked) return;
            const std::string ext = LowerExtensionOf(r);
            if (!carvedTypes.count(ext)) return;
            if (r.Engine() == EngineCode::kDeepNtfs) {
                std::vector<NtfsRun> runs;
                if (ntfs_.ReadDataRuns(r.location, runs) != 0 || runs.size() != 1 || runs[0].sparse ||
                    runs[0].length * uint64_t{r.clusterBytes} < r.size)
                    return;
            }
            const std::optional<uint64_t> start = DataStartOf(r);
            if (!start) return;
            auto it = carved.find(*start);
            if (it == carved.end() || !SameCarvedFile(ext, it->second.ext)) return;
            const uint64_t size = r.size;
            const bool whole = it->second.check == kContentWhole && it->second.size <= size;
            const bool damaged = it->second.check == kContentDamaged;
            if (!whole && !damaged) return;
            r.contentCheck = whole ? kContentWhole : kContentDamaged;
            lent.push_back(r);
        });
        for (const FoundItemRecord& r : lent) static_cast<void>(log->RewriteRecord(r));
    }
}

void CProfessionalRecovery::CountListed(const FoundItemRecord& r, const FoundFileIdentities*& quick) {
    if (!CScanLog::IsListedFile(r)) return;
    const EngineCode engine = r.Engine();
    if (engine == EngineCode::kDeepFat || engine == EngineCode::kDeepNtfs) {
        // The quick list is complete before the pass: a deep record of one of
        // its files is never listed.
        if (!quick) quick = &QuickFiles();
        if (quick->Contains(r)) return;
    }
    const uint32_t entryIndex = uint32_t{r.engineSpecific} >> kExfatEntryIndexShift;
    if (engine == EngineCode::kQuickExfat) listed_.quickExfatSets.emplace(uint64_t{r.location}, entryIndex);
    if (engine == EngineCode::kDeepExfat && listed_.quickExfatSets.count({uint64_t{r.location}, entryIndex}))
        return;
    const std::string ext = LowerExtensionOf(r);
    const bool shown = !shownFilter_ || shownFilter_(r);
    if (engine == EngineCode::kRawSignature) {
        auto at = listed_.starts.find(uint64_t{r.location});
        if (at != listed_.starts.end())
            for (const std::string& fileExt : at->second)
                if (SameCarvedFile(fileExt, ext)) return;
        listed_.carved[uint64_t{r.location}] = {ext, shown};
        ++listed_.count;
        listed_.shown += shown ? 1 : 0;
        return;
    }
    ++listed_.count;
    listed_.shown += shown ? 1 : 0;
    const std::optional<uint64_t> start = DataStartOf(r);
    if (!start) return;
    listed_.starts[*start].push_back(ext);
    // A carved file counted before the file-system file that starts at its
    // sector was met is that file: it leaves the count as this one enters.
    auto carved = listed_.carved.find(*start);
    if (carved != listed_.carved.end() && SameCarvedFile(ext, carved->second.first)) {
        listed_.shown -= carved->second.second ? 1 : 0;
        listed_.carved.erase(carved);
        --listed_.count;
    }
}

std::vector<IFileRecoveryParse*> CProfessionalRecovery::Engines() {
    std::vector<IFileRecoveryParse*> engines;
    if (quick_) engines.push_back(quick_.get());
    engines.insert(engines.end(), {&fat_, &ntfs_, &exfat_, &carver_});
    return engines;
}

IFileRecoveryParse* CProfessionalRecovery::EngineFor(const FoundItemRecord& record) {
    switch (record.Engine()) {
        case EngineCode::kQuickNtfs:
        case EngineCode::kQuickFat:
        case EngineCode::kQuickExfat:
            return quick_.get();
        case EngineCode::kDeepNtfs:
            return &ntfs_;
        case EngineCode::kDeepFat:
            return &fat_;
        case EngineCode::kRawSignature:
            return &carver_;
        case EngineCode::kDeepExfat:
            return &exfat_;
    }
    return nullptr;
}

const FoundFileIdentities& CProfessionalRecovery::QuickFiles() {
    if (!quickFiles_) {
        quickFiles_.emplace(sectorSize_);
        if (quick_) {
            FoundItemList files;
            // A quick log that cannot be read leaves nothing to match duplicates against.
            static_cast<void>(
                quick_->FindByExtension(AllCategoriesPattern() + "|" + std::string(kOtherPattern), files));
            for (const FoundItemRecord& r : files) quickFiles_->Add(r);
        }
    }
    return *quickFiles_;
}

uint32_t CProfessionalRecovery::DeepDuplicates() {
    if (!deepDuplicates_) {
        const FoundFileIdentities& quick = QuickFiles();
        uint32_t count = 0;
        if (quick.Size() > 0) {
            FoundItemList deep;
            // A log that cannot be read counts no duplicates: the total then errs high, never low.
            static_cast<void>(
                fat_.FindByExtension(AllCategoriesPattern() + "|" + std::string(kOtherPattern), deep));
            static_cast<void>(
                ntfs_.FindByExtension(AllCategoriesPattern() + "|" + std::string(kOtherPattern), deep));
            for (const FoundItemRecord& r : deep) count += quick.Contains(r) ? 1 : 0;
        }
        deepDuplicates_ = count;
    }
    return *deepDuplicates_;
}

void CProfessionalRecovery::DropDuplicates(FoundItemList& list) {
    if (!quick_) return;
    const FoundFileIdentities& quick = QuickFiles();
    if (quick.Size() == 0) return;
    list.erase(
        std::remove_if(list.begin(), list.end(),
                       [&](const FoundItemRecord& r) {
                           EngineCode engine = r.Engine();
                           return (engine == EngineCode::kDeepFat || engine == EngineCode::kDeepNtfs) &&
                                  quick.Contains(r);
                       }),
        list.end());
}

int CProfessionalRecovery::ListChildren(const FoundItemRecord* folder, uint32_t level, FoundItemList& out) {
    int rc = 0;
    if (folder == nullptr) {
        if (level != 0) return kErrInvalidParameter;
        // Every engine's root is listed even when one fails; the first failure is the answer.
        for (IFileRecoveryParse* engine : Engines()) {
            int listed = engine->ListChildren(nullptr, 0, out);
            if (rc == 0) rc = listed;
        }
        ApplyFolderMerge(out);
    } else if (folder->Engine() != EngineCode::kRawSignature) {
        if (IFileRecoveryParse* engine = EngineFor(*folder)) rc = engine->ListChildren(folder, level, out);
    }
    DropDuplicates(out);
    SortResultList(out);
    return rc;
}

int CProfessionalRecovery::CountFiles(const FoundItemRecord* folder, uint32_t level, uint32_t& count) {
    if (folder == nullptr) {
        if (level != 0) return kErrInvalidParameter;
        // The root's count is what the merged search lists: every engine's
        // files, each file found twice counted once.
        FoundItemList all;
        int rc = FindByExtension(AllCategoriesPattern() + "|" + std::string(kOtherPattern), all);
        count += static_cast<uint32_t>(
            std::count_if(all.begin(), all.end(), [](const FoundItemRecord& r) { return !r.IsFolder(); }));
        return rc == 1 ? 0 : rc;
    }
    if (folder->Engine() == EngineCode::kRawSignature) return 0;
    CLogEngineBase* deep = folder->Engine() == EngineCode::kDeepFat    ? static_cast<CLogEngineBase*>(&fat_)
                           : folder->Engine() == EngineCode::kDeepNtfs ? static_cast<CLogEngineBase*>(&ntfs_)
                                                                       : nullptr;
    if (deep && quick_ && deep->Log() && QuickFiles().Size() > 0) {
        // A deep folder's count leaves out the files its listing leaves out:
        // those the quick engine found too.
        const int flushed = deep->Log()->Flush();
        const FoundFileIdentities& quick = QuickFiles();
        uint32_t found = 0;
        const int rc = deep->Log()->CountFilesBelow(
            folder->key, level, found, [&](const FoundItemRecord& r) { return !quick.Contains(r); });
        count += found;
        return rc != 0 ? rc : flushed;
    }
    IFileRecoveryParse* engine = EngineFor(*folder);
    return engine ? engine->CountFiles(folder, level, count) : 0;
}

int CProfessionalRecovery::GetFolderPath(const FoundItemRecord& record, std::string& path) {
    if (record.Engine() == EngineCode::kRawSignature) {
        path.clear();
        return 0;
    }
    IFileRecoveryParse* engine = EngineFor(record);
    if (!engine) return 0;
    const int rc = engine->GetFolderPath(record, path);
    const EngineCode code = record.Engine();
    if (rc == 0 &&
        (code == EngineCode::kDeepFat || code == EngineCode::kDeepNtfs || code == EngineCode::kDeepExfat)) {
        // A deep root folder the quick engine named goes by that name.
        const size_t slash = path.find_first_of("/\\");
        if (slash != std::string::npos) {
            const auto& names = MergedFolders().pathNames;
            auto it = names.find({code, path.substr(0, slash)});
            if (it != names.end()) path = it->second + path.substr(slash);
        }
    }
    return rc;
}

const CProfessionalRecovery::FolderMerge& CProfessionalRecovery::MergedFolders() {
    if (folderMerge_) return *folderMerge_;
    folderMerge_.emplace();
    CScanLog* quickLog = LogOf(0);
    if (!quickLog || quickLog->Count() == 0) return *folderMerge_;
    std::vector<FoundItemRecord> quickFolders;
    // A quick log that cannot be read names no folder: both are then listed, as before.
    quickLog->ForEachRecordFrom(1, [&](const FoundItemRecord& r) {
        if (r.IsFolder()) quickFolders.push_back(r);
    });
    const std::map<FolderIdentity, std::string> quickNames = QuickFolderNames(quickFolders);
    if (quickNames.empty()) return *folderMerge_;
    const FoundFileIdentities& quick = QuickFiles();
    for (CLogEngineBase* deep : {static_cast<CLogEngineBase*>(&fat_), static_cast<CLogEngineBase*>(&ntfs_),
                                 static_cast<CLogEngineBase*>(&exfat_)}) {
        FoundItemList root;
        if (!deep->Log() || deep->ListChildren(nullptr, 0, root) != 0) continue;
        for (const FoundItemRecord& folder : root) {
            const std::optional<std::string> name = QuickNameOf(quickNames, folder);
            if (!name) continue;
            const FolderIdentity id{folder.Engine(), folder.key};
            uint32_t unknown = 0;
            // exFAT files found twice are matched by their entry sets, not by
            // these identities: such a folder is renamed, never left out.
            const bool matchable = folder.Engine() != EngineCode::kDeepExfat;
            if (matchable &&
                deep->Log()->CountFilesBelow(folder.key, 1, unknown,
                                             [&](const FoundItemRecord& r) { return !quick.Contains(r); }) ==
                    0 &&
                unknown == 0) {
                folderMerge_->hidden.insert(id);
            } else {
                folderMerge_->names[id] = *name;
                folderMerge_->pathNames[{folder.Engine(), folder.Name()}] = *name;
            }
        }
    }
    return *folderMerge_;
}

void CProfessionalRecovery::ApplyFolderMerge(FoundItemList& rootList) {
    if (!quick_) return;
    const FolderMerge& merge = MergedFolders();
    if (merge.hidden.empty() && merge.names.empty()) return;
    rootList.erase(std::remove_if(rootList.begin(), rootList.end(),
                                  [&](const FoundItemRecord& r) {
                                      return r.IsFolder() && merge.hidden.count({r.Engine(), r.key}) != 0;
                                  }),
                   rootList.end());
    for (FoundItemRecord& r : rootList) {
        if (!r.IsFolder()) continue;
        auto it = merge.names.find({r.Engine(), r.key});
        if (it != merge.names.end()) r.SetName(it->second);
    }
}

void CProfessionalRecovery::GiveCarvedExtensions() {
    CScanLog* carvedLog = carver_.Log();
    if (!carvedLog || carvedLog->Count() == 0) return;
    std::map<uint64_t, FoundItemRecord> carved;
    carvedLog->ForEachRecordFrom(1, [&](const FoundItemRecord& r) {
        if (!r.IsFolder()) carved.emplace(uint64_t{r.location}, r);
    });
    for (int slot : {0, 1, 2}) {
        CScanLog* log = LogOf(slot);
        if (!log || log->Count() == 0) continue;
        std::vector<FoundItemRecord> renamed;
        log->ForEachRecordFrom(1, [&](const FoundItemRecord& r) {
            if (r.IsFolder() || r.size == 0 || !LowerExtensionOf(r).empty()) return;
            const std::optional<uint64_t> start = DataStartOf(r);
            if (!start) return;
            auto it = carved.find(*start);
            if (it == carved.end()) return;
            if (std::optional<FoundItemRecord> named = WithCarvedExtension(r, it->second))
                renamed.push_back(*named);
        });
        // A record that cannot be rewritten keeps its name; the carved copy is then listed too.
        for (const FoundItemRecord& r : renamed) static_cast<void>(log->RewriteRecord(r));
    }
}

int CProfessionalRecovery::RecoverItem(const FoundItemRecord& record,
                                       const std::filesystem::path& destination, uint32_t baseDepth) {
    IFileRecoveryParse* engine = EngineFor(record);
    lastCopyUnreadable_ = 0;
    if (!engine) return 0;
    const int rc = engine->RecoverItem(record, destination, baseDepth);
    lastCopyUnreadable_ = engine->UnreadableSectorsOfLastCopy();
    return rc;
}

int CProfessionalRecovery::PreviewItem(const FoundItemRecord& record, std::filesystem::path& tempPath,
                                       uint8_t* buffer, size_t& byteCount, PreviewProgressCallback progress,
                                       void* userData) {
    IFileRecoveryParse* engine = EngineFor(record);
    return engine ? engine->PreviewItem(record, tempPath, buffer, byteCount, progress, userData) : 0;
}

int CProfessionalRecovery::FindByExtension(const std::string& pattern, FoundItemList& out) {
    // 1 when every engine's log was read, else the first other answer.
    int result = 1;
    auto search = [&](IFileRecoveryParse& engine, FoundItemList& into) {
        int answer = engine.FindByExtension(pattern, into);
        if (result == 1) result = answer;
    };
    if (quick_) search(*quick_, out);
    search(fat_, out);
    search(ntfs_, out);
    DropDuplicates(out);
    {
        // The deep exFAT engine meets again the entry sets of folders the live
        // volume deleted, which the quick scan already listed: the same entry
        // set on disk is the same file.
        std::set<std::pair<uint64_t, uint32_t>> listed;
        for (const FoundItemRecord& r : out)
            if (r.Engine() == EngineCode::kQuickExfat && !r.IsFolder())
                listed.emplace(uint64_t{r.location}, uint32_t{r.engineSpecific} >> kExfatEntryIndexShift);
        FoundItemList deep;
        search(exfat_, deep);
        for (const FoundItemRecord& r : deep)
            if (!listed.count({uint64_t{r.location}, uint32_t{r.engineSpecific} >> kExfatEntryIndexShift}))
                out.push_back(r);
    }

    // Where each file-system file's data starts, with its extension.
    std::map<uint64_t, std::string> starts;
    for (const FoundItemRecord& r : out)
        if (auto start = DataStartOf(r)) starts[*start] = LowerExtensionOf(r);

    FoundItemList carved;
    search(carver_, carved);
    for (const FoundItemRecord& c : carved) {
        auto it = starts.find(uint64_t{c.location});  // a copy: the record is packed
        if (it != starts.end() && SameCarvedFile(it->second, LowerExtensionOf(c))) continue;
        out.push_back(c);
    }
    SortResultList(out);
    return result;
}

}  // namespace sorvane
