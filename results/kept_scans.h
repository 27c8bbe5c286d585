// The deep scans whose folders stay in the scan-log folder after the program
// ends: what each one scanned, when, how many files it had found and whether
// it finished. Both front ends list them from here, open one again without
// scanning, and delete one the person no longer wants.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "results/scan_resume_store.h"

namespace sorvane {

struct KeptScan {
    uint64_t id = 0;  // the number of its folder
    std::filesystem::path folder;
    bool image = false;
    std::string imagePath;  // UTF-8; empty for a partition
    uint32_t driveIndex = 0;
    uint64_t rangeStart = 0, rangeLength = 0;  // sectors
    int64_t when = 0;                          // seconds since 1970 (UTC) of its last write
    bool deep = true;                          // only deep scans keep their folders
    uint64_t filesFound = 0;
    bool finished = false;
    uint32_t sectorSize = 0;  // of the range scanned; 0 when its checkpoint does not say

    // "IMAGE" or "disk N, sectors START+LENGTH".
    std::string TargetName() const;
};

// The kept scans of `store`'s table, newest first. A record whose folder is
// not one of the store's own, or is gone, is not listed.
std::vector<KeptScan> ListKeptScans(CScanResumeStore& store);

// Finds the kept scan numbered `id`; false when there is none.
bool FindKeptScan(CScanResumeStore& store, uint64_t id, KeptScan& out);

// Whether the target a kept scan was made of is here to recover from.
enum class KeptTarget {
    kSame,     // present, and its fingerprint is the one the scan kept
    kAbsent,   // nothing at its path; for a partition, no drive present holds it
    kOther,    // something else at its path, or the image has changed since
    kUnknown,  // a scan that kept no fingerprint (or, to CheckKeptImage, a partition's): not judged here
};
// Judges the image of a kept scan by the fingerprint its folder keeps
// (results/target_fingerprint). Reads the image, never writes it.
KeptTarget CheckKeptImage(const KeptScan& scan);

// Finds the disk of a kept partition scan among the drives of the drive table
// as it stands: the one whose same range, read in the scan's sector size, has
// the fingerprint the scan kept. Drive numbers follow what is plugged in, so
// the disk may be found under another number than the scan's; its own number
// is tried first. kSame sets `driveIndex`; kAbsent when no drive present
// matches (another disk of the same layout does not); kUnknown for an image
// scan or a scan that kept no fingerprint. Drives are only read.
KeptTarget CheckKeptPartition(const KeptScan& scan, int& driveIndex);

// Makes kept partition scan `scan` the one that a deep scan of its range on
// drive `driveIndex` continues: its checkpoint and its record (put first in
// the table) take that drive number. Writes only inside the scan's folder and
// the store's table. Returns 0, or the result code with the scan as it was.
int MoveKeptScanToDrive(CScanResumeStore& store, const KeptScan& scan, uint32_t driveIndex);

// Deletes kept scan `id`: its record leaves the table and its folder goes,
// only when the folder lies inside the store's own folder (the store checks
// canonical paths and refuses links). Returns 0, 2 when there is no such
// scan, 5 when the folder was refused, or the save's result.
int DeleteKeptScan(CScanResumeStore& store, uint64_t id);

}  // namespace sorvane
