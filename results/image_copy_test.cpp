#include "results/image_copy.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <vector>

#include "carving/progress_callbacks.h"
#include "platform/drive_table.h"
#include "platform/fault_plan.h"
#include "platform/result_codes.h"
#include "platform/system_root.h"
#include "platform/volume_registry.h"
#include "results/size_text.h"
#include "tests/testkit/testkit.h"

namespace sorvane {
namespace {

using testkit::TempDir;

std::vector<uint8_t> RandomBytes(size_t size, unsigned seed) {
    std::vector<uint8_t> bytes(size);
    std::mt19937 rng(seed);
    for (auto& b : bytes) b = static_cast<uint8_t>(rng());
    return bytes;
}

struct ProgressLog {
    std::vector<int> percents;
    uint64_t lastDone = 0;
    uint64_t lastTotal = 0;
    int64_t lastSecondsLeft = 0;
    int cancelAtPercent = 101;
};

int RecordProgress(void* userData, int percent, uint64_t done, uint64_t total, int64_t secondsLeft) {
    auto* log = static_cast<ProgressLog*>(userData);
    log->percents.push_back(percent);
    log->lastDone = done;
    log->lastTotal = total;
    log->lastSecondsLeft = secondsLeft;
    return percent >= log->cancelAtPercent ? kCancelCode : 0;
}

class ImageCopy : public ::testing::Test {
  protected:
    // A disk image of 6000 sectors: the copies below end in a chunk shorter than 64 KiB.
    void SetUp() override {
        source_ = dir_ / "source.img";
        bytes_ = RandomBytes(6000 * 512, 7);
        testkit::WriteFile(source_, bytes_);
        sha_ = testkit::FileSha256(source_);
        drive_ = DriveTable::Instance().AddImage(source_);
    }
    void TearDown() override {
        FaultPlan::Instance().Clear();
        EXPECT_EQ(testkit::FileSha256(source_), sha_) << "the source must never change";
    }
    std::vector<uint8_t> Range(uint64_t start, uint64_t count) const {
        return {bytes_.begin() + static_cast<long>(start * 512),
                bytes_.begin() + static_cast<long>((start + count) * 512)};
    }

