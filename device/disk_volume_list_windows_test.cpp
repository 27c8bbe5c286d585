// The volume list on Windows, built from a fake device-control table: drive
// letters are the volumes' keys, a volume without a letter gets a number.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "device/disk_volume_list.h"
#include "platform/drive_table.h"
#include "platform/volume_registry.h"
#include "platform/windows/device_control.h"

namespace sorvane {
namespace {

constexpr uint64_t kMiB = 1024 * 1024;

class WindowsVolumeList : public ::testing::Test {
  protected:
    void SetUp() override {
        FakeDisk internal;
        internal.number = 0;
        internal.sizeBytes = 1024 * kMiB;
        internal.partitions = {{1, kMiB, 1023 * kMiB, 0x07}};
        fake_.AddDisk(internal);
        fake_.AddVolumeOnDisk(0, kMiB, 1023 * kMiB, L"\\\\?\\Volume{c0000000-0000-0000-0000-000000000000}\\",
                              {L"C:\\"}, {L"System", L"NTFS", 0xC0C0C0C0});
        FakeDisk card;
        card.number = 3;
        card.sizeBytes = 64 * kMiB;
        card.removable = true;
        card.bus = FakeBus::kSd;
        // Two partitions and 8 MiB left unallocated at the end.
        card.partitions = {{1, kMiB, 31 * kMiB, 0x0C}, {2, 32 * kMiB, 24 * kMiB, 0x07}};
        fake_.AddDisk(card);
        fake_.AddVolumeOnDisk(3, kMiB, 31 * kMiB, L"\\\\?\\Volume{e0000000-0000-0000-0000-000000000000}\\",
                              {L"E:\\"}, {L"CARD", L"FAT32", 0x1234ABCD});
        fake_.AddVolumeOnDisk(3, 32 * kMiB, 24 * kMiB,
                              L"\\\\?\\Volume{70000000-0000-0000-0000-000000000000}\\", {},
                              {L"", L"NTFS", 0x0BADF00D});
        InjectDeviceControl(&fake_);
        VolumeRegistry::Instance().Clear();
    }
    void TearDown() override {
        InjectDeviceControl(nullptr);
        DriveTable::Instance().Refresh();
        VolumeRegistry::Instance().Clear();
    }
    FakeDeviceControl fake_;
};

TEST_F(WindowsVolumeList, LettersAreKeysAndALetterlessVolumeIsNumbered) {
    CDiskVolumeList list;
    ASSERT_EQ(list.RefreshDiskList(), 1);
    std::vector<VolumeEntry> entries;
    list.GetAllVolumeEntries(entries);
    std::vector<VolumeEntry> card;
    for (const VolumeEntry& e : entries)
        if (e.diskNumber == 3) card.push_back(e);
    ASSERT_EQ(card.size(), 3u) << "two partitions and the free space after them";
    EXPECT_EQ(card[0].letter, 'E');
    EXPECT_EQ(card[0].fileSystemName, "FAT32");
    EXPECT_EQ(card[0].start, kMiB / 512);
    EXPECT_EQ(card[0].length, 31 * kMiB / 512);
    EXPECT_EQ(card[0].volumePath, "\\\\.\\E:");
    EXPECT_TRUE(card[1].IsVolume());
    EXPECT_NE(card[1].letter, 'E');
    EXPECT_NE(card[1].letter, 'C');
    EXPECT_EQ(card[1].fileSystemName, "NTFS");
    EXPECT_EQ(card[1].partitionType, 7);
    EXPECT_EQ(card[1].volumePath, "\\\\?\\Volume{70000000-0000-0000-0000-000000000000}");
    EXPECT_FALSE(card[2].IsVolume());
    EXPECT_EQ(card[2].start, 56 * kMiB / 512);
    EXPECT_EQ(card[2].length, 8 * kMiB / 512);
    // What the engines later learn about each volume, by its key.
    auto e = VolumeRegistry::Instance().Get('E');
    ASSERT_TRUE(e);
    EXPECT_EQ(e->node.wstring(), L"\\\\.\\E:");
    EXPECT_EQ(e->deviceNumber, 0x1234ABCDu);
    EXPECT_EQ(e->mountPoint.wstring(), L"E:\\");
    auto backup = VolumeRegistry::Instance().Get(card[1].letter);
    ASSERT_TRUE(backup);
    EXPECT_EQ(backup->fileSystem, "NTFS");
    EXPECT_TRUE(backup->mountPoint.empty());
    EXPECT_EQ(DeviceNumbersOfDisk(3), (std::vector<uint64_t>{0x1234ABCDu, 0x0BADF00Du}));
    // No key is given twice.
    std::vector<uint16_t> keys;
    for (const VolumeEntry& v : entries)
        if (v.IsVolume()) keys.push_back(v.letter);
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(std::adjacent_find(keys.begin(), keys.end()), keys.end());
}

}  // namespace
}  // namespace sorvane
