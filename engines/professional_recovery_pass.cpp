// The pass of the deep scan: every sector of the unallocated runs (or of the
// whole range) read once and handed to the one sub-engine it belongs to.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "carving/file_signature.h"
#include "device/ahead_reader.h"
#include "device/byte_view.h"
#include "engines/pass_sub_engine.h"
#include "engines/professional_recovery.h"
#include "fs/fat_directory_sector.h"
#include "platform/block_device.h"
#include "platform/file_handle.h"
#include "platform/read_ahead.h"
#include "platform/result_codes.h"

namespace sorvane {
namespace {

constexpr int64_t kEstimateIntervalMs = 5000;
// A deep scan saves its state every few seconds, so a scan killed at any
// moment continues from a few seconds before, but never spends more than
// about a tenth of its time doing so.
constexpr int64_t kCheckpointIntervalMs = 2000;
constexpr int64_t kCheckpointCostFactor = 10;
constexpr size_t kFreshRecordBytes = 8192;
// How far ahead of the pass the source is read, in bytes: enough to keep the
// medium busy while a chunk is classified, small enough to stay in the cache.
constexpr uint64_t kReadAheadBytes = 16ull << 20;
constexpr size_t kReadAheadPiece = 1u << 20;
constexpr size_t kImageBlockBytes = 1u << 20;
constexpr size_t kAheadBlocks = 4;

// Brings the source into the system's cache ahead of the pass on a thread of
// its own: the point is that the pages are in the cache (and the cost of
// bringing them there is paid) before the pass reads them. Where the system
// takes a request to fill its cache, that costs no copy (a copy of every byte
// is as dear as the pass's own read when the source is cached already);
// elsewhere the thread reads into a scratch buffer that nobody looks at.
// The pass still reads every chunk itself, so what it sees cannot change.
class ReadAheadThread {
  public:
    explicit ReadAheadThread(const FileHandle& handle) : handle_(handle), thread_([this] { Loop(); }) {}
    ~ReadAheadThread() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    // The pass now reads bytes [from, end) of the source, from `from` on.
    void Follow(uint64_t from, uint64_t end) {
        bool wake;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (end != end_ || from < consumed_ || from > ahead_) ahead_ = from;
            consumed_ = from;
            end_ = end;
            // Woken only once half the lead is used up: waking it for every
            // chunk costs more in switches than the reading saves.
            wake = ahead_ < end_ && ahead_ - consumed_ <= kReadAheadBytes / 2;
        }
        if (wake) wake_.notify_one();
    }

  private:
    void Loop() {
        std::vector<uint8_t> scratch(kReadAheadPiece);
        std::unique_lock<std::mutex> lock(mutex_);
        while (!stop_) {
            if (ahead_ >= end_ || ahead_ >= consumed_ + kReadAheadBytes) {
                wake_.wait(lock);
                continue;
            }
            uint64_t at = ahead_;
            size_t length = static_cast<size_t>(std::min<uint64_t>(kReadAheadPiece, end_ - at));
            lock.unlock();
            size_t got = length;
            // Only how far the read got matters: it warms the cache.
            if (!AdviseWillNeed(handle_, at, length))
                static_cast<void>(handle_.ReadAt(at, scratch.data(), length, got));
            lock.lock();
            if (ahead_ == at)
                ahead_ = got == 0 ? end_ : at + got;  // a failing read ends the read-ahead of this run
        }
    }