    TempDir dir_;
    std::filesystem::path source_;
    std::vector<uint8_t> bytes_;
    std::string sha_;
    int drive_ = -1;
};

TEST_F(ImageCopy, CopiesARangeSectorForSector) {
    ImageCopyJob job;
    ProgressLog log;
    job.progress = RecordProgress;
    auto image = dir_ / "part.img";
    ASSERT_EQ(RunImageCopy(job, drive_, 100, 5000, image, &log), kSuccess);
    EXPECT_EQ(testkit::ReadFile(image), Range(100, 5000));
    EXPECT_EQ(job.sectorsCopied, 5000u);
    EXPECT_FALSE(job.image.IsOpen());
    EXPECT_FALSE(job.disk.IsOpen());
    // One call per chunk of 128 sectors, rising to 100 with the sector counts.
    ASSERT_EQ(log.percents.size(), (5000u + 127) / 128);
    EXPECT_TRUE(std::is_sorted(log.percents.begin(), log.percents.end()));
    EXPECT_EQ(log.percents.back(), 100);
    EXPECT_EQ(log.lastDone, 5000u);
    EXPECT_EQ(log.lastTotal, 5000u);
    EXPECT_EQ(log.lastSecondsLeft, -1) << "no estimate before 5 seconds have passed";
}

TEST_F(ImageCopy, CountZeroCopiesToTheEndOfTheDisk) {
    ImageCopyJob job;
    auto image = dir_ / "whole.img";
    ASSERT_EQ(RunImageCopy(job, drive_, 0, 0, image, nullptr), kSuccess);
    EXPECT_EQ(testkit::ReadFile(image), bytes_);
    ASSERT_EQ(RunImageCopy(job, drive_, 5990, 0, image, nullptr), kSuccess);
    EXPECT_EQ(testkit::ReadFile(image), Range(5990, 10)) << "an existing image is replaced, not overlaid";
}

TEST_F(ImageCopy, RangesPastTheEndAreRefusedBeforeAnythingIsWritten) {
    ImageCopyJob job;
    auto image = dir_ / "bad.img";
    EXPECT_EQ(RunImageCopy(job, drive_, 5999, 2, image, nullptr), kErrInvalidParameter);
    EXPECT_EQ(RunImageCopy(job, drive_, 6001, 0, image, nullptr), kErrInvalidParameter);
    EXPECT_EQ(RunImageCopy(job, drive_, 6000, 0, image, nullptr), kErrInvalidParameter) << "nothing to copy";
    EXPECT_FALSE(std::filesystem::exists(image));
    EXPECT_EQ(RunImageCopy(job, 999, 0, 0, image, nullptr), kErrFileNotFound) << "no such drive";
}

TEST_F(ImageCopy, NeverWritesIntoItsSource) {
    ImageCopyJob job;
    EXPECT_EQ(RunImageCopy(job, drive_, 0, 0, source_, nullptr), kErrAccessDenied);
    if (!testkit::MakeLink(source_, dir_ / "link.img")) GTEST_SKIP() << "this system cannot make links";
    EXPECT_EQ(RunImageCopy(job, drive_, 0, 0, dir_ / "link.img", nullptr), kErrAccessDenied);
    EXPECT_TRUE(IsImageSource(dir_ / "link.img", drive_));
    std::filesystem::create_directory(dir_ / "folder");
    EXPECT_EQ(RunImageCopy(job, drive_, 0, 0, dir_ / "folder", nullptr), kErrAccessDenied);
    EXPECT_EQ(RunImageCopy(job, drive_, 0, 0, "/dev/null", nullptr), kErrAccessDenied)
        << "no device as image";
}

TEST_F(ImageCopy, CancellingAtFortyPercentLeavesThatMuchOfTheImage) {
    ImageCopyJob job;
    ProgressLog log;
    log.cancelAtPercent = 40;
    job.progress = RecordProgress;
    auto image = dir_ / "partial.img";
    ASSERT_EQ(RunImageCopy(job, drive_, 0, 0, image, &log), kCancelCode);
    uint64_t size = std::filesystem::file_size(image);
    EXPECT_GE(size, bytes_.size() * 40 / 100);
    EXPECT_LE(size, bytes_.size() * 40 / 100 + kImageCopyChunk);
    EXPECT_EQ(testkit::ReadFile(image), Range(0, size / 512)) << "what was written is right";
    EXPECT_GE(log.percents.back(), 40);
    EXPECT_LT(log.percents.back(), 43) << "stopped at the first chunk that reached 40 %";
}

TEST_F(ImageCopy, AnUnreadableSectorEndsTheCopyAndIsReported) {
    // Sector 1000 lies inside the eighth chunk of a copy from 100; the read of
    // that chunk gets the bytes before it, which are written, and then fails.
    FaultPlan::Instance().Add(source_, 1000, 1000, FaultKind::kError);
    ImageCopyJob job;
    ProgressLog log;
    job.progress = RecordProgress;
    auto image = dir_ / "failing.img";
    EXPECT_EQ(RunImageCopy(job, drive_, 100, 5000, image, &log), kErrReadFault);
    EXPECT_EQ(job.failedSector, 1000u);
    EXPECT_EQ(job.sectorsCopied, 900u);
    EXPECT_EQ(testkit::ReadFile(image), Range(100, 900)) << "every sector before the failed one is kept";
    EXPECT_EQ(log.percents.size(), 7u);
}

TEST(SizeText, UsesTheLargestUnitThatFits) {
    EXPECT_EQ(FormatSizeText(0), "0 Bytes");
    EXPECT_EQ(FormatSizeText(1023), "1023 Bytes");
    EXPECT_EQ(FormatSizeText(1024), "1.00 KB");
    EXPECT_EQ(FormatSizeText(0xFFFFF), "1024.00 KB");
    EXPECT_EQ(FormatSizeText(uint64_t{3} << 19), "1.50 MB");
    EXPECT_EQ(FormatSizeText(uint64_t{1} << 30), "1.00 GB");
    EXPECT_EQ(FormatSizeText((uint64_t{1} << 40) * 5 / 2), "2.50 TB");
}

TEST(ImageNames, PartitionsByNumberAndDisksCountingFromOne) {
    VolumeEntry volume;
    volume.letter = 3;
    volume.diskNumber = 1;
    volume.fileSystemName = "FAT32";
    volume.totalBytes = uint64_t{3} << 29;
    EXPECT_EQ(ProposedImageName(&volume, -1), "3 (FAT32, 1.50 GB)");
    EXPECT_EQ(ProposedImageName(nullptr, 0), "Physical Disk 1");
}

// The destination checks against a fake mount table that says what file
// system holds a real scratch folder.
class ImageDestination : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directories(root_ / "proc/self");
        std::filesystem::create_directories(root_ / "dev");
        std::filesystem::create_directories(dest_ / "out");
        ASSERT_EQ(GetPathDeviceNumber(dest_.Path(), device_), kSuccess);
        SetSystemRoot(root_.Path());
    }
    void TearDown() override { SetSystemRoot("/"); }

    void MountAs(const std::string& type, const std::string& mkfs) {
        uint32_t major = 0, minor = 0;
        SplitDeviceNumber(device_, major, minor);
        std::string line = "40 25 " + std::to_string(major) + ":" + std::to_string(minor) + " / /dest rw - " +
                           type + " /dev/sdz1 rw\n";
        testkit::WriteFile(root_ / "proc/self/mountinfo", std::vector<uint8_t>(line.begin(), line.end()));
        if (mkfs.empty()) return;
        auto node = root_ / "dev/sdz1";
        std::filesystem::remove(node);
        ASSERT_EQ(testkit::RunCommand("truncate -s 40M " + testkit::ShellQuote(node.string())), 0);
        ASSERT_EQ(testkit::RunCommand(mkfs + " " + testkit::ShellQuote(node.string()) + " >/dev/null"), 0);
    }
    std::filesystem::path Image() const { return dest_ / "out/disk.img"; }

