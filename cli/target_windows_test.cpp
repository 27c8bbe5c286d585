// Naming what to scan on Windows: drive letters, volume names and physical
// drives, resolved through a fake device-control table.
#include <gtest/gtest.h>

#include "cli/target.h"
#include "platform/drive_table.h"
#include "platform/windows/device_control.h"

namespace sorvane::cli {
namespace {

constexpr uint64_t kMiB = 1024 * 1024;

class WindowsTargets : public ::testing::Test {
  protected:
    void SetUp() override {
        FakeDisk card;
        card.number = 3;
        card.sizeBytes = 64 * kMiB;
        card.removable = true;
        card.bus = FakeBus::kUsb;
        card.partitions = {{1, kMiB, 31 * kMiB, 0x0C}, {2, 32 * kMiB, 32 * kMiB, 0x07}};
        fake_.AddDisk(card);
        fake_.AddVolumeOnDisk(3, kMiB, 31 * kMiB, L"\\\\?\\Volume{e0000000-0000-0000-0000-000000000000}\\",
                              {L"E:\\"}, {L"CARD", L"FAT32", 0x1234ABCD});
        fake_.AddVolumeOnDisk(3, 32 * kMiB, 32 * kMiB,
                              L"\\\\?\\Volume{70000000-0000-0000-0000-000000000000}\\", {},
                              {L"", L"NTFS", 0x0BADF00D});
        InjectDeviceControl(&fake_);
        DriveTable::Instance().Refresh();
    }
    void TearDown() override {
        InjectDeviceControl(nullptr);
        DriveTable::Instance().Refresh();
    }
    FakeDeviceControl fake_;
};

TEST_F(WindowsTargets, ADriveLetterNamesItsPartitionOnItsDisk) {
    for (const char* text : {"E:", "e:\\", "\\\\.\\E:"}) {
        Target target;
        std::string error;
        ASSERT_TRUE(ResolveTarget(text, target, error)) << text << ": " << error;
        EXPECT_EQ(target.kind, Target::Kind::kPartition) << text;
        EXPECT_EQ(target.driveIndex, 3) << text;
        EXPECT_EQ(target.startSector, kMiB / 512) << text;
        EXPECT_EQ(target.sectorCount, 31 * kMiB / 512) << text;
        EXPECT_EQ(target.devices, std::vector<uint64_t>{0x1234ABCDu}) << "a destination on E: is refused";
    }
}

TEST_F(WindowsTargets, AVolumeWithoutALetterAndAWholeDrive) {
    Target target;
    std::string error;
    ASSERT_TRUE(ResolveTarget("\\\\?\\Volume{70000000-0000-0000-0000-000000000000}\\", target, error))
        << error;
    EXPECT_EQ(target.kind, Target::Kind::kPartition);
    EXPECT_EQ(target.startSector, 32 * kMiB / 512);
    ASSERT_TRUE(ResolveTarget("\\\\.\\PhysicalDrive3", target, error)) << error;
    EXPECT_EQ(target.kind, Target::Kind::kDisk);
    EXPECT_EQ(target.driveIndex, 3);
    EXPECT_EQ(target.devices, (std::vector<uint64_t>{0x1234ABCDu, 0x0BADF00Du})) << "no image onto the card";
    EXPECT_FALSE(ResolveTarget("Q:", target, error)) << "no such volume";
    EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace sorvane::cli
