// An engine's results on disk. Each engine owns one CScanLog: a record file of
// FoundItemRecords back to back, a "_Relation" text index of every folder's
// children and a "_DirInfo" file of folder names. Records are appended while a
// scan runs; listings, counts and searches are answered by reading the files
// back, so results never have to fit in memory and outlive the engine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "carving/progress_callbacks.h"
#include "platform/file_handle.h"
#include "results/folder_key.h"
#include "results/found_item_record.h"

namespace sorvane {

inline constexpr size_t kDirInfoEntrySize = 268;

#pragma pack(push, 1)
struct DirInfoEntry {
    uint32_t key = 0;           // FolderKey
    uint32_t recordNumber = 0;  // RecordNumber of the folder's record
    char name[kNameFieldSize] = {};
};
#pragma pack(pop)
static_assert(sizeof(DirInfoEntry) == kDirInfoEntrySize);

class CScanLog {
  public:
    static constexpr uint32_t kBufferCapacity = 69200;  // 200 records per write

    CScanLog();
    ~CScanLog();  // flushes and closes; the files stay on disk
    CScanLog(const CScanLog&) = delete;
    CScanLog& operator=(const CScanLog&) = delete;

    // Opens (creating when missing) the log `name` in the current scan folder of
    // the resume store, and reloads both indexes of an existing log.
    [[nodiscard]] int Open(const std::string& name);
    // Opens the log `name` in an explicit folder (the folder is created when
    // missing). A name that is empty, "." or "..", or holds a separator, is
    // refused with 123. Records already in the file keep their numbers: new
    // records are numbered on from them, and a torn record at the end is
    // overwritten by the next one.
    [[nodiscard]] int OpenIn(const std::filesystem::path& folder, const std::string& name);

    // A slot for the next record; the caller fills it. The slot's recordNumber is
    // already set to the new count. Valid until the next AppendRecord, Flush or
    // read of the log (a read first writes the buffered records out).
    FoundItemRecord* AppendRecord();
    // Files record `recordNumber` under `parent`; with a name, also records the
    // folder's name entry (key, record number, name).
    void AddChild(RelationKey parent, uint32_t recordNumber, FolderKey key, const char* name);
    // Files the children listed under `from` under `to` instead, after any
    // already there (a number already there is not added twice).
    void MoveChildren(RelationKey from, RelationKey to);
    // Writes buffered records, then both index files. Returns 0 or the result code.
    [[nodiscard]] int Flush();
    // Makes what was flushed durable: syncs the three files to the medium.
    // Returns 0 or the first failure.
    [[nodiscard]] int Sync();

    // Appends the children filed under `relation` (0 takes the first list in key
    // order) to `out` and sorts it files first then by name; images whose content
    // contradicts their extension are left out. Numbers that name no record of
    // the file (a damaged index) are passed over. A failed read returns its
    // result; the children before the failing one stay in `out`.
    [[nodiscard]] int ReadChildren(RelationKey relation, std::vector<FoundItemRecord>& out);
    // Files below a folder, all levels down (images with ContentCheck 0 count too).
    [[nodiscard]] int CountFilesBelow(FolderKey key, FolderLevel level, uint32_t& count);
    // The same, counting only the files `counted` answers true for.
    [[nodiscard]] int CountFilesBelow(FolderKey key, FolderLevel level, uint32_t& count,
                                      const std::function<bool(const FoundItemRecord&)>& counted);
    // Appends the records whose extension the '|'-separated pattern names, and
    // sorts `out`; ".other" adds files whose extension is in no category list
    // (not when the record file exceeds 134217727 bytes). Returns 1 when the
    // record file was read, 0 when it could not be opened, or the search
    // callback's non-zero answer when it stopped the search.
    [[nodiscard]] int FindByExtension(const std::string& pattern, std::vector<FoundItemRecord>& out);
    // Appends the record's ancestor folders, nearest first; a chain that loops
    // ends at the first folder met twice. Returns 0, or 87 when a parent's
    // record cannot be found.
    [[nodiscard]] int BuildParentChain(const FoundItemRecord& record, std::vector<FoundItemRecord>& out);
    // Reads record `recordNumber` (1-based). Returns 0 or the result code.
    [[nodiscard]] int ReadRecord(uint64_t recordNumber, FoundItemRecord& out);
    // Writes `record` again over the record its recordNumber names (an engine
    // that learns more about an item after writing it). Returns 0, 87 for a
    // number the log does not hold, or the write's result code.
    [[nodiscard]] int RewriteRecord(const FoundItemRecord& record);

