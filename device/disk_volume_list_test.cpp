#include "device/disk_volume_list.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "device/disk_reader.h"
#include "platform/drive_table.h"
#include "platform/system_root.h"
#include "platform/volume_registry.h"
#include "tests/testkit/testkit.h"

namespace sorvane {
namespace {

using testkit::RunCommand;
using testkit::ShellQuote;
using testkit::TempDir;

constexpr uint64_t kCylinder = 255 * 63;

// A machine described by a fake sysfs tree and mount table below a temp root,
// with sparse image files standing in for the disks' device nodes.
class FakeMachine {
  public:
    FakeMachine() {
        std::filesystem::create_directories(root_ / "sys/block");
        std::filesystem::create_directories(root_ / "dev");
        std::filesystem::create_directories(root_ / "proc/self");
        SetMounts("");
        SetSystemRoot(root_.Path());
        DriveTable::Instance().Refresh();
        VolumeRegistry::Instance().Clear();
    }
    ~FakeMachine() {
        SetSystemRoot("/");
        DriveTable::Instance().Refresh();
        VolumeRegistry::Instance().Clear();
    }

    const std::filesystem::path& Root() const { return root_.Path(); }

    // A disk of `sectors` 512-byte sectors on the given bus; returns its node.
    std::filesystem::path AddDisk(const std::string& name, uint64_t sectors, bool removable, bool usb,
                                  const std::string& dev) {
        std::string path = usb ? "/sys/devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/6:0:0:0"
                               : "/sys/devices/pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0";
        Write("sys/block/" + name + "/removable", removable ? "1\n" : "0\n");
        Write("sys/block/" + name + "/device_path", path + "\n");
        Write("sys/block/" + name + "/size", std::to_string(sectors) + "\n");
        Write("sys/block/" + name + "/dev", dev + "\n");
        std::filesystem::path node = root_ / ("dev/" + name);
        { std::ofstream create(node, std::ios::binary); }
        std::filesystem::resize_file(node, sectors * 512);
        return node;
    }

    void AddPartition(const std::string& disk, int number, uint64_t start, uint64_t size,
                      const std::string& dev) {
        std::string dir = "sys/block/" + disk + "/" + disk + std::to_string(number) + "/";
        Write(dir + "partition", std::to_string(number) + "\n");
        Write(dir + "start", std::to_string(start) + "\n");
        Write(dir + "size", std::to_string(size) + "\n");
        Write(dir + "dev", dev + "\n");
    }

    void SetMounts(const std::string& text) { Write("proc/self/mountinfo", text); }

    void Write(const std::string& rel, const std::string& text) {
        std::filesystem::create_directories((root_ / rel).parent_path());
        testkit::WriteFile(root_ / rel, std::vector<uint8_t>(text.begin(), text.end()));
    }

