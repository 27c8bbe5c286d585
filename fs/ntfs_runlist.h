// NTFS run lists ("mapping pairs"): where the clusters of a non-resident
// attribute lie on the volume. Decoding reads bytes from a disk, so every step
// is bounds-checked and a damaged list ends early instead of misreading.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "device/byte_view.h"

namespace sorvane {

// One mapping pair as stored: `length` clusters starting `offset` clusters
// from the previous run's start. A run stored without offset bytes is sparse
// (a hole that reads as zeros) and does not move the start.
struct NtfsRun {
    uint64_t length = 0;
    int64_t offset = 0;
    bool sparse = false;
};

// A run placed on the volume: `length` clusters of the attribute from virtual
// cluster `vcn` lie at logical cluster `lcn` (meaningless when sparse).
struct NtfsExtent {
    uint64_t vcn = 0;
    uint64_t lcn = 0;
    uint64_t length = 0;
    bool sparse = false;
};

// A list longer than this is taken as damage: no real attribute record holds
// more pairs than fit in one MFT record.
inline constexpr size_t kMaxRunsPerList = 8192;

// Decodes the mapping pairs in `bytes` (from the run-list offset to the end of
// the attribute). Stops at a 0 header byte. Returns true when the list ended
// properly; false when it was cut off or damaged (a size field above 8, a run
// of length 0, or the bytes running out) — the runs decoded so far stay.
bool DecodeRuns(ByteView bytes, std::vector<NtfsRun>& runs);

// Places decoded runs on a volume of `totalClusters` clusters, starting at
// virtual cluster `firstVcn`, and appends them to `extents`. Returns false at
// the first run that would start before cluster 0 or pass the volume's end;
// the extents before it stay.
bool PlaceRuns(const std::vector<NtfsRun>& runs, uint64_t firstVcn, uint64_t totalClusters,
               std::vector<NtfsExtent>& extents);

// Total clusters of a run list (sparse runs included).
uint64_t TotalRunClusters(const std::vector<NtfsExtent>& extents);

}  // namespace sorvane
