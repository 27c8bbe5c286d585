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
#include "cli/image_options.h"
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

// The sectors to copy: the source's range, narrowed by --start and --count.
// Returns -1 when they are known (`first`, `sectors`, `sectorSize`), else the exit status.
int ResolveImageRange(const ImageOptions& o, const Target& target, uint64_t& first, uint64_t& sectors,
                      uint32_t& sectorSize) {
    const bool isDevice = target.kind != Target::Kind::kImage;
    DiskReader probe;
    int rc = OpenPhysicalDriveReader(probe, target.driveIndex);
    if (rc != kSuccess) {
        std::fprintf(stderr, "sorvane image: cannot open %s: %s\n", o.source.c_str(),
                     OpenFailureText(rc, isDevice).c_str());
        return kExitCannotRead;
    }
    sectorSize = DriveSectorSize(probe);
    const uint64_t driveSectors = probe.totalSectors;
    probe.Close();

    // --start and --count are counted within the source: within the partition for a partition.
    first = target.startSector;
    sectors = target.sectorCount;
    const uint64_t available = target.kind == Target::Kind::kPartition || target.rangeGiven
                                   ? target.sectorCount
                                   : (driveSectors > first ? driveSectors - first : 0);
    if (o.haveStart || o.haveCount) {
        if (o.start >= available || (o.haveCount && o.count > available - o.start)) {
            std::fprintf(stderr, "sorvane image: the range passes the end of %s (%llu sectors)\n",
                         o.source.c_str(), static_cast<unsigned long long>(available));
            return kExitUsage;
        }
        first += o.start;
        sectors = o.haveCount ? o.count : available - o.start;
    } else if (sectors == 0) {
        sectors = available;
    }
    if (sectors == 0 || first > driveSectors || sectors > driveSectors - first) {
        std::fprintf(stderr, "sorvane image: the range passes the end of %s (%llu sectors)\n",
                     o.source.c_str(), static_cast<unsigned long long>(driveSectors));
        return target.rangeGiven ? kExitUsage : kExitCannotRead;
    }
    return -1;
}

// The files the copy writes (the image, its .part and its map) must be new,
// or replaced with --force, and never the source; the destination must hold
// the image. Returns -1 when they may be written, else the exit status.
int CheckImageOutputs(const ImageOptions& o, const Target& target, uint64_t imageBytes) {
    const std::filesystem::path output = PathFromUtf8(o.output);
    for (const std::string& text : {o.output, o.output + ".part", Utf8FromPath(UnreadableMapPath(output))}) {
        const std::filesystem::path path = PathFromUtf8(text);
        const char* shown = text.c_str();
        if (IsImageSource(path, target.driveIndex)) {
            std::fprintf(stderr,
                         "sorvane image: %s is the source itself; Sorvane never writes to what it reads\n",
                         shown);
            return kExitCannotWrite;
        }
        std::error_code ec;
        const auto status = std::filesystem::symlink_status(path, ec);
        if (!std::filesystem::exists(status)) continue;
        if (!std::filesystem::is_regular_file(status)) {
            std::fprintf(stderr,
                         "sorvane image: %s exists and is not an ordinary file; choose a new file name\n",
                         shown);
            return kExitCannotWrite;
        }
        if (!o.force) {
            std::fprintf(stderr,
                         "sorvane image: %s exists; choose a new file name, or use --force to replace it\n",
                         shown);
            return kExitCannotWrite;
        }
    }
    ImageDestinationVerdict verdict = CheckImageDestination(output, target.devices, imageBytes);
    if (verdict != ImageDestinationVerdict::kAccepted) {
        std::fprintf(stderr, "sorvane image: refused %s: %s\n", o.output.c_str(),
                     RefusalText(verdict, imageBytes).c_str());
        return kExitCannotWrite;
    }
    return -1;
}

