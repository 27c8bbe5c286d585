// `sorvane scan` lists what a scan finds; `sorvane recover` scans and copies
// the chosen files into a folder. Both read the target through the engine the
// engine selection picks, and never write to it.
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <deque>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "cli/commands.h"
#include "cli/json_text.h"
#include "cli/progress.h"
#include "cli/target.h"
#include "carving/content_check.h"
#include "device/disk_reader.h"
#include "device/partition_details.h"
#include "engines/engine_factory.h"
#include "engines/exfat_file_data.h"
#include "engines/professional_recovery.h"
#include "platform/path_text.h"
#include "platform/drive_table.h"
#include "platform/file_time.h"
#include "platform/result_codes.h"
#include "platform/terminal.h"
#include "platform/text_encoding.h"
#include "platform/volume_registry.h"
#include "results/file_categories.h"
#include "results/safe_name.h"
#include "results/scan_resume_store.h"

namespace sorvane::cli {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitCannotRead = 1;
constexpr int kExitUsage = 2;
constexpr int kExitCancelled = 130;
constexpr uint16_t kVolumeKey = 1;

const char kScanUsage[] =
    "usage: sorvane scan [--quick|--deep [--resume|--fresh]] [--json] [--types LIST] [--ext LIST]\n"
    "                    [--min-size BYTES] [--max-size BYTES] [--since DATE] [--until DATE]\n"
    "                    [--progress] TARGET\n";
const char kRecoverUsage[] =
    "usage: sorvane recover [--quick|--deep [--resume|--fresh]] [--types LIST] [--ext LIST] [--keep-folders]\n"
    "                       [--min-size BYTES] [--max-size BYTES] [--since DATE] [--until DATE]\n"
    "                       [--progress] --to DIR TARGET\n";
const char kOptionsHelp[] =
    "\n"
    "TARGET    an image file (of a whole disk: each of its partitions in turn), a device\n"
    "          node (/dev/sdb, /dev/sdb1), disk:N[:START:COUNT],\n"
    "          or IMAGE@START[:COUNT] for a partition inside a whole-disk image (sectors)\n"
    "--deep    read the file system's own records, then search all free space for the\n"
    "          folders and files of earlier file systems and for files by their contents\n"
    "          (the default)\n"
    "--quick   read only the file system's own records of deleted files\n"
    "--resume  continue an earlier deep scan of the same target where it stopped\n"
    "--fresh   discard an earlier deep scan of the same target and start afresh\n"
    "          (without either, an earlier scan is offered on a terminal)\n"
    "--types   photo,audio,video,document,archive,other (default: all)\n"
    "--ext     extensions, e.g. jpg,cr2 (only these, unless --types is given too)\n"
    "--min-size, --max-size   size limits in bytes\n"
    "--since, --until         last-write date, YYYY-MM-DD[ HH:MM[:SS]]\n"
    "--json    one JSON object per found file (scan)\n"
    "          The listing's columns: size in bytes, last written, whether the content\n"
    "          is whole (its own structure checks out), damaged (cut short, broken, or\n"
    "          holding something else) or not checked, and the file's path. The JSON\n"
    "          carries the same word as \"content\".\n"
    "--keep-folders           keep each file's folder path below its category folder (recover)\n"
    "--progress               show progress on stderr even when it is not a terminal\n";

const char* const kTypeNames[] = {"photo", "audio", "video", "document", "archive", "other"};

struct Options {
    bool recover = false;
    bool deep = true;
    bool resume = false;
    bool fresh = false;
    bool json = false;
    bool progress = false;
    bool keepFolders = false;
    bool typesGiven = false;
    std::set<std::string> types;
    std::set<std::string> extensions;
    uint64_t minSize = 0;
    uint64_t maxSize = UINT64_MAX;
    bool haveSince = false, haveUntil = false;
    uint64_t since = 0, until = 0;
    std::string destination;
    std::string target;
};

std::vector<std::string> SplitList(const std::string& text) {
    std::vector<std::string> items;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ','))
        if (!item.empty()) items.push_back(item);
    return items;
}

int UsageError(const Options& o, const std::string& message) {
    if (!message.empty()) std::fprintf(stderr, "sorvane %s: %s\n", o.recover ? "recover" : "scan", message.c_str());
    std::fputs(o.recover ? kRecoverUsage : kScanUsage, stderr);
    return kExitUsage;
}

