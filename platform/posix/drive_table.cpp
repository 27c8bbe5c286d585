#include "platform/drive_table.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <system_error>

#include "platform/system_root.h"

namespace sorvane {
namespace {

std::recursive_mutex gDriveMutex;

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

DriveTable::DriveTable() = default;

DriveTable& DriveTable::Instance() {
    static DriveTable table;
    return table;
}

void DriveTable::Refresh() {
    std::lock_guard lock(gDriveMutex);
    disks_.clear();
    loaded_ = true;
    std::error_code ec;
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(SystemPath("/sys/block"), ec)) {
        std::string name = entry.path().filename().string();
        if (!SkipDisk(name)) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    for (size_t i = 0; i < names.size(); ++i) {
        disks_.push_back({static_cast<int>(i), names[i], SystemPath("/dev/" + names[i]), false});
    }
}

std::vector<DriveInfo> DriveTable::Drives() const {
    std::lock_guard lock(gDriveMutex);
    if (!loaded_) const_cast<DriveTable*>(this)->Refresh();
    return disks_;
}

std::optional<DriveInfo> DriveTable::Drive(int index) const {
    std::lock_guard lock(gDriveMutex);
    if (index >= kFirstImageIndex) {
        size_t k = static_cast<size_t>(index - kFirstImageIndex);
        if (k < images_.size()) return images_[k];
        return std::nullopt;
    }
    if (!loaded_) const_cast<DriveTable*>(this)->Refresh();
    if (index < 0 || static_cast<size_t>(index) >= disks_.size()) return std::nullopt;
    return disks_[static_cast<size_t>(index)];
}

int DriveTable::IndexOfName(const std::string& name) const {
    for (const DriveInfo& d : Drives())
        if (d.name == name) return d.index;
    return -1;
}

int DriveTable::AddImage(const std::filesystem::path& image) {
    std::lock_guard lock(gDriveMutex);
    std::error_code ec;
    std::filesystem::path canonical = std::filesystem::weakly_canonical(image, ec);
    if (ec) canonical = image;
    for (const DriveInfo& d : images_)
        if (d.node == canonical) return d.index;
    int index = kFirstImageIndex + static_cast<int>(images_.size());
    images_.push_back({index, canonical.string(), canonical, true});
    return index;
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
