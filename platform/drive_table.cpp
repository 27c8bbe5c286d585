#include "platform/drive_table.h"

#include <mutex>
#include <system_error>

#include "platform/path_text.h"

namespace sorvane {
namespace {

std::recursive_mutex gDriveMutex;

}  // namespace

DriveTable::DriveTable() = default;

DriveTable& DriveTable::Instance() {
    static DriveTable table;
    return table;
}

void DriveTable::Refresh() {
    std::lock_guard lock(gDriveMutex);
    disks_ = ListWholeDisks();
    loaded_ = true;
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
    // Looked up by number: Windows leaves gaps where a drive was removed.
    for (const DriveInfo& d : disks_)
        if (d.index == index) return d;
    return std::nullopt;
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
    images_.push_back({index, Utf8FromPath(canonical), canonical, true});
    return index;
}

}  // namespace sorvane