// Returns -1 when the options are fine, else the exit status (0 after --help).
int ParseOptions(const std::vector<std::string>& args, Options& o) {
    std::vector<std::string> positional;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= args.size()) return false;
            out = args[++i];
            return true;
        };
        std::string v;
        if (a == "--quick") {
            o.deep = false;
        } else if (a == "--deep") {
            o.deep = true;
        } else if (a == "--resume") {
            o.resume = true;
        } else if (a == "--fresh") {
            o.fresh = true;
        } else if (a == "--json" && !o.recover) {
            o.json = true;
        } else if (a == "--progress") {
            o.progress = true;
        } else if (a == "--keep-folders" && o.recover) {
            o.keepFolders = true;
        } else if (a == "--to" && o.recover) {
            if (!value(o.destination) || o.destination.empty()) return UsageError(o, "--to needs a folder");
        } else if (a == "--types") {
            if (!value(v)) return UsageError(o, "--types needs a list");
            o.typesGiven = true;
            for (const auto& t : SplitList(v)) {
                bool known = false;
                for (const char* name : kTypeNames) known = known || t == name;
                if (!known) return UsageError(o, "unknown type '" + t + "' (photo, audio, video, document, archive, other)");
                o.types.insert(t);
            }
        } else if (a == "--ext") {
            if (!value(v)) return UsageError(o, "--ext needs a list");
            for (auto e : SplitList(v)) {
                while (!e.empty() && (e[0] == '.' || e[0] == '*')) e.erase(0, 1);
                if (!e.empty()) o.extensions.insert(AsciiLower(e));
            }
        } else if (a == "--min-size" || a == "--max-size") {
            uint64_t n = 0;
            if (!value(v) || !ParseCount(v, n)) return UsageError(o, a + " needs a number of bytes");
            (a == "--min-size" ? o.minSize : o.maxSize) = n;
        } else if (a == "--since" || a == "--until") {
            uint64_t t = 0;
            if (!value(v) || !ParseFileTime(v, t)) return UsageError(o, a + " needs a date YYYY-MM-DD[ HH:MM[:SS]]");
            if (a == "--since") o.since = t, o.haveSince = true;
            else o.until = t, o.haveUntil = true;
        } else if (a == "--help" || a == "-h") {
            std::fputs(o.recover ? kRecoverUsage : kScanUsage, stdout);
            std::fputs(kOptionsHelp, stdout);
            return kExitOk;
        } else if (a.size() > 1 && a[0] == '-') {
            return UsageError(o, "unknown option " + a);
        } else {
            positional.push_back(a);
        }
    }
    if (positional.size() != 1) return UsageError(o, positional.empty() ? "no target given" : "more than one target");
    if (o.recover && o.destination.empty()) return UsageError(o, "--to DIR is required");
    if (o.minSize > o.maxSize) return UsageError(o, "--min-size is larger than --max-size");
    if (o.resume && o.fresh) return UsageError(o, "--resume and --fresh exclude each other");
    if ((o.resume || o.fresh) && !o.deep) return UsageError(o, "--resume and --fresh belong to the deep scan");
    if (!o.typesGiven && o.extensions.empty())
        for (const char* name : kTypeNames) o.types.insert(name);
    o.target = positional[0];
    return -1;
}

// "%d Hour %d Min", "%d Min %d Sec" or "%d Sec": the remaining-time text the
// program shows everywhere.
std::string RemainingText(int64_t seconds) {
    if (seconds < 0) return "estimating";
    char text[64];
    if (seconds > 3599)
        std::snprintf(text, sizeof text, "%d Hour %d Min", static_cast<int>(seconds / 3600),
                      static_cast<int>((seconds % 3600) / 60));
    else if (seconds > 59)
        std::snprintf(text, sizeof text, "%d Min %d Sec", static_cast<int>(seconds / 60),
                      static_cast<int>(seconds % 60));
    else
        std::snprintf(text, sizeof text, "%d Sec", static_cast<int>(seconds));
    return text;
}

struct ScanState {
    IFileRecoveryParse* engine = nullptr;
    bool show = false;
    bool lineOpen = false;
};

int ScanProgress(void* user, int percent, int weight, int64_t remaining, uint64_t, uint64_t, uint64_t) {
    auto* s = static_cast<ScanState*>(user);
    if (Interrupted()) return kCancelCode;
    if (s->show) {
        int shown = percent * weight / 100;
        std::fprintf(stderr, "\r%3d%%  %" PRIu64 " files found  time left: %s\033[K", shown,
                     s->engine->GetFoundCount(), RemainingText(remaining).c_str());
        std::fflush(stderr);
        s->lineOpen = true;
    }
    return 0;
}

