// The deep scan coordinator: the engine every deep-scan request gets,
// whatever the range holds. A deep scan is the quick engine's own scan of the
// live file system (when there is one), then one sequential pass over the
// unallocated space (or the whole range) in which every sector goes to exactly
// one sub-engine — NTFS file records to the deep NTFS engine, sectors where
// exFAT entry sets start to the deep exFAT engine, FAT directory sectors to
// the deep FAT engine, everything else to the signature carver —
// then the consolidation of the deep engines and a resume record, so that an
// interrupted scan can be continued. Afterwards the five engines' results are
// presented as one set; operations on a record go to the engine that made it.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "device/bad_sector_map.h"
#include "device/disk_reader.h"
#include "engines/file_recovery_parse.h"
#include "engines/file_type_recovery.h"
#include "engines/found_file_identities.h"
#include "engines/found_folder_merge.h"
#include "engines/professional_exfat_recovery.h"
#include "engines/professional_fat_recovery.h"
#include "engines/professional_ntfs_recovery.h"
#include "results/scan_checkpoint.h"
#include "results/scan_resume_store.h"

namespace sorvane {

class CProfessionalRecovery : public IFileRecoveryParse {
  public:
    // Bytes read per step of the pass.
    static constexpr uint32_t kChunkBytes = 65536;

    CProfessionalRecovery();
    ~CProfessionalRecovery() override;

    EngineStatus Open(const ScanSource& source) override;
    void SetCallbacks(ScanProgressCallback scanProgress, CopyProgressCallback copyProgress, void* userData,
                      int weight) override;
    // Narrows the count the progress callback reports to the files the
    // caller's list will show of those found (a size or type filter, say).
    // The count kept for a later resume stays the whole.
    void SetShownFilter(std::function<bool(const FoundItemRecord&)> shown) {
        shownFilter_ = std::move(shown);
    }
    // The deep scan. Returns 0 when it ran to its end, else the value that
    // stopped it (a callback's answer, or the quick engine's failure).
    EngineStatus Scan(const std::string* scanLogName) override;
    EngineStatus ListChildren(const FoundItemRecord* folder, uint32_t level, FoundItemList& out) override;
    EngineStatus CountFiles(const FoundItemRecord* folder, uint32_t level, uint32_t& count) override;
    [[nodiscard]] uint64_t GetFoundCount() override;
    EngineStatus GetFolderPath(const FoundItemRecord& record, std::string& path) override;
    EngineStatus RecoverItem(const FoundItemRecord& record, const std::filesystem::path& destination,
                             uint32_t baseDepth) override;
    [[nodiscard]] uint64_t UnreadableSectorsOfLastCopy() const override { return lastCopyUnreadable_; }
    [[nodiscard]] bool NextFreeExtent(uint64_t&, uint64_t&) override { return 0; }
    void SetSearchCallback(SearchProgressCallback callback, void* userData) override;
    // The files of every engine whose extension the pattern names. A carved
    // file that starts where a file-system file starts is left out, unless
    // their extensions differ (a carved JPEG inside a ".thm" thumbnail counts as
    // the same file).
    [[nodiscard]] bool FindByExtension(const std::string& pattern, FoundItemList& out) override;
    EngineStatus LoadAllocationMap() override { return 0; }
    EngineStatus PreviewItem(const FoundItemRecord& record, std::filesystem::path& tempPath, uint8_t* buffer,
                             size_t& byteCount, PreviewProgressCallback progress, void* userData) override;

    // --- Resuming ---
    // True when opening found a resume record of this range; Scan then goes on
    // from where that scan stopped, in its scan folder.
    bool HasResumeRecord() const { return resumeFlag_; }
    const ResumeRecord& SavedRecord() const { return resume_; }
    // The user declined to continue: the earlier scan folder and its record go.
    void DeclineResume();
    // True when the resume record found on opening is that of a scan which
    // had finished: continuing it shows its results, nothing is searched.
    bool SavedScanFinished() const;
    // True when opening found a resume record of this range that another
    // target of the same layout made (its fingerprint differs): it was
    // dropped, and the scan starts afresh.
    bool ResumeOfOtherTarget() const { return resumeOfOtherTarget_; }
    // After a scan that continued an earlier one (Resumed): the sectors of the pass
    // that earlier scan had searched (0 when it started afresh), and whether
    // it had already finished.
    bool Resumed() const { return resumed_; }
    uint64_t ResumedAtSector() const { return resumedAt_; }
    bool ResumedFinished() const { return resumedFinished_; }
    // True when an earlier scan was to be continued but its saved state could
    // not be used: the scan then started afresh.
    bool ResumeDiscarded() const { return resumeDiscarded_; }
    // Checkpoints written by the last scan (for tests and reports).
    uint64_t CheckpointsWritten() const { return checkpoints_; }
    // Saves the state after every `chunks` chunks of the pass instead of
    // every few seconds; 0 goes back to the clock. For tests that need a
    // checkpoint at a known place.
    void SetCheckpointSpacing(uint32_t chunks) { checkpointChunks_ = chunks; }

