#include "device/boot_sector.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>
#include <vector>

#include "device/byte_view.h"
#include "device/disk_reader.h"
#include "tests/testkit/testkit.h"

namespace sorvane {
namespace {

using Sector = std::array<uint8_t, 512>;

Sector NtfsBoot() {
    Sector s{};
    std::memcpy(&s[3], "NTFS    ", 8);
    PutU16(&s[11], 512);
    s[13] = 8;
    PutU64(&s[40], 204799);
    s[510] = 0x55;
    s[511] = 0xAA;
    return s;
}

Sector Fat32Boot() {
    Sector s{};
    std::memcpy(&s[3], "mkfs.fat", 8);
    PutU16(&s[11], 512);
    s[13] = 1;
    PutU16(&s[14], 32);
    s[16] = 2;
    PutU32(&s[32], 70000);
    PutU32(&s[36], 540);
    std::memcpy(&s[82], "FAT32   ", 8);
    s[510] = 0x55;
    s[511] = 0xAA;
    return s;
}

TEST(BootSector, NtfsFieldRules) {
    Sector s = NtfsBoot();
    EXPECT_TRUE(IsNtfsBootSector(s.data()));
    PutU16(&s[11], 0);
    EXPECT_TRUE(IsNtfsBootSector(s.data())) << "bytes per sector 0 passes the multiple-of-512 test";
    s = NtfsBoot();
    s[13] = 3;
    EXPECT_FALSE(IsNtfsBootSector(s.data()));
    EXPECT_EQ(ClassifyVolume(s.data(), s.size()), VolumeKind::kUnknown) << "no FAT fields, so not FAT either";
    s = NtfsBoot();
    s[16] = 2;
    EXPECT_FALSE(IsNtfsBootSector(s.data())) << "a FAT-only field set";
    s = NtfsBoot();
    s[511] = 0;
    EXPECT_FALSE(IsNtfsBootSector(s.data()));
    s = NtfsBoot();
    EXPECT_FALSE(IsNtfsBootSector(s.data(), 100)) << "a short buffer is never read past";
}

TEST(BootSector, NtfsClustersUpToTwoMebibytesAsCountOrPowerOfTwo) {
    struct Case {
        uint16_t bytesPerSector;
        uint8_t field;
        uint64_t clusterBytes;  // 0: refused
    };
    const Case cases[] = {
        {512, 128, 65536},                     // the largest plain count
        {512, 0xF8, 131072},                   // 2^8 sectors
        {512, 0xF4, 2u << 20},                 // 2^12 sectors: 2 MiB, as Windows formats it
        {512, 0xF3, 0},                        // 4 MiB is more than any system makes
        {512, 0x81, 0},                        // 2^127: no shift that size
        {512, 0xFF, 1024},                     // 2^1, an odd way to say 2
        {4096, 0xF7, 2u << 20},                // 512 sectors of 4096 bytes
        {4096, 0xF6, 0},                       // 4 MiB again
        {4096, 16, 65536},      {512, 96, 0},  // not a power of two
    };
    for (const Case& c : cases) {
        Sector s = NtfsBoot();
        PutU16(&s[11], c.bytesPerSector);
        s[13] = c.field;
        EXPECT_EQ(NtfsClusterBytesOf(s.data(), s.size()), c.clusterBytes) << int(c.field);
        EXPECT_EQ(IsNtfsBootSector(s.data()), c.clusterBytes != 0) << int(c.field);
    }
}

TEST(BootSector, AFat32BackupMustSayWhereItIsAndMatchTheSectorSize) {
    Sector s = Fat32Boot();
    PutU16(&s[50], 6);
    EXPECT_TRUE(IsFat32BackupBootSector(s.data(), s.size(), 512));
    EXPECT_FALSE(IsFat32BackupBootSector(s.data(), s.size(), 4096)) << "a copy of another sector size";
    PutU16(&s[50], 0);
    EXPECT_FALSE(IsFat32BackupBootSector(s.data(), s.size(), 512)) << "a volume that keeps no copy";
}

TEST(BootSector, Fat32WithDamagedLabelPassesThroughTheFat16Test) {
    Sector s = Fat32Boot();
    EXPECT_TRUE(IsFatBootSector(s.data()));
    std::memcpy(&s[82], "FAT3?   ", 8);
    EXPECT_FALSE(IsFatBootSector(s.data())) << "no 16-bit FAT size, no label: not FAT";
    PutU16(&s[22], 540);  // small enough to stay under 65525 clusters
    EXPECT_TRUE(IsFatBootSector(s.data()));
}

TEST(BootSector, ClusterSizesAndBytesPerSector) {
    Sector s = Fat32Boot();
    s[13] = 128;
    EXPECT_TRUE(IsFatBootSector(s.data())) << "128 sectors per cluster is valid for FAT";
    s[13] = 3;
    EXPECT_FALSE(IsFatBootSector(s.data()));
    s = Fat32Boot();
    PutU16(&s[11], 0);
    EXPECT_FALSE(IsFatBootSector(s.data()));
    PutU16(&s[11], 1000);
    EXPECT_FALSE(IsFatBootSector(s.data()));
}

TEST(BootSector, BitLockerIsNeverFat) {
    Sector s = Fat32Boot();
    std::memcpy(&s[3], "-FVE-FS-", 8);
    EXPECT_TRUE(IsBitLockerVolume(s.data()));
    EXPECT_FALSE(IsFatBootSector(s.data()));
    EXPECT_FALSE(IsNtfsBootSector(s.data()));
    EXPECT_EQ(ClassifyVolume(s.data(), s.size()), VolumeKind::kUnknown);

    s = Fat32Boot();
    std::memset(&s[480], 0x78, 8);
    std::memset(&s[488], 0xFF, 19);
    s[507] = 0x00;
    s[508] = 0x1F;
    s[509] = 0x2C;
    EXPECT_TRUE(IsBitLockerVolume(s.data()));
    EXPECT_FALSE(IsFatBootSector(s.data()));
}

std::vector<uint8_t> ExtVolume(uint32_t logBlockSize, uint32_t firstDataBlock) {
    std::vector<uint8_t> v(2048, 0);
    uint8_t* sb = &v[1024];
    PutU32(sb + 0, 2048);  // inodes
    PutU32(sb + 4, 8192);  // blocks
    PutU32(sb + 20, firstDataBlock);
    PutU32(sb + 24, logBlockSize);
    PutU32(sb + 32, 8192);  // blocks per group
    PutU32(sb + 40, 2048);  // inodes per group
    PutU16(sb + 56, 0xEF53);
    PutU32(sb + 84, 11);
    return v;
}

TEST(BootSector, ExtFirstDataBlockMustMatchTheBlockSize) {
    EXPECT_EQ(ClassifyVolume(ExtVolume(0, 1).data(), 2048), VolumeKind::kExt);
    EXPECT_EQ(ClassifyVolume(ExtVolume(0, 0).data(), 2048), VolumeKind::kUnknown);
    EXPECT_EQ(ClassifyVolume(ExtVolume(2, 0).data(), 2048), VolumeKind::kExt);
    EXPECT_EQ(ClassifyVolume(ExtVolume(2, 1).data(), 2048), VolumeKind::kUnknown);
    EXPECT_EQ(ClassifyVolume(ExtVolume(200, 0).data(), 2048), VolumeKind::kUnknown) << "absurd block size";
}

// Real volumes made by the real tools classify right, and reading them changes nothing.
struct MadeVolume {
    const char* name;
    const char* command;  // %s is the image path
    VolumeKind kind;
    int fatBits;
};

class RealVolumeClassification : public ::testing::TestWithParam<MadeVolume> {};

TEST_P(RealVolumeClassification, ClassifiesTheFirstSectors) {
    const MadeVolume& v = GetParam();
    testkit::TempDir dir;
    std::string image = (dir / "vol.img").string();
    ASSERT_EQ(testkit::RunCommand("truncate -s 64M " + testkit::ShellQuote(image)), 0);
    char cmd[512];
    std::snprintf(cmd, sizeof cmd, v.command, testkit::ShellQuote(image).c_str());
    if (testkit::RunCommand(std::string(cmd) + " >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "could not run: " << cmd;
    std::string before = testkit::FileSha256(image);
    DiskReader reader;
    ASSERT_EQ(OpenImageReader(image, reader), 0);
    std::vector<uint8_t> head(16384);
    uint32_t got = 0;
    ASSERT_EQ(ReadSectors(32, reader, head.data(), 0, 512, &got), 0);
    EXPECT_EQ(ClassifyVolume(head.data(), head.size()), v.kind);
    if (v.fatBits) {
        EXPECT_EQ(FatBitsOfBootSector(head.data()), v.fatBits);
    }
    reader.Close();
    EXPECT_EQ(testkit::FileSha256(image), before);
}

INSTANTIATE_TEST_SUITE_P(
    MadeByRealTools, RealVolumeClassification,
    ::testing::Values(MadeVolume{"fat12", "truncate -s 4M %1$s && mkfs.fat -F 12 %1$s", VolumeKind::kFat, 12},
                      MadeVolume{"fat16", "mkfs.fat -F 16 %s", VolumeKind::kFat, 16},
                      MadeVolume{"fat32", "mkfs.fat -F 32 %s", VolumeKind::kFat, 32},
                      MadeVolume{"ntfs", "mkntfs -F -Q -q %s", VolumeKind::kNtfs, 0},
                      MadeVolume{"ext4", "mkfs.ext4 -q -F %s", VolumeKind::kExt, 0},
                      MadeVolume{"ext2_1k", "mkfs.ext2 -q -F -b 1024 %s", VolumeKind::kExt, 0},
                      MadeVolume{"random", "head -c 65536 /dev/urandom | dd of=%s conv=notrunc status=none",
                                 VolumeKind::kUnknown, 0}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace sorvane
