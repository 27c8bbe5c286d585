// The quick FAT engine: finds deleted files of a FAT12/16/32 volume by walking
// its directory tree from the root, every directory live or deleted, and lists
// every deleted file and every file inside a deleted folder, with the folders
// on their paths. Its records carry EngineCode 1.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>
#include "carving/fragment_search.h"

#include "device/disk_reader.h"
#include "engines/fragment_search_budget.h"
#include "engines/log_engine_base.h"
#include "engines/report_clock.h"
#include "fs/fat_directory.h"
#include "fs/fat_lost_letter.h"
#include "fs/fat_volume.h"
#include "platform/file_handle.h"
#include "platform/result_codes.h"
#include "results/folder_key.h"
#include "results/scan_log.h"

namespace sorvane {

class CFastFatRecovery : public CLogEngineBase {
  public:
    CFastFatRecovery();
    ~CFastFatRecovery() override;

    EngineStatus Open(const ScanSource& source) override;
    EngineStatus Scan(const std::string* scanLogName) override;
    [[nodiscard]] bool NextFreeExtent(uint64_t& start, uint64_t& length) override;
    EngineStatus LoadAllocationMap() override;

    // The layout read at opening (meaningful once an open succeeded).
    const FatGeometry& Geometry() const { return geometry_; }

  private:
    struct StagedFolder {
        FoundItemRecord record;
        uint32_t parent = 0;   // cluster of the folder holding its entry
        uint32_t level = 0;    // 1 for a folder directly below the root
        bool deleted = false;  // it or one of its ancestors is a deleted directory
    };
    struct QueuedDirectory {
        uint32_t cluster = 0;
        uint32_t level = 0;
        bool deleted = false;
        bool isRoot = false;
    };

    // Reads the boot sector at partitionStart_ (in `sourceSectorSize` sectors) and the FAT.
    int OpenFromBootSector(uint32_t sourceSectorSize);
    // Takes the geometry from FAT32's copy of the boot sector; false when
    // there is no usable copy.
    bool ParseBackupBootSector(uint32_t sourceSectorSize);
    FolderKey RootKey() const override { return geometry_.IsFat32() ? geometry_.rootCluster : 0; }
    [[nodiscard]] int CopyFileData(const FoundItemRecord& record, const CopyTarget& target) override;
    ItemTimes RecoveredTimes(const FoundItemRecord& record) const override { return WallClockTimes(record); }
    const DiskReader* SourceReader() const override { return &reader_; }
    uint64_t AbsoluteSector(uint64_t relativeSector) const { return partitionUnits_ + relativeSector; }
    int ReadRelative(uint64_t relativeSector, uint32_t sectors, uint8_t* buffer, uint32_t& bytesRead);

    // Clusters taken by files, as runs from their first cluster.
    class ClusterSpans {
      public:
        void Add(uint32_t first, uint64_t count);
        // The cluster after the run holding `cluster`, or 0 when none holds it.
        uint32_t EndOf(uint32_t cluster) const;

      private:
        std::map<uint32_t, uint32_t> ends_;  // first cluster -> one past the last
    };

