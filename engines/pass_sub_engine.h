// How the deep scan's pass hands a sector to the sub-engine it belongs to.
// Each sub-engine (NTFS file records, exFAT entry sets, FAT directories, the
// signature carver) is asked in turn whether the sector is its own; the first
// that takes it says how many sectors it took.
#pragma once

#include <cstdint>

#include "device/byte_view.h"

namespace sorvane {

// One sector offered to a sub-engine.
struct PassSector {
    ByteView rest;          // the chunk from this sector to its end, whole sectors
    uint64_t absolute = 0;  // the sector's number on the drive
    uint32_t sectorSize = 512;
};

// What the sub-engine that took a sector did with it.
struct PassTake {
    uint64_t consumed = 1;  // sectors taken from the offered one on; may pass the chunk's end
    uint64_t found = 0;     // items it recorded
    int result = 0;         // 0, or kCancelCode when the user cancelled: the pass stops
};

class IPassSubEngine {
  public:
    virtual ~IPassSubEngine() = default;
    // False when the sector is not this sub-engine's (the next is asked);
    // true when it took the sector, with `take` filled in.
    virtual bool Take(const PassSector& at, PassTake& take) = 0;
};

}  // namespace sorvane
