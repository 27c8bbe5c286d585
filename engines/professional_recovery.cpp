#include "engines/professional_recovery.h"

#include "engines/fast_ntfs_recovery.h"
#include "engines/quick_engine.h"
#include "platform/path_text.h"
#include "platform/result_codes.h"

namespace sorvane {
namespace {

constexpr uint32_t kImageDriveIndex128 = 128;

}  // namespace

CProfessionalRecovery::CProfessionalRecovery() = default;

CProfessionalRecovery::~CProfessionalRecovery() {
    quick_.reset();
    reader_.Close();
}

EngineStatus CProfessionalRecovery::Open(const ScanSource& source) {
    source_ = source;
    letter_ = source.letter;
    sectorSize_ = source.sectorSize;
    driveIndex_ = source.IsImage() ? static_cast<int>(kImageDriveIndex128) : source.driveIndex;
    rangeStart_ = source.start;
    rangeLength_ = source.length;
    imagePath_ = source.imagePath;
    reader_ = source.reader;
    if (!reader_.IsOpen()) return kErrInvalidHandle;
    resume_ = ResumeRecord{};
    fingerprint_.reset();
    CScanResumeStore& store = CScanResumeStore::Instance();
    resumeFlag_ = source.IsImage() ? store.FindForImage(imagePath_, resume_)
                                   : store.FindForPartition(static_cast<uint32_t>(driveIndex_), rangeStart_,
                                                            rangeLength_, letter_, Fingerprint(), resume_);
    CheckResumeTarget();
    int fatResult = fat_.Open(source);
    int exfatResult = exfat_.Open(source);
    int ntfsResult = ntfs_.Open(source);
    // A start with unreadable sectors still names its file system (or a
    // copy of its boot sector does): the quick engine reads what it can.
    quick_ = CreateQuickEngine(source.kind);
    // A quick engine that cannot open finds nothing; the pass still searches.
    if (quick_) static_cast<void>(quick_->Open(source));
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

void CProfessionalRecovery::SetCallbacks(ScanProgressCallback scanProgress, CopyProgressCallback copyProgress,
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
}

std::vector<std::string> CProfessionalRecovery::FileSystemsFound() {
    std::vector<std::string> found;
    if (fat_.GetFoundCount() > 0) found.push_back("FAT");
    if (ntfs_.GetFoundCount() > 0) found.push_back("NTFS");
    if (exfat_.GetFoundCount() > 0) found.push_back("exFAT");
    return found;
}

void CProfessionalRecovery::SetSearchCallback(SearchProgressCallback callback, void* userData) {
    searchCallback_ = callback;
    searchUserData_ = userData;
    if (quick_) quick_->SetSearchCallback(callback, userData);
    fat_.SetSearchCallback(callback, userData);
    ntfs_.SetSearchCallback(callback, userData);
    exfat_.SetSearchCallback(callback, userData);
    carver_.SetSearchCallback(callback, userData);
}

uint64_t CProfessionalRecovery::GetFoundCount() {
    uint64_t n =
        fat_.GetFoundCount() + ntfs_.GetFoundCount() + exfat_.GetFoundCount() + carver_.GetFoundCount();
    if (quick_) n += quick_->GetFoundCount();
    return n;
}

EngineStatus CProfessionalRecovery::Scan(const std::string*) {
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
    const std::string* carveName = nameOf(4);
    int rc = carveName ? carver_.Attach(source_, *carveName) : carver_.Open(source_);
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

}  // namespace sorvane