struct CopyState {
    int lastError = 0;
};

int CopyProgress(void* user, int percent, int, int errorCode, const std::filesystem::path&) {
    if (Interrupted()) return kCancelCode;
    if (percent == 100 && errorCode != 0) static_cast<CopyState*>(user)->lastError = errorCode;
    return 0;
}

struct Found {
    FoundItemRecord record;
    std::string folderPath;  // "a/b/" below the volume root
};

// Calls `visit` for every file the engine lists, walking its folders from the
// root one folder at a time, so memory does not grow with the number of files.
// Stops when `visit` answers false.
template <typename Visit>
void ForEachListedFile(IFileRecoveryParse& engine, Visit&& visit) {
    struct Pending {
        bool root;
        FoundItemRecord folder;
        uint32_t level;
        std::string path;
    };
    std::deque<Pending> queue{{true, {}, 0, ""}};
    std::set<std::pair<uint32_t, uint32_t>> seen;  // (key, level) of folders already listed
    while (!queue.empty()) {
        Pending p = std::move(queue.front());
        queue.pop_front();
        FoundItemList children;
        static_cast<void>(engine.ListChildren(p.root ? nullptr : &p.folder, p.level, children));
        for (const auto& child : children) {
            if (child.IsFolder()) {
                if (seen.insert({child.key, p.level + 1}).second)
                    queue.push_back({false, child, p.level + 1, p.path + child.Name() + "/"});
            } else if (!visit(Found{child, p.path})) {
                return;
            }
        }
    }
}

// Every file of a deep scan: the merged search of all its engines, which
// lists a carved file only when no file-system file starts at its sector.
std::vector<Found> CollectDeepFiles(IFileRecoveryParse& engine) {
    std::vector<Found> files;
    FoundItemList all;
    static_cast<void>(engine.FindByExtension(AllCategoriesPattern() + "|" + std::string(kOtherPattern), all));
    for (const auto& r : all) {
        Found f{r, {}};
        static_cast<void>(engine.GetFolderPath(r, f.folderPath));
        files.push_back(std::move(f));
    }
    return files;
}

// What to do with an earlier, unfinished deep scan of the same target:
// continue it with --resume, drop it with --fresh, else ask on a terminal.
void DecideOnEarlierScan(const Options& o, CProfessionalRecovery& deep) {
    if (!deep.HasResumeRecord() || o.resume) return;
    const ResumeRecord& saved = deep.SavedRecord();
    const uint64_t percent = saved.rangeLength ? saved.sectorsDone * 100 / saved.rangeLength : 0;
    bool keep = false;
    if (!o.fresh && StandardInputIsTerminal() && StandardErrorIsTerminal()) {
        std::fprintf(stderr,
                     "An earlier deep scan of %s got %" PRIu64 "%% through and found %" PRIu64
                     " files. Continue it? [y/N] ",
                     o.target.c_str(), percent, saved.filesFound);
        std::fflush(stderr);
        char answer[16] = {};
        keep = std::fgets(answer, sizeof answer, stdin) && (answer[0] == 'y' || answer[0] == 'Y');
    } else if (!o.fresh) {
        std::fprintf(stderr, "sorvane: an earlier deep scan of %s is discarded (use --resume to continue it)\n",
                     o.target.c_str());
    }
    if (!keep) deep.DeclineResume();
}

bool Selected(const Options& o, const FoundItemRecord& r) {
    if (r.size < o.minSize || r.size > o.maxSize) return false;
    if (o.haveSince && r.written < o.since) return false;
    if (o.haveUntil && r.written > o.until) return false;
    std::string name = r.Name();
    if (!o.extensions.empty() && o.extensions.count(LowerExtension(name))) return true;
    std::string category = CategoryFolderName(name);
    if (category == "others") category = "other";
    return o.types.count(category) != 0;
}

// IMAGE@START[:COUNT]: a partition inside a whole-disk image file.
bool ParseImagePartition(const std::string& text, std::string& image, uint64_t& start, uint64_t& count) {
    std::error_code ec;
    size_t at = text.rfind('@');
    if (at == std::string::npos || std::filesystem::exists(PathFromUtf8(text), ec)) return false;
    image = text.substr(0, at);
    if (!std::filesystem::is_regular_file(PathFromUtf8(image), ec)) return false;
    std::string range = text.substr(at + 1);
    size_t colon = range.find(':');
    count = 0;
    if (!ParseCount(range.substr(0, colon), start)) return false;
    if (colon != std::string::npos && (!ParseCount(range.substr(colon + 1), count) || count == 0)) return false;
    return true;
}

