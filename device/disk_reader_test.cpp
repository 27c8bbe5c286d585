#include "device/disk_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <vector>

#include "platform/drive_table.h"
#include "platform/fault_plan.h"
#include "platform/result_codes.h"
#include "platform/system_root.h"
#include "tests/testkit/testkit.h"

namespace sorvane {
namespace {

using testkit::TempDir;

std::vector<uint8_t> Pattern(size_t size) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>((i * 7 + i / 512) & 0xFF);
    return bytes;
}

class DiskReaderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        image_ = dir_ / "disk.img";
        bytes_ = Pattern(512 * 300);
        testkit::WriteFile(image_, bytes_);
        hashBefore_ = testkit::FileSha256(image_);
    }
    void TearDown() override {
        FaultPlan::Instance().Clear();
        EXPECT_EQ(testkit::FileSha256(image_), hashBefore_) << "the source must never change";
    }
    TempDir dir_;
    std::filesystem::path image_;
    std::vector<uint8_t> bytes_;
    std::string hashBefore_;
};

TEST_F(DiskReaderTest, ReadsUpToTheLastSectorAndRefusesBeyondIt) {
    DiskReader reader;
    ASSERT_EQ(OpenImageReader(image_, reader), kSuccess);
    ASSERT_EQ(reader.totalSectors, 300u);
    std::vector<uint8_t> buf(512 * 10, 0xEE);
    uint32_t got = 99;
    EXPECT_EQ(ReadSectors(10, reader, buf.data(), 290, 512, &got), kSuccess);
    EXPECT_EQ(got, 10u);
    EXPECT_TRUE(std::equal(buf.begin(), buf.end(), bytes_.begin() + 290 * 512));

    std::vector<uint8_t> untouched(512 * 10, 0xEE);
    std::fill(buf.begin(), buf.end(), 0xEE);
    EXPECT_EQ(ReadSectors(10, reader, buf.data(), 291, 512, &got), kErrInvalidParameter);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(buf, untouched) << "a refused read must not touch the buffer";
    // A start far past the end must not wrap around in the bound check.
    EXPECT_EQ(ReadSectors(2, reader, buf.data(), UINT64_MAX, 512, &got), kErrInvalidParameter);
}

TEST_F(DiskReaderTest, LargeReadsAreSplitAndComeBackWhole) {
    DiskReader reader;
    ASSERT_EQ(OpenImageReader(image_, reader), kSuccess);
    std::vector<uint8_t> buf(512 * 300);
    uint32_t got = 0;
    ASSERT_EQ(ReadSectors(300, reader, buf.data(), 0, 512, &got), kSuccess);
    EXPECT_EQ(got, 300u);
    EXPECT_EQ(buf, bytes_);
}

TEST_F(DiskReaderTest, ShortReadReturnsReadFaultAndCountsWholeSectors) {
    // The device stops returning data 100 bytes into sector 205.
    FaultPlan::Instance().Add(image_, 205 * 512 + 100, 205 * 512 + 100, FaultKind::kShort, 1);
    DiskReader reader;
    ASSERT_EQ(OpenImageReader(image_, reader), kSuccess);
    std::vector<uint8_t> buf(512 * 200);
    uint32_t got = 0;
    EXPECT_EQ(ReadSectors(200, reader, buf.data(), 50, 512, &got), kErrReadFault);
    EXPECT_EQ(got, 155u) << "only whole sectors before the fault count";
    EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + 155 * 512, bytes_.begin() + 50 * 512));
}

TEST_F(DiskReaderTest, FailedSectorEndsTheReadWithReadFault) {
    FaultPlan::Instance().Add(image_, 10, 12, FaultKind::kError);
    DiskReader reader;
    ASSERT_EQ(OpenImageReader(image_, reader), kSuccess);
    std::vector<uint8_t> buf(512 * 4);
    uint32_t got = 0;
    EXPECT_EQ(ReadSectors(4, reader, buf.data(), 11, 512, &got), kErrReadFault);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(ReadSectors(4, reader, buf.data(), 13, 512, &got), kSuccess);
    EXPECT_EQ(got, 4u);
}

