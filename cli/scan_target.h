// Opening what `sorvane scan` and `sorvane recover` read: the target named on
// the command line, checked and handed to the engine that scans it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "device/bad_sector_map.h"
#include "device/scan_source.h"
#include "engines/file_recovery_parse.h"

namespace sorvane::cli {

struct OpenedTarget {
    // The one opening of the target; the engine reads through it.
    ScanSource source;
    std::unique_ptr<IFileRecoveryParse> engine;
    std::vector<uint64_t> devices;  // device numbers the target reads
    int driveIndex = -1;
    uint64_t volumeBytes = 0;  // of the range scanned
    uint32_t sectorSize = 512;
    uint64_t driveSectors = 0;  // the drive's (or image's) length when opened
    // Sectors of the target's start that could not be read while recognising it.
    BadSectorMap unreadable;
    // The boot sector gives the volume more sectors than the target holds.
    bool claimsMore = false;
    // What the volume's first sectors (or a boot sector's copy) say it holds.
    VolumeKind kind = VolumeKind::kUnknown;
};

// Says on stderr that the boot sector's backup copy was used, and that the
// volume claims more sectors than the source's range holds when it does.
void TellAboutBootSector(const std::string& text, const ScanSource& source);

// False, after saying so, when the target's drive is now shorter than when it
// was opened (an image cut short, a card that lost its end mid-scan).
bool TargetKeptItsSize(const std::string& text, const OpenedTarget& opened);

// IMAGE@START[:COUNT]: a partition inside a whole-disk image file. Returns
// false when `text` is not of that form; `error` then says why when the text
// names an existing image with a range that is not one.
bool ParseImagePartition(const std::string& text, std::string& image, uint64_t& start, uint64_t& count,
                         std::string& error);

// Opens `target` for a quick (`deep` false) or deep scan; an image file whose
// source `opened` already holds open is not opened again. Returns kExitOk, or
// the exit status after printing why the target cannot be read.
int OpenScanTarget(const std::string& target, bool deep, OpenedTarget& opened);

// The partitions of a whole-disk image named without @START, as
// IMAGE@START:COUNT targets; empty for an image of one volume (or anything
// else). An image of one volume is left open in `source`, for its scan.
std::vector<std::string> PartitionTargetsOfImage(const std::string& target, ScanSource& source);

// True when `folder` (or the nearest folder above it that exists) lies on one
// of `devices`.
bool LiesOnSource(const std::filesystem::path& folder, const std::vector<uint64_t>& devices);

}  // namespace sorvane::cli
