// What a command reads, as the user names it: "disk:N[:START:COUNT]" (a drive
// number as `sorvane disks` lists it, optionally a range of its sectors), a
// device node of a whole disk or a partition ("/dev/sdb", "/dev/sdb1"), or an
// image file. Shared by the commands that read a disk.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sorvane::cli {

struct Target {
    enum class Kind { kDisk, kPartition, kImage };
    Kind kind = Kind::kImage;
    int driveIndex = -1;       // in the drive table (an image file is added as a drive)
    uint64_t startSector = 0;  // in the drive's sectors
    uint64_t sectorCount = 0;  // 0: to the end of the drive
    bool rangeGiven = false;   // the user named the range (disk:N:START:COUNT)
    std::string deviceName;    // "sdb" or "sdb1" for a device node, else empty
    // Device numbers of what the target reads: the partition, or the disk and
    // all its partitions; empty for an image file.
    std::vector<uint64_t> devices;
};

// Parses "disk:N" or "disk:N:START:COUNT"; false when `text` is not of that form.
bool ParseDiskTarget(const std::string& text, int& drive, uint64_t& start, uint64_t& count, bool& rangeGiven);

// Resolves a target named by the user. Returns false with a one-line reason in
// `error` when it names nothing that can be read.
bool ResolveTarget(const std::string& text, Target& target, std::string& error);

// The drive index of a whole-disk device node ("/dev/sdb" or "sdb"), or -1.
int DriveIndexOfNode(const std::string& node);

// Parses a whole decimal number; false for anything else (signs, blanks, overflow).
bool ParseCount(const std::string& text, uint64_t& value);

// A plain reason why `what` could not be opened, for a result code; says that
// raw disks need root when access was denied to a device.
std::string OpenFailureText(int resultCode, bool isDevice);

}  // namespace sorvane::cli
