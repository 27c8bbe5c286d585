#include "carving/carved_file_bytes.h"

#include <algorithm>
#include <cstring>

#include "device/byte_search.h"

namespace sorvane {

CarvedFileBytes::CarvedFileBytes(CarveJob& job, uint64_t limit) : job_(job) {
    uint32_t ss = job.sectorSize;
    if (!job.reader || !job.reader->IsOpen() || ss == 0 || ss > kMaxCarveChunk / 2) return;
    uint64_t total = job.reader->totalSectors;
    if (job.startSector >= total) return;
    uint64_t sectorsLeft = total - job.startSector;
    available_ = sectorsLeft > limit / ss ? limit : sectorsLeft * ss;
    window_ = job.Window();
}

bool CarvedFileBytes::Load(uint64_t offset) {
    uint32_t ss = job_.sectorSize;
    uint64_t start = offset / ss * ss;
    if (start >= available_) return false;
    // Every window past the first that reaches new ground is a step of the
    // scan the user waits for: it is reported, and may be cancelled.
    uint64_t end = std::min<uint64_t>(start + kMaxCarveChunk, (available_ + ss - 1) / ss * ss);
    if (job_.scanProgress && end > furthestLoaded_ && furthestLoaded_ >= kMaxCarveChunk) {
        uint64_t soFar = job_.sectorsDone + end / ss;
        uint64_t percent = job_.totalSectors ? soFar * 100 / job_.totalSectors + 10 : 10;
        job_.callbackStatus =
            job_.scanProgress(job_.userData, static_cast<int>(std::min<uint64_t>(percent, 1000)), job_.weight,
                              job_.remainingSeconds, soFar, job_.totalSectors, job_.foundCount);
        if (job_.callbackStatus != 0) {
            cancelled_ = true;
            windowLength_ = 0;
            return false;
        }
    }
    uint32_t count = static_cast<uint32_t>((end - start) / ss);
    uint32_t got = 0;
    // The window is what could be read: a read that fails part-way ends it there.
    static_cast<void>(ReadSectors(count, *job_.reader, window_, job_.startSector + start / ss, ss, &got));
    windowStart_ = start;
    windowLength_ = static_cast<size_t>(std::min<uint64_t>(uint64_t{got} * ss, available_ - start));
    furthestLoaded_ = std::max(furthestLoaded_, end);
    return windowLength_ > 0;
}

ByteView CarvedFileBytes::View(uint64_t offset, size_t length) {
    if (!window_ || cancelled_ || offset >= available_) return {};
    length = static_cast<size_t>(std::min<uint64_t>({length, kMaxView, available_ - offset}));
    bool inside = offset >= windowStart_ && offset - windowStart_ + length <= windowLength_;
    if (!inside && !Load(offset)) return {};
    if (offset < windowStart_) return {};
    size_t at = static_cast<size_t>(offset - windowStart_);
    if (at >= windowLength_) return {};
    return {window_ + at, std::min(length, windowLength_ - at)};
}

std::optional<uint64_t> CarvedFileBytes::Find(uint64_t from, uint64_t to, const void* pattern,
                                              size_t patternLength) {
    if (patternLength == 0 || patternLength > 64) return std::nullopt;
    to = std::min(to, available_);
    while (from < to) {
        // Each piece overlaps the next by the pattern's length less one, so a
        // pattern across a piece boundary is found.
        size_t want = static_cast<size_t>(std::min<uint64_t>(kMaxView, to - from + patternLength - 1));
        ByteView piece = View(from, want);
        if (piece.Size() < patternLength) return std::nullopt;
        if (auto hit = FindBytes(piece.Size(), piece.Data(), pattern, patternLength)) {
            if (from + *hit < to) return from + *hit;
            return std::nullopt;
        }
        from += piece.Size() - (patternLength - 1);
    }
    return std::nullopt;
}

}  // namespace sorvane
