// Checkpoints of the deep scan: what a scan killed at any moment continues from.
#include "engines/professional_recovery.h"
#include "platform/path_text.h"
#include "results/scan_checkpoint.h"
#include "results/target_fingerprint.h"

namespace sorvane {

CScanLog* CProfessionalRecovery::LogOf(int slot) {
    switch (slot) {
        case 0: {
            auto* quick = dynamic_cast<CLogEngineBase*>(quick_.get());
            return quick ? quick->Log() : nullptr;
        }
        case 1:
            return fat_.Log();
        case 2:
            return ntfs_.Log();
        case 3:
            return exfat_.Log();
        case 4:
            return carver_.Log();
    }
    return nullptr;
}

int CProfessionalRecovery::SaveCheckpoint(const PassRun& run, bool finished) {
    CheckpointWriter w;
    w.U32(static_cast<uint32_t>(driveIndex_));
    w.U64(rangeStart_);
    w.U64(rangeLength_);
    w.U32(sectorSize_);
    w.Bool(finished);
    w.U64(run.start);
    w.U64(run.length);
    w.U64(run.position);
    w.U64(done_);
    w.U64(chunksRead_);
    w.Bool(recordsUnreadable_);
    w.Bool(freeOnly_);
    auto* quickLog = dynamic_cast<CLogEngineBase*>(quick_.get());
    w.U64(quickLog ? quickLog->UnreadableRecords() : 0);
    w.U64(unreadable_.Ranges().size());
    for (const SectorRange& range : unreadable_.Ranges()) {
        w.U64(range.first);
        w.U64(range.count);
    }
    int result = 0;
    for (int slot = 0; slot < 5; ++slot) {
        CScanLog* log = LogOf(slot);
        w.Bool(log != nullptr);
        if (!log) continue;
        LogCheckpoint described;
        if (int rc = CheckpointLog(*log, described); rc != 0 && result == 0) result = rc;
        WriteLogCheckpoint(w, described);
    }
    // Records that did not reach the disk cannot be described; the previous
    // checkpoint stays the one to continue from.
    if (result != 0) return result;
    if (!finished) {
        fat_.SaveState(w);
        ntfs_.SaveState(w);
        exfat_.SaveState(w);
        const CarveJob& job = carver_.Job();
        w.U64(job.tsRanges.size());
        for (const TsRange& ts : job.tsRanges) {
            w.U64(ts.firstSector);
            w.U64(ts.lastSector);
        }
        w.Bool(job.inTransportStream);
        w.Bool(job.inMts);
    }
    if (int rc = SaveCheckpointFile(scanFolder_, w.Data()); rc != 0) return rc;
    // Which target the scan belongs to, so that no other one continues it;
    // written once, before the first record that could lead to this folder.
    if (uint64_t saved = 0; !LoadTargetFingerprint(scanFolder_, saved) || saved != Fingerprint()) {
        if (int rc = SaveTargetFingerprint(scanFolder_, Fingerprint()); rc != 0) return rc;
    }
    ++checkpoints_;
    return CScanResumeStore::Instance().WriteProgress(
        letter_, static_cast<uint32_t>(driveIndex_), rangeStart_, rangeLength_, run.start, run.length,
        run.position, done_, FoundForProgress(), scanFolder_, imagePath_);
}

bool CProfessionalRecovery::LoadCheckpoint(Checkpoint& out) {
    if (LoadCheckpointFile(scanFolder_, checkpointBytes_) != 0) return false;
    engineState_.emplace(checkpointBytes_);
    CheckpointReader& r = *engineState_;
    uint32_t driveIndex = 0, sectorSize = 0;
    uint64_t rangeStart = 0, rangeLength = 0, ranges = 0;
    if (!r.U32(driveIndex) || !r.U64(rangeStart) || !r.U64(rangeLength) || !r.U32(sectorSize)) return false;
    // The checkpoint of another range (a foreign or damaged folder) is not this scan's.
    if (driveIndex != static_cast<uint32_t>(driveIndex_) || rangeStart != rangeStart_ ||
        rangeLength != rangeLength_ || sectorSize != sectorSize_)
        return false;
    if (!r.Bool(out.finished) || !r.U64(out.run.start) || !r.U64(out.run.length) ||
        !r.U64(out.run.position) || !r.U64(out.done) || !r.U64(out.chunksRead) ||
        !r.Bool(out.recordsUnreadable) || !r.Bool(out.freeOnly) || !r.U64(out.quickUnreadableRecords) ||
        !r.Count(ranges, 16))
        return false;
    if (out.run.start > rangeLength_ || out.run.length > rangeLength_ - out.run.start ||
        out.run.position > out.run.length || out.done > rangeLength_)
        return false;
    for (uint64_t i = 0; i < ranges; ++i) {
        uint64_t first = 0, count = 0;
        if (!r.U64(first) || !r.U64(count)) return false;
        out.unreadable.Add(first, count);
    }
    static const char* const kPrefixes[5] = {"Fast_", "Pro_Fat_", "Pro_Ntfs_", "Pro_Exfat_", "File_Type_"};
    for (int slot = 0; slot < 5; ++slot) {
        bool present = false;
        if (!r.Bool(present)) return false;
        if (!present) continue;
        LogCheckpoint log;
        if (!ReadLogCheckpoint(r, log) || !IsLogFileName(log.name, kPrefixes[slot])) return false;
        out.logs[slot] = std::move(log);
    }
    if (!out.logs[1] || !out.logs[2] || !out.logs[3] || !out.logs[4]) return false;
    // Whatever was appended after the checkpoint goes; the logs are then as
    // they were at that moment.
    for (const auto& log : out.logs)
        if (log && CutLogBack(scanFolder_, *log) != 0) return false;
    return true;
}

bool CProfessionalRecovery::RestoreEngineState() {
    if (!engineState_) return false;
    CheckpointReader& r = *engineState_;
    if (!fat_.RestoreState(r) || !ntfs_.RestoreState(r) || !exfat_.RestoreState(r)) return false;
    uint64_t n = 0;
    if (!r.Count(n, 16)) return false;
    TsRangeList ranges(n);
    for (TsRange& ts : ranges)
        if (!r.U64(ts.firstSector) || !r.U64(ts.lastSector)) return false;
    CarveJob& job = carver_.Job();
    if (!r.Bool(job.inTransportStream) || !r.Bool(job.inMts) || !r.AtEnd()) return false;
    job.tsRanges = std::move(ranges);
    return true;
}

uint64_t CProfessionalRecovery::Fingerprint() {
    if (!fingerprint_) {
        const uint32_t ss = sectorSize_;
        ByteSource read = [this, ss](uint64_t offset, uint8_t* buffer, size_t length) {
            if (offset % ss != 0 || length % ss != 0) return false;
            uint32_t got = 0;
            return ReadSectors(static_cast<uint32_t>(length / ss), reader_, buffer, rangeStart_ + offset / ss,
                               ss, &got) == 0 &&
                   got == length / ss;
        };
        fingerprint_ = TargetFingerprint(read, rangeLength_ * ss, ss);
    }
    return *fingerprint_;
}

void CProfessionalRecovery::CheckResumeTarget() {
    resumeOfOtherTarget_ = false;
    // Made here, before the scan, so that no checkpoint waits for its reads.
    static_cast<void>(Fingerprint());
    if (!resumeFlag_) return;
    uint64_t saved = 0;
    // A scan folder without a fingerprint cannot prove it is this target's.
    if (LoadTargetFingerprint(PathFromUtf8(resume_.scanFolder), saved) && saved == Fingerprint()) return;
    DeclineResume();
    resumeOfOtherTarget_ = true;
}

bool CProfessionalRecovery::SavedScanFinished() const {
    if (!resumeFlag_) return false;
    std::vector<uint8_t> bytes;
    if (LoadCheckpointFile(PathFromUtf8(resume_.scanFolder), bytes) != 0) return false;
    CheckpointReader r(bytes);
    uint32_t driveIndex = 0, sectorSize = 0;
    uint64_t rangeStart = 0, rangeLength = 0;
    bool finished = false;
    return r.U32(driveIndex) && r.U64(rangeStart) && r.U64(rangeLength) && r.U32(sectorSize) &&
           r.Bool(finished) && finished;
}

}  // namespace sorvane