    // --- Inspection ---
    uint64_t ChunksRead() const { return chunksRead_; }
    // Sectors of the drive the last pass could not read (zeros were searched instead).
    const BadSectorMap& UnreadableSectors() const { return unreadable_; }
    // True when the last scan could not read the live file system's own
    // records and searched the whole range instead.
    bool RecordsUnreadable() const { return recordsUnreadable_; }
    uint64_t TotalSectors() const { return total_; }
    uint64_t SectorsDone() const { return done_; }
    bool UsedFreeSpaceOnly() const { return freeOnly_; }
    uint32_t SectorSize() const { return sectorSize_; }
    IFileRecoveryParse* QuickEngine() { return quick_.get(); }
    // The file systems whose structures the search met ("FAT", "NTFS",
    // "exFAT"): their deep engines found records.
    std::vector<std::string> FileSystemsFound();
    CProfessionalFatRecovery& DeepFat() { return fat_; }
    CProfessionalNtfsRecovery& DeepNtfs() { return ntfs_; }
    CProfessionalExfatRecovery& DeepExfat() { return exfat_; }
    CFileTypeRecovery& Carver() { return carver_; }

  private:
    // The shares of the shown progress: the quick scan's, and the pass's.
    static constexpr int kQuickWeight = 9;
    static constexpr int kPassWeight = 90;

    IFileRecoveryParse* EngineFor(const FoundItemRecord& record);
    // The quick engine (when there is one) and the sub-engines, in listing order.
    std::vector<IFileRecoveryParse*> Engines();
    class CarverTaker;
    struct PassSubEngines;
    // Hands each sector of a chunk to the first sub-engine of `chain` that
    // takes it. `overshoot` receives the sectors by which a carved file ran
    // past the chunk's end (negative after a cancel: the sectors left
    // unprocessed). Returns 0 or kCancelCode.
    int ClassifyChunk(PassSubEngines& chain, const uint8_t* chunk, uint32_t sectors, uint64_t firstSector,
                      int64_t& overshoot);
    uint64_t FoundForProgress();
    // The files found so far that the list at the end will show: never more
    // than that list, whatever the pass meets later. Unless `complete`, it
    // may lag behind what the logs hold.
    uint64_t ListedSoFar(bool complete = false);
    // The same, narrowed by the shown filter when there is one.
    uint64_t ShownSoFar(bool complete = false);
    void CountListed(const FoundItemRecord& record, const FoundFileIdentities*& quick);
    // The first sector of a file-system file's data, if it can be told.
    std::optional<uint64_t> DataStartOf(const FoundItemRecord& record);
    // Gives the deep FAT and NTFS engines' files the carver's word on whether
    // they are whole, where the carver met the same file at the same first sector.
    void LendCarvedVerdicts();
    struct ListedCount {
        uint32_t cursor[5] = {};  // records of each log already looked at
        uint64_t count = 0;
        uint64_t shown = 0;                                   // of `count`, those the shown filter passes
        std::map<uint64_t, std::vector<std::string>> starts;  // file-system files' extensions by first sector
        std::map<uint64_t, std::pair<std::string, bool>>
            carved;  // counted carved files by first sector, shown
        std::set<std::pair<uint64_t, uint32_t>> quickExfatSets;
        std::optional<std::chrono::steady_clock::time_point> updated;
    };
    ListedCount listed_;
    std::function<bool(const FoundItemRecord&)> shownFilter_;
    // Reads `count` sectors from `firstSector` that a carved file took past
    // the chunk, and hands those where exFAT entry sets start to the deep
    // exFAT engine.
    void SearchExfatSetsBeyondChunk(uint64_t firstSector, uint64_t count);

