// sorvane scans: the deep scans kept in the data folder, which `sorvane
// recover --scan ID` recovers from without scanning again, and their deletion.
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/json_text.h"
#include "platform/data_dirs.h"
#include "platform/path_text.h"
#include "results/kept_scans.h"

namespace sorvane::cli {
namespace {

constexpr const char* kUsage =
    "usage: sorvane scans [--json]\n"
    "       sorvane scans --delete ID\n"
    "  lists the deep scans kept in the data folder (sorvane recover --scan ID --to DIR\n"
    "  recovers from one without scanning); --delete removes one and its folder\n";

int Usage(const char* problem) {
    std::fprintf(stderr, "sorvane scans: %s\n%s", problem, kUsage);
    return kExitUsage;
}

// "2026-12-08 05:42" in UTC, as the JSON's "when" is.
std::string WhenText(int64_t seconds) {
    if (seconds <= 0) return "-";
    using namespace std::chrono;
    const sys_seconds time{std::chrono::seconds{seconds}};
    const sys_days day = floor<days>(time);
    const year_month_day date{day};
    const hh_mm_ss clock{time - day};
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u %02d:%02d", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()));
    return text;
}

}  // namespace

bool ParseScanId(const std::string& text, uint64_t& id) {
    if (text.empty() || text.size() > 19 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    id = std::stoull(text);
    return true;
}

int RunScans(const std::vector<std::string>& args) {
    bool json = false;
    bool remove = false;
    uint64_t id = 0;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--json") {
            json = true;
        } else if (args[i] == "--delete") {
            if (i + 1 >= args.size() || !ParseScanId(args[++i], id))
                return Usage("--delete needs a scan's ID");
            remove = true;
        } else if (args[i] == "--help" || args[i] == "-h") {
            std::fputs(kUsage, stdout);
            return kExitOk;
        } else {
            return Usage(("unknown argument " + args[i]).c_str());
        }
    }
    CScanResumeStore& store = CScanResumeStore::Instance();
    if (remove) {
        const int rc = DeleteKeptScan(store, id);
        if (rc == 2) {
            std::fprintf(stderr,
                         "sorvane scans: there is no kept scan %" PRIu64 " (sorvane scans lists them)\n", id);
            return kExitUsage;
        }
        if (rc != 0) {
            std::fprintf(stderr,
                         "sorvane scans: the folder of scan %" PRIu64
                         " is not inside %s; it was left alone and only its record was dropped\n",
                         id, Utf8FromPath(ScanLogDir()).c_str());
            return kExitCannotWrite;
        }
        std::fprintf(stderr, "sorvane scans: scan %" PRIu64 " deleted\n", id);
        return kExitOk;
    }
    const std::vector<KeptScan> scans = ListKeptScans(store);
    for (const KeptScan& scan : scans) {
        if (json) {
            std::printf("{\"id\":%" PRIu64
                        ",\"target\":%s,\"image\":%s,\"when\":%s,\"mode\":\"%s\",\"found\":%" PRIu64
                        ",\"finished\":%s,\"folder\":%s}\n",
                        scan.id, JsonString(scan.TargetName()).c_str(), scan.image ? "true" : "false",
                        JsonString(WhenText(scan.when)).c_str(), scan.deep ? "deep" : "quick",
                        scan.filesFound, scan.finished ? "true" : "false",
                        JsonString(Utf8FromPath(scan.folder)).c_str());
        } else {
            std::printf("%4" PRIu64 "  %s UTC  %s  %" PRIu64 " files  %s  %s\n", scan.id,
                        WhenText(scan.when).c_str(), scan.deep ? "deep " : "quick", scan.filesFound,
                        scan.finished ? "finished" : "stopped ", PrintableName(scan.TargetName()).c_str());
        }
    }
    if (!json) std::fprintf(stderr, "%zu kept %s\n", scans.size(), scans.size() == 1 ? "scan" : "scans");
    return kExitOk;
}

}  // namespace sorvane::cli
