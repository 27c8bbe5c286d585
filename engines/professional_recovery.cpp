#include "engines/professional_recovery.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <condition_variable>
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
#include "platform/read_ahead.h"
#include "platform/result_codes.h"
#include "platform/volume_registry.h"
#include "platform/path_text.h"
#include "results/file_categories.h"
#include "results/result_order.h"

namespace sorvane {
namespace {

constexpr uint32_t kImageDriveIndex128 = 128;
constexpr int kQuickWeight = 9;
constexpr int kPassWeight = 90;
constexpr int64_t kEstimateIntervalMs = 5000;
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
            if (!AdviseWillNeed(handle_, at, length)) static_cast<void>(handle_.ReadAt(at, scratch.data(), length, got));
            lock.lock();
            if (ahead_ == at) ahead_ = got == 0 ? end_ : at + got;  // a failing read ends the read-ahead of this run
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
    resumeFlag_ = CScanResumeStore::Instance().FindForPartition(static_cast<uint32_t>(driveIndex), partitionStart,
                                                               partitionSectors, letter, resume_);
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
    uint64_t n = fat_.GetFoundCount() + ntfs_.GetFoundCount() + exfat_.GetFoundCount() + carver_.GetFoundCount();
    if (quick_) n += quick_->GetFoundCount();
    return n;
}

uint64_t CProfessionalRecovery::FoundForProgress() {
    // Reattached logs already count what the earlier run found.
    return std::max(GetFoundCount(), foundBase_);
}

int CProfessionalRecovery::ClassifyChunk(const uint8_t* chunk, uint32_t sectors, uint64_t firstSector,
                                         int64_t& overshoot) {
    const uint32_t ss = sectorSize_;
    const uint32_t recordSize = ss > 512 ? ss : 2 * ss;
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
                    static_cast<void>(ReadSectors(recordSize / ss, reader_, recordBuffer_.data(), absolute, ss, &got));
                }
                record = static_cast<uint64_t>(got) * ss >= recordSize ? recordBuffer_.data() : nullptr;
            }
            if (record && !(ByteView(record, recordSize).U16(22) & 0x0002)) ntfs_.OnFileRecord(record, recordSize, absolute);
        } else if (CProfessionalExfatRecovery::MayHoldEntrySets(p, ss) &&
                   exfat_.OnSector(p, static_cast<size_t>(remaining), absolute)) {
            // Sectors of exFAT entry sets hold no file data for the carver.
        } else if (MayHoldFatEntries(p) && p[0] == '.' && IsFatDirectoryStart(p, ss, 0)) {
            fat_.OnDirectoryStart(p, absolute);
        } else if (MayHoldFatEntries(p) && IsFatDirectorySector(p, ss)) {
            fat_.OnDirectorySector(p, absolute);
        } else {
            int rc = carver_.RecordCarvedFile(ss, p, static_cast<size_t>(remaining), absolute, done_ + i, total_,
                                              static_cast<int32_t>(remainingSeconds_), &reader_, consumed, found);
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
                    exfat_.OnSector(q, static_cast<size_t>(remaining - static_cast<int64_t>(k * ss)), absolute + k);
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
    const bool resuming = resumeFlag_;
    std::filesystem::path scanFolder = resuming ? PathFromUtf8(resume_.scanFolder) : store.NewScanFolder();
    chunksRead_ = 0;
    unreadable_ = BadSectorMap();
    recordsUnreadable_ = false;
    done_ = 0;
    total_ = 0;
    foundBase_ = 0;
    quickFiles_.reset();
    deepDuplicates_.reset();
    remainingSeconds_ = -1;
    freeOnly_ = false;

    int quickResult = RunQuickScan(scanFolder, resuming);
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
    if (quick_) {
        auto* ntfs = dynamic_cast<CFastNtfsRecovery*>(quick_.get());
        if (quickResult != 0 || (ntfs && ntfs->MftRecordCount() == 0)) {
            recordsUnreadable_ = true;
            freeOnly_ = false;
            if (quickResult != 0) quick_.reset();
        }
    }
    if (int rc = StartSubEngineLogs(scanFolder, resuming); rc != 0) return rc;
    PassRun run = PlanPass(resuming);
    int result = RunPass(run);

    // Consolidation, also after a stop, then the resume record.
    fat_.Consolidate();
    ntfs_.Consolidate();
    exfat_.Consolidate();
    if (result == 0 && scanProgress_) scanProgress_(userData_, 100, 100, 0, 0, 0, 0);
    store.WriteProgress(letter_, static_cast<uint32_t>(driveIndex_), rangeStart_, rangeLength_, run.start,
                        run.length, run.position, done_, FoundForProgress(), scanFolder, imagePath_);
    return result;
}