struct Opened {
    std::unique_ptr<IFileRecoveryParse> engine;
    std::vector<uint64_t> devices;  // device numbers the target reads
};

int OpenTarget(const Options& o, Opened& opened) {
    std::string image;
    uint64_t start = 0, count = 0;
    bool isDevice = false;
    int drive = -1;
    bool wholeImage = false;
    if (ParseImagePartition(o.target, image, start, count)) {
        drive = DriveTable::Instance().AddImage(PathFromUtf8(image));
    } else {
        Target target;
        std::string error;
        if (!ResolveTarget(o.target, target, error)) {
            std::fprintf(stderr, "sorvane: %s\n", error.c_str());
            return kExitCannotRead;
        }
        drive = target.driveIndex;
        start = target.startSector;
        count = target.sectorCount;
        isDevice = target.kind != Target::Kind::kImage;
        wholeImage = target.kind == Target::Kind::kImage;
        opened.devices = target.devices;
    }
    // Opened here first so that a failure can be told in plain words.
    DiskReader probe;
    int rc = OpenPhysicalDriveReader(probe, drive);
    if (rc != kSuccess) {
        std::fprintf(stderr, "sorvane: cannot open %s: %s\n", o.target.c_str(), OpenFailureText(rc, isDevice).c_str());
        return kExitCannotRead;
    }
    if (start >= probe.totalSectors) {
        std::fprintf(stderr, "sorvane: %s has %" PRIu64 " sectors; sector %" PRIu64 " is past its end\n",
                     o.target.c_str(), probe.totalSectors, start);
        return kExitCannotRead;
    }
    if (count == 0 || count > probe.totalSectors - start) count = probe.totalSectors - start;
    std::vector<uint8_t> head(16384);
    uint32_t sectorSize = DriveSectorSize(probe);
    uint32_t got = 0;
    if (ReadSectors(16384 / sectorSize, probe, head.data(), start, sectorSize, &got) != kSuccess) {
        std::fprintf(stderr, "sorvane: cannot read the first 16384 bytes of %s\n", o.target.c_str());
        return kExitCannotRead;
    }
    probe.Close();
    opened.engine = wholeImage ? CreateRecoveryEngineForImage(PathFromUtf8(o.target), kVolumeKey, o.deep)
                               : CreateRecoveryEngine(drive, start, count, kVolumeKey, o.deep);
    if (!opened.engine) {
        VolumeKind kind = ClassifyVolume(head.data(), head.size());
        if (HasDamagedExfatBootRegion(head.data(), head.size())) {
            std::fprintf(stderr,
                         "sorvane: %s: this volume is exFAT with a damaged boot region; the deep scan will search "
                         "its contents\n",
                         o.target.c_str());
            return kExitCannotRead;
        }
        std::fprintf(stderr, "sorvane: %s holds no file system the quick scan reads (NTFS, FAT or exFAT) at sector %" PRIu64,
                     o.target.c_str(), start);
        std::fprintf(stderr, kind == VolumeKind::kUnknown && start == 0
                                 ? "; for a partition of a whole-disk image, name it as IMAGE@START\n"
                                 : "\n");
        return kExitCannotRead;
    }
    return kExitOk;
}

// How far a file's content can be trusted, in the listing's word: "damaged"
// where the file system shows its clusters taken by another file, else what
// the content check found ("whole", "damaged" or "not checked").
const char* ContentText(const FoundItemRecord& r) {
    if (IsExfatRecord(r) && (r.engineSpecific & kExfatDamaged)) return "damaged";
    return ContentCheckWord(r.contentCheck);
}

void PrintTextLine(const Found& f) {
    const FoundItemRecord& r = f.record;
    std::string written = r.written ? FormatFileTime(r.written) : "-";
    std::printf("%12" PRIu64 "  %-19s  %-7s  %s\n", r.size, written.c_str(), ContentText(r),
                PrintableName(f.folderPath + r.Name()).c_str());
}