    const FileHandle& handle_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    uint64_t consumed_ = 0, ahead_ = 0, end_ = 0;
    std::thread thread_;
};

// True when the sector may be an NTFS file record of `recordSize` bytes: the
// magic, a sane size in use, the allocated size, and the update sequence number
// repeated at the end of the first sector.
inline bool LooksLikeFileRecord(const uint8_t* p, uint32_t recordSize) {
    if (p[0] != 'F' || p[1] != 'I' || p[2] != 'L' || p[3] != 'E') return false;
    ByteView v(p, 512);
    return v.U32(24) <= recordSize && v.U32(28) == recordSize && v.U16(48) == v.U16(510);
}

// False for almost every ordinary sector, in a few instructions: a sector of
// FAT directory entries (or a directory start) has a first entry whose
// attribute byte is below 0x40 and names a file, a directory, a label or a
// long-name piece. The full tests below decide the rest.
inline bool MayHoldFatEntries(const uint8_t* p) {
    const uint8_t attr = p[11];
    return p[0] != 0 && attr < 0x40 && ((attr & 0x30) != 0 || attr == 0x08 || attr == 0x0F);
}

// False when no sub-engine of the pass can take the sector, by the tests each
// makes first: most sectors of file data and free space, passed over without
// asking each sub-engine in turn. Every test here is the first one a
// sub-engine below makes, so a sector it passes over none of them would take.
inline bool AnySubEngineMayTake(const uint8_t* p, size_t available, uint32_t sectorSize) {
    return (p[0] == 'F' && p[1] == 'I' && p[2] == 'L' && p[3] == 'E') || MayHoldFatEntries(p) ||
           CProfessionalExfatRecovery::MayHoldEntrySets(p, sectorSize) ||
           AnyRecogniserMaySayYes(p, available);
}

// NTFS file records go to the deep NTFS engine; a record that runs past the
// chunk is read afresh, whole. Directory records are left out.
class NtfsRecordTaker : public IPassSubEngine {
  public:
    // The record size is the one the volume's boot sector gives, or the usual
    // one for the sector size.
    NtfsRecordTaker(CProfessionalNtfsRecovery& ntfs, const DiskReader& reader)
        : ntfs_(ntfs), reader_(reader), recordSize_(ntfs.RecordSize()) {}
    bool Take(const PassSector& at, PassTake&) override {
        const uint8_t* record = at.rest.Data();
        if (!LooksLikeFileRecord(record, recordSize_)) return false;
        const uint32_t ss = at.sectorSize;
        if (recordSize_ > at.rest.Size()) {
            fresh_.assign(kFreshRecordBytes, 0);
            uint32_t got = 0;
            // Enough sectors for the record are all that is asked of either read.
            static_cast<void>(ReadSectors(static_cast<uint32_t>(kFreshRecordBytes / ss), reader_,
                                          fresh_.data(), at.absolute, ss, &got));
            if (got == 0)
                static_cast<void>(
                    ReadSectors(recordSize_ / ss, reader_, fresh_.data(), at.absolute, ss, &got));
            record = static_cast<uint64_t>(got) * ss >= recordSize_ ? fresh_.data() : nullptr;
        }
        if (record && !(ByteView(record, recordSize_).U16(22) & 0x0002))
            ntfs_.OnFileRecord(record, recordSize_, at.absolute);
        return true;
    }

  private:
    CProfessionalNtfsRecovery& ntfs_;
    const DiskReader& reader_;
    const uint32_t recordSize_;
    std::vector<uint8_t> fresh_;
};

// Sectors where exFAT entry sets start go to the deep exFAT engine; they hold
// no file data for the carver.
class ExfatSetTaker : public IPassSubEngine {
  public:
    explicit ExfatSetTaker(CProfessionalExfatRecovery& exfat) : exfat_(exfat) {}
    bool Take(const PassSector& at, PassTake&) override {
        return CProfessionalExfatRecovery::MayHoldEntrySets(at.rest.Data(), at.sectorSize) &&
               exfat_.OnSector(at.rest.Data(), at.rest.Size(), at.absolute);
    }

