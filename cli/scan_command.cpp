// `sorvane scan` lists what a scan finds; `sorvane recover` scans and copies
// the chosen files into a folder. Both read the target through the engine the
// engine selection picks, and never write to it.
#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/progress.h"
#include "cli/scan_options.h"
#include "cli/scan_steps.h"
#include "cli/scan_target.h"
#include "engines/fast_ntfs_recovery.h"
#include "engines/log_engine_base.h"
#include "engines/professional_recovery.h"
#include "platform/data_dirs.h"
#include "platform/drive_table.h"
#include "platform/instance_lock.h"
#include "platform/path_text.h"
#include "platform/result_codes.h"
#include "platform/terminal.h"
#include "results/kept_scans.h"
#include "results/scan_resume_store.h"

namespace sorvane::cli {
namespace {

// What to do with an earlier, unfinished deep scan of the same target:
// continue it with --resume, drop it with --fresh, else ask on a terminal.
void DecideOnEarlierScan(const ScanOptions& o, CProfessionalRecovery& deep) {
    if (deep.ResumeOfOtherTarget())
        std::fprintf(stderr,
                     "sorvane: the saved deep scan of this range belongs to another disk or image with the "
                     "same layout; this scan of %s starts afresh\n",
                     o.target.c_str());
    if (!deep.HasResumeRecord() || o.resume) return;
    const ResumeRecord& saved = deep.SavedRecord();
    bool keep = false;
    if (!o.fresh && StandardInputIsTerminal() && StandardErrorIsTerminal()) {
        // No share of the work is claimed: the record counts sectors of the
        // free space searched, which says nothing of a percentage of the range.
        std::fprintf(stderr,
                     "An earlier deep scan of %s had found %" PRIu64
                     " files when it stopped. Continue it (or show its results when it had finished)? [y/N] ",
                     o.target.c_str(), saved.filesFound);
        std::fflush(stderr);
        char answer[16] = {};
        keep = std::fgets(answer, sizeof answer, stdin) && (answer[0] == 'y' || answer[0] == 'Y');
    } else if (!o.fresh) {
        std::fprintf(stderr,
                     "sorvane: an earlier deep scan of %s is discarded and this one starts afresh (--resume "
                     "continues it, or shows its results when it had finished)\n",
                     o.target.c_str());
    }
    if (!keep) deep.DeclineResume();
}

// One scan at a time uses the data folder: two would share a scan folder
// number and each other's resume records. A second scan says so and waits.
// Returns false when the user stopped the wait or the lock cannot be made.
bool LockDataFolder(InstanceLock& lock) {
    const std::filesystem::path file = ScanLockFile();
    if (lock.TryAcquire(file)) return true;
    std::error_code ec;
    if (!std::filesystem::exists(file, ec)) {
        std::fprintf(stderr, "sorvane: cannot create %s; the data folder cannot be written\n",
                     Utf8FromPath(file).c_str());
        return false;
    }
    std::fprintf(
        stderr,
        "sorvane: another Sorvane scan is using %s; waiting for it to finish (Ctrl-C to stop waiting)\n",
        Utf8FromPath(ScanLogDir()).c_str());
    while (!lock.TryAcquire(file)) {
        if (Interrupted()) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return true;
}

// The NTFS quick engine of a scan: the engine itself, or a deep scan's first part.
const CFastNtfsRecovery* NtfsQuickEngine(IFileRecoveryParse& engine, bool deep) {
    if (deep) {
        auto* coordinator = dynamic_cast<CProfessionalRecovery*>(&engine);
        return coordinator ? dynamic_cast<const CFastNtfsRecovery*>(coordinator->QuickEngine()) : nullptr;
    }
    return dynamic_cast<const CFastNtfsRecovery*>(&engine);
}

// True when the scan ran but could not read the file system's own records.
bool RecordsUnreadable(IFileRecoveryParse& engine, bool deep) {
    if (deep) {
        auto* coordinator = dynamic_cast<CProfessionalRecovery*>(&engine);
        return coordinator && coordinator->RecordsUnreadable();
    }
    const CFastNtfsRecovery* ntfs = NtfsQuickEngine(engine, false);
    return ntfs && ntfs->MftRecordCount() == 0;
}

// The folders (MFT records on NTFS) the file system's own scan could not
// read, as a text ("2 folders"); empty when there were none.
std::string UnreadableRecordsText(IFileRecoveryParse& engine, bool deep) {
    IFileRecoveryParse* quick = &engine;
    if (deep) {
        auto* coordinator = dynamic_cast<CProfessionalRecovery*>(&engine);
        quick = coordinator ? coordinator->QuickEngine() : nullptr;
    }
    auto* logEngine = dynamic_cast<CLogEngineBase*>(quick);
    const uint64_t count = logEngine ? logEngine->UnreadableRecords() : 0;
    if (count == 0) return {};
    const bool ntfs = dynamic_cast<CFastNtfsRecovery*>(quick) != nullptr;
    return std::to_string(count) +
           (ntfs ? (count == 1 ? " MFT record" : " MFT records") : (count == 1 ? " folder" : " folders"));
}

std::string RecordsText(IFileRecoveryParse& engine, bool deep) {
    return NtfsQuickEngine(engine, deep) ? "the MFT and its copy" : "the file system's own records";
}

int RunOneTarget(ScanOptions o, OpenedTarget& opened);

// recover --scan ID of a disk's partition: that range of the drive holding
// the disk now (its number may have changed since) becomes the target.
int TargetOfKeptPartitionScan(const KeptScan& scan, ScanOptions& o) {
    int drive = -1;
    switch (CheckKeptPartition(scan, drive)) {
        case KeptTarget::kAbsent:
        case KeptTarget::kOther:
            std::fprintf(stderr,
                         "sorvane recover: the disk scan %" PRIu64
                         " was made of (%s) is not connected; connect it and try again\n",
                         scan.id, scan.TargetName().c_str());
            return kExitCannotRead;
        case KeptTarget::kUnknown:
            std::fprintf(stderr,
                         "sorvane recover: scan %" PRIu64
                         " of %s kept nothing to tell its disk by; connect that disk and continue the scan "
                         "with: sorvane recover --resume --to DIR disk:%u:%" PRIu64 ":%" PRIu64 "\n",
                         scan.id, scan.TargetName().c_str(), scan.driveIndex, scan.rangeStart,
                         scan.rangeLength);
            return kExitCannotRead;
        case KeptTarget::kSame:
            break;
    }
    if (static_cast<uint32_t>(drive) != scan.driveIndex) {
        if (const int rc =
                MoveKeptScanToDrive(CScanResumeStore::Instance(), scan, static_cast<uint32_t>(drive));
            rc != 0) {
            std::fprintf(stderr, "sorvane recover: cannot update kept scan %" PRIu64 " in %s: %s\n", scan.id,
                         Utf8FromPath(scan.folder).c_str(), ResultText(rc).c_str());
            return kExitCannotWrite;
        }
        std::fprintf(stderr, "sorvane: the disk of scan %" PRIu64 " is disk %d now\n", scan.id, drive);
    }
    o.target = "disk:" + std::to_string(drive) + ":" + std::to_string(scan.rangeStart) + ":" +
               std::to_string(scan.rangeLength);
    return -1;
}

// recover --scan ID: the kept scan's image becomes the target, once it is
// shown to be here and to be the one scanned. Returns -1 to go on, else the
// exit status after saying what is wrong.
int TargetOfKeptScan(ScanOptions& o) {
    KeptScan scan;
    if (!FindKeptScan(CScanResumeStore::Instance(), o.keptScan, scan)) {
        std::fprintf(stderr,
                     "sorvane recover: there is no kept scan %" PRIu64 " (sorvane scans lists them)\n",
                     o.keptScan);
        return kExitUsage;
    }
    if (!scan.finished) {
        std::fprintf(stderr,
                     "sorvane recover: scan %" PRIu64
                     " of %s stopped before it finished; continue it with: "
                     "sorvane recover --resume --to DIR %s\n",
                     scan.id, scan.TargetName().c_str(), scan.TargetName().c_str());
        return kExitUsage;
    }
    if (!scan.image) return TargetOfKeptPartitionScan(scan, o);
    switch (CheckKeptImage(scan)) {
        case KeptTarget::kAbsent:
            std::fprintf(stderr,
                         "sorvane recover: the image scan %" PRIu64
                         " was made of, %s, is not there; put it "
                         "back (or connect the disk it is on) and try again\n",
                         scan.id, scan.imagePath.c_str());
            return kExitCannotRead;
        case KeptTarget::kOther:
            std::fprintf(stderr,
                         "sorvane recover: %s is not the image scan %" PRIu64
                         " was made of (it has changed since); nothing was recovered\n",
                         scan.imagePath.c_str(), scan.id);
            return kExitCannotRead;
        case KeptTarget::kUnknown:
            std::fprintf(stderr,
                         "sorvane recover: scan %" PRIu64
                         " kept nothing to tell its image by; scan %s again\n",
                         scan.id, scan.imagePath.c_str());
            return kExitCannotRead;
        case KeptTarget::kSame:
            break;
    }
    o.target = scan.imagePath;
    if (scan.rangeStart != 0)
        o.target += "@" + std::to_string(scan.rangeStart) + ":" + std::to_string(scan.rangeLength);
    return -1;
}

int RunScanOrRecover(const std::vector<std::string>& args, bool recover) {
    ScanOptions o;
    if (int status = ParseScanOptions(args, recover, o); status >= 0) return status;

    InstallInterruptHandler();
    // Taken before the target is opened: opening a deep scan reads the resume records.
    InstanceLock dataLock;
    if (!LockDataFolder(dataLock)) return Interrupted() ? kExitCancelled : kExitCannotWrite;
    if (o.fromKeptScan) {
        if (const int status = TargetOfKeptScan(o); status >= 0) return status;
        OpenedTarget opened;
        return RunOneTarget(o, opened);
    }

    // A whole card or disk copied into one file: its partitions are scanned
    // one after another. An image of one volume stays open for its scan.
    OpenedTarget whole;
    const std::vector<std::string> parts = PartitionTargetsOfImage(o.target, whole.source);
    if (parts.empty()) return RunOneTarget(o, whole);
    int worst = kExitOk;
    for (const std::string& part : parts) {
        std::fprintf(stderr, "sorvane: partition at sector %s of %s\n",
                     part.substr(part.rfind('@') + 1).c_str(), o.target.c_str());
        ScanOptions one = o;
        one.target = part;
        OpenedTarget opened;
        const int status = RunOneTarget(one, opened);
        if (status == kExitCancelled) return status;
        if (status != kExitOk) worst = status;
    }
    return worst;
}

int RunOneTarget(ScanOptions o, OpenedTarget& opened) {
    const bool recover = o.recover;
    if (int status = OpenScanTarget(o.target, o.deep, opened); status != kExitOk) return status;
    o.volumeBytes = opened.volumeBytes;
    o.sectorSize = opened.sectorSize;
    std::filesystem::path destination;
    if (recover) {
        std::error_code ec;
        destination = std::filesystem::absolute(PathFromUtf8(o.destination), ec).lexically_normal();
        if (LiesOnSource(destination, opened.devices)) {
            auto drive = DriveTable::Instance().Drive(opened.driveIndex);
            if (drive && drive->isImage)
                std::fprintf(
                    stderr,
                    "sorvane recover: %s lies on a file system the system reads from the image being "
                    "scanned; recovering there would change the image. Choose a folder elsewhere.\n",
                    o.destination.c_str());
            else
                std::fprintf(
                    stderr,
                    "sorvane recover: %s lies on the disk being scanned; recovering there could overwrite "
                    "the files being recovered. Choose a folder on another disk.\n",
                    o.destination.c_str());
            return kExitUsage;
        }
        if (int status = CheckDestination(destination); status != kExitOk) return status;
    }

    CScanResumeStore& store = CScanResumeStore::Instance();
    auto* deep = dynamic_cast<CProfessionalRecovery*>(opened.engine.get());
    if (deep) DecideOnEarlierScan(o, *deep);
    if (o.fromKeptScan && (!deep || !deep->HasResumeRecord() || !deep->SavedScanFinished())) {
        std::fprintf(stderr,
                     "sorvane recover: the kept scan %" PRIu64
                     " does not belong to %s as it is now; nothing "
                     "was recovered\n",
                     o.keptScan, o.target.c_str());
        return kExitCannotRead;
    }
    // A deep scan keeps its scan folder and resume record so that it can be
    // continued; the coordinator picks the folder itself.
    std::filesystem::path scanFolder = deep ? std::filesystem::path() : store.NewScanFolder();
    const bool showProgress = WantProgress(o.progress);
    const int rc = RunScanStep(*opened.engine, showProgress, o);
    const bool cancelled = rc == kCancelCode;
    int status = kExitOk;
    if (rc != kSuccess && !cancelled) {
        if (deep) {
            std::fprintf(stderr, "sorvane: the scan of %s failed: %s\n", o.target.c_str(),
                         ResultText(rc).c_str());
            status = kExitCannotRead;
        } else {
            std::fprintf(stderr,
                         "sorvane: the file system's own records on %s cannot be read (%s); the deep scan "
                         "(sorvane %s --deep) searches the contents instead\n",
                         o.target.c_str(), ResultText(rc).c_str(), recover ? "recover" : "scan");
            status = kExitRecordsUnreadable;
        }
    }
    const bool recordsUnreadable = rc == kSuccess && RecordsUnreadable(*opened.engine, deep != nullptr);
    if (recordsUnreadable) {
        const std::string instead = deep ? "the deep scan searched the contents instead"
                                         : std::string("the deep scan (sorvane ") +
                                               (recover ? "recover" : "scan") +
                                               " --deep) searches the contents instead";
        std::fprintf(stderr, "sorvane: %s of %s cannot be read; %s\n",
                     RecordsText(*opened.engine, deep != nullptr).c_str(), o.target.c_str(), instead.c_str());
    }
    if (deep && deep->ResumeDiscarded())
        std::fprintf(
            stderr,
            "sorvane: the earlier deep scan of %s could not be continued (its saved state is missing "
            "or damaged); this scan started afresh\n",
            o.target.c_str());
    if (deep && deep->ResumedFinished())
        std::fprintf(stderr, "sorvane: the earlier deep scan of %s had finished; these are its results\n",
                     o.target.c_str());
    else if (deep && deep->Resumed() && deep->TotalSectors() > 0)
        std::fprintf(
            stderr, "sorvane: continued the earlier deep scan of %s from %" PRIu64 " %% of its search\n",
            o.target.c_str(),
            std::min<uint64_t>(deep->ResumedAtSector(), deep->TotalSectors()) * 100 / deep->TotalSectors());
    if (deep && rc == kSuccess && opened.kind == VolumeKind::kUnknown) {
        // No boot sector (nor its copy) said what the volume is, but the
        // search met a file system's own records: the files are listed by the
        // names those records give.
        std::string kinds;
        for (const std::string& kind : deep->FileSystemsFound())
            kinds += (kinds.empty() ? "" : " and ") + kind;
        if (!kinds.empty())
            std::fprintf(stderr,
                         "sorvane: no file system is recognised at the start of %s, but the deep scan found "
                         "the records of %s; their files are listed with their names\n",
                         o.target.c_str(), kinds.c_str());
    }
    const std::string lostRecords = UnreadableRecordsText(*opened.engine, deep != nullptr);
    if (!lostRecords.empty())
        std::fprintf(stderr,
                     "sorvane: %s of %s could not be read; the files listed in them are missing below\n",
                     lostRecords.c_str(), o.target.c_str());
    if (cancelled) std::fprintf(stderr, "sorvane: cancelled; showing what was found so far\n");
    if (cancelled && deep)
        std::fprintf(stderr, "sorvane: the deep scan can be continued with: sorvane %s --resume %s\n",
                     recover ? "recover" : "scan", o.target.c_str());

    // Unreadable sectors and a target that shrank leave the list short: the
    // files are listed, and the exit status says the list is incomplete.
    const bool keptSize = status != kExitOk || TargetKeptItsSize(o.target, opened);
    if (status == kExitOk) {
        status = recover ? RecoverStep(*opened.engine, deep != nullptr, o, destination, showProgress)
                         : ListStep(*opened.engine, deep != nullptr, o);
    }
    BadSectorMap unreadable = opened.unreadable;
    if (deep)
        for (const SectorRange& range : deep->UnreadableSectors().Ranges())
            unreadable.Add(range.first, range.count);
    const bool allRead = ReportUnreadable(unreadable, o);
    if (status == kExitOk && (!keptSize || !allRead || !lostRecords.empty() || opened.claimsMore))
        status = kExitIncomplete;
    if ((status == kExitOk || status == kExitIncomplete) && recordsUnreadable)
        status = kExitRecordsUnreadable;
    std::fflush(stdout);
    opened.engine.reset();
    if (!deep) store.DeleteScan(scanFolder);
    if (cancelled) return kExitCancelled;
    return status;
}

}  // namespace

int RunScan(const std::vector<std::string>& args) { return RunScanOrRecover(args, false); }
int RunRecover(const std::vector<std::string>& args) { return RunScanOrRecover(args, true); }

}  // namespace sorvane::cli