    // The phases of Scan. A run of the pass: sectors [start, start + length)
    // of the range, `position` of them done.
    struct PassRun {
        uint64_t start = 0;
        uint64_t length = 0;
        uint64_t position = 0;
    };
    // What a checkpoint holds besides the engines' own state.
    struct Checkpoint {
        bool finished = false;
        PassRun run;
        uint64_t done = 0;
        uint64_t chunksRead = 0;
        bool recordsUnreadable = false;
        bool freeOnly = false;
        uint64_t quickUnreadableRecords = 0;
        BadSectorMap unreadable;
        // The quick engine's, the deep FAT, NTFS, exFAT engines' and the carver's logs.
        std::optional<LogCheckpoint> logs[5];
    };
    // The quick engine's scan of the live file system; it also decides
    // whether the pass reads only the free space. A resumed scan reattaches
    // the log named in its checkpoint.
    int RunQuickScan(const Checkpoint* saved);
    static int QuickProgress(void* self, int percent, int weight, int64_t remaining, uint64_t done,
                             uint64_t total, uint64_t found);
    // The sub-engines' logs: reattached (those the checkpoint names) when resuming, new otherwise.
    int StartSubEngineLogs(const Checkpoint* saved);
    // The sectors to read in all and the first run (the saved one when resuming).
    PassRun PlanPass(const Checkpoint* saved);
    // Hands every sector of every run to its sub-engine, taking a checkpoint
    // every few seconds. Returns 0 or the answer that stopped it.
    int RunPass(PassRun& run);
    // Writes a checkpoint of the scan at `run` into the scan folder, then the
    // resume record. Returns 0 or the result code; a failed checkpoint leaves
    // the previous one in place.
    int SaveCheckpoint(const PassRun& run, bool finished);
    // Reads the checkpoint of the scan folder being resumed into `out` and
    // cuts its logs back to it; `engineState_` is left at the engines' state.
    // False when there is no usable checkpoint.
    bool LoadCheckpoint(Checkpoint& out);
    // Gives the engines the state the checkpoint saved. False for a damaged state.
    bool RestoreEngineState();
    CScanLog* LogOf(int slot);

    uint16_t letter_ = 0;
    uint32_t sectorSize_ = 512;
    int driveIndex_ = -1;
    uint64_t rangeStart_ = 0;
    uint64_t rangeLength_ = 0;
    ScanSource source_;
    DiskReader reader_;
    uint64_t lastCopyUnreadable_ = 0;
    CProfessionalFatRecovery fat_;
    CProfessionalNtfsRecovery ntfs_;
    CProfessionalExfatRecovery exfat_;
    CFileTypeRecovery carver_;
    std::unique_ptr<IFileRecoveryParse> quick_;
    int weight_ = 100;
    ScanProgressCallback scanProgress_ = nullptr;
    CopyProgressCallback copyProgress_ = nullptr;
    void* userData_ = nullptr;
    SearchProgressCallback searchCallback_ = nullptr;
    void* searchUserData_ = nullptr;
    bool resumeFlag_ = false;
    bool resumeOfOtherTarget_ = false;
    ResumeRecord resume_;
    // The fingerprint of the opened range (TargetFingerprint), made when first needed.
    std::optional<uint64_t> fingerprint_;
    uint64_t Fingerprint();
    // Drops a resume record that another target of the same layout left.
    void CheckResumeTarget();
    std::filesystem::path imagePath_;

    // State of the running pass.
    uint64_t done_ = 0;
    uint64_t total_ = 0;
    int64_t remainingSeconds_ = -1;
    uint64_t chunksRead_ = 0;
    BadSectorMap unreadable_;
    bool recordsUnreadable_ = false;
    bool freeOnly_ = false;

    // Checkpoints.
    std::filesystem::path scanFolder_;
    std::vector<uint8_t> checkpointBytes_;
    std::optional<CheckpointReader> engineState_;
    uint64_t resumedAt_ = 0;
    bool resumed_ = false;
    bool resumedFinished_ = false;
    bool resumeDiscarded_ = false;
    uint64_t checkpoints_ = 0;
    int64_t checkpointIntervalMs_ = 0;
    uint32_t checkpointChunks_ = 0;

    // The files the quick engine listed, and how many files of the deep
    // engines they make duplicates; worked out once after a scan.
    const FoundFileIdentities& QuickFiles();
    uint32_t DeepDuplicates();
    // Drops from `list` the deep engines' records of files the quick engine listed.
    void DropDuplicates(FoundItemList& list);
    std::optional<FoundFileIdentities> quickFiles_;
    std::optional<uint32_t> deepDuplicates_;

    // The deep engines' root folders that are folders the quick engine listed
    // (the same directory cluster or file record): left out where the quick
    // engine lists every file below them, else shown under its name.
    struct FolderMerge {
        std::set<FolderIdentity> hidden;
        std::map<FolderIdentity, std::string> names;
        // The deep root folder's own name, as folder paths begin with it.
        std::map<std::pair<EngineCode, std::string>, std::string> pathNames;
    };
    const FolderMerge& MergedFolders();
    // Drops the hidden folders from a root list and renames the others.
    void ApplyFolderMerge(FoundItemList& rootList);
    std::optional<FolderMerge> folderMerge_;
    // File-system files whose name lost its extension take the one the
    // carver found for the same bytes; the carved copy then drops out.
    void GiveCarvedExtensions();
};

}  // namespace sorvane
