// The state one deep scan's carving shares between the recognisers and the
// size finders: the disk, where the file being measured starts, the progress
// values passed through to the scan's callback, the in-stream flags that one
// identification leaves for the next, and the scratch buffer of the
// continuation walk. The scan owns one job and passes it in; nothing of it is
// process-wide, so two scans (or a scan and a quick engine's content check)
// never see each other's state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "carving/content_check.h"
#include "carving/progress_callbacks.h"
#include "device/disk_reader.h"

namespace sorvane {

// Sectors of one carved transport stream, both ends included.
struct TsRange {
    uint64_t firstSector = 0;
    uint64_t lastSector = 0;
};
using TsRangeList = std::vector<TsRange>;

// Continuation sectors are read in pieces of at most this many bytes.
inline constexpr size_t kMaxCarveChunk = 65536;

struct CarveJob {
    uint32_t sectorSize = 512;
    DiskReader* reader = nullptr;  // not owned; null means nothing can be read
    uint64_t startSector = 0;
    // Starts at startSector; the boundary walk advances it for every sector it
    // examines. The recognisers that read the disk read relative to it.
    uint64_t currentSector = 0;
    uint64_t sectorsDone = 0;   // scan progress before the file being measured
    uint64_t totalSectors = 0;  // sectors of the whole scan
    int32_t remainingSeconds = -1;
    uint64_t foundCount = 0;
    ScanProgressCallback scanProgress = nullptr;
    void* userData = nullptr;
    int weight = 0;
    int32_t callbackStatus = 0;  // last answer of scanProgress; 0 before each identification
    bool inTransportStream = false;
    bool inMts = false;
    // What the size finder of the last identification learnt of the file's
    // content; kNotChecked before each identification.
    ContentVerdict verdict = ContentVerdict::kNotChecked;
    TsRangeList tsRanges;  // transport streams carved in the current deep scan

    // The scratch buffer (kMaxCarveChunk bytes), allocated on first use and
    // kept for the job's life so the pass allocates nothing per file.
    uint8_t* Scratch() {
        if (scratch_.size() != kMaxCarveChunk) scratch_.assign(kMaxCarveChunk, 0);
        return scratch_.data();
    }
    // A second buffer of the same size for reading a file's structure while
    // the scratch buffer holds the walk's chunk.
    uint8_t* Window() {
        if (window_.size() != kMaxCarveChunk) window_.assign(kMaxCarveChunk, 0);
        return window_.data();
    }
    // What a sector no recogniser took leaves behind: until a type is known,
    // the next sector may continue a transport stream.
    void PassOverUnrecognised() {
        inTransportStream = true;
        inMts = false;
    }
    // Forgets what one deep scan left behind, keeping the callbacks and scratch.
    void StartScan() {
        tsRanges.clear();
        inTransportStream = false;
        inMts = false;
        verdict = ContentVerdict::kNotChecked;
    }
    // Reads `count` sectors at `sector` of the job's disk. Fails without a
    // reader and for a range that passes the end of the disk.
    bool ReadWhole(uint64_t sector, uint32_t count, uint8_t* out) const {
        if (!reader || !reader->IsOpen() || sectorSize == 0) return false;
        uint32_t got = 0;
        return ReadSectors(count, *reader, out, sector, sectorSize, &got) == 0 && got == count;
    }

  private:
    std::vector<uint8_t> scratch_;
    std::vector<uint8_t> window_;
};

}  // namespace sorvane
