// sorvane classify: tells which file system a volume or image holds.
#include <cstdio>
#include <vector>

#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/target.h"
#include "device/boot_sector.h"
#include "device/byte_view.h"
#include "device/disk_reader.h"
#include "fs/exfat_volume.h"
#include "platform/result_codes.h"

namespace sorvane::cli {

namespace {

const char kUsage[] =
    "usage: sorvane classify TARGET\n"
    "  TARGET is an image file, a device node (/dev/sdb, /dev/sdb1) or disk:N[:START:COUNT]\n";

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
    std::string error;
    if (!ResolveTarget(args[0], target, error)) {
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
    std::vector<uint8_t> head(16384);
    const uint32_t headSectors = static_cast<uint32_t>(head.size() / sectorSize);
    uint32_t got = 0;
    if (sectors < headSectors ||
        ReadSectors(headSectors, reader, head.data(), target.startSector, sectorSize, &got) != kSuccess) {
        std::fprintf(stderr, "sorvane: cannot read the first 16384 bytes of %s\n", args[0].c_str());
        return kExitCannotRead;
    }
    VolumeKind kind = ClassifyVolume(head.data(), head.size());
    ByteView boot(head.data(), 512);
    std::printf("target:      %s\n", args[0].c_str());
    std::printf("size:        %llu sectors of %u bytes\n", static_cast<unsigned long long>(sectors),
                sectorSize);
    std::printf("file system: %s", VolumeKindName(kind));
    if (kind == VolumeKind::kFat) std::printf(" (FAT%d)", FatBitsOfBootSector(head.data()));
    std::printf("\n");
    if (kind == VolumeKind::kFat || kind == VolumeKind::kNtfs) {
        std::printf("cluster:     %u bytes\n", unsigned(boot.U16(11)) * boot.U8(13));
    }
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
    return kExitOk;
}

}  // namespace sorvane::cli
