#include "platform/drive_table.h"

#include <algorithm>
#include <cstdlib>
#include <system_error>

#include "platform/system_root.h"

namespace sorvane {
namespace {

bool SkipDisk(const std::string& name) {
    if (name.rfind("ram", 0) == 0 || name.rfind("zram", 0) == 0) return true;
    if (name.rfind("loop", 0) == 0) {
        std::string backing;
        return !ReadTextFile(SystemPath("/sys/block/" + name + "/loop/backing_file"), backing) ||
               backing.empty();
    }
    return false;
}

}  // namespace

std::vector<DriveInfo> ListWholeDisks() {
    std::error_code ec;
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(SystemPath("/sys/block"), ec)) {
        std::string name = entry.path().filename().string();
        if (!SkipDisk(name)) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    std::vector<DriveInfo> disks;
    for (size_t i = 0; i < names.size(); ++i)
        disks.push_back({static_cast<int>(i), names[i], SystemPath("/dev/" + names[i]), false});
    return disks;
}

bool DiskIsRemovable(const std::string& name) {
    std::string value;
    return ReadTextFile(SystemPath("/sys/block/" + name + "/removable"), value) && value == "1";
}

bool DiskIsOnUsbOrSd(const std::string& name) {
    if (name.rfind("mmcblk", 0) == 0) return true;
    std::error_code ec;
    std::filesystem::path device = SystemPath("/sys/block/" + name + "/device");
    std::filesystem::path resolved = std::filesystem::canonical(device, ec);
    if (ec) {
        // A fake tree may store the resolved path as text instead of a link.
        std::string text;
        if (!ReadTextFile(SystemPath("/sys/block/" + name + "/device_path"), text)) return false;
        resolved = text;
    }
    for (const auto& part : resolved) {
        std::string p = part.string();
        if (p.rfind("usb", 0) == 0 || p == "mmc" || p.rfind("mmc", 0) == 0) return true;
    }
    return false;
}

bool PartitionOfDisk(const std::string& partitionName, std::string& diskName, uint64_t& start,
                     uint64_t& sectors) {
    std::error_code ec;
    for (const auto& disk : std::filesystem::directory_iterator(SystemPath("/sys/block"), ec)) {
        std::filesystem::path part = disk.path() / partitionName;
        std::string text;
        if (!ReadTextFile(part / "partition", text)) continue;
        std::string startText, sizeText;
        if (!ReadTextFile(part / "start", startText) || !ReadTextFile(part / "size", sizeText)) return false;
        diskName = disk.path().filename().string();
        start = std::strtoull(startText.c_str(), nullptr, 10);
        sectors = std::strtoull(sizeText.c_str(), nullptr, 10);
        return true;
    }
    return false;
}

}  // namespace sorvane