    TempDir root_;
    TempDir dest_;
    uint64_t device_ = 0;
};

constexpr uint64_t kGiB = uint64_t{1} << 30;

TEST_F(ImageDestination, OntoTheImagedVolumeIsRefused) {
    EXPECT_EQ(CheckImageDestination(Image(), {12345, device_}, 1), ImageDestinationVerdict::kOnImagedVolume);
    EXPECT_STREQ(MessageIdOf(ImageDestinationVerdict::kOnImagedVolume), "MSG0218");
    EXPECT_EQ(CheckImageDestination(Image(), {12345}, 1), ImageDestinationVerdict::kAccepted);

    VolumeRegistry::Instance().Set(7, {"/dev/sdz1", device_, {}, "FAT32"});
    VolumeEntry volume;
    volume.letter = 7;
    EXPECT_EQ(ImagedDeviceNumbers(&volume, -1), std::vector<uint64_t>{device_});
    VolumeRegistry::Instance().Clear();
}

TEST_F(ImageDestination, Fat32TakesNoFileOfFourGibibytes) {
    if (!testkit::HaveProgram("mkfs.fat")) GTEST_SKIP() << "mkfs.fat missing";
    MountAs("vfat", "mkfs.fat -F 32");
    EXPECT_EQ(FileSystemNameOfFolder(dest_.Path()), "FAT32");
    EXPECT_EQ(CheckImageDestination(Image(), {}, 5 * kGiB), ImageDestinationVerdict::kFat32TooLarge);
    EXPECT_EQ(CheckImageDestination(Image(), {}, 4 * kGiB), ImageDestinationVerdict::kFat32TooLarge)
        << "4 GiB itself is one byte too many";
    EXPECT_STREQ(MessageIdOf(ImageDestinationVerdict::kFat32TooLarge), "MSG0220");
    auto verdict = CheckImageDestination(Image(), {}, 3 * kGiB);
    EXPECT_NE(verdict, ImageDestinationVerdict::kFatTooLarge) << "FAT32 is not held to FAT16's limit";
    EXPECT_NE(verdict, ImageDestinationVerdict::kFat32TooLarge);
}

TEST_F(ImageDestination, Fat16TakesAtMostTwoGibibytes) {
    if (!testkit::HaveProgram("mkfs.fat")) GTEST_SKIP() << "mkfs.fat missing";
    MountAs("vfat", "mkfs.fat -F 16");
    EXPECT_EQ(FileSystemNameOfFolder(dest_.Path()), "FAT");
    EXPECT_EQ(CheckImageDestination(Image(), {}, 3 * kGiB), ImageDestinationVerdict::kFatTooLarge);
    EXPECT_STREQ(MessageIdOf(ImageDestinationVerdict::kFatTooLarge), "MSG0219");
    EXPECT_NE(CheckImageDestination(Image(), {}, 2 * kGiB), ImageDestinationVerdict::kFatTooLarge);
}

TEST_F(ImageDestination, ExfatHasNoFatLimit) {
    MountAs("exfat", "");
    EXPECT_EQ(FileSystemNameOfFolder(dest_.Path()), "exFAT");
    auto verdict = CheckImageDestination(Image(), {}, 5 * kGiB);
    EXPECT_NE(verdict, ImageDestinationVerdict::kFatTooLarge);
    EXPECT_NE(verdict, ImageDestinationVerdict::kFat32TooLarge);
}

TEST_F(ImageDestination, NotMoreThanTheFreeSpace) {
    // Other tests write and delete files on the same disk meanwhile: the exact
    // boundary counts only when the free space was the same before and after.
    bool steady = false;
    for (int attempt = 0; attempt < 50 && !steady; ++attempt) {
        uint64_t total = 0, before = 0, after = 0;
        ASSERT_EQ(GetPathSpace(dest_.Path(), total, before), kSuccess);
        const ImageDestinationVerdict atFree = CheckImageDestination(Image(), {}, before);
        ASSERT_EQ(GetPathSpace(dest_.Path(), total, after), kSuccess);
        if (before != after) continue;
        steady = true;
        EXPECT_EQ(atFree, ImageDestinationVerdict::kNotEnoughSpace);
        // Nothing larger than the whole volume ever fits, however busy the disk.
        EXPECT_EQ(CheckImageDestination(Image(), {}, total + 4096), ImageDestinationVerdict::kNotEnoughSpace);
    }
    EXPECT_TRUE(steady) << "the free space never held still long enough to test the boundary";
    EXPECT_STREQ(MessageIdOf(ImageDestinationVerdict::kNotEnoughSpace), "MSG0221");
    EXPECT_EQ(CheckImageDestination(Image(), {}, 4096), ImageDestinationVerdict::kAccepted);
    EXPECT_STREQ(MessageIdOf(ImageDestinationVerdict::kAccepted), "");
}

}  // namespace
}  // namespace sorvane
