#include "cli/scan_steps.h"

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <system_error>
#include <utility>
#include <vector>

#include "carving/content_check.h"
#include "cli/exit_codes.h"
#include "cli/json_text.h"
#include "cli/progress.h"
#include "engines/exfat_file_data.h"
#include "engines/log_engine_base.h"
#include "engines/professional_recovery.h"
#include "engines/result_walker.h"
#include "engines/safe_copy.h"
#include "platform/file_handle.h"
#include "platform/file_time.h"
#include "platform/path_text.h"
#include "platform/result_codes.h"
#include "results/file_categories.h"
#include "results/file_condition.h"
#include "results/safe_name.h"

namespace sorvane::cli {
namespace {

struct ScanState {
    IFileRecoveryParse* engine = nullptr;
    const ScanOptions* narrowed = nullptr;  // set when the options leave files out of the list
    bool show = false;
    bool lineOpen = false;
    int shownPercent = 0;
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
    // A quick scan's count under the options: its log is read as it grows.
    uint32_t recordsCounted = 0;
    uint64_t filesShown = 0;
};

// The engine's estimate when it has one, else one from the pace so far once
// a second has passed: what is left goes as fast as what is done.
int64_t SecondsLeft(const ScanState& s, int64_t engineEstimate) {
    if (engineEstimate >= 0) return engineEstimate;
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - s.started)
            .count();
    if (elapsed < 1000 || s.shownPercent <= 0) return -1;
    return (elapsed * (100 - s.shownPercent) / s.shownPercent + 500) / 1000;
}

// The files found so far that the list will show. A quick engine's own count
// takes in its folders; the deep scan reports only files it will list, under
// the options it was given.
uint64_t FilesSoFar(ScanState& s, uint64_t reported) {
    auto* logEngine = dynamic_cast<CLogEngineBase*>(s.engine);
    CScanLog* log = logEngine ? logEngine->Log() : nullptr;
    if (!log) return reported;
    if (!s.narrowed) return log->ListedFileCount();
    s.recordsCounted = log->ForEachRecordFrom(s.recordsCounted + 1, [&](const FoundItemRecord& r) {
        if (CScanLog::IsListedFile(r) && Selected(*s.narrowed, r)) ++s.filesShown;
    }) - 1;
    return s.filesShown;
}

int ScanProgress(void* user, int percent, int weight, int64_t remaining, uint64_t, uint64_t, uint64_t found) {
    auto* s = static_cast<ScanState*>(user);
    if (Interrupted()) return kCancelCode;
    if (s->show) {
        // The engines' phases each count from 0; the line the user reads never goes back.
        s->shownPercent = std::max(s->shownPercent, std::clamp(percent * weight / 100, 0, 100));
        std::fprintf(stderr, "\r%3d%%  %" PRIu64 " files found  time left: %s\033[K", s->shownPercent,
                     FilesSoFar(*s, found), TimeLeftText(SecondsLeft(*s, remaining)).c_str());
        std::fflush(stderr);
        s->lineOpen = true;
    }
    return 0;
}

// A copy's own answer is the safe copy's result; the callback only stops it on Ctrl-C.
int CopyProgress(void*, int, int, int, const std::filesystem::path&) {
    return Interrupted() ? kCancelCode : 0;
}

const char* ContentText(const FoundItemRecord& r, const ScanOptions& o) {
    return ConditionWord(ConditionOf(r, o.volumeBytes, o.sectorSize));
}

void PrintTextLine(const Found& f, const ScanOptions& o) {
    const FoundItemRecord& r = f.record;
    std::string written = r.written ? FormatFileTime(r.written) : "-";
    // A file put back together says so after its condition.
    std::string check = ContentText(r, o);
    if (const std::string note = RebuiltNote(r); !note.empty()) check += ", " + note;
    std::printf("%12" PRIu64 "  %-19s  %-11s  %s\n", uint64_t{r.size}, written.c_str(), check.c_str(),
                PrintableName(f.folderPath + r.Name()).c_str());
}

// A record's time as a JSON value: ISO 8601 with the offset, or null when the
// record has none. FAT keeps the wall-clock time of the writer's zone; it is
// read as this machine's local time, as recovered files' times are set.
std::string JsonTime(const FoundItemRecord& r, uint64_t fileTime) {
    if (fileTime == 0) return "null";
    const bool wallClock = r.Engine() == EngineCode::kQuickFat || r.Engine() == EngineCode::kDeepFat;
    const std::string text =
        FormatIsoTime(wallClock ? UnixFromLocalWallClock(fileTime) : UnixFromFileTime(fileTime));
    return text.empty() ? "null" : "\"" + text + "\"";
}

void PrintJsonLine(const Found& f, const ScanOptions& o) {
    const FoundItemRecord& r = f.record;
    std::printf(
        "{\"letter\":%u,\"engineCode\":%u,\"isFolder\":%u,\"engineSpecific\":%u,\"contentCheck\":%u,"
        "\"recordNumber\":%u,\"key\":%u,\"clusterBytes\":%u,\"created\":%s,\"accessed\":%s"
        ",\"written\":%s,\"size\":%" PRIu64 ",\"dataStart\":%" PRIu64 ",\"location\":%" PRIu64
        ",\"partitionStart\":%" PRIu64
        ",\"name\":%s,\"folderPath\":%s,\"category\":%s,\"content\":\"%s\",\"impossible\":%s"
        ",\"nameGuessed\":%s,\"pieces\":%u,\"rebuilt\":%s}\n",
        unsigned{r.letter}, unsigned{r.engineCode}, unsigned{r.isFolder}, unsigned{r.engineSpecific},
        unsigned{r.contentCheck}, unsigned{r.recordNumber}, unsigned{r.key}, unsigned{r.clusterBytes},
        JsonTime(r, r.created).c_str(), JsonTime(r, r.accessed).c_str(), JsonTime(r, r.written).c_str(),
        uint64_t{r.size}, uint64_t{r.dataStart}, uint64_t{r.location}, uint64_t{r.partitionStart},
        JsonString(r.Name()).c_str(), JsonString(f.folderPath).c_str(),
        JsonString(CategoryFolderName(r.Name())).c_str(), ContentText(r, o),
        ImpossibleEntry(r, o.volumeBytes, o.sectorSize) ? "true" : "false",
        r.NameGuessed() ? "true" : "false", RebuiltPieces(r),
        RebuiltPieces(r) ? JsonString(RebuiltNote(r)).c_str() : "null");
}

}  // namespace

