// The deep FAT engine: rebuilds FAT files and folders from directory sectors
// met anywhere on a range, without a usable boot sector or allocation table.
// The deep scan coordinator walks the sectors and hands this engine every
// sector that passes one of the FAT directory tests; from them the engine
// infers the volume geometry (cluster size and data-area start), joins long
// names across sector boundaries, recovers the cleared high cluster word of
// deleted FAT32 entries, files every entry under its directory, and at the end
// creates the directories as folders. Records carry EngineCode 3. Without a
// FAT a file's data is taken as contiguous from its first cluster. A deleted
// file of the volume whose boot sector starts the range, whose first cluster
// that volume's FAT shows free, is read through the free clusters instead,
// and where its type has a structure check put back together from two pieces
// when one run does not check out (carving/fragment_search.h).
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "carving/fragment_search.h"
#include "device/byte_view.h"
#include "device/disk_reader.h"
#include "engines/fragment_search_budget.h"
#include "engines/log_engine_base.h"
#include "fs/fat_volume.h"

namespace sorvane {

class CheckpointReader;
class CheckpointWriter;

// One inferred layout of a FAT volume. All sector numbers are absolute.
struct FatVolumeGuess {
    uint32_t sectorsPerCluster = 0;
    uint32_t dataAreaOffset = 0;  // sectors from the volume start to cluster 2
    uint64_t volumeStart = 0;

    uint64_t DataAreaStart() const { return volumeStart + dataAreaOffset; }
    // First sector of cluster `cluster`: cluster 0 stands for the fixed FAT12/16
    // root directory, 32 sectors before the data area. None for cluster 1 or a
    // position before sector 0.
    std::optional<uint64_t> ClusterSector(uint32_t cluster) const;
    // The cluster that begins exactly at `sector`, if any (0 for the fixed root).
    std::optional<uint32_t> ClusterAt(uint64_t sector) const;
    bool operator==(const FatVolumeGuess&) const = default;
};

struct FatDirSighting {
    uint32_t cluster = 0;  // from the directory's "." entry
    uint64_t sector = 0;   // absolute sector of the directory's first sector
};

struct FatOrphanEntry {
    FoundItemRecord record;
    uint32_t directoryCluster = 0;
    bool placed = false;
};

// A long name whose entries run past the end of a sector, waiting for the
// sector that continues it.
struct FatNameFragment {
    uint8_t checksum = 0;
    std::vector<uint8_t> bytes;  // from the name's first entry to the end of its sector
    uint64_t sector = 0;
    uint32_t directoryCluster = 0;
    std::optional<FatVolumeGuess> guess;
};

// Upper bounds that keep memory bounded on a disk full of directory-like
// sectors. Real volumes stay far below them: stored sectors are only those met
// before any geometry is known, fragments are names cut at a sector end whose
// continuation has not been met yet, sightings are only kept while they do not
// fit a known geometry.
struct FatDeepLimits {
    size_t maxStoredBytes = 32u << 20;  // copies of unplaced directory sectors
    size_t maxOrphans = 65536;          // entries waiting for a geometry
    size_t maxFragments = 4096;         // open long names
    size_t maxSightings = 512;          // directory starts without a geometry
    size_t maxGuesses = 64;             // inferred volume layouts
    size_t maxDirectories = 131072;     // known and needed directories, each
};

class CProfessionalFatRecovery : public CLogEngineBase {
  public:
    CProfessionalFatRecovery();
    ~CProfessionalFatRecovery() override;

    EngineStatus Open(const ScanSource& source) override;

    // --- Used by the deep scan coordinator ---
    // Starts a new scan log ("Pro_Fat_..." when `name` is null) and empties every list.
    int StartScanLog(const std::string* name);
    // Adds the geometry of a FAT boot sector at the range start, if there is one.
    void RegisterBootSector();
    // A sector that starts a directory ("." and ".." entries).
    void OnDirectoryStart(const uint8_t* sector, uint64_t absoluteSector);
    // Any other sector of directory entries.
    void OnDirectorySector(const uint8_t* sector, uint64_t absoluteSector);
    // Places what waited for a geometry and writes the folders. Returns 0 or a result code.
    int Consolidate();
    // What the pass holds only in memory, for a checkpoint of the scan; and
    // back, after StartScanLog and RegisterBootSector of the resumed scan.
    // RestoreState returns false, keeping nothing, for a damaged state.
    void SaveState(CheckpointWriter& w) const;
    bool RestoreState(CheckpointReader& r);