    int ScanTree();
    // Reads one directory, then guesses the lost first letters of its
    // deleted short names where that is sound (GuessLostLetters).
    void ReadDirectory(const QueuedDirectory& dir);
    void ReadDirectoryEntries(const QueuedDirectory& dir);
    void GuessLostLetters(const QueuedDirectory& dir);
    // Where the directory lies among a camera's folders.
    CameraPlace PlaceOfDirectory(const QueuedDirectory& dir) const;
    // The next cluster of directory `owner` whose chain ends in a free entry
    // after `after`: the first free cluster that holds directory entries and
    // is not another folder's, skipping the runs in `skip`. Folders that start
    // on the way claim their own later clusters first (ClaimChain). 0 when
    // none is found before an allocated cluster or before `budget` clusters
    // were read.
    uint32_t FindDirectoryContinuation(uint32_t owner, uint32_t after, const ClusterSpans& skip,
                                       uint64_t& budget, int depth);
    // Finds, without listing anything, the guessed later clusters of the
    // folder starting at `start`, and records them as its own.
    void ClaimChain(uint32_t start, int depth);
    void AddFileSpan(const FatEntryInfo& entry, ClusterSpans& spans) const;
    // Bytes at the start of a guessed directory cluster that are whole sectors
    // of directory entries, up to the one holding the end mark.
    size_t DirectoryPrefix(ByteView cluster) const;
    void OnEntry(const QueuedDirectory& dir, const FatEntryInfo& entry, uint64_t entrySector);
    // True when the `size` bytes from cluster `first` on, taken the way a
    // file with a cleared chain is copied, provably hold other data: the
    // volume ends first, or bytes after the file's end in its last sector are
    // not zeros.
    bool RunHoldsSomethingElse(uint32_t first, uint64_t size);
    // The order of the clusters of a file whose chain was cleared: the free
    // clusters from `first` on, or, where the file's structure says they go
    // wrong, the two pieces that make it check out (carving/fragment_search.h).
    // While scanning, each search gets at most a second, and all of them
    // together no more than the rest of the scan has taken (at least two
    // seconds), so fragmented files never double a scan's time.
    PiecedFile FileOrder(uint32_t first, uint64_t size, const std::string& extension, bool scanning);
    uint32_t GuessHighClusterByDots(uint16_t low);
    bool ClusterStartsWithDots(uint32_t cluster);
    // Reads the first sector of `cluster` into sector_ and checks it against the
    // extension of `name`. Returns 1 agrees or unchecked, 0 contradicts; `readOk`
    // tells whether anything was read.
    int CheckContent(uint32_t cluster, const std::string& extension, bool& readOk);
    void MarkAncestorsForPublishing(uint32_t folderCluster);
    int PublishFolders();
    int Report(int percent, int64_t remaining);

    // Copies a file's bytes to `write`, following its clusters. Returns 0, a
    // result code, or the progress answer.
    template <typename Sink>
    int CopyData(const FoundItemRecord& record, Sink&& write);

    // Opening.
    bool opened_ = false;
    int openResult_ = kErrInvalidHandle;
    uint64_t partitionStart_ = 0;         // as given, in the source's sectors
    uint64_t partitionSectors_ = 0;       // as given, in the source's sectors
    uint64_t partitionUnits_ = 0;         // partition start in the volume's own sectors
    uint64_t sourcePerVolumeSector_ = 1;  // source sectors in one of the volume's
    uint16_t letter_ = 0;
    DiskReader reader_;
    FragmentSearchBudget searchBudget_;
    FatGeometry geometry_;
    FatTable fat_;

    // Scanning.
    std::deque<QueuedDirectory> workQueue_;
    std::unordered_set<uint32_t> readDirectories_;
    std::unordered_map<uint32_t, uint32_t>
        continuationOwner_;                        // guessed cluster -> the folder it was given to
    std::unordered_set<uint32_t> claimedFolders_;  // folders whose clusters ClaimChain looked for
    std::map<uint32_t, StagedFolder> stagedFolders_;
    // Of the directory being read: every entry's name, and the records
    // (files) and staged folders (clusters) whose short name lost its first letter.
    std::vector<std::string> siblingNames_;
    std::vector<FoundItemRecord> lostLetterFiles_;
    std::vector<uint32_t> lostLetterFolders_;
    std::vector<uint32_t> foldersToPublish_;
    std::unordered_set<uint32_t> publishSet_;
    std::vector<uint8_t> clusterBuffer_;
    std::vector<uint8_t> sector_;
    LongNameCollector names_;
    int scanAnswer_ = 0;
    ReportClock reportClock_{std::chrono::milliseconds(1000)};
    int timedPercent_ = 1;

    // Allocation map: bit n set when data cluster n + 2 is in use.
    std::vector<uint8_t> bitmap_;
};

}  // namespace sorvane
