#include "cli/scan_target.h"

#include <cinttypes>
#include <cstdio>
#include <system_error>

#include "cli/exit_codes.h"
#include "cli/target.h"
#include "device/boot_sector.h"
#include "device/disk_reader.h"
#include "device/disk_volume_list.h"
#include "device/partition_details.h"
#include "device/volume_start.h"
#include "engines/engine_factory.h"
#include "platform/drive_table.h"
#include "platform/path_text.h"
#include "platform/result_codes.h"
#include "platform/volume_registry.h"

namespace sorvane::cli {
namespace {

constexpr uint16_t kVolumeKey = 1;
constexpr size_t kProbeBytes = 16384;

}  // namespace

void TellAboutBootSector(const std::string& text, const RecognisedVolume& volume, uint64_t volumeSectors) {
    if (volume.backupUsed)
        std::fprintf(stderr, "sorvane: the boot sector of %s is damaged; its backup copy was used\n",
                     text.c_str());
    if (volume.claimedSectors > volumeSectors)
        std::fprintf(stderr,
                     "sorvane: the volume claims %" PRIu64 " sectors; %s holds %" PRIu64
                     "; files past its end are missing\n",
                     volume.claimedSectors, text.c_str(), volumeSectors);
}

namespace {}  // namespace

bool ParseImagePartition(const std::string& text, std::string& image, uint64_t& start, uint64_t& count,
                         std::string& error) {
    error.clear();
    std::error_code ec;
    size_t at = text.rfind('@');
    if (at == std::string::npos || std::filesystem::exists(PathFromUtf8(text), ec)) return false;
    image = text.substr(0, at);
    if (!std::filesystem::is_regular_file(PathFromUtf8(image), ec)) return false;
    std::string range = text.substr(at + 1);
    size_t colon = range.find(':');
    count = 0;
    if (!ParseCount(range.substr(0, colon), start) ||
        (colon != std::string::npos && (!ParseCount(range.substr(colon + 1), count) || count == 0))) {
        // The image exists, so the user meant a partition in it: say what is
        // wrong with the range rather than that the whole name does not exist.
        error = "'" + range + "' after '@' is not a range of sectors; name a partition of " + image +
                " as IMAGE@START or IMAGE@START:COUNT (whole sector numbers)";
        return false;
    }
    return true;
}

int OpenScanTarget(const std::string& text, bool deep, OpenedTarget& opened) {
    std::string image, rangeError;
    uint64_t start = 0, count = 0;
    bool isDevice = false;
    int drive = -1;
    bool wholeImage = false;
    if (ParseImagePartition(text, image, start, count, rangeError)) {
        drive = DriveTable::Instance().AddImage(PathFromUtf8(image));
        opened.devices = DeviceNumbersOfDisk(drive);
    } else if (!rangeError.empty()) {
        std::fprintf(stderr, "sorvane: %s\n", rangeError.c_str());
        return kExitUsage;
    } else {
        Target target;
        std::string error;
        if (!ResolveTarget(text, target, error)) {
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
        std::fprintf(stderr, "sorvane: cannot open %s: %s\n", text.c_str(),
                     OpenFailureText(rc, isDevice).c_str());
        return kExitCannotRead;
    }
    if (start >= probe.totalSectors) {
        std::fprintf(stderr, "sorvane: %s has %" PRIu64 " sectors; sector %" PRIu64 " is past its end\n",
                     text.c_str(), probe.totalSectors, start);
        return kExitCannotRead;
    }
    if (count == 0 || count > probe.totalSectors - start) count = probe.totalSectors - start;
    opened.driveIndex = drive;
    opened.volumeBytes = count * DriveSectorSize(probe);
    opened.sectorSize = DriveSectorSize(probe);
    opened.driveSectors = probe.totalSectors;
    VolumeStart head;
    // What cannot be read of the start is told at the end with the other
    // unreadable sectors; recognition goes on with what came back.
    if (!ReadVolumeStart(probe, start, count, opened.sectorSize, kProbeBytes, head))
        std::fprintf(stderr,
                     "sorvane: none of the first %" PRIu64
                     " sectors of %s can be read; if the disk is failing, copy what can be read with "
                     "`sorvane image --keep-going` and scan the copy\n",
                     head.sectorsPresent, text.c_str());
    opened.unreadable = head.unreadable;
    const RecognisedVolume volume = RecogniseVolume(probe, start, count, opened.sectorSize, head);
    TellAboutBootSector(text, volume, count);
    opened.claimsMore = volume.claimedSectors > count;
    opened.kind = volume.kind;
    probe.Close();
    opened.engine = wholeImage ? CreateRecoveryEngineForImage(PathFromUtf8(text), kVolumeKey, deep)
                               : CreateRecoveryEngine(drive, start, count, kVolumeKey, deep);
    if (!opened.engine) {
        const VolumeKind kind = volume.kind;
        if (HasDamagedExfatBootRegion(head.bytes.data(), head.bytes.size())) {
            std::fprintf(
                stderr,
                "sorvane: %s: this volume is exFAT with a damaged boot region; the deep scan will search "
                "its contents\n",
                text.c_str());
            return kExitCannotRead;
        }
        if (kind != VolumeKind::kUnknown && kind != VolumeKind::kFat && kind != VolumeKind::kNtfs &&
            kind != VolumeKind::kExfat) {
            std::fprintf(stderr,
                         "sorvane: %s holds a %s file system, which the quick scan does not read; "
                         "the deep scan (--deep) searches its contents\n",
                         text.c_str(), VolumeKindName(kind));
            return kExitCannotRead;
        }
        std::fprintf(
            stderr,
            "sorvane: %s holds no file system the quick scan reads (NTFS, FAT or exFAT) at sector %" PRIu64,
            text.c_str(), start);
        std::fprintf(stderr, kind == VolumeKind::kUnknown && start == 0
                                 ? "; for a partition of a whole-disk image, name it as IMAGE@START\n"
                                 : "\n");
        return kExitCannotRead;
    }
    return kExitOk;
}

std::vector<std::string> PartitionTargetsOfImage(const std::string& target) {
    std::error_code ec;
    std::vector<std::string> parts;
    if (!std::filesystem::is_regular_file(PathFromUtf8(target), ec)) return parts;
    DiskReader reader;
    if (OpenImageReader(PathFromUtf8(target), reader) != kSuccess) return parts;
    ByteSource source = [&reader](uint64_t offset, uint8_t* buffer, size_t length) {
        uint32_t read = 0;
        return offset % 512 == 0 && length % 512 == 0 &&
               ReadSectors(static_cast<uint32_t>(length / 512), reader, buffer, offset / 512, 512, &read) ==
                   kSuccess;
    };
    for (const PartitionSlot& slot : ReadPartitionTable(source, 512, reader.totalSectors))
        parts.push_back(target + "@" + std::to_string(slot.start) + ":" + std::to_string(slot.length));
    return parts;
}

bool TargetKeptItsSize(const std::string& text, const OpenedTarget& opened) {
    DiskReader now;
    if (opened.driveIndex < 0 || OpenPhysicalDriveReader(now, opened.driveIndex) != kSuccess) {
        std::fprintf(stderr, "sorvane: %s can no longer be opened; the scan may have missed files\n",
                     text.c_str());
        return false;
    }
    if (now.totalSectors >= opened.driveSectors) return true;
    std::fprintf(stderr,
                 "sorvane: %s shrank from %" PRIu64 " to %" PRIu64
                 " sectors during the scan; files past its new end are missing\n",
                 text.c_str(), opened.driveSectors, now.totalSectors);
    return false;
}

bool LiesOnSource(const std::filesystem::path& folder, const std::vector<uint64_t>& devices) {
    return FolderLiesOn(folder, devices);
}

}  // namespace sorvane::cli