    // --- Inspection for tests and reports ---
    const std::vector<FatVolumeGuess>& Guesses() const { return guesses_; }
    size_t StoredSectorCount() const { return stored_.size(); }
    size_t OrphanCount() const { return orphans_.size(); }
    size_t FragmentCount() const { return fragments_.size(); }
    size_t SightingCount() const { return sightings_.size(); }
    uint64_t DroppedItems() const { return dropped_; }
    void SetLimits(const FatDeepLimits& limits) { limits_ = limits; }
    uint32_t SectorSize() const { return sectorSize_; }

  protected:
    FolderKey RootKey() const override { return rootCluster_; }
    [[nodiscard]] int CopyFileData(const FoundItemRecord& record, const CopyTarget& target) override;
    ItemTimes RecoveredTimes(const FoundItemRecord& record) const override { return WallClockTimes(record); }
    const DiskReader* SourceReader() const override { return &reader_; }

  private:
    struct DirContext {
        FatVolumeGuess guess;
        uint32_t cluster = 0;
        uint64_t sector = 0;
    };
    struct KnownDirectory {
        FoundItemRecord record;
        uint32_t parent = 0;
        std::optional<FatVolumeGuess> guess;
    };
    struct NeededDirectory {
        std::optional<FatVolumeGuess> guess;
        uint64_t sector = 0;
    };
    struct StoredSector {
        std::vector<uint8_t> bytes;
        bool used = false;
    };
    struct OpenName {
        bool open = false;
        uint8_t checksum = 0;
        size_t offset = 0;  // where the name's first entry begins in the parsed buffer
    };

    void ResetLists();
    std::optional<FatVolumeGuess> LookupGeometry(uint32_t cluster, uint64_t sector) const;
    void AddSighting(uint32_t cluster, uint64_t sector);
    void AddGuess(const FatVolumeGuess& guess);
    // Parses a buffer and follows an open long name into stored sectors;
    // what stays open becomes a fragment.
    void ParseAndJoin(std::vector<uint8_t> buffer, uint64_t firstSector, std::optional<uint32_t> cluster,
                      std::optional<FatVolumeGuess> guess);
    OpenName ParseEntries(const uint8_t* buffer, size_t length, uint64_t firstSector,
                          std::optional<uint32_t> givenCluster, const std::optional<FatVolumeGuess>& guess,
                          uint32_t& directoryCluster);
    bool FragmentContinues(const FatNameFragment& fragment, const uint8_t* sector,
                           uint64_t absoluteSector) const;
    uint32_t NormaliseCluster(uint32_t cluster) const { return cluster == 0 ? rootCluster_ : cluster; }
    uint32_t SearchHighWord(uint16_t low, const FatVolumeGuess& guess, const std::string& extension,
                            bool directory);
    uint32_t FolderLevel(uint32_t cluster, const FatVolumeGuess& guess);
    uint32_t ContentCheck(const FoundItemRecord& record);
    // Reads the layout and the FAT of the volume whose boot sector starts the
    // range, once per opening. False when there is none (or its sectors are
    // not the source's).
    bool LoadBootTable();
    // True when `record` lies on that volume: its layout is the boot sector's.
    bool OnBootVolume(const FoundItemRecord& record);
    // The order of the clusters of a deleted file of the boot volume: the free
    // clusters from its first one on, or the two pieces its structure checks
    // out across.
    PiecedFile BootVolumeOrder(const FoundItemRecord& record, const FragmentSearchLimits& limits);
    // Sets the content check (and the pieces) of a deleted file of the boot
    // volume whose chain is gone from what its structure says read that way.
    void PutBackTogether(FoundItemRecord& record);
    void WriteFile(const FoundItemRecord& record, uint32_t directoryCluster, const FatVolumeGuess& guess);
    void RegisterNeeded(uint32_t directoryCluster, const std::optional<FatVolumeGuess>& guess,
                        uint64_t sector);
    std::optional<uint32_t> ParentOnDisk(uint32_t cluster, const FatVolumeGuess& guess);
    bool ReadOneSector(uint64_t sector, uint8_t* buffer);
    void PlaceOrphans();
    std::optional<FatVolumeGuess> NearestGuessBelow(uint64_t sector) const;
    bool IsDirectoryStartAt(const FatVolumeGuess& guess, uint32_t cluster);
    // True when directory `sub` is already known from an entry in another
    // directory, and its ".." entry says that one is its parent.
    bool EarlierEntryHolds(uint32_t sub, uint32_t directoryCluster,
                           const std::optional<FatVolumeGuess>& guess);
    // Moves every list to the level its folder is browsed at.
    void FileListsAtBrowsedLevels();