  private:
    CProfessionalExfatRecovery& exfat_;
};

// FAT directory sectors, and the sectors where a directory starts, go to the
// deep FAT engine.
class FatDirectoryTaker : public IPassSubEngine {
  public:
    explicit FatDirectoryTaker(CProfessionalFatRecovery& fat) : fat_(fat) {}
    bool Take(const PassSector& at, PassTake&) override {
        const uint8_t* p = at.rest.Data();
        if (!MayHoldFatEntries(p)) return false;
        if (p[0] == '.' && IsFatDirectoryStart(p, at.sectorSize, 0)) {
            fat_.OnDirectoryStart(p, at.absolute);
            return true;
        }
        if (!IsFatDirectorySector(p, at.sectorSize)) return false;
        fat_.OnDirectorySector(p, at.absolute);
        return true;
    }

  private:
    CProfessionalFatRecovery& fat_;
};

}  // namespace

// Everything else goes to the signature carver, which may take the whole
// file that starts at the sector.
class CProfessionalRecovery::CarverTaker : public IPassSubEngine {
  public:
    CarverTaker(CFileTypeRecovery& carver, DiskReader& reader, uint64_t total)
        : carver_(carver), reader_(reader), total_(total) {}
    // The pass's state at the start of a chunk, which the carver reports.
    void StartChunk(uint64_t done, uint64_t firstSector, uint64_t found, int64_t remainingSeconds) {
        done_ = done;
        firstSector_ = firstSector;
        found_ = found;
        remainingSeconds_ = remainingSeconds;
    }
    bool Take(const PassSector& at, PassTake& take) override {
        // The carver counts what it adds, but a carved file may yet prove a
        // copy of a listed one: the count it reports stays the listed one.
        uint64_t shownFound = found_;
        take.consumed = 1;
        const CarveProgress progress{done_ + (at.absolute - firstSector_), total_,
                                     static_cast<int32_t>(remainingSeconds_)};
        take.result = carver_.RecordCarvedFile(at, progress, &reader_, take.consumed, shownFound);
        take.found = shownFound - found_;
        if (take.result != kCancelCode) take.result = 0;
        return true;
    }

  private:
    CFileTypeRecovery& carver_;
    DiskReader& reader_;
    const uint64_t total_;
    uint64_t done_ = 0, firstSector_ = 0, found_ = 0;
    int64_t remainingSeconds_ = -1;
};

// The sub-engines of one pass, in the order they are asked.
struct CProfessionalRecovery::PassSubEngines {
    PassSubEngines(CProfessionalRecovery& scan)
        : ntfs(scan.ntfs_, scan.reader_),
          exfat(scan.exfat_),
          fat(scan.fat_),
          carver(scan.carver_, scan.reader_, scan.total_) {}
    NtfsRecordTaker ntfs;
    ExfatSetTaker exfat;
    FatDirectoryTaker fat;
    CarverTaker carver;
    IPassSubEngine* const order[4] = {&ntfs, &exfat, &fat, &carver};
};

int CProfessionalRecovery::ClassifyChunk(PassSubEngines& chain, const uint8_t* chunk, uint32_t sectors,
                                         uint64_t firstSector, int64_t& overshoot) {
    const uint32_t ss = sectorSize_;
    int64_t remaining = static_cast<int64_t>(sectors) * ss;
    overshoot = 0;
    chain.carver.StartChunk(done_, firstSector, FoundForProgress(), remainingSeconds_);
    for (uint32_t i = 0; i < sectors;) {
        const uint8_t* p = chunk + static_cast<size_t>(i) * ss;
        if (!AnySubEngineMayTake(p, static_cast<size_t>(remaining), ss)) {
            carver_.PassOverUnrecognised();
            remaining -= ss;
            ++i;
            continue;
        }
        const PassSector at{ByteView(p, static_cast<size_t>(remaining)), firstSector + i, ss};
        PassTake take;
        for (IPassSubEngine* engine : chain.order)
            if (engine->Take(at, take)) break;
        if (take.result == kCancelCode) {
            overshoot = -static_cast<int64_t>(sectors - i);
            return kCancelCode;
        }
        const uint64_t consumed = std::max<uint64_t>(take.consumed, 1);
        // A carved file's length is often a guess that runs over what
        // follows it; exFAT entry sets prove themselves by their checksum,
        // so the sectors it took are still searched for them (those past
        // this chunk below).
        const uint64_t inChunk = std::min<uint64_t>(consumed, sectors - i);
        for (uint64_t k = 1; k < inChunk; ++k) {
            const uint8_t* q = p + k * ss;
            if (CProfessionalExfatRecovery::MayHoldEntrySets(q, ss))
                exfat_.OnSector(q, static_cast<size_t>(remaining - static_cast<int64_t>(k * ss)),
                                at.absolute + k);
        }
        remaining -= static_cast<int64_t>(consumed) * ss;
        if (remaining < 0) {
            overshoot = -remaining / ss;
            SearchExfatSetsBeyondChunk(firstSector + sectors, static_cast<uint64_t>(overshoot));
            break;
        }
        i += static_cast<uint32_t>(consumed);
    }
    return 0;
}