int CProfessionalRecovery::RunQuickScan(const std::filesystem::path& scanFolder, bool resuming) {
    if (!quick_) return 0;
    quick_->SetCallbacks(scanProgress_, nullptr, userData_, kQuickWeight);
    freeOnly_ = quick_->LoadAllocationMap() == 0;
    std::string fastName;
    bool haveFast = resuming && CScanResumeStore::Instance().FindFileInFolder("Fast_", scanFolder, fastName) == 0;
    return quick_->Scan(haveFast ? &fastName : nullptr);
}

int CProfessionalRecovery::StartSubEngineLogs(const std::filesystem::path& scanFolder, bool resuming) {
    CScanResumeStore& store = CScanResumeStore::Instance();
    std::string carveName, fatName, ntfsName, exfatName;
    const bool haveCarve = resuming && store.FindFileInFolder("File_Type_", scanFolder, carveName) == 0;
    const bool haveFat = resuming && store.FindFileInFolder("Pro_Fat_", scanFolder, fatName) == 0;
    const bool haveNtfs = resuming && store.FindFileInFolder("Pro_Ntfs_", scanFolder, ntfsName) == 0;
    const bool haveExfat = resuming && store.FindFileInFolder("Pro_Exfat_", scanFolder, exfatName) == 0;
    int rc = 0;
    if (haveCarve) {
        if (!imagePath_.empty()) rc = carver_.AttachToImage(sectorSize_, carveName, letter_, imagePath_);
        else rc = carver_.AttachToDrive(sectorSize_, driveIndex_, carveName, letter_);
    } else if (!imagePath_.empty()) {
        rc = carver_.OpenImage(imagePath_, letter_);
    } else {
        rc = carver_.OpenPartition(driveIndex_, rangeStart_, rangeLength_, letter_);
    }
    // A log that cannot be started would lose everything its engine finds.
    int fatRc = fat_.StartScanLog(haveFat ? &fatName : nullptr);
    int ntfsRc = ntfs_.StartScanLog(haveNtfs ? &ntfsName : nullptr);
    int exfatRc = exfat_.StartScanLog(haveExfat ? &exfatName : nullptr);
    if (rc == 0) rc = fatRc;
    if (rc == 0) rc = exfatRc;
    if (rc == 0) rc = ntfsRc;
    fat_.RegisterBootSector();
    exfat_.RegisterBootSector();
    carver_.Job().StartScan();
    return rc;
}

