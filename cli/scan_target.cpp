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
#include "engines/engine_factory.h"
#include "platform/drive_table.h"
#include "platform/path_text.h"
#include "platform/result_codes.h"
#include "platform/volume_registry.h"

namespace sorvane::cli {
namespace {

constexpr uint16_t kVolumeKey = 1;

}  // namespace

void TellAboutBootSector(const std::string& text, const ScanSource& source) {
    if (source.backupUsed)
        std::fprintf(stderr, "sorvane: the boot sector of %s is damaged; its backup copy was used\n",
                     text.c_str());
    if (source.claimedSectors > source.length)
        std::fprintf(stderr,
                     "sorvane: the volume claims %" PRIu64 " sectors; %s holds %" PRIu64
                     "; files past its end are missing\n",
                     source.claimedSectors, text.c_str(), source.length);
}

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
    // The target is opened once, here: a failure can be told in plain words,
    // and the engines read through this one opening.
    ScanSource& source = opened.source;
    int rc = kSuccess;
    if (!wholeImage || !source.reader.IsOpen() || !source.IsImage())
        rc = wholeImage ? OpenImageSource(PathFromUtf8(text), kVolumeKey, source)
                        : OpenDriveSource(drive, start, count, kVolumeKey, source);
    if (rc != kSuccess) {
        std::fprintf(stderr, "sorvane: cannot open %s: %s\n", text.c_str(),
                     OpenFailureText(rc, isDevice).c_str());
        return kExitCannotRead;
    }
    const uint64_t driveSectors = source.reader.totalSectors;
    if (start >= driveSectors) {
        std::fprintf(stderr, "sorvane: %s has %" PRIu64 " sectors; sector %" PRIu64 " is past its end\n",
                     text.c_str(), driveSectors, start);
        return kExitCannotRead;
    }
    if (source.length > driveSectors - start) source.length = driveSectors - start;
    opened.driveIndex = drive;
    opened.volumeBytes = source.length * source.sectorSize;
    opened.sectorSize = source.sectorSize;
    opened.driveSectors = driveSectors;
    // What cannot be read of the start is told at the end with the other
    // unreadable sectors; recognition went on with what came back.
    if (source.headLost)
        std::fprintf(stderr,
                     "sorvane: none of the first %u sectors of %s can be read; if the disk is failing, copy "
                     "what can be read with `sorvane image --keep-going` and scan the copy\n",
                     (kSourceHeadBytes + source.sectorSize - 1) / source.sectorSize, text.c_str());
    opened.unreadable = source.headUnreadable;
    TellAboutBootSector(text, source);
    opened.claimsMore = source.claimedSectors > source.length;
    opened.kind = source.kind;
    opened.engine = CreateRecoveryEngine(source, deep);
    const std::vector<uint8_t>& head = source.head;
    if (!opened.engine) {
        const VolumeKind kind = source.kind;
        if (HasDamagedExfatBootRegion(head.data(), head.size())) {
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

std::vector<std::string> PartitionTargetsOfImage(const std::string& target, ScanSource& source) {
    std::error_code ec;
    std::vector<std::string> parts;
    source = ScanSource();
    if (!std::filesystem::is_regular_file(PathFromUtf8(target), ec)) return parts;
    if (OpenImageSource(PathFromUtf8(target), kVolumeKey, source) != kSuccess) return parts;
    const DiskReader& reader = source.reader;
    ByteSource read = [&reader](uint64_t offset, uint8_t* buffer, size_t length) {
        uint32_t got = 0;
        return offset % 512 == 0 && length % 512 == 0 &&
               ReadSectors(static_cast<uint32_t>(length / 512), reader, buffer, offset / 512, 512, &got) ==
                   kSuccess;
    };
    for (const PartitionSlot& slot : ReadPartitionTable(read, 512, reader.totalSectors))
        parts.push_back(target + "@" + std::to_string(slot.start) + ":" + std::to_string(slot.length));
    // Each partition is opened for its own scan.
    if (!parts.empty()) source = ScanSource();
    return parts;
}

bool TargetKeptItsSize(const std::string& text, const OpenedTarget& opened) {
    // Asked of the opening the scan read through: a card pulled out fails
    // here as it would have failed a read.
    const uint32_t unit = opened.source.IsImage() ? 512 : opened.sectorSize;
    uint64_t bytes = 0;
    if (!opened.source.reader.IsOpen() || opened.source.reader.Handle().Size(bytes) != kSuccess) {
        std::fprintf(stderr, "sorvane: %s can no longer be read; the scan may have missed files\n",
                     text.c_str());
        return false;
    }
    const uint64_t now = bytes / unit;
    if (now >= opened.driveSectors) return true;
    std::fprintf(stderr,
                 "sorvane: %s shrank from %" PRIu64 " to %" PRIu64
                 " sectors during the scan; files past its new end are missing\n",
                 text.c_str(), opened.driveSectors, now);
    return false;
}

bool LiesOnSource(const std::filesystem::path& folder, const std::vector<uint64_t>& devices) {
    return FolderLiesOn(folder, devices);
}

}  // namespace sorvane::cli