void CProfessionalRecovery::SearchExfatSetsBeyondChunk(uint64_t firstSector, uint64_t count) {
    // Only an exFAT volume has entry sets to lose under a carved file's guessed length.
    if (!exfat_.HasLayout() || count == 0) return;
    const uint32_t ss = sectorSize_;
    std::vector<uint8_t> piece(kChunkBytes);
    const uint32_t pieceSectors = kChunkBytes / ss;
    for (uint64_t done = 0; done < count;) {
        const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(pieceSectors, count - done));
        uint32_t got = 0;
        // The sectors read are searched; the first that cannot be read ends the search.
        static_cast<void>(ReadSectors(n, reader_, piece.data(), firstSector + done, ss, &got));
        if (got == 0) return;
        for (uint32_t k = 0; k < got; ++k) {
            const uint8_t* q = piece.data() + static_cast<size_t>(k) * ss;
            if (CProfessionalExfatRecovery::MayHoldEntrySets(q, ss))
                exfat_.OnSector(q, static_cast<size_t>(got - k) * ss, firstSector + done + k);
        }
        done += got;
    }
}

CProfessionalRecovery::PassRun CProfessionalRecovery::PlanPass(const Checkpoint* saved) {
    // Runs are relative to the range start.
    PassRun run;
    if (freeOnly_) {
        uint64_t start = 0, length = 0;
        while (start < rangeLength_ && quick_->NextFreeExtent(start, length) && length > 0) {
            total_ += length;
            start += length;
        }
        run.start = 0;
        if (!quick_->NextFreeExtent(run.start, run.length)) run.length = 0;
    } else {
        total_ = rangeLength_;
        run.length = rangeLength_;
    }
    if (saved) {
        run = saved->run;
        done_ = saved->done;
        chunksRead_ = saved->chunksRead;
        unreadable_ = saved->unreadable;
        resumedAt_ = done_;
        resumed_ = true;
        resumeFlag_ = false;
    }
    return run;
}

