// A machine for window tests: no disks below a temp system root, to which USB
// sticks holding a FAT volume can be added and from which they can be removed.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "platform/drive_table.h"
#include "platform/system_root.h"
#include "tests/testkit/testkit.h"

namespace sorvane::app::testing {

// A machine with no disks below a temp root, to which USB sticks can be added.
class FakeSysfs {
  public:
    FakeSysfs() {
        std::filesystem::create_directories(root_ / "sys/block");
        std::filesystem::create_directories(root_ / "dev");
        std::filesystem::create_directories(root_ / "proc/self");
        testkit::WriteFile(root_ / "proc/self/mountinfo", {});
        SetSystemRoot(root_.Path());
        DriveTable::Instance().Refresh();
    }
    ~FakeSysfs() {
        SetSystemRoot("/");
        DriveTable::Instance().Refresh();
    }
    // A USB stick of `megabytes` (sparse) holding one FAT volume without a partition table.
    bool AddStick(const std::string& name, const std::string& dev, uint64_t megabytes = 8) {
        auto write = [this](const std::string& rel, const std::string& text) {
            testkit::WriteFile(root_ / rel, std::vector<uint8_t>(text.begin(), text.end()));
        };
        std::filesystem::create_directories(root_ / ("sys/block/" + name));
        write("sys/block/" + name + "/removable", "1\n");
        write("sys/block/" + name + "/device_path",
              "/sys/devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/6:0:0:0\n");
        write("sys/block/" + name + "/size", std::to_string(megabytes * 2048) + "\n");
        write("sys/block/" + name + "/dev", dev + "\n");
        const auto node = root_ / ("dev/" + name);
        return testkit::RunCommand("truncate -s " + std::to_string(megabytes) + "M " +
                                   testkit::ShellQuote(node.string()) + " && mkfs.fat " +
                                   testkit::ShellQuote(node.string()) + " >/dev/null 2>&1") == 0;
    }
    std::filesystem::path Node(const std::string& name) const { return root_ / ("dev/" + name); }
    void RemoveStick(const std::string& name) {
        std::filesystem::remove_all(root_ / ("sys/block/" + name));
        std::filesystem::remove(root_ / ("dev/" + name));
    }

  private:
    testkit::TempDir root_;
};

}  // namespace sorvane::app::testing