std::string FileCountText(size_t count) { return std::to_string(count) + (count == 1 ? " file" : " files"); }

bool ReportUnreadable(const BadSectorMap& unreadable, const ScanOptions& options) {
    if (unreadable.Empty()) return true;
    std::fprintf(stderr, "sorvane: %s of %s (the scan searched zeros in their place)\n",
                 unreadable.Summary(8).c_str(), options.target.c_str());
    if (options.json) {
        std::printf("{\"unreadableSectors\":%" PRIu64 ",\"unreadableRanges\":[", unreadable.SectorCount());
        constexpr size_t kMaxRanges = 1000;
        const auto& ranges = unreadable.Ranges();
        for (size_t i = 0; i < ranges.size() && i < kMaxRanges; ++i)
            std::printf("%s[%" PRIu64 ",%" PRIu64 "]", i ? "," : "", ranges[i].first, ranges[i].count);
        std::printf("]}\n");
    }
    return false;
}

int RunScanStep(IFileRecoveryParse& engine, bool showProgress, const ScanOptions& options) {
    ScanState state;
    state.engine = &engine;
    state.show = showProgress;
    if (auto* deep = dynamic_cast<CProfessionalRecovery*>(&engine))
        deep->Carver().SetNamesFromMetadata(!options.carvedNumbers);
    if (NarrowsList(options)) {
        state.narrowed = &options;
        if (auto* deep = dynamic_cast<CProfessionalRecovery*>(&engine))
            deep->SetShownFilter([&options](const FoundItemRecord& r) { return Selected(options, r); });
    }
    // No file is copied while scanning.
    engine.SetCallbacks(ScanProgress, nullptr, &state, 100);
    int rc = engine.Scan(nullptr);
    if (state.lineOpen) std::fputc('\n', stderr);
    return rc;
}

WalkOutcome ForEachChosenFile(IFileRecoveryParse& engine, bool deep, const ScanOptions& options,
                              const std::function<bool(const Found&)>& visit) {
    return sorvane::ForEachChosenFile(
        engine, deep, [&options](const FoundItemRecord& r) { return Selected(options, r); }, visit,
        [](const std::string& folderPath) {
            std::fprintf(stderr, "sorvane: the folder %s could not be listed; its files are missing below\n",
                         PrintableName(folderPath.empty() ? "/" : folderPath).c_str());
        });
}

