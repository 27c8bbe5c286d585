// The behaviour every engine that keeps its results in its own scan log shares:
// browsing folder by folder, counting, folder paths, extension search, and the
// recovery and preview of items. An engine adds how one file's bytes are
// copied and which folder key its root has. Used by the deep engines.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "device/disk_reader.h"
#include "engines/file_recovery_parse.h"
#include "platform/file_handle.h"
#include "platform/result_codes.h"
#include "results/folder_key.h"
#include "results/safe_name.h"
#include "results/scan_log.h"

namespace sorvane {

// Where the bytes of one file go while it is copied, and who hears how far
// the copy got. A recovery writes a file and tells the copy callback; a
// preview writes its temporary file or fills a buffer and tells the preview
// callback. `write` and `progress` return 0 to go on; any other answer ends
// the copy and is returned.
struct FileCopyTarget {
    std::function<int(const uint8_t* bytes, size_t length)> write;
    std::function<int(int percent)> progress;
    // Told once when the copy fails with a result code of 1 or more.
    std::function<void(int resultCode)> failed;
    // Makes the copy `length` bytes long, zeros past what was written,
    // without writing them; null or false when the target cannot, and the
    // zeros are then written.
    std::function<bool(uint64_t length)> extend;
    // The file being written, for its times; empty when the bytes go to memory.
    std::filesystem::path destination;
};

// A recovered file's times, in seconds since 1970; -1 leaves one as it is.
struct ItemTimes {
    int64_t accessed = -1;
    int64_t written = -1;
};
// The record's times read as UTC FILETIMEs (NTFS), or as the local wall clock
// of the machine that wrote them (FAT, exFAT without a time zone).
ItemTimes UtcTimes(const FoundItemRecord& record);
ItemTimes WallClockTimes(const FoundItemRecord& record);

class CLogEngineBase : public IFileRecoveryParse {
  public:
    void SetCallbacks(ScanProgressCallback scanProgress, CopyProgressCallback copyProgress, void* userData,
                      int weight) override;
    EngineStatus Scan(const std::string*) override { return 0; }
    EngineStatus ListChildren(const FoundItemRecord* folder, uint32_t level, FoundItemList& out) override;
    EngineStatus CountFiles(const FoundItemRecord* folder, uint32_t level, uint32_t& count) override;
    [[nodiscard]] uint64_t GetFoundCount() override { return log_ ? log_->Count() : 0; }
    EngineStatus GetFolderPath(const FoundItemRecord& record, std::string& path) override;
    EngineStatus RecoverItem(const FoundItemRecord& record, const std::filesystem::path& destination,
                             uint32_t baseDepth) override;
    [[nodiscard]] uint64_t UnreadableSectorsOfLastCopy() const override { return lastCopyUnreadable_; }
    [[nodiscard]] bool NextFreeExtent(uint64_t&, uint64_t&) override { return 0; }
    void SetSearchCallback(SearchProgressCallback callback, void* userData) override;
    [[nodiscard]] bool FindByExtension(const std::string& pattern, FoundItemList& out) override;
    EngineStatus LoadAllocationMap() override { return 0; }
    EngineStatus PreviewItem(const FoundItemRecord& record, std::filesystem::path& tempPath, uint8_t* buffer,
                             size_t& byteCount, PreviewProgressCallback progress, void* userData) override;

    // The scan log; null before the first scan log was started.
    CScanLog* Log() { return log_.get(); }

    // Parts of the file system's own records the last scan could not read:
    // folders (FAT, exFAT) or MFT records (NTFS). What they list is missing
    // from the results, so a scan that met any is not a complete one.
    uint64_t UnreadableRecords() const { return unreadableRecords_; }
    // For a scan continued from a checkpoint, whose own scan did not run again.
    void SetUnreadableRecords(uint64_t count) { unreadableRecords_ = count; }

  protected:
    // Replaces the scan log by a new one opened under `name`. Returns 0 or the result code.
    int ReplaceLog(const std::string& name);
    // Starts the log of a new quick scan of the range at `partitionStart`. A
    // log of the same name in the scan folder is an earlier scan of this range
    // in the same minute: the new scan replaces it rather than adding every
    // record a second time. Returns 0 or the result code.
    int StartQuickScanLog(int64_t partitionStart);
    // The folder key of the volume root.
    virtual FolderKey RootKey() const = 0;
    using CopyTarget = FileCopyTarget;
    // Copies the data of file `record` to `target`, from its first byte on, in
    // order. Returns 0, a result code, or a non-zero answer of the target.
    virtual int CopyFileData(const FoundItemRecord& record, const CopyTarget& target) = 0;

    // Copies file `record` into a new file at `destination` (its folders made
    // first) and gives it the record's times. A failure is told to the copy
    // callback once. Returns 0, a result code or the callback's answer.
    int CopyFileTo(const FoundItemRecord& record, const std::filesystem::path& destination);
    // The times a recovered file of `record` is given: the record's FILETIMEs
    // (UTC) unless the engine's records keep them otherwise.
    virtual ItemTimes RecoveredTimes(const FoundItemRecord& record) const;
    // The reader file data is copied through; its unreadable sectors become
    // zeros during a recovery. Null: an unreadable sector fails the copy.
    virtual const DiskReader* SourceReader() const { return nullptr; }

    std::unique_ptr<CScanLog> log_;
    uint64_t unreadableRecords_ = 0;
    uint64_t lastCopyUnreadable_ = 0;
    ScanProgressCallback scanProgress_ = nullptr;
    CopyProgressCallback copyProgress_ = nullptr;
    void* userData_ = nullptr;
    int weight_ = 100;
    SearchProgressCallback searchCallback_ = nullptr;
    void* searchUserData_ = nullptr;
};

// The answer of a copy made with zero-filled reads: a file none of whose
// bytes came back is not recovered (30), one with some is (0, and damaged).
// `unreadable` counts sectors of at least 512 bytes.
inline int KeptOrFailed(int rc, const BadSectorMap& unreadable, uint64_t fileBytes) {
    return rc == 0 && !unreadable.Empty() && unreadable.SectorCount() * 512 >= fileBytes ? kErrReadFault : rc;
}

}  // namespace sorvane
