// The options of `sorvane scan` and `sorvane recover`, parsed from the
// command line.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "results/file_filter.h"
#include "results/found_item_record.h"

namespace sorvane::cli {

struct ScanOptions {
    bool recover = false;
    bool deep = true;
    bool resume = false;
    bool fresh = false;
    bool json = false;
    bool progress = false;
    bool keepFolders = false;
    // Carved files keep their numbers instead of names from their own metadata.
    bool carvedNumbers = false;
    bool typesGiven = false;
    std::set<std::string> types;
    std::set<std::string> extensions;
    // Size, date and condition limits, applied by the same rule the window applies.
    FileFilter filter;
    std::string destination;
    std::string target;
    // recover --scan ID: the kept scan to recover from, without scanning.
    bool fromKeptScan = false;
    uint64_t keptScan = 0;
    // Of the volume scanned, once it is open: what an entry can possibly describe.
    uint64_t volumeBytes = 0;
    uint32_t sectorSize = 512;
};

// Parses the arguments after the command's name. Returns -1 when they are
// fine, else the exit status (0 after --help, which has been printed).
int ParseScanOptions(const std::vector<std::string>& args, bool recover, ScanOptions& options);

// True when the options choose `record` (size, dates, condition, type or extension).
bool Selected(const ScanOptions& options, const FoundItemRecord& record);
// True when some option leaves files out of the list (sizes, dates, types).
bool NarrowsList(const ScanOptions& options);

}  // namespace sorvane::cli
