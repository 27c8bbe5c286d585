// The sectors of a source that could not be read, as merged ranges: what a
// scan tells the user at its end and what an image copy writes beside the
// image.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sorvane {

struct SectorRange {
    uint64_t first = 0;
    uint64_t count = 0;
    bool operator==(const SectorRange&) const = default;
};

class BadSectorMap {
  public:
    // Adds sectors [first, first + count); ranges that touch or overlap merge.
    void Add(uint64_t first, uint64_t count = 1);
    // Removes sectors [first, first + count) (read after all on a retry).
    void Remove(uint64_t first, uint64_t count = 1);
    uint64_t SectorCount() const;
    bool Empty() const { return ranges_.empty(); }
    // In sector order, none touching another.
    const std::vector<SectorRange>& Ranges() const { return ranges_; }
    // "12 sectors unreadable: 100-103, 2000-2007" with at most `shown` ranges
    // and "..." after them.
    std::string Summary(size_t shown) const;
    // The map file: a comment line, then one "FIRST COUNT" line per range, in
    // decimal sectors of `sectorSize` bytes counted from `origin`'s sector 0.
    std::string MapText(uint32_t sectorSize, const std::string& origin) const;

  private:
    std::vector<SectorRange> ranges_;
};

}  // namespace sorvane
