#include "device/volume_start.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/fault_plan.h"
#include "tests/testkit/testkit.h"

namespace sorvane {
namespace {

using testkit::ShellQuote;
using testkit::TempDir;

constexpr size_t kStartBytes = 16384;

class VolumeStartTest : public ::testing::Test {
  protected:
    void TearDown() override { FaultPlan::Instance().Clear(); }
    // A 64 MiB volume made by `command` (given the image's quoted path);
    // false when the tool is missing.
    bool Make(const std::string& command, const std::string& name = "vol.img") {
        image_ = dir_ / name;
        const std::string quoted = ShellQuote(image_.string());
        return testkit::RunCommand("truncate -s 64M " + quoted + " && PATH=$PATH:/usr/sbin:/sbin " + command +
                                   " " + quoted + " >/dev/null 2>&1") == 0;
    }
    void ZeroSectors(uint64_t first, uint64_t count, uint32_t sectorSize = 512) {
        ASSERT_EQ(testkit::RunCommand("dd if=/dev/zero of=" + ShellQuote(image_.string()) +
                                      " bs=" + std::to_string(sectorSize) + " seek=" + std::to_string(first) +
                                      " count=" + std::to_string(count) + " conv=notrunc status=none"),
                  0);
    }
    RecognisedVolume Recognise(VolumeStart& start) {
        DiskReader reader;
        EXPECT_EQ(OpenImageReader(image_, reader), 0);
        EXPECT_TRUE(ReadVolumeStart(reader, 0, reader.totalSectors, 512, kStartBytes, start));
        return RecogniseVolume(reader, 0, reader.totalSectors, 512, start);
    }
    TempDir dir_;
    std::filesystem::path image_;
};

TEST_F(VolumeStartTest, AnUnreadableSectorCostsOnlyItselfWhereverItLies) {
    if (!Make("mkfs.fat -F 32")) GTEST_SKIP() << "mkfs.fat missing";
    const std::string before = testkit::FileSha256(image_);
    const std::vector<uint8_t> bytes = testkit::ReadFile(image_);
    for (uint64_t bad : {1, 6, 10, 20, 31}) {
        FaultPlan::Instance().Clear();
        FaultPlan::Instance().Add(image_, bad, bad, FaultKind::kError);
        VolumeStart start;
        const RecognisedVolume volume = Recognise(start);
        std::vector<uint8_t> expected(bytes.begin(), bytes.begin() + kStartBytes);
        std::fill_n(expected.begin() + bad * 512, 512, 0);
        EXPECT_EQ(start.bytes, expected) << "sector " << bad;
        EXPECT_EQ(start.unreadable.Ranges(), (std::vector<SectorRange>{{bad, 1}})) << "sector " << bad;
        EXPECT_EQ(volume.kind, VolumeKind::kFat) << "sector " << bad;
        EXPECT_FALSE(volume.backupUsed);
    }
    EXPECT_EQ(testkit::FileSha256(image_), before);
}

TEST_F(VolumeStartTest, SectorsAreCountedOnTheDriveAndAShortVolumeReadsAsZeros) {
    testkit::WriteFile(dir_ / "disk.img", std::vector<uint8_t>(512 * 120, 0xAB));
    image_ = dir_ / "disk.img";
    FaultPlan::Instance().Add(image_, 105, 105, FaultKind::kError);
    DiskReader reader;
    ASSERT_EQ(OpenImageReader(image_, reader), 0);
    // A volume of 10 sectors at sector 100: the rest of the start lies past it.
    VolumeStart start;
    ASSERT_TRUE(ReadVolumeStart(reader, 100, 10, 512, kStartBytes, start));
    EXPECT_EQ(start.sectorsPresent, 10u);
    EXPECT_EQ(start.unreadable.Ranges(), (std::vector<SectorRange>{{105, 1}}));
    EXPECT_EQ(start.bytes[0], 0xAB);
    EXPECT_EQ(start.bytes[5 * 512], 0) << "the unreadable sector";
    EXPECT_EQ(start.bytes[9 * 512], 0xAB);
    EXPECT_EQ(start.bytes[10 * 512], 0) << "past the volume's end";

    // Nothing readable at all is said, with every sector counted.
    FaultPlan::Instance().Add(image_, 0, 31, FaultKind::kError);
    EXPECT_FALSE(ReadVolumeStart(reader, 0, reader.totalSectors, 512, kStartBytes, start));
    EXPECT_EQ(start.unreadable.SectorCount(), 32u);
}

TEST_F(VolumeStartTest, ALostBootSectorIsTakenFromTheFileSystemsCopy) {
    struct Case {
        const char* name;
        const char* command;
        VolumeKind kind;
        uint32_t sectorSize;
    };
    const Case cases[] = {
        {"fat32", "mkfs.fat -F 32", VolumeKind::kFat, 512},
        {"fat32-4k", "mkfs.fat -F 32 -S 4096", VolumeKind::kFat, 4096},
        {"ntfs", "mkntfs -F -Q -q", VolumeKind::kNtfs, 512},
    };
    for (const Case& c : cases) {
        if (!Make(c.command, std::string(c.name) + ".img")) GTEST_SKIP() << c.command << " failed";
        const std::vector<uint8_t> original = testkit::ReadFile(image_);
        ZeroSectors(0, 1, c.sectorSize);
        VolumeStart start;
        RecognisedVolume volume = Recognise(start);
        EXPECT_EQ(volume.kind, c.kind) << c.name;
        EXPECT_TRUE(volume.backupUsed) << c.name;
        ASSERT_GE(volume.bootSector.size(), 512u) << c.name;
        // The copy describes the same volume as the lost sector did.
        EXPECT_TRUE(std::equal(original.begin() + 11, original.begin() + 90, volume.bootSector.begin() + 11))
            << c.name;

        // Unreadable instead of zeroed: the same.
        FaultPlan::Instance().Add(image_, 0, 0, FaultKind::kError);
        volume = Recognise(start);
        EXPECT_EQ(volume.kind, c.kind) << c.name;
        EXPECT_TRUE(volume.backupUsed) << c.name;
        FaultPlan::Instance().Clear();

        // Without the copy nothing is claimed.
        if (c.kind == VolumeKind::kFat)
            ZeroSectors(6, 1, c.sectorSize);
        else
            ZeroSectors(64 * 1024 * 1024 / 512 - 1, 1);
        volume = Recognise(start);
        EXPECT_EQ(volume.kind, VolumeKind::kUnknown) << c.name;
        EXPECT_FALSE(volume.backupUsed) << c.name;
    }
}

TEST_F(VolumeStartTest, AVolumeLongerThanItsTargetIsNoticed) {
    for (const char* command : {"mkfs.fat -F 32", "mkntfs -F -Q -q"}) {
        if (!Make(command)) GTEST_SKIP() << command << " failed";
        VolumeStart start;
        RecognisedVolume whole = Recognise(start);
        DiskReader reader;
        ASSERT_EQ(OpenImageReader(image_, reader), 0);
        EXPECT_LE(whole.claimedSectors, reader.totalSectors) << command;
        EXPECT_GT(whole.claimedSectors, reader.totalSectors - 2048) << command;
        reader.Close();
        ASSERT_EQ(testkit::RunCommand("truncate -s 60M " + ShellQuote(image_.string())), 0);
        RecognisedVolume cut = Recognise(start);
        EXPECT_EQ(cut.claimedSectors, whole.claimedSectors) << command;
        EXPECT_GT(cut.claimedSectors, uint64_t{60 * 2048}) << command;
    }
}

}  // namespace
}  // namespace sorvane