CProfessionalRecovery::PassRun CProfessionalRecovery::PlanPass(bool resuming) {
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
    if (resuming) {
        run.start = resume_.runStart;
        run.length = resume_.runLength;
        run.position = std::min(resume_.runPosition, run.length);
        done_ = resume_.sectorsDone;
        foundBase_ = resume_.filesFound;
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
    std::unique_ptr<ReadAheadThread> readAhead;
    if (run.length > run.position) readAhead = std::make_unique<ReadAheadThread>(reader_.handle);
    while (result == 0) {
        while (run.position < run.length) {
            uint64_t left = run.length - run.position;
            uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(chunkSectors, left));
            uint64_t absolute = rangeStart_ + run.start + run.position;
            if (readAhead) readAhead->Follow(absolute * sectorSize_, (rangeStart_ + run.start + run.length) * sectorSize_);
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
            auto sinceEstimate = std::chrono::duration_cast<std::chrono::milliseconds>(now - lastEstimate).count();
            if (sinceEstimate >= kEstimateIntervalMs && weight_ == kPassWeight) {
                lastEstimate = now;
                int64_t elapsed = std::chrono::duration_cast<std::chrono::seconds>(now - passStart).count();
                if (elapsed > 0) {
                    uint64_t speed = static_cast<uint64_t>(sectorSize_) * (done_ - doneAtStart) / elapsed;
                    if (speed == 0) speed = 1;
                    remainingSeconds_ = static_cast<int64_t>((total_ > done_ ? total_ - done_ : 0) * sectorSize_ / speed);
                }
            }
            if (result != 0) break;
            if (scanProgress_) {
                int percent = total_ ? static_cast<int>(std::min<uint64_t>(done_, total_) * 100 / total_) + 10 : 100;
                int answer = scanProgress_(userData_, std::min(percent, 100), kPassWeight, remainingSeconds_, done_,
                                           total_, FoundForProgress());
                if (answer != 0) {
                    result = answer;
                    break;
                }
            }
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
    case EngineCode::kQuickExfat: return quick_.get();
    case EngineCode::kDeepNtfs: return &ntfs_;
    case EngineCode::kDeepFat: return &fat_;
    case EngineCode::kRawSignature: return &carver_;
    case EngineCode::kDeepExfat: return &exfat_;
    }
    return nullptr;
}

const FoundFileIdentities& CProfessionalRecovery::QuickFiles() {
    if (!quickFiles_) {
        quickFiles_.emplace(sectorSize_);
        if (quick_) {
            FoundItemList files;
            // A quick log that cannot be read leaves nothing to match duplicates against.
            static_cast<void>(quick_->FindByExtension(AllCategoriesPattern() + "|" + std::string(kOtherPattern), files));
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
            static_cast<void>(fat_.FindByExtension(AllCategoriesPattern() + "|" + std::string(kOtherPattern), deep));
            static_cast<void>(ntfs_.FindByExtension(AllCategoriesPattern() + "|" + std::string(kOtherPattern), deep));
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
    list.erase(std::remove_if(list.begin(), list.end(),
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
        const int rc = deep->Log()->CountFilesBelow(folder->key, level, found,
                                                    [&](const FoundItemRecord& r) { return !quick.Contains(r); });
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
    return engine ? engine->GetFolderPath(record, path) : 0;
}

int CProfessionalRecovery::RecoverItem(const FoundItemRecord& record, const std::filesystem::path& destination,
                                       uint32_t baseDepth) {
    IFileRecoveryParse* engine = EngineFor(record);
    return engine ? engine->RecoverItem(record, destination, baseDepth) : 0;
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
    std::vector<NtfsRun> runs;
    for (const FoundItemRecord& r : out) {
        if (r.IsFolder()) continue;
        const uint32_t ss = sectorSize_;
        switch (r.Engine()) {
        case EngineCode::kQuickNtfs:
        case EngineCode::kDeepNtfs: {
            if (ntfs_.ReadDataRuns(r.location, runs) != 0 || runs.empty() || runs[0].sparse || runs[0].offset < 0)
                break;
            starts[static_cast<uint64_t>(runs[0].offset) * r.clusterBytes / ss + r.partitionStart] = LowerExtensionOf(r);
            break;
        }
        case EngineCode::kQuickFat:
        case EngineCode::kDeepFat: {
            if (r.clusterBytes == kFolderClusterBytes) break;
            uint64_t start;
            if (r.key >= 2) start = static_cast<uint64_t>(r.clusterBytes / ss) * (r.key - 2) + r.partitionStart + r.dataStart;
            else if (r.key == 0 && r.partitionStart + r.dataStart >= 32) start = r.partitionStart + r.dataStart - 32;
            else break;
            starts[start] = LowerExtensionOf(r);
            break;
        }
        case EngineCode::kQuickExfat:
        case EngineCode::kDeepExfat: {
            if (r.clusterBytes == kFolderClusterBytes || r.key < 2 || r.clusterBytes % ss != 0) break;
            starts[r.partitionStart + r.dataStart + uint64_t{r.key - 2} * (r.clusterBytes / ss)] = LowerExtensionOf(r);
            break;
        }
        default:
            break;
        }
    }

    FoundItemList carved;
    search(carver_, carved);
    for (const FoundItemRecord& c : carved) {
        auto it = starts.find(uint64_t{c.location});  // a copy: the record is packed
        if (it != starts.end()) {
            const std::string carvedExt = LowerExtensionOf(c);
            const bool sameFile = it->second == carvedExt || (it->second == "thm" && carvedExt == "jpg");
            if (sameFile) continue;
        }
        out.push_back(c);
    }
    SortResultList(out);
    return result;
}

}  // namespace sorvane