TEST_F(DiskReaderTest, SalvagingReadKeepsEveryReadableSectorAndCountsTheOthers) {
    // Two bad patches inside one 128-sector chunk, and a short read in another.
    FaultPlan::Instance().Add(image_, 20, 20, FaultKind::kError);
    FaultPlan::Instance().Add(image_, 60, 62, FaultKind::kError);
    FaultPlan::Instance().Add(image_, 250 * 512 + 7, 250 * 512 + 7, FaultKind::kShort, 1);
    DiskReader reader;
    ASSERT_EQ(OpenImageReader(image_, reader), kSuccess);
    BadSectorMap bad;
    std::vector<uint8_t> buf(512 * 128, 0xEE);
    EXPECT_EQ(ReadSectorsSalvaging(128, reader, buf.data(), 10, 512, bad), kErrReadFault);
    EXPECT_EQ(bad.SectorCount(), 4u);
    EXPECT_EQ(bad.Ranges(), (std::vector<SectorRange>{{20, 1}, {60, 3}}));
    for (uint64_t sector = 10; sector < 138; ++sector) {
        const bool unreadable = sector == 20 || (sector >= 60 && sector <= 62);
        std::vector<uint8_t> got(buf.begin() + (sector - 10) * 512, buf.begin() + (sector - 9) * 512);
        std::vector<uint8_t> want = unreadable ? std::vector<uint8_t>(512, 0)
                                               : std::vector<uint8_t>(bytes_.begin() + sector * 512,
                                                                      bytes_.begin() + (sector + 1) * 512);
        ASSERT_EQ(got, want) << "sector " << sector;
    }
    // A clean read adds nothing; the short read costs only its own sector.
    EXPECT_EQ(ReadSectorsSalvaging(8, reader, buf.data(), 100, 512, bad), kSuccess);
    EXPECT_EQ(ReadSectorsSalvaging(10, reader, buf.data(), 245, 512, bad), kErrReadFault);
    EXPECT_EQ(bad.SectorCount(), 5u);
    EXPECT_EQ(bad.Ranges().back(), (SectorRange{250, 1}));
    EXPECT_EQ(ReadSectorsSalvaging(10, reader, buf.data(), 295, 512, bad), kErrInvalidParameter);
}

TEST_F(DiskReaderTest, CopiesShareOneOpeningThatLastsAsLongAsAnyOfThem) {
    FaultPlan::Instance().AddSlow(image_, 0, 0, 0);  // only to count the openings
    DiskReader first;
    ASSERT_EQ(OpenImageReader(image_, first), kSuccess);
    DiskReader second = first;
    first.Close();
    EXPECT_FALSE(first.IsOpen());
    ASSERT_TRUE(second.IsOpen());
    std::vector<uint8_t> buf(512 * 3);
    uint32_t got = 0;
    EXPECT_EQ(ReadSectors(3, second, buf.data(), 7, 512, &got), kSuccess);
    EXPECT_TRUE(std::equal(buf.begin(), buf.end(), bytes_.begin() + 7 * 512));
    EXPECT_EQ(FaultPlan::Instance().Tally(image_).opens, 1u);
}

TEST_F(DiskReaderTest, KeptBytesAnswerTheirReadsFaultsIncluded) {
    DiskReader reader;
    ASSERT_EQ(OpenImageReader(image_, reader), kSuccess);
    // Kept bytes that differ from the file show where an answer came from.
    std::vector<uint8_t> kept(512 * 4, 0xAB);
    reader.KeepBytes(10 * 512, kept, {{12 * 512, 13 * 512}});
    DiskReader copy = reader;
    FaultPlan::Instance().AddSlow(image_, 10, 13, 0);  // counts the reads that reach the file there

    std::vector<uint8_t> buf(512 * 6, 0);
    uint32_t got = 0;
    // Across the start of the kept bytes: the file's, then the kept ones.
    EXPECT_EQ(ReadSectors(4, copy, buf.data(), 8, 512, &got), kSuccess);
    EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + 1024, bytes_.begin() + 8 * 512));
    EXPECT_TRUE(std::all_of(buf.begin() + 1024, buf.begin() + 2048, [](uint8_t b) { return b == 0xAB; }));
    // A kept bad sector ends a read there, as the medium did.
    EXPECT_EQ(ReadSectors(3, copy, buf.data(), 11, 512, &got), kErrReadFault);
    EXPECT_EQ(got, 1u);
    BadSectorMap bad;
    EXPECT_EQ(ReadSectorsSalvaging(6, copy, buf.data(), 10, 512, bad), kErrReadFault);
    EXPECT_EQ(bad.Ranges(), (std::vector<SectorRange>{{12, 1}}));
    // Past the kept bytes the file answers again.
    EXPECT_TRUE(std::equal(buf.begin() + 4 * 512, buf.end(), bytes_.begin() + 14 * 512));
    EXPECT_EQ(FaultPlan::Instance().Tally(image_).reads, 0u)
        << "no read reached the kept sectors on the file";
}

