// The steps of `sorvane scan` and `sorvane recover` once the target is open:
// run the scan, then list the chosen files or copy them into a folder.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "cli/scan_options.h"
#include "device/bad_sector_map.h"
#include "engines/file_recovery_parse.h"
#include "results/found_item_record.h"

namespace sorvane::cli {

struct Found {
    FoundItemRecord record;
    std::string folderPath;  // "a/b/" below the volume root
};

// Runs the scan with its progress line, which counts the files `options`
// lets into the list. Returns the engine's result.
int RunScanStep(IFileRecoveryParse& engine, bool showProgress, const ScanOptions& options);

// What a listing or recovery met: how many files it saw, and whether some
// folder or search could not be read (the list is then incomplete).
struct WalkOutcome {
    size_t files = 0;
    bool incomplete = false;
    bool stopped = false;  // the visitor asked to stop
};

// Visits every chosen file of a scan: a quick scan's folder by folder from its
// log, a deep scan's from the merged search of all its engines. `visit`
// answers false to stop.
WalkOutcome ForEachChosenFile(IFileRecoveryParse& engine, bool deep, const ScanOptions& options,
                              const std::function<bool(const Found&)>& visit);

// Prints the chosen files (text or JSON lines) and the count. Returns the exit status.
int ListStep(IFileRecoveryParse& engine, bool deep, const ScanOptions& options);

// Checks before a scan that files can be created in `destination` (created
// when missing). Returns kExitOk, or kExitCannotWrite after saying why.
int CheckDestination(const std::filesystem::path& destination);

// Copies the chosen files into `destination`, each written as "NAME.part" and
// renamed once complete. Returns the exit status.
int RecoverStep(IFileRecoveryParse& engine, bool deep, const ScanOptions& options,
                const std::filesystem::path& destination, bool showProgress);

// Tells what the scan could not read, on stderr and, with --json, as a last
// JSON line {"unreadableSectors":N,"unreadableRanges":[[FIRST,COUNT],...]}.
// Returns false when something was unreadable.
bool ReportUnreadable(const BadSectorMap& unreadable, const ScanOptions& options);

// True when `record` describes what the volume cannot hold: a file larger
// than the volume, or a FAT file whose data would start at cluster 0 or 1 or
// past the volume's end. Such entries are marked "impossible", never "agrees".
bool ImpossibleEntry(const FoundItemRecord& record, uint64_t volumeBytes, uint32_t sectorSize);

// "1 file", "2 files".
std::string FileCountText(size_t count);

}  // namespace sorvane::cli
