#include "device/ahead_reader.h"

#include <algorithm>
#include <cstring>

#include "platform/result_codes.h"

namespace sorvane {

AheadReader::AheadReader(const DiskReader& reader, uint32_t sectorSize, size_t blockBytes, size_t blocks)
    : reader_(reader),
      sectorSize_(sectorSize),
      blockSectors_(static_cast<uint32_t>(std::max<size_t>(1, blockBytes / sectorSize))),
      ring_(std::max<size_t>(2, blocks)) {
    for (Block& b : ring_) b.bytes.resize(size_t{blockSectors_} * sectorSize_);
    thread_ = std::thread([this] { Loop(); });
}

AheadReader::~AheadReader() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void AheadReader::Loop() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_) {
        if (filled_ == ring_.size() || next_ >= end_) {
            changed_.wait(lock);
            continue;
        }
        Block& b = ring_[(head_ + filled_) % ring_.size()];
        ++filled_;
        b.ready = false;
        b.first = next_;
        b.count = static_cast<uint32_t>(std::min<uint64_t>(blockSectors_, end_ - next_));
        next_ += b.count;
        const uint64_t generation = generation_;
        const uint64_t first = b.first;
        const uint32_t count = b.count;
        lock.unlock();
        // Only this thread writes a block, and none is read before it is ready.
        BadSectorMap bad;
        const int rc = ReadSectorsSalvaging(count, reader_, b.bytes.data(), first, sectorSize_, bad);
        lock.lock();
        if (generation != generation_) continue;  // the caller went elsewhere meanwhile
        b.result = rc;
        b.bad = std::move(bad);
        b.ready = true;
        changed_.notify_all();
    }
}

void AheadReader::RestartLocked(uint64_t first, uint64_t end) {
    ++generation_;
    head_ = 0;
    filled_ = 0;
    next_ = first;
    end_ = end;
    changed_.notify_all();
}

AheadReader::Block* AheadReader::WaitForLocked(uint64_t sector, std::unique_lock<std::mutex>& lock) {
    for (;;) {
        // Blocks wholly before the sector are done with: their room goes to the reading ahead.
        bool freed = false;
        while (filled_ > 0 && ring_[head_].ready && ring_[head_].first + ring_[head_].count <= sector) {
            head_ = (head_ + 1) % ring_.size();
            --filled_;
            freed = true;
        }
        if (freed) changed_.notify_all();
        for (size_t i = 0; i < filled_; ++i) {
            Block& b = ring_[(head_ + i) % ring_.size()];
            if (sector >= b.first && sector - b.first < b.count) {
                if (b.ready) return &b;
                break;
            }
        }
        if (stop_ || sector >= end_) return nullptr;
        changed_.wait(lock);
    }
}

void AheadReader::Take(const Block& block, uint64_t first, uint32_t count, uint8_t* out,
                       BadSectorMap& bad) const {
    if (out)
        std::memcpy(out, block.bytes.data() + (first - block.first) * sectorSize_,
                    size_t{count} * sectorSize_);
    for (const SectorRange& r : block.bad.Ranges()) {
        const uint64_t from = std::max(r.first, first), to = std::min(r.first + r.count, first + count);
        if (from < to) bad.Add(from, to - from);
    }
}

int AheadReader::Fetch(uint64_t first, uint32_t count, uint64_t end, const uint8_t*& chunk,
                       BadSectorMap& bad) {
    chunk = nullptr;
    std::unique_lock<std::mutex> lock(mutex_);
    const uint64_t oldest = filled_ > 0 ? ring_[head_].first : next_;
    if (end != end_ || first < oldest || first >= next_) RestartLocked(first, end);
    const uint64_t badBefore = bad.SectorCount();
    Block* a = WaitForLocked(first, lock);
    if (a && a->result != kErrInvalidParameter && first + count <= a->first + a->count) {
        chunk = a->bytes.data() + (first - a->first) * sectorSize_;
        Take(*a, first, count, nullptr, bad);
        return bad.SectorCount() > badBefore ? kErrReadFault : kSuccess;
    }
    joined_.resize(size_t{count} * sectorSize_);
    if (a && a->result != kErrInvalidParameter) {
        // The chunk runs on into the next block.
        const uint32_t head = static_cast<uint32_t>(a->first + a->count - first);
        Take(*a, first, head, joined_.data(), bad);
        Block* b = WaitForLocked(first + head, lock);
        if (b && b->result != kErrInvalidParameter && first + count <= b->first + b->count) {
            Take(*b, first + head, count - head, joined_.data() + size_t{head} * sectorSize_, bad);
            chunk = joined_.data();
            return bad.SectorCount() > badBefore ? kErrReadFault : kSuccess;
        }
    }
    // A block that passes the drive's end (a range longer than the drive) is
    // not read at all; its chunks are read one by one, as far as they go.
    lock.unlock();
    chunk = joined_.data();
    return ReadSectorsSalvaging(count, reader_, joined_.data(), first, sectorSize_, bad);
}

}  // namespace sorvane