TEST(DiskReaderSizing, OneSectorSizeRuleForEveryDevice) {
    for (uint32_t usable : {512u, 1024u, 2048u, 4096u}) EXPECT_EQ(UsableSectorSize(usable), usable);
    for (uint32_t odd : {0u, 1u, 256u, 520u, 1536u, 8192u, 65536u, 0xFFFFFFFFu})
        EXPECT_EQ(UsableSectorSize(odd), 512u) << odd;
}

TEST(BadSectorMap, MergesTouchingRangesAndForgetsRereadSectors) {
    BadSectorMap map;
    map.Add(10);
    map.Add(12);
    map.Add(11);
    map.Add(100, 5);
    map.Add(5, 3);
    EXPECT_EQ(map.Ranges(), (std::vector<SectorRange>{{5, 3}, {10, 3}, {100, 5}}));
    map.Add(8, 2);  // bridges 5-7 and 10-12
    map.Add(1, 200);
    EXPECT_EQ(map.Ranges(), (std::vector<SectorRange>{{1, 200}}));
    map.Remove(50, 10);
    map.Remove(1, 1);
    map.Remove(300, 4);
    EXPECT_EQ(map.Ranges(), (std::vector<SectorRange>{{2, 48}, {60, 141}}));
    EXPECT_EQ(map.SectorCount(), 189u);
    EXPECT_EQ(map.Summary(1), "189 sectors unreadable: 2-49, ...");
    EXPECT_EQ(map.MapText(512, "x").substr(map.MapText(512, "x").find('\n') + 1), "2 48\n60 141\n");
    BadSectorMap one;
    one.Add(7);
    EXPECT_EQ(one.Summary(5), "1 sector unreadable: 7");
}

// While a file is copied, a sector the medium does not give back is zeros
// and listed, and the read still succeeds; afterwards reads fail again.
TEST_F(DiskReaderTest, ZeroFilledReadsKeepTheReadableSectorsOfAFile) {
    FaultPlan::Instance().Add(image_, 120, 121, FaultKind::kError);
    FaultPlan::Instance().Add(image_, 150 * 512 + 7, 150 * 512 + 7, FaultKind::kShort, 1);
    DiskReader reader;
    ASSERT_EQ(OpenImageReader(image_, reader), kSuccess);
    std::vector<uint8_t> buf(512 * 100, 0xEE);
    uint32_t got = 0;
    BadSectorMap unreadable;
    {
        ZeroFilledReads zeros(&reader, unreadable);
        ASSERT_EQ(ReadSectors(100, reader, buf.data(), 100, 512, &got), kSuccess);
        EXPECT_EQ(got, 100u);
    }
    EXPECT_EQ(unreadable.Ranges(), (std::vector<SectorRange>{{120, 2}, {150, 1}}));
    std::vector<uint8_t> expected(bytes_.begin() + 100 * 512, bytes_.begin() + 200 * 512);
    std::fill_n(expected.begin() + 20 * 512, 2 * 512, 0);
    std::fill_n(expected.begin() + 50 * 512, 512, 0);
    EXPECT_EQ(buf, expected);
    EXPECT_EQ(reader.zeroFilled, nullptr);
    EXPECT_EQ(ReadSectors(100, reader, buf.data(), 100, 512, &got), kErrReadFault);
    EXPECT_EQ(got, 20u);
    // A range past the end is still refused, zeros or not.
    ZeroFilledReads zeros(&reader, unreadable);
    EXPECT_EQ(ReadSectors(2, reader, buf.data(), 299, 512, &got), kErrInvalidParameter);
}

