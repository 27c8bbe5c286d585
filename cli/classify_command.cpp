// sorvane classify: tells which file system a volume or image holds.
#include <cinttypes>
#include <cstdio>
#include <vector>

#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/scan_target.h"
#include "cli/target.h"
#include "device/boot_sector.h"
#include "device/byte_view.h"
#include "device/disk_reader.h"
#include "device/volume_start.h"
#include "fs/exfat_volume.h"
#include "platform/drive_table.h"
#include "platform/path_text.h"
#include "platform/result_codes.h"

namespace sorvane::cli {

namespace {

const char kUsage[] =
    "usage: sorvane classify TARGET\n"
    "  TARGET is an image file, a partition of one (IMAGE@START[:COUNT]), a device node\n"
    "  (/dev/sdb, /dev/sdb1) or disk:N[:START:COUNT]\n";

constexpr size_t kProbeBytes = 16384;

}  // namespace

int RunClassify(const std::vector<std::string>& args) {
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    if (args.size() != 1 || (args[0].size() > 1 && args[0][0] == '-')) {
        if (args.size() == 1) std::fprintf(stderr, "sorvane classify: unknown option %s\n", args[0].c_str());
        std::fputs(kUsage, stderr);
        return kExitUsage;
    }
    // Resolved like every other target, so that a FIFO or a folder is refused
    // instead of read (reading a FIFO would wait forever).
    Target target;
    std::string error, image;
    // A partition inside a whole-disk image, as the scans name it.
    if (ParseImagePartition(args[0], image, target.startSector, target.sectorCount, error)) {
        target.driveIndex = DriveTable::Instance().AddImage(PathFromUtf8(image));
    } else if (!error.empty()) {
        std::fprintf(stderr, "sorvane: %s\n", error.c_str());
        return kExitUsage;
    } else if (!ResolveTarget(args[0], target, error)) {
        std::fprintf(stderr, "sorvane: %s\n", error.c_str());
        return kExitCannotRead;
    }
    DiskReader reader;
    int rc = OpenPhysicalDriveReader(reader, target.driveIndex);
    if (rc != kSuccess) {
        std::fprintf(stderr, "sorvane: cannot open %s: %s\n", args[0].c_str(),
                     OpenFailureText(rc, target.kind != Target::Kind::kImage).c_str());
        return kExitCannotRead;
    }
    const uint32_t sectorSize = DriveSectorSize(reader);
    uint64_t sectors =
        reader.totalSectors > target.startSector ? reader.totalSectors - target.startSector : 0;
    if (target.sectorCount != 0 && target.sectorCount < sectors) sectors = target.sectorCount;
    VolumeStart start;
    if (sectors == 0 ||
        !ReadVolumeStart(reader, target.startSector, sectors, sectorSize, kProbeBytes, start)) {
        std::fprintf(stderr,
                     "sorvane: none of the first %" PRIu64
                     " sectors of %s can be read; if the disk is failing, copy what can be read with "
                     "`sorvane image --keep-going` and try the copy\n",
                     start.sectorsPresent, args[0].c_str());
        return kExitCannotRead;
    }
    const std::vector<uint8_t>& head = start.bytes;
    const RecognisedVolume volume = RecogniseVolume(reader, target.startSector, sectors, sectorSize, start);
    const VolumeKind kind = volume.kind;
    ByteView boot(volume.bootSector.data(), volume.bootSector.size());
    std::printf("target:      %s\n", args[0].c_str());
    std::printf("size:        %llu sectors of %u bytes\n", static_cast<unsigned long long>(sectors),
                sectorSize);
    std::printf("file system: %s", VolumeKindName(kind));
    if (kind == VolumeKind::kFat) std::printf(" (FAT%d)", FatBitsOfBootSector(boot.Data(), boot.Size()));
    std::printf("\n");
    if (kind == VolumeKind::kFat)
        std::printf("cluster:     %u bytes\n", unsigned(boot.U16(11)) * boot.U8(13));
    if (kind == VolumeKind::kNtfs)
        std::printf("cluster:     %" PRIu64 " bytes\n", NtfsClusterBytesOf(boot.Data(), boot.Size()));
    if (volume.backupUsed) std::printf("note:        the boot sector is damaged; its backup copy was used\n");
    const bool claimsMore = volume.claimedSectors > sectors;
    if (claimsMore)
        std::printf("note:        the volume claims %" PRIu64 " sectors; the target holds %" PRIu64
                    "; files past its end are missing\n",
                    volume.claimedSectors, sectors);
    if (!start.unreadable.Empty())
        std::printf("note:        %s; recognised from what was read\n", start.unreadable.Summary(8).c_str());
    if (kind == VolumeKind::kExfat) {
        ExfatVolume volume;
        const uint64_t volumeStart = target.startSector * sectorSize;
        ByteSource read = [&reader, volumeStart](uint64_t offset, uint8_t* buffer, size_t length) {
            size_t got = 0;
            return reader.Handle().ReadAt(volumeStart + offset, buffer, length, got) == kSuccess &&
                   got == length;
        };
        if (volume.Open(read)) {
            // Only the label is wanted from the root; without it none is shown.
            static_cast<void>(volume.ReadRoot());
            std::printf("cluster:     %u bytes\n", volume.Geometry().ClusterBytes());
            if (!volume.Label().empty()) std::printf("label:       %s\n", volume.Label().c_str());
            if (volume.BootChoice() == ExfatBootChoice::kBackup)
                std::printf("note:        the main boot region is damaged; its backup copy was read\n");
        }
    }
    if (HasDamagedExfatBootRegion(head.data(), head.size()))
        std::printf(
            "note:        this volume is exFAT with a damaged boot region; the deep scan will search its "
            "contents\n");
    return start.unreadable.Empty() && !claimsMore ? kExitOk : kExitIncomplete;
}

}  // namespace sorvane::cli
