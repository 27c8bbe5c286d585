// sorvane image: copies a disk, a partition or an image file, sector by
// sector, into a raw image file that can be scanned later instead.
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "carving/progress_callbacks.h"
#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/progress.h"
#include "cli/target.h"
#include "device/disk_reader.h"
#include "platform/file_handle.h"
#include "platform/file_owner.h"
#include "platform/path_text.h"
#include "platform/result_codes.h"
#include "results/image_copy.h"
#include "results/size_text.h"

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

int Usage(const char* problem) {
    if (problem) std::fprintf(stderr, "sorvane image: %s\n", problem);
    std::fputs(kUsage, stderr);
    return kExitUsage;
}

std::string RefusalText(ImageDestinationVerdict verdict, uint64_t imageBytes) {
    switch (verdict) {
        case ImageDestinationVerdict::kOnImagedVolume:
            return "the image cannot be saved on the disk or partition being imaged: writing there could "
                   "overwrite the very data to be recovered; choose a folder on another disk";
        case ImageDestinationVerdict::kFat32TooLarge:
            return "the destination is a FAT32 volume, which cannot hold a file of 4 GB or more; the image "
                   "needs " +
                   FormatSizeText(imageBytes);
        case ImageDestinationVerdict::kFatTooLarge:
            return "the destination is a FAT volume, which cannot hold a file larger than 2 GB; the image "
                   "needs " +
                   FormatSizeText(imageBytes);
        case ImageDestinationVerdict::kNotEnoughSpace:
            return "not enough free space at the destination for an image of " + FormatSizeText(imageBytes);
        case ImageDestinationVerdict::kAccepted:
            break;
    }
    return {};
}

struct CopyProgress {
    ProgressLine line;
};

int OnCopyProgress(void* userData, int percent, uint64_t done, uint64_t total, int64_t secondsLeft) {
    auto* progress = static_cast<CopyProgress*>(userData);
    progress->line.Update(percent, done, total, secondsLeft, "sectors");
    return Interrupted() ? kCancelCode : 0;
}

}  // namespace