  private:
    TempDir root_;
};

void MustRun(const std::string& command) {
    ASSERT_EQ(RunCommand(command + " >/dev/null 2>&1"), 0) << command;
}

// Writes an MBR with the given sfdisk script into `disk`.
void Partition(const std::filesystem::path& disk, const std::string& script) {
    MustRun("printf " + ShellQuote(script) + " | sfdisk -q " + ShellQuote(disk.string()));
}

// Formats a volume image with a real tool and places it at `startSector` of `disk`.
void PlaceVolume(const std::filesystem::path& disk, uint64_t startSector, const std::string& format,
                 uint64_t megabytes, const std::filesystem::path& scratch) {
    std::filesystem::path volume = scratch / "volume.img";
    std::filesystem::remove(volume);
    MustRun("truncate -s " + std::to_string(megabytes) + "M " + ShellQuote(volume.string()));
    MustRun(format + " " + ShellQuote(volume.string()));
    MustRun("dd if=" + ShellQuote(volume.string()) + " of=" + ShellQuote(disk.string()) +
            " bs=512 seek=" + std::to_string(startSector) + " conv=notrunc,sparse status=none");
}

std::vector<VolumeEntry> Refresh(CDiskVolumeList& list) {
    EXPECT_EQ(list.RefreshDiskList(), 1);
    std::vector<VolumeEntry> entries;
    EXPECT_EQ(list.GetAllVolumeEntries(entries), 1);
    return entries;
}

bool HaveTools() {
    return testkit::HaveProgram("sfdisk") && testkit::HaveProgram("mkntfs") &&
           testkit::HaveProgram("mkfs.fat");
}

TEST(DiskVolumeList, RegionAfterAVolumeButNoneBeforeIt) {
    if (!HaveTools()) GTEST_SKIP() << "sfdisk, mkntfs or mkfs.fat missing";
    FakeMachine machine;
    TempDir scratch;
    const uint64_t diskSectors = 20 * kCylinder;
    const uint64_t partSectors = diskSectors - 100000 - 2048;
    auto node = machine.AddDisk("sdb", diskSectors, false, true, "8:16");
    Partition(node, "label: dos\nstart=2048, size=" + std::to_string(partSectors) + ", type=7\n");
    PlaceVolume(node, 2048, "mkntfs -q -F -Q -L Holiday", 16, scratch.Path());
    machine.AddPartition("sdb", 1, 2048, partSectors, "8:17");
    const std::string sha = testkit::FileSha256(node);

    CDiskVolumeList list;
    auto entries = Refresh(list);
    EXPECT_EQ(testkit::FileSha256(node), sha) << "listing never writes to a disk";
    ASSERT_EQ(entries.size(), 2u);
    const VolumeEntry& volume = entries[0];
    EXPECT_EQ(volume.letter, 1);
    EXPECT_EQ(volume.start, 2048u) << "2048 - 63 is not more than one cylinder: no region before";
    EXPECT_EQ(volume.length, partSectors);
    EXPECT_EQ(volume.fileSystemName, "NTFS");
    EXPECT_EQ(volume.label, "Holiday") << "the label from the volume's $Volume record";
    EXPECT_EQ(volume.partitionType, 7);
    EXPECT_EQ(volume.partitionNumber, 1);
    EXPECT_EQ(volume.totalBytes, partSectors * 512) << "not mounted: the partition's length";
    EXPECT_EQ(volume.freeBytes, 0u);
    EXPECT_EQ(volume.usedBytes, volume.totalBytes);
    EXPECT_EQ(volume.volumePath, (machine.Root() / "dev/sdb1").string());

    const VolumeEntry& region = entries[1];
    EXPECT_EQ(region.letter, 0);
    EXPECT_EQ(region.partitionType, 0);
    EXPECT_EQ(region.start, 2048 + partSectors);
    EXPECT_EQ(region.length, 100000u);
    EXPECT_EQ(region.totalBytes, 100000u * 512);
    EXPECT_EQ(region.freeBytes, region.totalBytes);
    EXPECT_TRUE(region.fileSystemName.empty());
    EXPECT_TRUE(IsExternalDisk(region.diskNumber));

    auto info = VolumeRegistry::Instance().Get(1);
    ASSERT_TRUE(info.has_value()) << "every volume is registered under its number";
    EXPECT_EQ(info->deviceNumber, MakeDeviceNumber(8, 17));
    EXPECT_EQ(info->fileSystem, "NTFS");
    EXPECT_TRUE(info->mountPoint.empty());
}

TEST(DiskVolumeList, AnExfatCardShowsItsFileSystemAndLabelMountedOrNot) {
    if (!testkit::HaveProgram("sfdisk") || !testkit::HaveProgram("mkfs.exfat"))
        GTEST_SKIP() << "sfdisk or mkfs.exfat missing";
    FakeMachine machine;
    TempDir scratch;
    const uint64_t partSectors = 64 * 2048;
    auto node = machine.AddDisk("sdc", 2048 + partSectors, true, true, "8:32");
    Partition(node, "label: dos\nstart=2048, size=" + std::to_string(partSectors) + ", type=7\n");
    PlaceVolume(node, 2048, "mkfs.exfat -L 'Карта 128'", 64, scratch.Path());
    machine.AddPartition("sdc", 1, 2048, partSectors, "8:33");
    std::filesystem::create_directories(machine.Root() / "media/card");
    for (bool mounted : {false, true}) {
        // A user-space driver shows only as "fuseblk" in the mount table.
        machine.SetMounts(mounted ? "36 25 8:33 / /media/card rw - fuseblk /dev/sdc1 rw\n" : "");
        CDiskVolumeList list;
        auto entries = Refresh(list);
        ASSERT_FALSE(entries.empty());
        EXPECT_EQ(entries[0].fileSystemName, "exFAT") << mounted;
        EXPECT_EQ(entries[0].label, "Карта 128") << mounted;
        EXPECT_EQ(entries[0].partitionType, 7) << mounted;
        auto info = VolumeRegistry::Instance().Get(entries[0].letter);
        ASSERT_TRUE(info.has_value());
        EXPECT_EQ(info->mountPoint.empty(), !mounted) << "the mount table was read";
    }
}

TEST(DiskVolumeList, AdjacentVolumesLeaveNoRegionAndAWideGapDoes) {
    if (!HaveTools()) GTEST_SKIP() << "sfdisk, mkntfs or mkfs.fat missing";
    FakeMachine machine;
    TempDir scratch;
    // FAT32 at 2048, NTFS right after it, then a gap of 20000 sectors, then FAT16 up to the end.
    const uint64_t fatStart = 2048, fatSize = 80 * 2048;
    const uint64_t ntfsStart = fatStart + fatSize, ntfsSize = 20 * 2048;
    const uint64_t smallStart = ntfsStart + ntfsSize + 20000, smallSize = 16 * 2048;
    const uint64_t diskSectors = smallStart + smallSize + 100;  // less than a cylinder left over
    auto node = machine.AddDisk("sdc", diskSectors, true, false, "8:32");
    Partition(node, "label: dos\nstart=" + std::to_string(fatStart) + ", size=" + std::to_string(fatSize) +
                        ", type=c\nstart=" + std::to_string(ntfsStart) + ", size=" +
                        std::to_string(ntfsSize) + ", type=7\nstart=" + std::to_string(smallStart) +
                        ", size=" + std::to_string(smallSize) + ", type=e\n");
    PlaceVolume(node, fatStart, "mkfs.fat -F 32 -n PHOTOS", 80, scratch.Path());
    PlaceVolume(node, ntfsStart, "mkntfs -q -F -Q", 20, scratch.Path());
    PlaceVolume(node, smallStart, "mkfs.fat -F 16", 16, scratch.Path());
    machine.AddPartition("sdc", 1, fatStart, fatSize, "8:33");
    machine.AddPartition("sdc", 2, ntfsStart, ntfsSize, "8:34");
    machine.AddPartition("sdc", 3, smallStart, smallSize, "8:35");

    CDiskVolumeList list;
    auto entries = Refresh(list);
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].start, fatStart);
    EXPECT_EQ(entries[0].fileSystemName, "FAT32");
    EXPECT_EQ(entries[0].partitionType, 11);
    EXPECT_EQ(entries[0].label, "PHOTOS");
    EXPECT_EQ(entries[1].start, ntfsStart) << "no region between adjacent volumes";
    EXPECT_EQ(entries[1].fileSystemName, "NTFS");
    EXPECT_EQ(entries[2].letter, 0);
    EXPECT_EQ(entries[2].start, ntfsStart + ntfsSize);
    EXPECT_EQ(entries[2].length, 20000u);
    EXPECT_EQ(entries[3].start, smallStart);
    EXPECT_EQ(entries[3].fileSystemName, "FAT");
    EXPECT_EQ(entries[3].partitionType, 6);
    EXPECT_EQ(entries[3].label, "") << "mkfs.fat without a label writes NO NAME";
    // Entries are numbered by their place in the list, regions included.
    EXPECT_EQ(entries[0].letter, 1);
    EXPECT_EQ(entries[1].letter, 2);
    EXPECT_EQ(entries[3].letter, 4);
    EXPECT_TRUE(IsExternalDisk(entries[0].diskNumber)) << "removable media";
}

