// The deep NTFS engine: rebuilds NTFS files and folders from MFT file records
// found anywhere on a range, without trusting a boot sector or master file
// table. The deep scan coordinator hands it every sector that passes the file
// record test; for each record the engine works out where its volume starts
// and how large its clusters are, follows the parent references to rebuild the
// folder chain, and at the end creates the folders. Records carry EngineCode 2.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "device/disk_reader.h"
#include "engines/log_engine_base.h"
#include "fs/ntfs_runlist.h"

namespace sorvane {

class CheckpointReader;
class CheckpointWriter;

// A folder whose record is read in the consolidation.
struct NtfsPendingFolder {
    uint32_t recordNumber = 0;
    uint32_t sectorsPerCluster = 0;
    uint64_t volumeStart = 0;
    std::vector<NtfsRun> mftRuns;  // runs of the MFT that holds it
};

// Pending folders are directories that files were filed under. Real volumes
// have far fewer; the bound keeps a disk full of forged records from growing
// the list without limit.
inline constexpr size_t kMaxPendingFolders = 262144;

class CProfessionalNtfsRecovery : public CLogEngineBase {
  public:
    CProfessionalNtfsRecovery();
    ~CProfessionalNtfsRecovery() override;

    EngineStatus Open(const ScanSource& source) override;

    // --- Used by the deep scan coordinator ---
    // Starts a new scan log ("Pro_Ntfs_..." when `name` is null); empties the
    // pending folders, keeps the MFT map.
    int StartScanLog(const std::string* name);
    // A file record met in the pass: `length` bytes (at least one record) at
    // absolute sector `absoluteSector`. Returns 0, -1 (not a record), 87 (damaged).
    int OnFileRecord(const uint8_t* record, size_t length, uint64_t absoluteSector);
    // The runs of the first $DATA of the record at `absoluteSector`: 0; -1 not a
    // record; 87 described by an attribute list; -100 no $DATA; or a read error.
    int ReadDataRuns(uint64_t absoluteSector, std::vector<NtfsRun>& runs);
    // Reads the pending folders' records and files them. Returns 0 or a read error.
    int Consolidate();
    // What the pass holds only in memory, for a checkpoint of the scan; and
    // back, after StartScanLog of the resumed scan. RestoreState returns
    // false, keeping nothing, for a damaged state.
    void SaveState(CheckpointWriter& w) const;
    bool RestoreState(CheckpointReader& r);

    uint32_t RecordSize() const { return recordSize_; }
    uint32_t SectorSize() const { return sectorSize_; }
    uint32_t SectorsPerCluster() const { return sectorsPerCluster_; }
    size_t PendingFolderCount() const { return pending_.size(); }
    const std::map<uint64_t, std::vector<NtfsRun>>& MftMap() const { return mftMap_; }
    uint64_t DroppedFolders() const { return dropped_; }

    // Sectors per cluster NTFS formats a volume of `rangeSectors` with.
    static uint32_t DefaultSectorsPerCluster(uint64_t rangeSectors, uint32_t sectorSize);

  protected:
    FolderKey RootKey() const override { return kNtfsRootKey; }
    [[nodiscard]] int CopyFileData(const FoundItemRecord& record, const CopyTarget& target) override;
    const DiskReader* SourceReader() const override { return &reader_; }

  private:
    struct Placement {
        uint64_t volumeStart = 0;
        std::vector<NtfsRun> runs;
    };
    int OpenCommon();
    int RecordEntry(std::vector<uint8_t>& record, uint64_t absoluteSector, bool folderMode,
                    uint32_t folderNumber);
    void MakeLostFolder(uint32_t number);
    void LearnClusterSize(const std::vector<uint8_t>& record);
    Placement InferPlacement(uint32_t number, uint64_t absoluteSector) const;
    bool RecordSector(const std::vector<NtfsRun>& runs, uint32_t spc, uint64_t volumeStart, uint32_t number,
                      uint64_t& sector) const;
    uint32_t WalkParents(uint32_t parent, const Placement& placement);
    bool ReadRecordAt(uint64_t sector, std::vector<uint8_t>& record);
    // Reads `length` bytes at byte `offset` of the volume starting at sector
    // `volumeStart`, all of them. Returns 0 or a read's result code.
    int ReadVolumeBytes(uint64_t volumeStart, uint64_t offset, void* buffer, size_t length);
    uint32_t ContentCheck(const std::vector<uint8_t>& record, const FoundItemRecord& item);

    DiskReader reader_;
    uint64_t rangeStart_ = 0;
    uint64_t rangeLength_ = 0;
    uint16_t letter_ = 0;
    uint32_t sectorSize_ = 512;
    uint32_t recordSize_ = 1024;
    uint32_t sectorsPerRecord_ = 2;
    uint32_t sectorsPerCluster_ = 8;
    std::vector<NtfsPendingFolder> pending_;
    std::set<uint32_t> pendingNumbers_;
    std::map<uint64_t, std::vector<NtfsRun>> mftMap_;
    std::map<std::pair<uint64_t, uint32_t>, uint32_t> depthCache_;
    uint64_t dropped_ = 0;
};

}  // namespace sorvane
