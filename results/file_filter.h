// Which found files a person wants to see: the size, date and condition
// limits and the name pattern that the command line's options and the
// window's filter bar both set. One rule decides for both, so the window's
// count and the command line's listing agree on the same scan.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "results/found_item_record.h"

namespace sorvane {

struct FileFilter {
    uint64_t minSize = 0;
    uint64_t maxSize = UINT64_MAX;
    bool haveSince = false, haveUntil = false;
    uint64_t since = 0, until = 0;  // FILETIMEs of the last write, both ends included
    // Leaves out files that may not open: damaged or impossible.
    bool hideMayNotOpen = false;
};

// True when some limit of `filter` leaves files out.
bool NarrowsFiles(const FileFilter& filter);

// True when `record`, found on a volume of `volumeBytes` (0: unknown) with
// sectors of `sectorSize` bytes, passes every limit. A file without a known
// date (a carved one, 0) counts as older than any date.
bool PassesFileFilter(const FileFilter& filter, const FoundItemRecord& record, uint64_t volumeBytes,
                      uint32_t sectorSize);

// True when `name` matches what a person typed: with `*` (any run) or `?`
// (any one character) the whole name must match the pattern, else the text
// need only occur somewhere in it. Letters compare ignoring case; an empty
// pattern matches every name.
bool NameMatches(std::string_view pattern, std::string_view name);

// A size as a user writes it: "1234", "200KB", "1.5 MB", "2GiB". KB, MB and GB
// are powers of 1000, KiB, MiB and GiB powers of 1024; "B" and any case are
// accepted. False for anything else, negative sizes and overflow.
bool ParseSize(const std::string& text, uint64_t& bytes);

}  // namespace sorvane