TEST(DiskVolumeList, DiskWithoutPartitionsIsOneWholeDiskEntry) {
    FakeMachine machine;
    machine.AddDisk("sdb", 7 * kCylinder + 1000, false, true, "8:16");
    CDiskVolumeList list;
    auto entries = Refresh(list);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].start, 0u);
    EXPECT_EQ(entries[0].length, 7 * kCylinder + 1000) << "to the last sector, not the last whole cylinder";
    EXPECT_EQ(entries[0].letter, 0);
    EXPECT_EQ(entries[0].totalBytes, entries[0].length * 512);
    EXPECT_EQ(entries[0].freeBytes, entries[0].totalBytes);
    EXPECT_TRUE(IsExternalDisk(entries[0].diskNumber));

    // A card reader without a card has no medium to list.
    machine.AddDisk("sdd", 0, true, true, "8:48");
    EXPECT_EQ(Refresh(list).size(), 1u);
}

TEST(DiskVolumeList, AVolumeMountedTwiceIsOneEntry) {
    if (!HaveTools()) GTEST_SKIP() << "sfdisk, mkntfs or mkfs.fat missing";
    FakeMachine machine;
    TempDir scratch;
    auto node = machine.AddDisk("sdb", 64 * 2048, true, true, "8:16");
    Partition(node, "label: dos\nstart=2048, size=" + std::to_string(60 * 2048) + ", type=c\n");
    PlaceVolume(node, 2048, "mkfs.fat -F 32 -n CARD", 60, scratch.Path());
    machine.AddPartition("sdb", 1, 2048, 60 * 2048, "8:17");
    std::filesystem::create_directories(machine.Root() / "media/card");
    std::filesystem::create_directories(machine.Root() / "mnt/again");
    machine.SetMounts(
        "30 25 8:17 / /media/card rw,relatime shared:1 - vfat /dev/sdb1 rw\n"
        "31 25 8:17 / /mnt/again rw,relatime shared:1 - vfat /dev/sdb1 rw\n");

    CDiskVolumeList list;
    auto entries = Refresh(list);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].fileSystemName, "FAT32");
    EXPECT_EQ(entries[0].label, "CARD");
    EXPECT_GT(entries[0].totalBytes, 0u) << "mounted: the file system's own size";
    EXPECT_GT(entries[0].freeBytes, 0u);
    EXPECT_EQ(entries[0].usedBytes, entries[0].totalBytes - entries[0].freeBytes);

    uint32_t key = entries[0].letter;
    auto info = VolumeRegistry::Instance().Get(key);
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->mountPoint, machine.Root() / "media/card") << "the first mount point";
    std::string name;
    EXPECT_EQ(GetVolumeFileSystemName(name, key), 0);
    EXPECT_EQ(name, "FAT32");
    uint64_t free = 0;
    EXPECT_EQ(GetVolumeFreeBytes(key, free), 0);
    EXPECT_GT(free, 0u);
}

