// The steps of `sorvane scan` and `sorvane recover` once the target is open:
// run the scan, then list the chosen files or copy them into a folder.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "cli/scan_options.h"
#include "device/bad_sector_map.h"
#include "engines/chosen_files.h"
#include "engines/file_recovery_parse.h"
#include "results/found_item_record.h"

namespace sorvane::cli {

using Found = ChosenFile;

// Runs the scan with its progress line, which counts the files `options`
// lets into the list. Returns the engine's result.
int RunScanStep(IFileRecoveryParse& engine, bool showProgress, const ScanOptions& options);

// Visits every file of a scan the options choose (ForEachChosenFile of the
// engines), saying which folders could not be listed. `visit` answers false
// to stop.
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

// "1 file", "2 files".
std::string FileCountText(size_t count);

}  // namespace sorvane::cli