void PrintJsonLine(const Found& f) {
    const FoundItemRecord& r = f.record;
    std::printf(
        "{\"letter\":%u,\"engineCode\":%u,\"isFolder\":%u,\"engineSpecific\":%u,\"contentCheck\":%u,"
        "\"recordNumber\":%u,\"key\":%u,\"clusterBytes\":%u,\"created\":%" PRIu64 ",\"accessed\":%" PRIu64
        ",\"written\":%" PRIu64 ",\"size\":%" PRIu64 ",\"dataStart\":%" PRIu64 ",\"location\":%" PRIu64
        ",\"partitionStart\":%" PRIu64 ",\"name\":%s,\"folderPath\":%s,\"category\":%s,\"content\":\"%s\"}\n",
        unsigned{r.letter}, unsigned{r.engineCode}, unsigned{r.isFolder}, unsigned{r.engineSpecific},
        unsigned{r.contentCheck}, unsigned{r.recordNumber}, unsigned{r.key}, unsigned{r.clusterBytes},
        uint64_t{r.created}, uint64_t{r.accessed}, uint64_t{r.written}, uint64_t{r.size}, uint64_t{r.dataStart},
        uint64_t{r.location}, uint64_t{r.partitionStart}, JsonString(r.Name()).c_str(),
        JsonString(f.folderPath).c_str(), JsonString(CategoryFolderName(r.Name())).c_str(),
        ContentText(r));
}

// True when `folder` (or the nearest folder above it that exists) lies on one
// of the devices being scanned.
bool LiesOnSource(const std::filesystem::path& folder, const std::vector<uint64_t>& devices) {
    if (devices.empty()) return false;
    std::error_code ec;
    std::filesystem::path probe = std::filesystem::absolute(folder, ec);
    while (!probe.empty() && !std::filesystem::exists(probe, ec)) probe = probe.parent_path();
    uint64_t device = 0;
    if (probe.empty() || GetPathDeviceNumber(probe, device) != kSuccess) return false;
    for (uint64_t d : devices)
        if (d == device) return true;
    return false;
}

uint32_t SeparatorCount(const std::string& path) {
    uint32_t n = 0;
    for (size_t i = 0; i + 1 < path.size(); ++i)
        if (path[i] == '/' || path[i] == '\\') ++n;
    return n;
}

int RunOneTarget(Options o);

// The partitions of a whole-disk image named without @START, as IMAGE@START:COUNT
// targets; empty for an image of one volume (or anything else).
std::vector<std::string> PartitionTargetsOfImage(const std::string& target) {
    std::error_code ec;
    std::vector<std::string> parts;
    if (!std::filesystem::is_regular_file(target, ec)) return parts;
    DiskReader reader;
    if (OpenImageReader(target, reader) != kSuccess) return parts;
    ByteSource source = [&reader](uint64_t offset, uint8_t* buffer, size_t length) {
        uint32_t read = 0;
        return offset % 512 == 0 && length % 512 == 0 &&
               ReadSectors(static_cast<uint32_t>(length / 512), reader, buffer, offset / 512, 512, &read) == kSuccess;
    };
    for (const PartitionSlot& slot : ReadPartitionTable(source, 512, reader.totalSectors))
        parts.push_back(target + "@" + std::to_string(slot.start) + ":" + std::to_string(slot.length));
    return parts;
}

int RunScanOrRecover(const std::vector<std::string>& args, bool recover) {
    Options o;
    o.recover = recover;
    if (int status = ParseOptions(args, o); status >= 0) return status;
    // A whole card or disk copied into one file: its partitions are scanned one after another.
    const std::vector<std::string> parts = PartitionTargetsOfImage(o.target);
    if (parts.empty()) return RunOneTarget(o);
    int worst = kExitOk;
    for (const std::string& part : parts) {
        std::fprintf(stderr, "sorvane: partition at sector %s of %s\n", part.substr(part.rfind('@') + 1).c_str(),
                     o.target.c_str());
        Options one = o;
        one.target = part;
        const int status = RunOneTarget(one);
        if (status == kExitCancelled) return status;
        if (status != kExitOk) worst = status;
    }
    return worst;
}

