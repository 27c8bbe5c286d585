// Puts back together a file whose pieces lie apart: a deleted file whose
// cluster chain is gone is read from its first cluster on through the
// clusters that may still hold it (free ones, in order), and where its own
// structure says the bytes go wrong, the search looks for the cluster among
// the later candidates where the file goes on, so that the structure checks
// out to the end. Two pieces (the common case of a file written into two
// holes); the checks and the bytes read are bounded per file, and the result
// depends only on the disk's bytes, so a scan and a later copy agree.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "carving/fragment_check.h"

namespace sorvane {

struct FragmentSearchLimits {
    uint32_t maxChecks = 16384;                    // structure checks per file
    uint64_t maxBytesChecked = uint64_t{1} << 30;  // bytes the checks read per file, all tries together
    uint64_t cacheBytes = uint64_t{64} << 20;      // clusters kept in memory between tries
    // A scan gives each file a share of its time; a copy of one file the
    // person chose waits for the whole search, so it finds what the scan found.
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();
};

// Where the search reads: the candidates in the order a file may go on
// through them, and one cluster's bytes.
struct ClusterSpace {
    uint32_t clusterBytes = 0;
    // The first candidate after `cluster` (the next free one), 0 when none.
    std::function<uint32_t(uint32_t cluster)> nextCandidate;
    // Reads cluster `cluster` whole into `out` (clusterBytes bytes); false when it cannot.
    std::function<bool(uint32_t cluster, uint8_t* out)> readCluster;
};

struct PiecedFile {
    // What the structure said of the file read in this order; kValidToEnd only
    // when it checked out to the last byte.
    FragmentCheck check = FragmentCheck::kCannotTell;
    std::vector<uint32_t> clusters;  // the clusters of the file, in order
    uint32_t pieces = 0;             // spans of consecutive candidates: 1 when read as one run
    uint32_t checks = 0;             // structure checks made
};

// The order of the clusters of a file of `size` bytes and lower-case
// extension `extension` that starts at `firstCluster`. When the one run of
// candidates from the first cluster checks out, or the type has no check,
// that run is the answer (pieces 1); otherwise the first two-piece order that
// checks out within the limits (pieces 2), else the one run with its check.
PiecedFile FindFileOrder(const ClusterSpace& space, uint32_t firstCluster, uint64_t size,
                         std::string_view extension, const FragmentSearchLimits& limits = {});

}  // namespace sorvane