TEST(DiskVolumeList, VolumesAreNumberedByTheirPlaceInTheList) {
    FakeMachine machine;
    // An internal disk with two partitions (no file systems) and a USB disk with one.
    machine.AddDisk("sda", 40 * kCylinder, false, false, "8:0");
    machine.AddPartition("sda", 1, 2048, 10 * kCylinder, "8:1");
    machine.AddPartition("sda", 2, 2048 + 10 * kCylinder, 40 * kCylinder - 2048 - 10 * kCylinder, "8:2");
    machine.AddDisk("sdb", 20 * kCylinder, false, true, "8:16");
    machine.AddPartition("sdb", 1, 2048, 20 * kCylinder - 2048, "8:17");

    CDiskVolumeList list;
    auto entries = Refresh(list);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[2].letter, 3) << "the third letterless volume shows 3";
    EXPECT_EQ(entries[2].partitionType, 0) << "no MBR and no file system";
    EXPECT_FALSE(IsExternalDisk(entries[0].diskNumber)) << "an internal disk is not external";
    EXPECT_TRUE(IsExternalDisk(entries[2].diskNumber));
    EXPECT_LT(entries[0].diskNumber, entries[2].diskNumber);

    // The cursor walks the same order once, and starts again after a refresh.
    VolumeEntry e;
    for (const VolumeEntry& expected : entries) {
        ASSERT_EQ(list.NextVolumeEntry(e), 1);
        EXPECT_EQ(e.diskNumber, expected.diskNumber);
        EXPECT_EQ(e.start, expected.start);
    }
    EXPECT_EQ(list.NextVolumeEntry(e), 0);
    EXPECT_EQ(list.NextVolumeEntry(e), 0);
    ASSERT_EQ(list.RefreshDiskList(), 1);
    ASSERT_EQ(list.NextVolumeEntry(e), 1);
    EXPECT_EQ(e.letter, 1);

    auto numbers = DeviceNumbersOfDisk(entries[0].diskNumber);
    EXPECT_EQ(numbers.size(), 3u) << "the disk and its two partitions";
}

TEST(DiskVolumeList, NoDiskListMeansFailure) {
    TempDir root;
    SetSystemRoot(root.Path());
    CDiskVolumeList list;
    EXPECT_EQ(list.RefreshDiskList(), 0);
    std::vector<VolumeEntry> entries{VolumeEntry{}};
    EXPECT_EQ(list.GetAllVolumeEntries(entries), 1);
    EXPECT_TRUE(entries.empty());
    VolumeEntry e;
    EXPECT_EQ(list.NextVolumeEntry(e), 0);
    SetSystemRoot("/");
    DriveTable::Instance().Refresh();
}

}  // namespace
}  // namespace sorvane