int RunOneTarget(Options o) {
    const bool recover = o.recover;

    Opened opened;
    if (int status = OpenTarget(o, opened); status != kExitOk) return status;
    std::filesystem::path destination;
    if (recover) {
        std::error_code ec;
        destination = std::filesystem::absolute(PathFromUtf8(o.destination), ec).lexically_normal();
        if (LiesOnSource(destination, opened.devices)) {
            std::fprintf(stderr,
                         "sorvane recover: %s lies on the disk being scanned; recovering there could overwrite "
                         "the files being recovered. Choose a folder on another disk.\n",
                         o.destination.c_str());
            return kExitUsage;
        }
    }

    InstallInterruptHandler();
    CScanResumeStore& store = CScanResumeStore::Instance();
    auto* deep = dynamic_cast<CProfessionalRecovery*>(opened.engine.get());
    if (deep) DecideOnEarlierScan(o, *deep);
    // A deep scan keeps its scan folder and resume record so that it can be
    // continued; the coordinator picks the folder itself.
    std::filesystem::path scanFolder = deep ? std::filesystem::path() : store.NewScanFolder();
    ScanState scanState;
    scanState.engine = opened.engine.get();
    scanState.show = WantProgress(o.progress);
    CopyState copyState;
    opened.engine->SetCallbacks(ScanProgress, CopyProgress, &scanState, 100);
    int rc = opened.engine->Scan(nullptr);
    if (scanState.lineOpen) std::fputc('\n', stderr);
    const bool cancelled = rc == kCancelCode;
    int status = kExitOk;
    if (rc != kSuccess && !cancelled) {
        std::fprintf(stderr, "sorvane: the scan of %s failed: %s\n", o.target.c_str(), ResultText(rc).c_str());
        status = kExitCannotRead;
    }
    // The chosen files one at a time: a quick scan's are read folder by folder
    // from its log, a deep scan's come from the merged search.
    auto forEachSelected = [&](auto&& visit) {
        if (status != kExitOk) return;
        if (deep) {
            for (auto& f : CollectDeepFiles(*opened.engine))
                if (Selected(o, f.record) && !visit(f)) return;
            return;
        }
        ForEachListedFile(*opened.engine, [&](const Found& f) { return !Selected(o, f.record) || visit(f); });
    };
    if (cancelled) std::fprintf(stderr, "sorvane: cancelled; showing what was found so far\n");
    if (cancelled && deep)
        std::fprintf(stderr, "sorvane: the deep scan can be continued with: sorvane %s --resume %s\n",
                     recover ? "recover" : "scan", o.target.c_str());

    if (!recover) {
        size_t listed = 0;
        forEachSelected([&](const Found& f) {
            o.json ? PrintJsonLine(f) : PrintTextLine(f);
            ++listed;
            return true;
        });
        if (!o.json && status == kExitOk) std::fprintf(stderr, "%zu files found\n", listed);
    } else if (status == kExitOk) {
        opened.engine->SetCallbacks(nullptr, CopyProgress, &copyState, 100);
        const uint32_t baseDepth = SeparatorCount(Utf8FromPath(destination));
        size_t found = 0, recovered = 0, failed = 0;
        bool stopped = false;
        forEachSelected([&](const Found& f) {
            ++found;
            std::vector<std::string> folders{CategoryFolderName(f.record.Name())};
            if (o.keepFolders)
                for (const auto& part : SplitFolderPath(f.folderPath)) folders.push_back(part);
            std::filesystem::path path;
            std::string shown = PrintableName(f.folderPath + f.record.Name());
            if (!JoinInsideDestination(destination, folders, f.record.Name(), path) ||
                (path = UniqueDestinationPath(path)).empty()) {
                std::fprintf(stderr, "sorvane: could not recover %s: no safe free name in %s\n", shown.c_str(),
                             Utf8FromPath(destination).c_str());
                ++failed;
                return true;
            }
            if (scanState.show) std::fprintf(stderr, "\rrecovering file %zu\033[K", found);
            copyState.lastError = 0;
            int result = opened.engine->RecoverItem(f.record, path, baseDepth);
            if (result == kCancelCode) {
                stopped = true;
                std::error_code ec;
                std::filesystem::remove(path, ec);  // a half-written file is not a recovered one
                return false;
            }
            if (result != kSuccess) {
                ++failed;
                if (scanState.show) std::fputc('\n', stderr);
                std::fprintf(stderr, "sorvane: could not recover %s: %s\n", shown.c_str(),
                             ResultText(result).c_str());
            } else {
                ++recovered;
            }
            return true;
        });
        if (scanState.show && found > 0) std::fputc('\n', stderr);
        if (stopped) std::fprintf(stderr, "sorvane: cancelled; the files recovered so far stay in %s\n",
                                  Utf8FromPath(destination).c_str());
        std::printf("found %zu, recovered %zu, failed %zu into %s\n", found, recovered, failed,
                    Utf8FromPath(destination).c_str());
        if (stopped) status = kExitCancelled;
        else if (failed > 0) status = kExitCannotRead;
    }
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