// What the copy's result means for the user: the image renamed into place,
// its map written, or why not. Returns the exit status.
int FinishImage(const ImageOptions& o, int rc, const ImageCopyJob& job, uint64_t first, uint64_t sectors,
                uint32_t sectorSize) {
    const std::string partText = o.output + ".part";
    const std::filesystem::path part = PathFromUtf8(partText);
    const std::filesystem::path mapPath = UnreadableMapPath(PathFromUtf8(o.output));
    const std::string mapText = Utf8FromPath(mapPath);
    if (rc == kCancelCode) {
        std::fprintf(stderr, "sorvane image: cancelled; %s holds the first %llu of %llu sectors\n",
                     partText.c_str(), static_cast<unsigned long long>(job.sectorsCopied),
                     static_cast<unsigned long long>(sectors));
        return kExitCancelled;
    }
    // A map from an earlier copy of the same name would describe another image.
    std::error_code ec;
    std::filesystem::remove(mapPath, ec);
    const bool salvaged = rc == kErrReadFault && o.keepGoing;
    if (salvaged) {
        if (int mapRc = SaveUnreadableMap(job.unreadable, sectorSize, o.source, mapPath); mapRc != kSuccess) {
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
            static_cast<unsigned long long>(job.failedSector), o.source.c_str(), partText.c_str(),
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
    std::filesystem::rename(part, PathFromUtf8(o.output), ec);
    // After a sudo restart the image is still the user's.
    static_cast<void>(GiveToInvokingUser(ec ? part : PathFromUtf8(o.output)));
    if (salvaged) static_cast<void>(GiveToInvokingUser(mapPath));
    if (ec) {
        std::fprintf(stderr, "sorvane image: the image is complete as %s but cannot be renamed to %s: %s\n",
                     partText.c_str(), o.output.c_str(), ec.message().c_str());
        return kExitCannotWrite;
    }
    const uint64_t imageBytes = sectors * sectorSize;
    std::printf("%s: %llu sectors of %u bytes (%s) from %s, starting at sector %llu\n", o.output.c_str(),
                static_cast<unsigned long long>(sectors), sectorSize, FormatSizeText(imageBytes).c_str(),
                o.source.c_str(), static_cast<unsigned long long>(first));
    if (salvaged) {
        std::fprintf(stderr, "sorvane image: %s of the image (written as zeros); the map is %s\n",
                     job.unreadable.Summary(8).c_str(), mapText.c_str());
        return kExitIncomplete;
    }
    return kExitOk;
}

}  // namespace

int RunImage(const std::vector<std::string>& args) {
    ImageOptions o;
    if (int status = ParseImageOptions(args, o); status >= 0) return status;
    Target target;
    std::string error;
    if (!ResolveTarget(o.source, target, error)) {
        std::fprintf(stderr, "sorvane image: %s\n", error.c_str());
        return kExitCannotRead;
    }
    if (target.rangeGiven && (o.haveStart || o.haveCount))
        return ImageUsage("give the range either in disk:N:START:COUNT or with --start/--count, not both");
    uint64_t first = 0, sectors = 0;
    uint32_t sectorSize = 512;
    if (int status = ResolveImageRange(o, target, first, sectors, sectorSize); status >= 0) return status;
    if (int status = CheckImageOutputs(o, target, sectors * sectorSize); status >= 0) return status;

    // The copy goes to OUTPUT.part and takes its name only when complete, so
    // a file with the image's name is always a whole image.
    InstallInterruptHandler();
    CopyProgress progress{ProgressLine(WantProgress(o.showProgress))};
    ImageCopyJob job;
    job.progress = OnCopyProgress;
    job.keepGoing = o.keepGoing;
    const int rc =
        RunImageCopy(job, target.driveIndex, first, sectors, PathFromUtf8(o.output + ".part"), &progress);
    progress.line.Finish();
    return FinishImage(o, rc, job, first, sectors, sectorSize);
}

}  // namespace sorvane::cli
