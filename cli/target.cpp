#include "cli/target.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "device/disk_reader.h"
#include "device/disk_volume_list.h"
#include "platform/disk_layout.h"
#include "platform/drive_table.h"
#include "platform/path_text.h"
#include "platform/result_codes.h"
#include "platform/terminal.h"
#include "platform/volume_registry.h"

namespace sorvane::cli {
namespace {

// The device number of a partition of a disk; 0 when the system does not say.
uint64_t PartitionDeviceNumber(int driveIndex, const std::string& partition) {
    auto drive = DriveTable::Instance().Drive(driveIndex);
    if (!drive) return 0;
    for (const SystemPartition& p : ListSystemPartitions(*drive))
        if (p.name == partition) return p.device;
    return 0;
}

}  // namespace

bool ParseCount(const std::string& text, uint64_t& value) {
    if (text.empty() || text.size() > 20) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    errno = 0;
    value = std::strtoull(text.c_str(), nullptr, 10);
    return errno == 0;
}

bool ParseDiskTarget(const std::string& text, int& drive, uint64_t& start, uint64_t& count,
                     bool& rangeGiven) {
    if (text.rfind("disk:", 0) != 0) return false;
    std::vector<std::string> fields;
    size_t pos = 5;
    for (;;) {
        size_t colon = text.find(':', pos);
        fields.push_back(text.substr(pos, colon == std::string::npos ? std::string::npos : colon - pos));
        if (colon == std::string::npos) break;
        pos = colon + 1;
    }
    uint64_t number = 0;
    if ((fields.size() != 1 && fields.size() != 3) || !ParseCount(fields[0], number) || number > 100000)
        return false;
    drive = static_cast<int>(number);
    start = count = 0;
    rangeGiven = fields.size() == 3;
    if (rangeGiven && (!ParseCount(fields[1], start) || !ParseCount(fields[2], count) || count == 0))
        return false;
    return true;
}

int DriveIndexOfNode(const std::string& node) {
    return DriveTable::Instance().IndexOfName(DeviceNameOfPath(node));
}

bool ResolveTarget(const std::string& text, Target& target, std::string& error) {
    target = Target{};
    if (text.rfind("disk:", 0) == 0) {
        if (!ParseDiskTarget(text, target.driveIndex, target.startSector, target.sectorCount,
                             target.rangeGiven)) {
            error = "'" + text + "' is not of the form disk:N or disk:N:START:COUNT";
            return false;
        }
        auto drive = DriveTable::Instance().Drive(target.driveIndex);
        if (!drive) {
            error = "there is no disk " + std::to_string(target.driveIndex) + " (see: sorvane disks --all)";
            return false;
        }
        target.kind = Target::Kind::kDisk;
        target.deviceName = drive->name;
        target.devices = DeviceNumbersOfDisk(target.driveIndex);
        return true;
    }
    if (LooksLikeDevicePath(text)) {
        std::string name = DeviceNameOfPath(text);
        target.deviceName = name;
        target.driveIndex = DriveTable::Instance().IndexOfName(name);
        if (target.driveIndex >= 0) {
            target.kind = Target::Kind::kDisk;
            target.devices = DeviceNumbersOfDisk(target.driveIndex);
            return true;
        }
        std::string disk;
        uint64_t start = 0, length = 0;
        if (!PartitionOfDisk(name, disk, start, length) ||
            (target.driveIndex = DriveTable::Instance().IndexOfName(disk)) < 0) {
            error = text + " is neither a disk nor a partition of one";
            return false;
        }
        // Partitions are counted in 512-byte units whatever the disk's sector size.
        uint64_t sectorSize = DriveSectorSizeOf(target.driveIndex);
        target.kind = Target::Kind::kPartition;
        target.startSector = start * 512 / sectorSize;
        target.sectorCount = length * 512 / sectorSize;
        if (uint64_t device = PartitionDeviceNumber(target.driveIndex, name))
            target.devices.push_back(device);
        return true;
    }
    std::error_code ec;
    const std::filesystem::path image = PathFromUtf8(text);
    if (!std::filesystem::is_regular_file(image, ec)) {
        error =
            std::filesystem::exists(image, ec) ? text + " is not an image file" : text + " does not exist";
        return false;
    }
    target.kind = Target::Kind::kImage;
    target.driveIndex = DriveTable::Instance().AddImage(image);
    target.devices = DeviceNumbersOfDisk(target.driveIndex);
    return true;
}

std::string OpenFailureText(int resultCode, bool isDevice) {
    if (isDevice && (resultCode == kErrAccessDenied || resultCode == kErrWriteProtect)) {
        if (RunningAsRoot())
            return "access denied by the system, even to root (the device may be held exclusively)";
        return "permission denied: reading a raw disk needs root or membership of the disk group";
    }
    return ResultText(resultCode);
}

}  // namespace sorvane::cli
