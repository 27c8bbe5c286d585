#include "cli/scan_options.h"

#include <cctype>
#include <cstdio>
#include <iterator>
#include <sstream>

#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/target.h"
#include "platform/file_time.h"
#include "platform/text_encoding.h"
#include "results/file_categories.h"
#include "results/file_filter.h"

namespace sorvane::cli {
namespace {

const char kScanUsage[] =
    "usage: sorvane scan [--quick|--deep [--resume|--fresh]] [--json] [--types LIST] [--ext LIST]\n"
    "                    [--min-size SIZE] [--max-size SIZE] [--since DATE] [--until DATE]\n"
    "                    [--hide-damaged] [--carved-names number] [--progress] TARGET\n";
const char kRecoverUsage[] =
    "usage: sorvane recover [--quick|--deep [--resume|--fresh]] [--json] [--types LIST] [--ext LIST] "
    "[--keep-folders]\n"
    "                       [--min-size SIZE] [--max-size SIZE] [--since DATE] [--until DATE]\n"
    "                       [--hide-damaged] [--carved-names number] [--progress] --to DIR TARGET\n"
    "       sorvane recover --scan ID [the same choices] --to DIR\n";
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
    "--min-size, --max-size   size limits: bytes, or with KB, MB, GB (1000s) or KiB, MiB, GiB (1024s)\n"
    "--since, --until         last-write date, YYYY-MM-DD[ HH:MM[:SS]]\n"
    "--hide-damaged           leave out files that may not open: damaged or impossible\n"
    "--json    one JSON object per found file (scan); after a recovery, one object that counts\n"
    "          the files and lists the damaged ones (\"damagedFiles\", each with its\n"
    "          \"unreadableSectors\", written as zeros) and the failed ones (recover)\n"
    "          The listing's columns: size in bytes, last written, whether the content\n"
    "          is whole (its own structure checks out), damaged (cut short, broken, or\n"
    "          holding something else), not checked, or impossible (an entry no volume\n"
    "          could hold), and the file's path. The JSON carries the same word as\n"
    "          \"content\".\n"
    "--keep-folders           keep each file's folder path below its category folder (recover)\n"
    "--carved-names number    files found by their contents keep numbered names (81920.jpg);\n"
    "                         by default they are named and dated from their own metadata\n"
    "                         (\"2023-07-14 15.42.07.jpg\", \"Artist - Title.mp3\", a document's title)\n"
    "--progress               show progress on stderr even when it is not a terminal\n"
    "--scan ID                recover from the kept deep scan ID (sorvane scans lists them)\n"
    "                         without scanning; its disk or image must be present and unchanged\n"
    "\n";

const char* const kTypeNames[] = {"photo", "audio", "video", "document", "archive", "other"};

std::vector<std::string> SplitList(const std::string& text) {
    std::vector<std::string> items;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ','))
        if (!item.empty()) items.push_back(item);
    return items;
}

int UsageError(const ScanOptions& o, const std::string& message) {
    if (!message.empty())
        std::fprintf(stderr, "sorvane %s: %s\n", o.recover ? "recover" : "scan", message.c_str());
    std::fputs(o.recover ? kRecoverUsage : kScanUsage, stderr);
    return kExitUsage;
}

}  // namespace

int ParseScanOptions(const std::vector<std::string>& args, bool recover, ScanOptions& o) {
    o.recover = recover;
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
        } else if (a == "--json") {
            o.json = true;
        } else if (a == "--progress") {
            o.progress = true;
        } else if (a == "--hide-damaged") {
            o.filter.hideMayNotOpen = true;
        } else if (a == "--keep-folders" && o.recover) {
            o.keepFolders = true;
        } else if (a == "--carved-names") {
            if (!value(v) || (v != "number" && v != "metadata"))
                return UsageError(o, "--carved-names takes number or metadata");
            o.carvedNumbers = v == "number";
        } else if (a == "--scan" && o.recover) {
            if (!value(v) || !ParseScanId(v, o.keptScan))
                return UsageError(o, "--scan needs a kept scan's ID");
            o.fromKeptScan = true;
        } else if (a == "--to" && o.recover) {
            if (!value(o.destination) || o.destination.empty()) return UsageError(o, "--to needs a folder");
        } else if (a == "--types") {
            if (!value(v)) return UsageError(o, "--types needs a list");
            o.typesGiven = true;
            for (const auto& t : SplitList(v)) {
                bool known = false;
                for (const char* name : kTypeNames) known = known || t == name;
                if (!known)
                    return UsageError(
                        o, "unknown type '" + t + "' (photo, audio, video, document, archive, other)");
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
            if (!value(v) || !ParseSize(v, n))
                return UsageError(o, a + " needs a size, e.g. 1200, 200KB or 4MiB");
            (a == "--min-size" ? o.filter.minSize : o.filter.maxSize) = n;
        } else if (a == "--since" || a == "--until") {
            uint64_t t = 0;
            if (!value(v) || !ParseFileTime(v, t))
                return UsageError(o, a + " needs a date YYYY-MM-DD[ HH:MM[:SS]]");
            if (a == "--since")
                o.filter.since = t, o.filter.haveSince = true;
            else
                o.filter.until = t, o.filter.haveUntil = true;
        } else if (a == "--help" || a == "-h") {
            std::fputs(o.recover ? kRecoverUsage : kScanUsage, stdout);
            std::fputs(kOptionsHelp, stdout);
            std::fputs(kExitCodesHelp, stdout);
            return kExitOk;
        } else if (a.size() > 1 && a[0] == '-') {
            return UsageError(o, "unknown option " + a);
        } else {
            positional.push_back(a);
        }
    }
    if (o.fromKeptScan) {
        if (!positional.empty()) return UsageError(o, "--scan takes no target: the kept scan names it");
        if (o.fresh || !o.deep) return UsageError(o, "--scan recovers from a kept deep scan as it is");
        o.resume = true;
        positional.push_back({});
    }
    if (positional.size() != 1)
        return UsageError(o, positional.empty() ? "no target given" : "more than one target");
    if (o.recover && o.destination.empty()) return UsageError(o, "--to DIR is required");
    if (o.filter.minSize > o.filter.maxSize) return UsageError(o, "--min-size is larger than --max-size");
    if (o.resume && o.fresh) return UsageError(o, "--resume and --fresh exclude each other");
    if ((o.resume || o.fresh) && !o.deep)
        return UsageError(o, "--resume and --fresh belong to the deep scan");
    if (!o.typesGiven && o.extensions.empty())
        for (const char* name : kTypeNames) o.types.insert(name);
    o.target = positional[0];
    return -1;
}

bool NarrowsList(const ScanOptions& o) {
    return NarrowsFiles(o.filter) || !o.extensions.empty() || o.types.size() < std::size(kTypeNames);
}

bool Selected(const ScanOptions& o, const FoundItemRecord& r) {
    if (!PassesFileFilter(o.filter, r, o.volumeBytes, o.sectorSize)) return false;
    return ChosenByType(TypeChoice{o.types, o.extensions, {}}, r.Name());
}

}  // namespace sorvane::cli