    void SetSearchCallback(SearchProgressCallback callback, void* userData) {
        searchCallback_ = callback;
        searchUserData_ = userData;
    }

    // The last record number handed out: the records in the file when it was
    // opened plus those appended since.
    uint32_t Count() const { return count_; }
    // The files a listing of this log shows: records that are not folders,
    // less images whose content contradicts their extension. Counted as the
    // records are written (an existing log is read once, on first use).
    uint64_t ListedFileCount();
    // Reads records `first` to `last` (1-based, both included) in one go.
    // Returns 0 or the result code; what was read before a failure is kept.
    [[nodiscard]] int ReadRange(uint32_t first, uint32_t last, std::vector<FoundItemRecord>& out);
    // Hands `visit` every record from `first` to the last written, reading a
    // few thousand at a time. Returns the number of the record after the last
    // one handed over: where a later call goes on, or where a read failed.
    uint32_t ForEachRecordFrom(uint32_t first, const std::function<void(FoundItemRecord&)>& visit);
    // True when a listing shows `record` (see ListedFileCount).
    static bool IsListedFile(const FoundItemRecord& record);
    // Records the file held when it was opened.
    uint32_t RecordsAtOpen() const { return recordsAtOpen_; }
    const std::filesystem::path& RecordPath() const { return recordPath_; }
    const std::filesystem::path& RelationPath() const { return relationPath_; }
    const std::filesystem::path& DirInfoPath() const { return dirInfoPath_; }
    const std::map<RelationKey, std::vector<uint32_t>>& Children() const { return children_; }
    const std::vector<DirInfoEntry>& Folders() const { return folders_; }

    // Relation-text parsing, exposed for tests and the fuzzer. Lists replace
    // earlier lists of the same key; damaged text yields what could be parsed.
    static void ParseRelationText(std::string_view text, std::map<RelationKey, std::vector<uint32_t>>& out);
    static std::string FormatRelationText(const std::map<RelationKey, std::vector<uint32_t>>& children);

  private:
    void Close();
    // Writes the buffered records at the end of the record file; a failure is
    // kept for the next Flush to report.
    void SpillBuffer();
    // The records the numbers name, in list order. See ReadChildren for what
    // happens to numbers naming no record and to a failed read.
    [[nodiscard]] int ReadRecordList(const std::vector<uint32_t>& numbers, std::vector<FoundItemRecord>& out);
    // The first folder record in the file whose key is `key`.
    [[nodiscard]] bool FindFolderRecordByKey(FolderKey key, FoundItemRecord& out);

    uint32_t used_ = 0;
    uint32_t count_ = 0;
    uint32_t recordsAtOpen_ = 0;
    uint64_t appendPosition_ = 0;  // byte offset where the buffer is written next
    int lostWrite_ = 0;            // result of a buffered write no Flush reported yet
    bool relationDirty_ = false;   // the children map changed since it was written
    bool listedKnown_ = false;     // listedOnDisk_ counts every record in the file
    uint64_t listedOnDisk_ = 0;    // listed files among the records in the file
    size_t foldersOnDisk_ = 0;     // folder entries already in the folder file
    std::vector<uint8_t> buffer_;
    FileHandle recordFile_;
    FileHandle relationFile_;
    FileHandle dirInfoFile_;
    SearchProgressCallback searchCallback_ = nullptr;
    void* searchUserData_ = nullptr;
    std::filesystem::path recordPath_, relationPath_, dirInfoPath_;
    std::map<RelationKey, std::vector<uint32_t>> children_;
    std::vector<DirInfoEntry> folders_;
};

}  // namespace sorvane