int CProfessionalRecovery::RunPass(PassRun& run) {
    PassSubEngines chain(*this);
    // The next chunks are read on a thread of their own while one is classified.
    // An image file is read in large blocks: each hand-over between the threads
    // costs more than copying a chunk, and an image's bad sector (of the disk it
    // lies on) is rare. A drive keeps blocks of one chunk, so a bad sector costs
    // at most a chunk's sectors read one by one.
    const size_t blockBytes = IsBlockDevice(reader_.Handle()) ? kChunkBytes : kImageBlockBytes;
    AheadReader ahead(reader_, sectorSize_, blockBytes, kAheadBlocks);
    const uint32_t chunkSectors = kChunkBytes / sectorSize_;
    int result = 0;
    const auto passStart = std::chrono::steady_clock::now();
    auto lastEstimate = passStart;
    const uint64_t doneAtStart = done_;
    AdviseSequential(reader_.Handle());
    // The first checkpoint keeps the quick scan's work; later ones follow
    // every few seconds, spaced so that writing them stays a small share of
    // the scan however large the engines' state grows.
    uint64_t chunksSinceCheckpoint = 0;
    auto checkpoint = [&] {
        const auto before = std::chrono::steady_clock::now();
        SaveCheckpoint(run, false);
        const auto after = std::chrono::steady_clock::now();
        const int64_t took = std::chrono::duration_cast<std::chrono::milliseconds>(after - before).count();
        checkpointIntervalMs_ = std::max<int64_t>(kCheckpointIntervalMs, took * kCheckpointCostFactor);
        chunksSinceCheckpoint = 0;
        return after;
    };
    auto lastCheckpoint = checkpoint();
    std::unique_ptr<ReadAheadThread> readAhead;
    if (run.length > run.position) readAhead = std::make_unique<ReadAheadThread>(reader_.Handle());
    while (result == 0) {
        while (run.position < run.length) {
            uint64_t left = run.length - run.position;
            uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(chunkSectors, left));
            uint64_t absolute = rangeStart_ + run.start + run.position;
            if (readAhead)
                readAhead->Follow(absolute * sectorSize_,
                                  (rangeStart_ + run.start + run.length) * sectorSize_);
            // A chunk with unreadable sectors is searched with zeros in their
            // place: the sectors around a bad one still hold files.
            const uint8_t* chunk = nullptr;
            uint32_t got = n;
            if (ahead.Fetch(absolute, n, rangeStart_ + run.start + run.length, chunk, unreadable_) ==
                kErrInvalidParameter)
                got = 0;
            ++chunksRead_;
            int64_t overshoot = 0;
            if (got > 0) {
                try {
                    result = ClassifyChunk(chain, chunk, got, absolute, overshoot);
                } catch (...) {
                    // A fault while classifying costs the rest of this chunk, never the scan.
                    overshoot = 0;
                }
            }
            int64_t advance = static_cast<int64_t>(n) + overshoot;
            if (advance < 0) advance = 0;
            uint64_t step = std::min<uint64_t>(static_cast<uint64_t>(advance), left);
            run.position += step;
            done_ += step;
            auto now = std::chrono::steady_clock::now();
            auto sinceEstimate =
                std::chrono::duration_cast<std::chrono::milliseconds>(now - lastEstimate).count();
            if (sinceEstimate >= kEstimateIntervalMs && weight_ == kPassWeight) {
                lastEstimate = now;
                int64_t elapsed = std::chrono::duration_cast<std::chrono::seconds>(now - passStart).count();
                if (elapsed > 0) {
                    uint64_t speed = static_cast<uint64_t>(sectorSize_) * (done_ - doneAtStart) / elapsed;
                    if (speed == 0) speed = 1;
                    remainingSeconds_ =
                        static_cast<int64_t>((total_ > done_ ? total_ - done_ : 0) * sectorSize_ / speed);
                }
            }
            if (result != 0) break;
            if (scanProgress_) {
                int percent =
                    total_ ? static_cast<int>(std::min<uint64_t>(done_, total_) * 100 / total_) + 10 : 100;
                int answer = scanProgress_(userData_, std::min(percent, 100), kPassWeight, remainingSeconds_,
                                           done_, total_, ShownSoFar());
                if (answer != 0) {
                    result = answer;
                    break;
                }
            }
            ++chunksSinceCheckpoint;
            const bool due =
                checkpointChunks_ > 0
                    ? chunksSinceCheckpoint >= checkpointChunks_
                    : std::chrono::duration_cast<std::chrono::milliseconds>(now - lastCheckpoint).count() >=
                          checkpointIntervalMs_;
            if (due) lastCheckpoint = checkpoint();
        }
        if (result != 0 || !freeOnly_) break;
        uint64_t next = run.start + run.length;
        uint64_t length = 0;
        if (next >= rangeLength_ || !quick_->NextFreeExtent(next, length) || length == 0) break;
        run.start = next;
        run.length = length;
        run.position = 0;
    }
    return result;
}

}  // namespace sorvane
