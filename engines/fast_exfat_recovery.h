// The quick exFAT engine: walks the folder tree of an exFAT volume from its
// root, every folder live or deleted, and lists every deleted file entry set
// and every file inside a deleted folder, with the folders on their paths.
// A deleted file's data is read from contiguous clusters when the entry set
// says NoFatChain, through its FAT chain while that is still whole, and
// otherwise, where the file's type has a structure check, from the free
// clusters in the order its structure checks out in (two pieces at most:
// "rebuilt from 2 pieces"); else from the contiguous run. The file is marked
// damaged when the allocation bitmap shows any of its clusters in use again
// or its structure goes wrong. The allocation bitmap is also the map the deep
// scan skips allocated space by.
// Records carry EngineCode 5.
#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <map>
#include <string>
#include <unordered_set>
#include <vector>

#include "device/disk_reader.h"
#include "engines/exfat_file_data.h"
#include "engines/fragment_search_budget.h"
#include "engines/log_engine_base.h"
#include "engines/report_clock.h"
#include "fs/exfat_volume.h"
#include "platform/result_codes.h"

namespace sorvane {

class CFastExfatRecovery : public CLogEngineBase {
  public:
    CFastExfatRecovery();
    ~CFastExfatRecovery() override;

    EngineStatus Open(const ScanSource& source) override;
    EngineStatus Scan(const std::string* scanLogName) override;
    // 0 when the bitmap was read at opening, else the opening's failure.
    EngineStatus LoadAllocationMap() override;
    // In the source's sectors, relative to the volume start.
    [[nodiscard]] bool NextFreeExtent(uint64_t& start, uint64_t& length) override;

    bool IsOpen() const { return opened_; }
    ExfatVolume& Volume() { return volume_; }
    // Folders whose clusters could not all be read during the last scan.
    uint64_t UnreadableFolders() const { return unreadableRecords_; }

  protected:
    FolderKey RootKey() const override { return rootKey_; }
    [[nodiscard]] int CopyFileData(const FoundItemRecord& record, const CopyTarget& target) override;
    ItemTimes RecoveredTimes(const FoundItemRecord& record) const override {
        return ExfatRecordTimes(record);
    }

  private:
    struct Folder {
        uint32_t key = 0;  // first cluster
        uint64_t dataLength = 0;
        bool noFatChain = false;
        bool live = true;      // its clusters are found through the FAT
        bool deleted = false;  // it or an ancestor is deleted
        uint32_t level = 0;
    };
    struct StagedFolder {
        FoundItemRecord record;
        uint32_t parent = 0;
        uint32_t level = 0;
        bool publish = false;
    };

    int OpenVolume(uint32_t sourceSectorSize);
    int WalkTree();
    void ReadFolder(const Folder& folder);
    void OnSet(const Folder& folder, const std::vector<uint32_t>& clusters, bool clustersReused,
               const ExfatEntrySet& set, uint64_t position);
    void MarkForPublishing(uint32_t key);
    // Notes the clusters a listed file's data is read from.
    void Claim(const std::vector<uint32_t>& clusters);
    // Marks damaged the older of two listed files whose clusters overlap: the
    // bitmap cannot show it when the later file was deleted too. Only files
    // on clusters claimed twice are looked at again, from the scan log.
    void MarkOverlapsDamaged();
    void PublishFolders();
    int Report(int percent);
    // Where cluster 2 starts, in the source's sectors from the volume start.
    uint64_t HeapStartInSourceSectors() const;
    // The absolute source sector and the entry index in it of a byte of the volume.
    void LocateEntry(uint64_t volumeOffset, uint64_t& sector, uint32_t& index) const;

    DiskReader reader_;
    bool opened_ = false;
    int openResult_ = kErrInvalidHandle;
    uint64_t partitionStart_ = 0;    // in the source's sectors
    uint64_t partitionSectors_ = 0;  // in the source's sectors
    uint32_t sourceSectorSize_ = 512;
    uint16_t letter_ = 0;
    ExfatVolume volume_;
    FolderKey rootKey_ = 0;

    std::deque<Folder> queue_;
    std::unordered_set<uint32_t> readFolders_;
    std::map<uint32_t, StagedFolder> staged_;
    // Clusters claimed by one listed file, and by more than one: bit n is
    // cluster n + 2. Their size follows the volume, not the number of files.
    std::vector<uint8_t> claimedOnce_, claimedTwice_;
    bool contested_ = false;
    // Record number -> the clusters of a file put back together from pieces,
    // until the overlaps are looked at.
    std::map<uint32_t, std::vector<uint32_t>> rebuiltOrders_;
    FragmentSearchBudget searchBudget_;
    uint64_t foldersDone_ = 0;
    int scanAnswer_ = 0;
    ReportClock reportClock_{std::chrono::milliseconds(200)};
};

}  // namespace sorvane
