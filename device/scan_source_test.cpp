#include "device/scan_source.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "platform/drive_table.h"
#include "platform/fault_plan.h"
#include "platform/result_codes.h"
#include "tests/testkit/testkit.h"

namespace sorvane {
namespace {

using testkit::TempDir;

class ScanSourceTest : public ::testing::Test {
  protected:
    void TearDown() override { FaultPlan::Instance().Clear(); }

    // A disk image of `sectors` sectors holding a FAT volume made by mkfs.fat
    // from sector `volumeAt` on; empty when mkfs.fat is missing.
    std::filesystem::path MakeImage(const std::string& name, uint64_t sectors, uint64_t volumeAt) {
        if (!testkit::HaveProgram("mkfs.fat")) return {};
        const std::filesystem::path volume = dir_ / (name + ".volume");
        const uint64_t volumeSectors = sectors - volumeAt;
        if (testkit::RunCommand("mkfs.fat -C " + testkit::ShellQuote(volume.string()) + " " +
                                std::to_string(volumeSectors / 2) + " >/dev/null 2>&1") != 0)
            return {};
        std::vector<uint8_t> bytes(volumeAt * 512, 0x5A);
        const std::vector<uint8_t> fat = testkit::ReadFile(volume);
        bytes.insert(bytes.end(), fat.begin(), fat.end());
        bytes.resize(sectors * 512, 0);
        const std::filesystem::path path = dir_ / name;
        testkit::WriteFile(path, bytes);
        return path;
    }

    TempDir dir_;
};

TEST_F(ScanSourceTest, AnImageIsOpenedOnceWithItsHeadReadAndRecognised) {
    const std::filesystem::path image = MakeImage("fat.img", 400, 0);
    if (image.empty()) GTEST_SKIP() << "mkfs.fat is needed";
    FaultPlan::Instance().AddSlow(image, 0, 399, 0);  // counts openings and reads
    ScanSource source;
    ASSERT_EQ(OpenImageSource(image, 5, source), kSuccess);
    EXPECT_TRUE(source.IsImage());
    EXPECT_EQ(source.length, 400u);
    EXPECT_EQ(source.sectorSize, 512u);
    EXPECT_EQ(source.letter, 5);
    EXPECT_EQ(source.headResult, kSuccess);
    EXPECT_EQ(source.head.size(), kSourceHeadBytes);
    EXPECT_EQ(source.kind, VolumeKind::kFat);

    // Every copy of the reader answers the head from memory.
    const FaultTally opened = FaultPlan::Instance().Tally(image);
    EXPECT_EQ(opened.opens, 1u);
    ScanSource copy = source;
    const std::vector<uint8_t> file = testkit::ReadFile(image);
    std::vector<uint8_t> sector(512);
    uint32_t got = 0;
    for (uint64_t s = 0; s < kSourceHeadBytes / 512; ++s) {
        ASSERT_EQ(ReadSectors(1, copy.reader, sector.data(), s, 512, &got), kSuccess);
        ASSERT_TRUE(
            std::equal(sector.begin(), sector.end(), file.begin() + static_cast<std::ptrdiff_t>(s * 512)));
    }
    EXPECT_EQ(FaultPlan::Instance().Tally(image).reads, opened.reads);
    EXPECT_EQ(FaultPlan::Instance().Tally(image).opens, 1u);
}

TEST_F(ScanSourceTest, APartitionOfADriveReachesToTheEndWhenNoLengthIsGiven) {
    const std::filesystem::path image = MakeImage("disk.img", 500, 100);
    if (image.empty()) GTEST_SKIP() << "mkfs.fat is needed";
    const int drive = DriveTable::Instance().AddImage(image);
    ScanSource source;
    ASSERT_EQ(OpenDriveSource(drive, 100, 0, 3, source), kSuccess);
    EXPECT_FALSE(source.IsImage());
    EXPECT_EQ(source.driveIndex, drive);
    EXPECT_EQ(source.start, 100u);
    EXPECT_EQ(source.length, 400u);
    EXPECT_EQ(source.kind, VolumeKind::kFat) << "the head is the range's, not the drive's";
    ASSERT_EQ(OpenDriveSource(drive, 100, 50, 3, source), kSuccess);
    EXPECT_EQ(source.length, 50u);
    EXPECT_EQ(OpenDriveSource(987654, 0, 0, 3, source), kErrFileNotFound);
    EXPECT_FALSE(source.reader.IsOpen());
}

TEST_F(ScanSourceTest, AHeadThatCannotBeReadWholeSaysWhy) {
    // Shorter than the head: nothing is recognised.
    ScanSource source;
    const std::filesystem::path tiny = dir_ / "tiny.img";
    testkit::WriteFile(tiny, std::vector<uint8_t>(20 * 512, 1));
    ASSERT_EQ(OpenImageSource(tiny, 1, source), kSuccess);
    EXPECT_EQ(source.headResult, kErrInvalidParameter);
    EXPECT_EQ(source.kind, VolumeKind::kUnknown);

    // A bad sector: the rest of the head is read, the sector is zeros and named.
    const std::filesystem::path image = MakeImage("bad.img", 400, 0);
    if (image.empty()) GTEST_SKIP() << "mkfs.fat is needed";
    const std::vector<uint8_t> file = testkit::ReadFile(image);
    FaultPlan::Instance().Add(image, 5, 5, FaultKind::kError);
    ASSERT_EQ(OpenImageSource(image, 1, source), kSuccess);
    EXPECT_EQ(source.headResult, kErrReadFault);
    EXPECT_EQ(source.headUnreadable.Ranges(), (std::vector<SectorRange>{{5, 1}}));
    EXPECT_EQ(source.kind, VolumeKind::kFat);
    EXPECT_TRUE(std::all_of(source.head.begin() + 5 * 512, source.head.begin() + 6 * 512,
                            [](uint8_t b) { return b == 0; }));
    EXPECT_TRUE(std::equal(source.head.begin() + 6 * 512, source.head.end(), file.begin() + 6 * 512));
    // Asking again costs no read of the medium: the answer is the one it gave.
    const uint64_t reads = FaultPlan::Instance().Tally(image).reads;
    std::vector<uint8_t> buf(512 * 8);
    uint32_t got = 0;
    EXPECT_EQ(ReadSectors(8, source.reader, buf.data(), 0, 512, &got), kErrReadFault);
    EXPECT_EQ(got, 5u);
    EXPECT_EQ(FaultPlan::Instance().Tally(image).reads, reads);
}

}  // namespace
}  // namespace sorvane
