#include "fs/ntfs_runlist.h"

namespace sorvane {

bool DecodeRuns(ByteView bytes, std::vector<NtfsRun>& runs) {
    size_t pos = 0;
    while (true) {
        if (!bytes.Has(pos, 1)) return false;
        uint8_t header = bytes.U8(pos);
        if (header == 0) return true;
        size_t lengthSize = header & 0x0F;
        size_t offsetSize = header >> 4;
        if (lengthSize == 0 || lengthSize > 8 || offsetSize > 8) return false;
        if (!bytes.Has(pos + 1, lengthSize + offsetSize)) return false;
        if (runs.size() >= kMaxRunsPerList) return false;
        NtfsRun run;
        run.length = bytes.Get(pos + 1, lengthSize);
        if (run.length == 0) return false;
        if (offsetSize == 0) {
            run.sparse = true;
        } else {
            run.offset = bytes.GetSigned(pos + 1 + lengthSize, offsetSize);
        }
        runs.push_back(run);
        pos += 1 + lengthSize + offsetSize;
    }
}

bool PlaceRuns(const std::vector<NtfsRun>& runs, uint64_t firstVcn, uint64_t totalClusters,
               std::vector<NtfsExtent>& extents) {
    // Keeps the signed arithmetic below far from overflow; no volume is this large.
    if (totalClusters > (uint64_t{1} << 62)) totalClusters = uint64_t{1} << 62;
    int64_t lcn = 0;
    uint64_t vcn = firstVcn;
    for (const NtfsRun& run : runs) {
        if (run.length > totalClusters || vcn > UINT64_MAX - run.length) return false;
        NtfsExtent extent;
        extent.vcn = vcn;
        extent.length = run.length;
        if (run.sparse) {
            extent.sparse = true;
        } else {
            // Overflow-safe: both values are bounded before they are added.
            if (run.offset > 0 && static_cast<uint64_t>(run.offset) > totalClusters) return false;
            if (run.offset < 0 && run.offset < -static_cast<int64_t>(totalClusters)) return false;
            lcn += run.offset;
            if (lcn < 0 || static_cast<uint64_t>(lcn) > totalClusters ||
                run.length > totalClusters - static_cast<uint64_t>(lcn))
                return false;
            extent.lcn = static_cast<uint64_t>(lcn);
        }
        extents.push_back(extent);
        vcn += run.length;
    }
    return true;
}

uint64_t TotalRunClusters(const std::vector<NtfsExtent>& extents) {
    uint64_t total = 0;
    for (const NtfsExtent& e : extents) total += e.length;
    return total;
}

}  // namespace sorvane
