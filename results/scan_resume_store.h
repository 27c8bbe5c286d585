// The per-user scan folders and the table of resume records that say how far
// each deep scan of a partition or image got, so that an interrupted scan of
// the same range can be continued. One object serves the whole process; it is
// loaded from the scan-log folder on first use.
//
// Inside the base folder: "config" (the table), "config.tmp" (the table being
// written) and one folder per scan named by its number ("1", "2", ...).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace sorvane {

inline constexpr uint32_t kImageDriveIndex = 128;  // drive index of a resume record for an image file
inline constexpr size_t kResumeRecordSize = 1120;
inline constexpr size_t kResumeTableHeaderSize = 8;  // the scan counter
inline constexpr size_t kResumePathUnits = 260;      // UTF-16 units of each stored path, NUL included

// One resume record. On disk (little-endian): drive index (4), zero (4), range
// start, range length, run start, run length, position in the run, sectors
// done, files found, free bytes, image last-write FILETIME (8 each), then the
// image path and the scan folder as 260 UTF-16 units each.
struct ResumeRecord {
    uint32_t driveIndex = 0;
    uint64_t rangeStart = 0;   // sectors
    uint64_t rangeLength = 0;  // sectors
    uint64_t runStart = 0;     // current free run, sectors from the range start
    uint64_t runLength = 0;
    uint64_t runPosition = 0;  // position within the current free run
    uint64_t sectorsDone = 0;
    uint64_t filesFound = 0;
    uint64_t freeBytes = 0;  // of the range's volume; 0 for an image or when unknown
    uint64_t imageTime = 0;  // last-write FILETIME of the image; 0 for a partition
    std::string imagePath;   // UTF-8; empty for a partition
    std::string scanFolder;  // UTF-8, ends in a separator
};

// Encodes one record into `bytes` (kResumeRecordSize). Returns false, writing
// nothing, when a path does not fit 259 UTF-16 units or is not valid UTF-8.
bool EncodeResumeRecord(const ResumeRecord& record, uint8_t* bytes);
ResumeRecord DecodeResumeRecord(const uint8_t* bytes);
// Parses a whole table file. Returns 0, or 87 when it is too short to hold the
// counter (the table is then empty and the counter 0). A torn record at the
// end is ignored.
int ParseResumeTable(std::span<const uint8_t> bytes, uint64_t& counter, std::vector<ResumeRecord>& records);

// The file every scan locks (flock) while it writes the data folder, from the
// command line or the window program alike: one scan at a time uses it.
std::filesystem::path ScanLockFile();

// True when `name` is a scan log's own file name: `prefix`, digits, "_", then
// anything but a "_DirInfo" or "_Relation" ending.
bool IsLogFileName(std::string_view name, std::string_view prefix);

class CScanResumeStore {
  public:
    // The process-wide store, loaded from ScanLogDir() on first use.
    static CScanResumeStore& Instance();
    // Drops the process-wide store, so the next Instance() loads afresh from the
    // then current ScanLogDir(). For tests that point SORVANE_DATA_DIR elsewhere;
    // references to the old store must not be used afterwards.
    static void ResetInstanceForTests();

    // A store on `baseFolder`, loaded at once.
    explicit CScanResumeStore(std::filesystem::path baseFolder);
    CScanResumeStore(const CScanResumeStore&) = delete;
    CScanResumeStore& operator=(const CScanResumeStore&) = delete;

    // Reads "config", first promoting "config.tmp" when "config" is missing.
    // Returns 0; 87 when there is no table (empty table, counter 0); 30 when a
    // read failed (what was read is kept).
    int Load();
    // Writes the table to "config.tmp", flushes it to the disk and renames it
    // over "config". On any failure "config" keeps the previous table.
    int Save();

    // Starts a new scan: the counter grows by 1, the resuming flag is cleared,
    // and a stale folder (and record) of the new number is deleted. The folder
    // itself is created by the first log opened in it. Returns the folder.
    std::filesystem::path NewScanFolder();
    // The resumed scan's folder while resuming, else base/<counter>/.
    std::filesystem::path CurrentScanFolder() const;

    // Looks up the record of a partition range. A record whose folder keeps
    // the fingerprint of another disk (`fingerprint` is this target's) is that
    // disk's, kept for when it is back: two disks of one layout take the same
    // number in turn. Of this disk's record: when its stored free space equals
    // the volume's (`letter` is the volume key) the record is copied out, the
    // store resumes its folder and the answer is true; else it is stale, and
    // it and its folder are deleted. False clears the resuming flag.
    bool FindForPartition(uint32_t driveIndex, uint64_t start, uint64_t length, uint32_t letter,
                          uint64_t fingerprint, ResumeRecord& out);
    // The same for an image file, keyed by its exact path and checked against
    // its last-write time.
    bool FindForImage(const std::filesystem::path& imagePath, ResumeRecord& out);

    // Records how far the scan of a range (or image, when `imagePath` is not
    // empty) got and saves the table. The record of the same range is updated
    // (of a range, the one of this scan's folder: another disk's stays);
    // when it describes an earlier state of the volume (other free space or
    // image time, or another folder) it is replaced whole. Never deletes a folder.
    // Returns 0, 206 when a path cannot be stored, or the save's result.
    int WriteProgress(uint32_t letter, uint32_t driveIndex, uint64_t start, uint64_t length,
                      uint64_t runStart, uint64_t runLength, uint64_t position, uint64_t done, uint64_t found,
                      const std::filesystem::path& scanFolder, const std::filesystem::path& imagePath);

    // Gives the record of `folder` the drive index `driveIndex` and puts it
    // first in the table, so that the lookup of its range on that drive meets
    // it before any other record of the same range; then saves the table. For
    // a kept scan whose disk came back under another number. Returns 0, 2 when
    // no record names `folder`, or the save's result.
    int MoveToDrive(const std::filesystem::path& folder, uint32_t driveIndex);

    // Removes the record of `folder` from the table (not saved) and deletes the
    // folder with its contents. Only a folder directly inside the base folder is
    // ever deleted, whatever the table says: anything else returns 5 and stays.
    int DeleteScan(const std::filesystem::path& folder);

    // The first log file (in name order) in `folder` named as the engines name
    // their logs: `prefix`, the range start, "_" and the time (see IsLogFileName).
    // Links and companion files are passed over. Returns 0, or 2 when there is none.
    int FindFileInFolder(const std::string& prefix, const std::filesystem::path& folder,
                         std::string& name) const;

    // Undoes the increment of a new scan folder that was never used; the next
    // save writes it.
    void DecrementScanCounter();

    const std::filesystem::path& BaseFolder() const { return base_; }
    uint64_t ScanCounter() const;
    bool IsResuming() const;
    std::vector<ResumeRecord> Records() const;
    // True when `folder` is a numbered folder directly inside the base folder
    // (and not a link), whether or not it exists yet: a folder the store
    // deletes, with everything in it, when its scan is deleted.
    bool IsOwnScanFolder(const std::filesystem::path& folder) const;

  private:
    int LoadLocked();
    int SaveLocked();
    int DeleteScanLocked(const std::filesystem::path& folder);
    std::filesystem::path NumberedFolder(uint64_t number) const;
    bool Resume(size_t index, ResumeRecord& out);

    mutable std::mutex mutex_;
    std::filesystem::path base_;
    uint64_t counter_ = 0;
    std::vector<ResumeRecord> records_;
    bool resuming_ = false;
    std::filesystem::path resumedFolder_;
};

}  // namespace sorvane