int ListStep(IFileRecoveryParse& engine, bool deep, const ScanOptions& options) {
    size_t listed = 0;
    WalkOutcome outcome = ForEachChosenFile(engine, deep, options, [&](const Found& f) {
        options.json ? PrintJsonLine(f, options) : PrintTextLine(f, options);
        ++listed;
        return true;
    });
    if (outcome.incomplete) {
        std::fprintf(stderr, "sorvane: the list is incomplete: %s listed, more could not be read\n",
                     FileCountText(listed).c_str());
        return kExitIncomplete;
    }
    if (!options.json) std::fprintf(stderr, "%s found\n", FileCountText(listed).c_str());
    return kExitOk;
}

int CheckDestination(const std::filesystem::path& destination) {
    std::error_code ec;
    std::filesystem::create_directories(destination, ec);
    if (ec || !std::filesystem::is_directory(destination, ec)) {
        std::fprintf(stderr, "sorvane recover: cannot create the folder %s: %s\n",
                     Utf8FromPath(destination).c_str(),
                     ec ? ec.message().c_str() : "a file of that name is in the way");
        return kExitCannotWrite;
    }
    // A file of our own, made and removed at once: proves files can be created
    // there before the user waits for a whole scan.
    std::filesystem::path probe;
    auto taken = [](const std::filesystem::path& path) {
        std::error_code error;
        return std::filesystem::exists(std::filesystem::symlink_status(path, error));
    };
    for (int n = 0; n < 100 && (probe.empty() || taken(probe)); ++n)
        probe = destination / (".sorvane-write-check-" + std::to_string(n));
    FileHandle file;
    int rc = OpenForWriting(probe, WriteMode::kCreateNew, file);
    if (rc == kSuccess) {
        file.Close();
        std::filesystem::remove(probe, ec);
        return kExitOk;
    }
    std::fprintf(stderr, "sorvane recover: cannot write into %s: %s\n", Utf8FromPath(destination).c_str(),
                 ResultText(rc).c_str());
    return kExitCannotWrite;
}

namespace {

// What a recovery did, told once as text and, with --json, as one object.
struct RecoverySummary {
    struct Damaged {
        std::string file;  // where it was on the target
        std::filesystem::path written;
        uint64_t unreadableSectors = 0;
    };
    struct Failed {
        std::string file;
        std::string reason;
    };
    size_t found = 0, recovered = 0, didNotFit = 0;
    std::vector<Damaged> damaged;
    std::vector<Failed> failed;
};

void PrintSummaryText(const RecoverySummary& s, const std::filesystem::path& destination, std::FILE* to) {
    if (!s.damaged.empty())
        std::fprintf(to, "found %zu, recovered %zu (%zu damaged), failed %zu into %s\n", s.found, s.recovered,
                     s.damaged.size(), s.failed.size(), Utf8FromPath(destination).c_str());
    else
        std::fprintf(to, "found %zu, recovered %zu, failed %zu into %s\n", s.found, s.recovered,
                     s.failed.size(), Utf8FromPath(destination).c_str());
}

void PrintSummaryJson(const RecoverySummary& s, const std::filesystem::path& destination, bool cancelled) {
    std::printf(
        "{\"found\":%zu,\"recovered\":%zu,\"damaged\":%zu,\"failed\":%zu,\"didNotFit\":%zu,"
        "\"cancelled\":%s,\"destination\":%s,\"damagedFiles\":[",
        s.found, s.recovered, s.damaged.size(), s.failed.size(), s.didNotFit, cancelled ? "true" : "false",
        JsonString(Utf8FromPath(destination)).c_str());
    for (size_t i = 0; i < s.damaged.size(); ++i) {
        const auto& d = s.damaged[i];
        std::printf("%s{\"file\":%s,\"recoveredAs\":%s,\"unreadableSectors\":%" PRIu64 "}", i ? "," : "",
                    JsonString(d.file).c_str(), JsonString(Utf8FromPath(d.written)).c_str(),
                    d.unreadableSectors);
    }
    std::printf("],\"failedFiles\":[");
    for (size_t i = 0; i < s.failed.size(); ++i)
        std::printf("%s{\"file\":%s,\"reason\":%s}", i ? "," : "", JsonString(s.failed[i].file).c_str(),
                    JsonString(s.failed[i].reason).c_str());
    std::printf("]}\n");
}

}  // namespace

