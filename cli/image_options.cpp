#include "cli/image_options.h"

#include <cstdio>

#include "cli/exit_codes.h"
#include "cli/target.h"

namespace sorvane::cli {
namespace {

constexpr const char* kUsage =
    "usage: sorvane image [--start S --count N] [--keep-going] [--force] [--progress] SOURCE OUTPUT.img\n"
    "  SOURCE is disk:N[:START:COUNT], a disk or partition node (/dev/sdb, /dev/sdb1)\n"
    "  or an image file; --start and --count choose sectors within it.\n"
    "  The image is written as OUTPUT.img.part and renamed when complete; --force\n"
    "  replaces an existing OUTPUT.img.\n"
    "  Without --keep-going the copy stops at the first unreadable sector. With it,\n"
    "  unreadable sectors are written as zeros, tried once more at the end, and\n"
    "  listed in OUTPUT.img.bad-sectors.txt (\"FIRST COUNT\" lines, image sectors).\n";

}  // namespace

int ImageUsage(const char* problem) {
    if (problem) std::fprintf(stderr, "sorvane image: %s\n", problem);
    std::fputs(kUsage, stderr);
    return kExitUsage;
}

int ParseImageOptions(const std::vector<std::string>& args, ImageOptions& o) {
    std::vector<std::string> positional;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--start" || a == "--count") {
            if (i + 1 >= args.size()) return ImageUsage((a + " needs a number of sectors").c_str());
            uint64_t& value = a == "--start" ? o.start : o.count;
            if (!ParseCount(args[++i], value)) return ImageUsage((a + " needs a number of sectors").c_str());
            (a == "--start" ? o.haveStart : o.haveCount) = true;
        } else if (a == "--progress") {
            o.showProgress = true;
        } else if (a == "--force") {
            o.force = true;
        } else if (a == "--keep-going") {
            o.keepGoing = true;
        } else if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return kExitOk;
        } else if (a.size() > 1 && a[0] == '-' && a != "-") {
            return ImageUsage(("unknown option " + a).c_str());
        } else {
            positional.push_back(a);
        }
    }
    if (positional.size() != 2) return ImageUsage(nullptr);
    if (o.haveCount && o.count == 0) return ImageUsage("--count must be at least 1");
    o.source = positional[0];
    o.output = positional[1];
    return -1;
}

}  // namespace sorvane::cli