int RunImage(const std::vector<std::string>& args) {
    std::vector<std::string> positional;
    bool haveStart = false, haveCount = false, showProgress = false, force = false, keepGoing = false;
    uint64_t start = 0, count = 0;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--start" || a == "--count") {
            if (i + 1 >= args.size()) return Usage((a + " needs a number of sectors").c_str());
            uint64_t& value = a == "--start" ? start : count;
            if (!ParseCount(args[++i], value)) return Usage((a + " needs a number of sectors").c_str());
            (a == "--start" ? haveStart : haveCount) = true;
        } else if (a == "--progress") {
            showProgress = true;
        } else if (a == "--force") {
            force = true;
        } else if (a == "--keep-going") {
            keepGoing = true;
        } else if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return kExitOk;
        } else if (a.size() > 1 && a[0] == '-' && a != "-") {
            return Usage(("unknown option " + a).c_str());
        } else {
            positional.push_back(a);
        }
    }
    if (positional.size() != 2) return Usage(nullptr);
    if (haveCount && count == 0) return Usage("--count must be at least 1");
    const std::string& sourceText = positional[0];
    const std::string& outputText = positional[1];
    const std::filesystem::path output = PathFromUtf8(outputText);

    Target target;
    std::string error;
    if (!ResolveTarget(sourceText, target, error)) {
        std::fprintf(stderr, "sorvane image: %s\n", error.c_str());
        return kExitCannotRead;
    }
    if (target.rangeGiven && (haveStart || haveCount))
        return Usage("give the range either in disk:N:START:COUNT or with --start/--count, not both");
    const bool isDevice = target.kind != Target::Kind::kImage;

    DiskReader probe;
    int rc = OpenPhysicalDriveReader(probe, target.driveIndex);
    if (rc != kSuccess) {
        std::fprintf(stderr, "sorvane image: cannot open %s: %s\n", sourceText.c_str(),
                     OpenFailureText(rc, isDevice).c_str());
        return kExitCannotRead;
    }
    const uint32_t sectorSize = DriveSectorSize(probe);
    const uint64_t driveSectors = probe.totalSectors;
    probe.Close();

    // --start and --count are counted within the source: within the partition for a partition.
    uint64_t first = target.startSector, sectors = target.sectorCount;
    const uint64_t available = target.kind == Target::Kind::kPartition || target.rangeGiven
                                   ? target.sectorCount
                                   : (driveSectors > first ? driveSectors - first : 0);
    if (haveStart || haveCount) {
        if (start >= available || (haveCount && count > available - start)) {
            std::fprintf(stderr, "sorvane image: the range passes the end of %s (%llu sectors)\n",
                         sourceText.c_str(), static_cast<unsigned long long>(available));
            return kExitUsage;
        }
        first += start;
        sectors = haveCount ? count : available - start;
    } else if (sectors == 0) {
        sectors = available;
    }
    if (sectors == 0 || first > driveSectors || sectors > driveSectors - first) {
        std::fprintf(stderr, "sorvane image: the range passes the end of %s (%llu sectors)\n",
                     sourceText.c_str(), static_cast<unsigned long long>(driveSectors));
        return target.rangeGiven ? kExitUsage : kExitCannotRead;
    }

    // The copy goes to OUTPUT.part and takes its name only when complete, so
    // a file with the image's name is always a whole image.
    const std::string partText = outputText + ".part";
    const std::filesystem::path part = PathFromUtf8(partText);
    const std::filesystem::path mapPath = UnreadableMapPath(output);
    const std::string mapText = Utf8FromPath(mapPath);
    std::error_code ec;
    const std::pair<const std::filesystem::path*, const std::string*> written[] = {
        {&output, &outputText}, {&part, &partText}, {&mapPath, &mapText}};
    for (const auto& [pathPointer, textPointer] : written) {
        const std::filesystem::path& path = *pathPointer;
        const char* shown = textPointer->c_str();
        if (IsImageSource(path, target.driveIndex)) {
            std::fprintf(stderr,
                         "sorvane image: %s is the source itself; Sorvane never writes to what it reads\n",
                         shown);
            return kExitCannotWrite;
        }
        const auto status = std::filesystem::symlink_status(path, ec);
        if (!std::filesystem::exists(status)) continue;
        if (!std::filesystem::is_regular_file(status)) {
            std::fprintf(stderr,
                         "sorvane image: %s exists and is not an ordinary file; choose a new file name\n",
                         shown);
            return kExitCannotWrite;
        }
        if (!force) {
            std::fprintf(stderr,
                         "sorvane image: %s exists; choose a new file name, or use --force to replace it\n",
                         shown);
            return kExitCannotWrite;
        }
    }
    const uint64_t imageBytes = sectors * sectorSize;
    ImageDestinationVerdict verdict = CheckImageDestination(output, target.devices, imageBytes);
    if (verdict != ImageDestinationVerdict::kAccepted) {
        std::fprintf(stderr, "sorvane image: refused %s: %s\n", outputText.c_str(),
                     RefusalText(verdict, imageBytes).c_str());
        return kExitCannotWrite;
    }

    InstallInterruptHandler();
    CopyProgress progress{ProgressLine(WantProgress(showProgress))};
    ImageCopyJob job;
    job.progress = OnCopyProgress;
    job.keepGoing = keepGoing;
    rc = RunImageCopy(job, target.driveIndex, first, sectors, part, &progress);
    progress.line.Finish();
    if (rc == kCancelCode) {
        std::fprintf(stderr, "sorvane image: cancelled; %s holds the first %llu of %llu sectors\n",
                     partText.c_str(), static_cast<unsigned long long>(job.sectorsCopied),
                     static_cast<unsigned long long>(sectors));
        return kExitCancelled;
    }
    // A map from an earlier copy of the same name would describe another image.
    std::filesystem::remove(mapPath, ec);
    const bool salvaged = rc == kErrReadFault && keepGoing;
    if (salvaged) {
        const int mapRc = SaveUnreadableMap(job.unreadable, sectorSize, sourceText, mapPath);
        if (mapRc != kSuccess) {
            std::fprintf(stderr, "sorvane image: cannot write the map of unreadable sectors %s: %s\n",
                         mapText.c_str(), ResultText(mapRc).c_str());
            return kExitCannotWrite;
        }
        rc = kSuccess;
    }
    if (rc == kErrReadFault) {
        std::fprintf(
            stderr,
            "sorvane image: cannot read sector %llu of %s; %s holds the %llu sectors copied before it\n",
            static_cast<unsigned long long>(job.failedSector), sourceText.c_str(), partText.c_str(),
            static_cast<unsigned long long>(job.sectorsCopied));
        return kExitCannotRead;
    }
    if (rc != kSuccess) {
        std::fprintf(stderr, "sorvane image: cannot write %s: %s; it holds the first %llu of %llu sectors\n",
                     partText.c_str(), ResultText(rc).c_str(),
                     static_cast<unsigned long long>(job.sectorsCopied),
                     static_cast<unsigned long long>(sectors));
        return kExitCannotWrite;
    }
    std::filesystem::rename(part, output, ec);
    // After a sudo restart the image is still the user's.
    static_cast<void>(GiveToInvokingUser(ec ? part : output));
    if (salvaged) static_cast<void>(GiveToInvokingUser(mapPath));
    if (ec) {
        std::fprintf(stderr, "sorvane image: the image is complete as %s but cannot be renamed to %s: %s\n",
                     partText.c_str(), outputText.c_str(), ec.message().c_str());
        return kExitCannotWrite;
    }
    std::printf("%s: %llu sectors of %u bytes (%s) from %s, starting at sector %llu\n", outputText.c_str(),
                static_cast<unsigned long long>(sectors), sectorSize, FormatSizeText(imageBytes).c_str(),
                sourceText.c_str(), static_cast<unsigned long long>(first));
    if (salvaged) {
        std::fprintf(stderr, "sorvane image: %s of the image (written as zeros); the map is %s\n",
                     job.unreadable.Summary(8).c_str(), mapText.c_str());
        return kExitIncomplete;
    }
    return kExitOk;
}

}  // namespace sorvane::cli