    DiskReader reader_;
    uint64_t rangeStart_ = 0;
    uint64_t rangeLength_ = 0;
    uint16_t letter_ = 0;
    uint32_t sectorSize_ = 512;
    std::vector<FatVolumeGuess> guesses_;
    std::vector<FatDirSighting> sightings_;
    std::vector<FatOrphanEntry> orphans_;
    std::vector<FatNameFragment> fragments_;
    std::map<uint64_t, StoredSector> stored_;
    size_t storedBytes_ = 0;
    std::map<uint32_t, KnownDirectory> known_;
    std::map<uint32_t, NeededDirectory> needed_;
    bool bootVolume_ = false;
    std::optional<DirContext> passContext_;
    // Whether every sector of the context's cluster so far was met in order
    // and full of entries, and the sector that comes next: a full directory
    // cluster followed straight away by more entries goes on in that cluster.
    // Not kept in a checkpoint: a resumed pass only starts a new folder there.
    bool contextFull_ = false;
    uint64_t contextNext_ = 0;
    // The cluster after the data of the files the context's cluster lists so far.
    uint32_t contextDataEnd_ = 0;
    // Where a full directory cluster's folder goes on: a folder grows by the
    // next free cluster when it fills, which comes right after the data of
    // the files written so far. Keyed by layout and that cluster; the value
    // is the cluster passed for the folder. Not kept in a checkpoint either.
    using LayoutCluster = std::tuple<uint64_t, uint32_t, uint32_t, uint32_t>;
    std::map<LayoutCluster, uint32_t> continuations_;
    void EnterContext(const DirContext& context, const uint8_t* sector);
    void FollowContext(const uint8_t* sector, uint64_t absoluteSector);
    // The folder a directory cluster starting at `sector` (cluster `cluster`
    // of `guess`, no "." entries) goes on with, if a full one led to it.
    std::optional<uint32_t> ContinuedFolder(const FatVolumeGuess& guess, uint32_t cluster,
                                            const uint8_t* sector);
    // The cluster after the data of the last-placed file the sector lists (0
    // for none); with `firstStart`, after the first file's, whose first
    // cluster it receives.
    uint32_t FilesDataEnd(const FatVolumeGuess& guess, const uint8_t* sector, uint32_t* firstStart) const;
    // The cluster after a file entry's data, taken as one run (0 for anything else).
    uint32_t DataEndOf(const FatVolumeGuess& guess, ByteView entry) const;
    std::optional<DirContext> consolidationContext_;
    uint32_t rootCluster_ = 2;
    FatDeepLimits limits_;
    uint64_t dropped_ = 0;
    std::map<std::pair<uint64_t, uint32_t>, uint32_t> levelCache_;
    std::vector<uint8_t> scratch_;
    // The boot volume's layout and FAT, read on first need.
    bool bootTableTried_ = false;
    bool bootTableLoaded_ = false;
    FatGeometry bootGeometry_;
    FatTable bootFat_;
    FragmentSearchBudget searchBudget_;
};

}  // namespace sorvane
