// sorvane disks: the disks, partitions and free regions that can be scanned
// or imaged, as the window's disk list shows them.
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "device/disk_reader.h"
#include "device/disk_volume_list.h"
#include "platform/disk_layout.h"
#include "platform/drive_table.h"
#include "platform/path_text.h"
#include "results/size_text.h"

namespace sorvane::cli {
namespace {

constexpr const char* kUsage =
    "usage: sorvane disks [--all] [--json]\n"
    "  lists external disks (removable, USB or SD); --all adds internal disks\n";

// Labels come from the disks: control characters could rewrite the terminal.
std::string Printable(const std::string& text) {
    std::string out;
    for (char c : text) out += (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) ? '?' : c;
    return out;
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20 || u == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

const char* KindOf(const VolumeEntry& e, size_t entriesOfDisk) {
    if (e.IsVolume()) return "partition";
    return entriesOfDisk == 1 && e.start == 0 ? "disk" : "unallocated";
}

// The disk's length, from the system's description when the device itself cannot be opened.
uint64_t DiskBytes(const DriveInfo& drive) {
    uint64_t length = 0;
    if (GetDiskLength(drive.index, length) == 0 && length) return length;
    uint32_t bytesPerSector = 0;
    if (!SystemDiskSize(drive, length, bytesPerSector)) length = 0;
    return length;
}

struct DiskRows {
    DriveInfo drive;
    bool external = false;
    std::vector<VolumeEntry> entries;
};

void PrintText(const std::vector<DiskRows>& disks) {
    for (const DiskRows& d : disks) {
        uint64_t length = DiskBytes(d.drive);
        std::printf("disk %d  %s  %s  %s\n", d.drive.index, Utf8FromPath(d.drive.node).c_str(),
                    d.external ? "external" : "internal", FormatSizeText(length).c_str());
        std::printf("  %-4s %-12s %-16s %-8s %-12s %14s %14s\n", "no.", "kind", "label", "fs", "size",
                    "start", "length");
        for (const VolumeEntry& e : d.entries) {
            std::string number = e.IsVolume() ? std::to_string(e.letter) : "-";
            std::printf("  %-4s %-12s %-16s %-8s %-12s %14llu %14llu\n", number.c_str(),
                        KindOf(e, d.entries.size()), Printable(e.label).c_str(),
                        Printable(e.fileSystemName).c_str(), FormatSizeText(e.totalBytes).c_str(),
                        static_cast<unsigned long long>(e.start), static_cast<unsigned long long>(e.length));
        }
    }
}

void PrintJson(const std::vector<DiskRows>& disks) {
    std::printf("{\"disks\": [");
    for (size_t i = 0; i < disks.size(); ++i) {
        const DiskRows& d = disks[i];
        uint64_t length = DiskBytes(d.drive);
        std::printf(
            "%s\n  {\"disk\": %d, \"name\": %s, \"node\": %s, \"external\": %s, \"bytes\": %llu, "
            "\"entries\": [",
            i ? "," : "", d.drive.index, JsonString(d.drive.name).c_str(),
            JsonString(Utf8FromPath(d.drive.node)).c_str(), d.external ? "true" : "false",
            static_cast<unsigned long long>(length));
        for (size_t k = 0; k < d.entries.size(); ++k) {
            const VolumeEntry& e = d.entries[k];
            std::printf(
                "%s\n    {\"kind\": \"%s\", \"number\": %u, \"partition\": %d, \"label\": %s, "
                "\"fileSystem\": %s, \"type\": %u, \"size\": %s, \"totalBytes\": %llu, "
                "\"freeBytes\": %llu, \"start\": %llu, \"length\": %llu, \"node\": %s}",
                k ? "," : "", KindOf(e, d.entries.size()), unsigned(e.letter), e.partitionNumber,
                JsonString(e.label).c_str(), JsonString(e.fileSystemName).c_str(), unsigned(e.partitionType),
                JsonString(FormatSizeText(e.totalBytes)).c_str(),
                static_cast<unsigned long long>(e.totalBytes), static_cast<unsigned long long>(e.freeBytes),
                static_cast<unsigned long long>(e.start), static_cast<unsigned long long>(e.length),
                JsonString(e.volumePath).c_str());
        }
        std::printf("\n  ]}");
    }
    std::printf("\n]}\n");
}

}  // namespace

int RunDisks(const std::vector<std::string>& args) {
    bool all = false, json = false;
    for (const std::string& a : args) {
        if (a == "--all") {
            all = true;
        } else if (a == "--json") {
            json = true;
        } else if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else {
            std::fprintf(stderr, "sorvane disks: unexpected '%s'\n", a.c_str());
            std::fputs(kUsage, stderr);
            return 2;
        }
    }
    CDiskVolumeList list;
    if (!list.RefreshDiskList()) {
        std::fputs("sorvane disks: cannot list the disks: the system does not describe them\n", stderr);
        return 1;
    }
    std::map<int, DiskRows> byDisk;
    VolumeEntry entry;
    while (list.NextVolumeEntry(entry)) {
        auto [it, added] = byDisk.try_emplace(entry.diskNumber);
        if (added) {
            it->second.drive = DriveTable::Instance().Drive(entry.diskNumber).value_or(DriveInfo{});
            it->second.external = IsExternalDisk(entry.diskNumber);
        }
        it->second.entries.push_back(entry);
    }
    std::vector<DiskRows> shown;
    for (auto& [number, rows] : byDisk)
        if (all || rows.external) shown.push_back(std::move(rows));
    if (json) {
        PrintJson(shown);
    } else if (shown.empty()) {
        std::puts(all ? "No disks found." : "No external disks found (--all lists internal disks too).");
    } else {
        PrintText(shown);
    }
    return 0;
}

}  // namespace sorvane::cli
