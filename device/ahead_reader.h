// Sequential reading of a run of sectors on a thread of its own, a few
// blocks ahead of the caller: the next blocks are read while the caller works
// on the chunk it was given. What the caller sees is what ReadSectorsSalvaging
// would have given it for the same chunk, read at that moment; unreadable
// sectors are zeros and are named only for the chunks the caller asks for.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "device/bad_sector_map.h"
#include "device/disk_reader.h"

namespace sorvane {

class AheadReader {
  public:
    // Reads through `reader` (sharing its handle) in sectors of `sectorSize`
    // bytes, in blocks of `blockBytes`, at most `blocks` blocks ahead.
    AheadReader(const DiskReader& reader, uint32_t sectorSize, size_t blockBytes = 1u << 20,
                size_t blocks = 4);
    ~AheadReader();
    AheadReader(const AheadReader&) = delete;
    AheadReader& operator=(const AheadReader&) = delete;

    // Gives `count` sectors from sector `first` on, of a run that ends before
    // sector `end`: `chunk` points at them until the next call. A call whose
    // `first` goes back, or past what was read ahead, or names another `end`,
    // starts reading afresh there. Unreadable sectors of the chunk are zeros
    // and are added to `bad`. Returns 0, 30 when some sectors could not be
    // read, or 87 (nothing read) when the chunk passes the drive's end.
    [[nodiscard]] int Fetch(uint64_t first, uint32_t count, uint64_t end, const uint8_t*& chunk,
                            BadSectorMap& bad);

  private:
    struct Block {
        uint64_t first = 0;
        uint32_t count = 0;
        int result = 0;
        bool ready = false;
        std::vector<uint8_t> bytes;
        BadSectorMap bad;
    };
    void Loop();
    // Starts reading afresh at `first`; the lock is held.
    void RestartLocked(uint64_t first, uint64_t end);
    // The ready block holding sector `sector`, waiting for it; null when the
    // sector lies past the run. The lock is held.
    Block* WaitForLocked(uint64_t sector, std::unique_lock<std::mutex>& lock);
    // Copies the sectors of `block` in [first, first + count) into `out`,
    // and names its unreadable ones among them in `bad`.
    void Take(const Block& block, uint64_t first, uint32_t count, uint8_t* out, BadSectorMap& bad) const;

    DiskReader reader_;
    const uint32_t sectorSize_;
    const uint32_t blockSectors_;
    std::vector<Block> ring_;
    std::vector<uint8_t> joined_;  // a chunk that spans two blocks
    std::mutex mutex_;
    std::condition_variable changed_;
    size_t head_ = 0;          // the ring's oldest block
    size_t filled_ = 0;        // blocks in the ring, the one being read included
    uint64_t next_ = 0;        // the first sector of the next block to read
    uint64_t end_ = 0;         // the run's end
    uint64_t generation_ = 0;  // grows at every fresh start: a block read for an older one is dropped
    bool stop_ = false;
    std::thread thread_;
};

}  // namespace sorvane