TEST_F(DiskReaderTest, ReadFullyStopsAtTheEndWithWhatItGot) {
    FileHandle handle;
    ASSERT_EQ(OpenReadOnly(image_, handle), kSuccess);
    std::vector<uint8_t> buf(bytes_.size() + 1000);
    size_t got = 7;
    EXPECT_EQ(ReadFully(0, handle, buf.data(), &got), kSuccess);
    EXPECT_EQ(got, 0u);
    handle.Seek(1000);
    EXPECT_EQ(ReadFully(buf.size(), handle, buf.data(), &got), kErrReadFault);
    EXPECT_EQ(got, bytes_.size() - 1000);
}

TEST(DiskReaderSizing, ImageSizeIsWholeSectorsOf512) {
    TempDir dir;
    testkit::WriteFile(dir / "small.img", std::vector<uint8_t>(1000, 1));
    DiskReader reader;
    ASSERT_EQ(OpenImageReader(dir / "small.img", reader), kSuccess);
    EXPECT_EQ(reader.totalSectors, 1u);
    EXPECT_EQ(OpenImageReader(dir / "missing.img", reader), kErrFileNotFound);
    EXPECT_FALSE(reader.IsOpen());
}

TEST(DiskReaderSizing, ImageAddedAsDriveReadsLikeADisk) {
    TempDir dir;
    testkit::WriteFile(dir / "whole.img", Pattern(512 * 64));
    int index = DriveTable::Instance().AddImage(dir / "whole.img");
    EXPECT_EQ(DriveTable::Instance().AddImage(dir / "whole.img"), index) << "one index per image";
    DiskReader reader;
    ASSERT_EQ(OpenPhysicalDriveReader(reader, index), kSuccess);
    EXPECT_EQ(reader.totalSectors, 64u);
    EXPECT_EQ(DriveSectorSize(reader), 512u);
}

TEST(DeviceQuestions, ExternalDisksFromAFakeSysfs) {
    TempDir root;
    auto mk = [&](const std::string& rel, const std::string& text) {
        std::filesystem::create_directories((root.Path() / rel).parent_path());
        testkit::WriteFile(root.Path() / rel, std::vector<uint8_t>(text.begin(), text.end()));
    };
    mk("sys/block/sda/removable", "0\n");
    mk("sys/block/sda/device_path", "/sys/devices/pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0\n");
    mk("sys/block/sdb/removable", "0\n");
    mk("sys/block/sdb/device_path", "/sys/devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/6:0:0:0\n");
    mk("sys/block/mmcblk0/removable", "0\n");
    mk("sys/block/sdc/removable", "1\n");
    mk("sys/block/ram0/removable", "0\n");
    mk("sys/block/loop0/removable", "0\n");
    mk("sys/block/sdb/sdb1/partition", "1\n");
    mk("sys/block/sdb/sdb1/start", "2048\n");
    mk("sys/block/sdb/sdb1/size", "4096\n");
    for (const char* d : {"sda", "sdb", "sdc", "mmcblk0"})
        mk(std::string("dev/") + d, std::string(4096, 'x'));
    SetSystemRoot(root.Path());
    DriveTable::Instance().Refresh();
    auto drives = DriveTable::Instance().Drives();
    ASSERT_EQ(drives.size(), 4u) << "ram and loop devices without a backing file are skipped";
    EXPECT_EQ(drives[0].name, "mmcblk0");
    EXPECT_EQ(drives[1].name, "sda");
    EXPECT_TRUE(IsExternalDisk(DriveTable::Instance().IndexOfName("mmcblk0")));
    EXPECT_FALSE(IsExternalDisk(DriveTable::Instance().IndexOfName("sda")));
    EXPECT_TRUE(IsExternalDisk(DriveTable::Instance().IndexOfName("sdb")));
    EXPECT_TRUE(IsExternalDisk(DriveTable::Instance().IndexOfName("sdc")));
    uint64_t length = 0;
    EXPECT_EQ(GetDiskLength(DriveTable::Instance().IndexOfName("sdb"), length), kSuccess);
    EXPECT_EQ(length, 4096u);
    std::string disk;
    uint64_t start = 0, count = 0;
    ASSERT_TRUE(PartitionOfDisk("sdb1", disk, start, count));
    EXPECT_EQ(disk, "sdb");
    EXPECT_EQ(start, 2048u);
    EXPECT_EQ(count, 4096u);
    SetSystemRoot("/");
    DriveTable::Instance().Refresh();
}

}  // namespace
}  // namespace sorvane
