#include "device/bad_sector_map.h"

#include <algorithm>

namespace sorvane {

void BadSectorMap::Add(uint64_t first, uint64_t count) {
    if (count == 0) return;
    uint64_t last = first + count;  // one past the end
    // The first range that ends at or after `first` may touch the new one.
    auto it =
        std::lower_bound(ranges_.begin(), ranges_.end(), first,
                         [](const SectorRange& r, uint64_t value) { return r.first + r.count < value; });
    auto end = it;
    while (end != ranges_.end() && end->first <= last) {
        first = std::min(first, end->first);
        last = std::max(last, end->first + end->count);
        ++end;
    }
    it = ranges_.erase(it, end);
    ranges_.insert(it, SectorRange{first, last - first});
}

void BadSectorMap::Remove(uint64_t first, uint64_t count) {
    if (count == 0) return;
    const uint64_t last = first + count;
    std::vector<SectorRange> kept;
    kept.reserve(ranges_.size() + 1);
    for (const SectorRange& r : ranges_) {
        const uint64_t rEnd = r.first + r.count;
        if (rEnd <= first || r.first >= last) {
            kept.push_back(r);
            continue;
        }
        if (r.first < first) kept.push_back({r.first, first - r.first});
        if (rEnd > last) kept.push_back({last, rEnd - last});
    }
    ranges_ = std::move(kept);
}

uint64_t BadSectorMap::SectorCount() const {
    uint64_t n = 0;
    for (const SectorRange& r : ranges_) n += r.count;
    return n;
}

std::string BadSectorMap::Summary(size_t shown) const {
    const uint64_t n = SectorCount();
    std::string text = std::to_string(n) + (n == 1 ? " sector" : " sectors") + " unreadable";
    for (size_t i = 0; i < ranges_.size() && i < shown; ++i) {
        const SectorRange& r = ranges_[i];
        text += i == 0 ? ": " : ", ";
        text += std::to_string(r.first);
        if (r.count > 1) text += "-" + std::to_string(r.first + r.count - 1);
    }
    if (ranges_.size() > shown) text += ", ...";
    return text;
}

std::string BadSectorMap::MapText(uint32_t sectorSize, const std::string& origin) const {
    std::string text = "# unreadable sectors of " + origin + ": FIRST COUNT, sectors of " +
                       std::to_string(sectorSize) + " bytes from the image's start; filled with zeros\n";
    for (const SectorRange& r : ranges_)
        text += std::to_string(r.first) + " " + std::to_string(r.count) + "\n";
    return text;
}

}  // namespace sorvane