int RecoverStep(IFileRecoveryParse& engine, bool deep, const ScanOptions& options,
                const std::filesystem::path& destination, bool showProgress) {
    engine.SetCallbacks(nullptr, CopyProgress, nullptr, 100);
    const uint32_t baseDepth = SeparatorDepth(Utf8FromPath(destination));
    RecoverySummary summary;
    bool cancelled = false;
    WalkOutcome outcome = ForEachChosenFile(engine, deep, options, [&](const Found& f) {
        const size_t found = ++summary.found;
        const std::string file = f.folderPath + f.record.Name();
        auto fail = [&](std::string reason) { summary.failed.push_back({file, std::move(reason)}); };
        std::vector<std::string> folders{CategoryFolderName(f.record.Name())};
        if (options.keepFolders)
            for (const auto& part : SplitFolderPath(f.folderPath)) folders.push_back(part);
        std::filesystem::path wanted, written;
        std::string shown = PrintableName(f.folderPath + f.record.Name());
        std::filesystem::path folder;
        if (!JoinInsideDestination(destination, folders, {}, folder)) {
            std::fprintf(stderr,
                         "sorvane: could not recover %s: a link in %s leads out of it, and nothing is "
                         "written through it\n",
                         shown.c_str(), Utf8FromPath(destination).c_str());
            fail("a link in the destination leads out of it");
            return true;
        }
        // A link at the wanted name itself is passed over like any other file
        // in the way: the file gets the next free name beside it.
        if (!JoinInsideDestination(destination, folders, f.record.Name(), wanted))
            wanted = folder / PathFromUtf8(SafeFileName(f.record.Name()));
        if (FreeRecoveryPath(wanted).empty()) {
            std::fprintf(stderr, "sorvane: could not recover %s: no free name is left for it in %s\n",
                         shown.c_str(), Utf8FromPath(folder).c_str());
            fail("no free name is left for it in the destination");
            return true;
        }
        if (showProgress) std::fprintf(stderr, "\rrecovering file %zu\033[K", found);
        const int result = RecoverFileSafely(engine, f.record, destination, wanted, baseDepth, written);
        if (result == kSuccess) {
            ++summary.recovered;
            // Kept whole with zeros where the medium gave nothing: said here and counted below.
            if (const uint64_t unreadable = engine.UnreadableSectorsOfLastCopy()) {
                summary.damaged.push_back({file, written, unreadable});
                if (showProgress) std::fputc('\n', stderr);
                std::fprintf(stderr,
                             "sorvane: %s is damaged: %" PRIu64
                             " unreadable %s written as zeros, the rest is complete\n",
                             Utf8FromPath(written).c_str(), unreadable,
                             unreadable == 1 ? "sector" : "sectors");
            }
            return true;
        }
        if (result == kCancelCode) {
            cancelled = true;
            return false;
        }
        // The disk was read to scan it, so a refusal now is the destination's.
        const std::string reason = result == kErrFileExists ? "no free name is left for it in the destination"
                                   : result == kErrAccessDenied
                                       ? "the destination refused to take it (access denied)"
                                       : ResultText(result);
        fail(reason);
        // A full destination may still take the smaller files that follow.
        if (result == kErrDiskFull) {
            ++summary.didNotFit;
            return true;
        }
        if (showProgress) std::fputc('\n', stderr);
        std::fprintf(stderr, "sorvane: could not recover %s: %s\n", shown.c_str(), reason.c_str());
        return true;
    });
    if (showProgress && summary.found > 0) std::fputc('\n', stderr);
    if (cancelled)
        std::fprintf(stderr, "sorvane: cancelled; the files recovered so far stay in %s\n",
                     Utf8FromPath(destination).c_str());
    if (summary.didNotFit > 0)
        std::fprintf(stderr, "sorvane: %s is full; %s did not fit\n", Utf8FromPath(destination).c_str(),
                     FileCountText(summary.didNotFit).c_str());
    // With --json the output is JSON alone; the line for people goes to stderr.
    PrintSummaryText(summary, destination, options.json ? stderr : stdout);
    if (options.json) PrintSummaryJson(summary, destination, cancelled);
    if (cancelled) return kExitCancelled;
    if (summary.didNotFit > 0) return kExitCannotWrite;
    if (!summary.failed.empty() || !summary.damaged.empty() || outcome.incomplete) return kExitIncomplete;
    return kExitOk;
}

}  // namespace sorvane::cli
