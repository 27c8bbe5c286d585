// The deep exFAT engine: rebuilds exFAT files and folders from directory
// entry sets met anywhere in the space the deep scan reads, so that a card
// formatted again (or a folder deleted long ago) gives back names, sizes,
// times and folders. The deep scan coordinator hands it every sector in which
// a file entry set starts; every set must pass its checksum. At the end the
// sets are filed into folders: a set belongs to the folder whose clusters
// hold it (a folder's clusters taken as contiguous, as after a format the FAT
// is gone); sets in clusters no found folder claims are filed under a
// "LostFolder%d" per cluster. The layout (cluster size, where the heap
// starts) comes from the volume's boot region; without one the sets are
// listed under the root and their data cannot be read. Records carry
// EngineCode 6.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "device/disk_reader.h"
#include "engines/exfat_file_data.h"
#include "engines/fragment_search_budget.h"
#include "engines/log_engine_base.h"
#include "fs/exfat_volume.h"

namespace sorvane {

class CheckpointReader;
class CheckpointWriter;

struct ExfatDeepLimits {
    size_t maxSets = 2000000;  // entry sets kept until the end of the pass
};

class CProfessionalExfatRecovery : public CLogEngineBase {
  public:
    CProfessionalExfatRecovery();
    ~CProfessionalExfatRecovery() override;

    EngineStatus Open(const ScanSource& source) override;

    // --- Used by the deep scan coordinator ---
    // Starts a new scan log ("Pro_Exfat_..." when `name` is null) and forgets the sets met.
    int StartScanLog(const std::string* name);
    // Reads the layout from the exFAT boot region at the range start, if there is one.
    void RegisterBootSector();
    // True when a file entry set may start in the sector (a quick test on
    // the entry type bytes). `sectorBytes` is the sector size.
    static bool MayHoldEntrySets(const uint8_t* sector, size_t sectorBytes);
    // Takes the entry sets that start in the sector at `absoluteSector`;
    // `available` bytes from `sector` on may be read (a set may run into the
    // next sectors; past them it is read from the source). Returns true when
    // at least one set was taken.
    bool OnSector(const uint8_t* sector, size_t available, uint64_t absoluteSector);
    // Files the sets into folders and writes the records. Returns 0 or a result code.
    int Consolidate();
    // The entry sets the pass holds until its end, for a checkpoint of the
    // scan; and back, after StartScanLog of the resumed scan. RestoreState
    // returns false, keeping nothing, for a damaged state.
    void SaveState(CheckpointWriter& w) const;
    bool RestoreState(CheckpointReader& r);

    // --- Inspection ---
    bool HasLayout() const { return haveLayout_; }
    size_t SetCount() const { return sets_.size(); }
    uint64_t DroppedSets() const { return dropped_; }
    void SetLimits(const ExfatDeepLimits& limits) { limits_ = limits; }

  protected:
    FolderKey RootKey() const override { return 0; }
    [[nodiscard]] int CopyFileData(const FoundItemRecord& record, const CopyTarget& target) override;
    ItemTimes RecoveredTimes(const FoundItemRecord& record) const override {
        return ExfatRecordTimes(record);
    }

  private:
    struct FoundSet {
        ExfatEntrySet set;
        uint64_t offset = 0;  // byte of the file entry, from the start of the source
        bool wallClock = false;
    };

    bool ReadSource(uint64_t offset, uint8_t* buffer, size_t length);
    void TakeSet(const ExfatEntrySet& set, uint64_t offset);

    DiskReader reader_;
    uint64_t rangeStart_ = 0;   // in the source's sectors
    uint64_t rangeLength_ = 0;  // in the source's sectors
    uint32_t sectorSize_ = 512;
    uint16_t letter_ = 0;
    ExfatVolume volume_;
    bool haveLayout_ = false;
    std::vector<FoundSet> sets_;
    uint64_t lastSetEnd_ = 0;  // sets never overlap: a set ends before the next begins
    uint64_t dropped_ = 0;
    ExfatDeepLimits limits_;
    FragmentSearchBudget searchBudget_;
    std::vector<uint8_t> scratch_;
};

}  // namespace sorvane
