#include "device/partition_details.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "device/byte_view.h"
#include "tests/testkit/testkit.h"

namespace sorvane {
namespace {

using testkit::RunCommand;
using testkit::ShellQuote;
using testkit::TempDir;

ByteSource FromBytes(const std::vector<uint8_t>& bytes) {
    return [&bytes](uint64_t offset, uint8_t* buffer, size_t length) {
        if (offset > bytes.size() || length > bytes.size() - offset) return false;
        std::memcpy(buffer, bytes.data() + offset, length);
        return true;
    };
}

void MustRun(const std::string& command) {
    ASSERT_EQ(RunCommand(command + " >/dev/null 2>&1"), 0) << command;
}

TEST(MbrPartitionTypes, PrimaryAndLogicalPartitionsOfAnSfdiskTable) {
    if (!testkit::HaveProgram("sfdisk")) GTEST_SKIP() << "sfdisk missing";
    TempDir dir;
    auto disk = dir / "disk.img";
    MustRun("truncate -s 64M " + ShellQuote(disk.string()));
    MustRun(
        "printf 'label: dos\\nstart=2048, size=20480, type=c\\nstart=22528, size=80000, type=f\\n"
        "start=24576, size=10000, type=7\\nstart=36864, size=20000, type=83\\n' | sfdisk -q " +
        ShellQuote(disk.string()));
    auto bytes = testkit::ReadFile(disk);
    auto types = ReadMbrPartitionTypes(FromBytes(bytes), 512);
    ASSERT_EQ(types.size(), 4u);
    EXPECT_EQ(types[2048], 0x0C);
    EXPECT_EQ(types[22528], 0x0F);
    EXPECT_TRUE(IsExtendedPartitionType(types[22528]));
    EXPECT_EQ(types[24576], 0x07);
    EXPECT_EQ(types[36864], 0x83);

    // A chain that links back to itself ends instead of looping.
    size_t secondEbr = 36864 - 2048;  // sfdisk puts each record 2048 sectors before its partition
    ByteView ebr(bytes.data() + secondEbr * 512, 512);
    ASSERT_EQ(ebr.U8(510), 0x55);
    uint8_t* link = bytes.data() + secondEbr * 512 + 446 + 16;
    link[4] = 0x05;
    PutU32(link + 8, static_cast<uint32_t>(secondEbr - 22528));
    EXPECT_EQ(ReadMbrPartitionTypes(FromBytes(bytes), 512).size(), 4u);
}

TEST(MbrPartitionTypes, NoTableMeansNoTypes) {
    std::vector<uint8_t> sector(512, 0);
    EXPECT_TRUE(ReadMbrPartitionTypes(FromBytes(sector), 512).empty()) << "no signature";
    sector[510] = 0x55;
    sector[511] = 0xAA;
    sector[446 + 4] = 0xEE;
    PutU32(sector.data() + 446 + 8, 1);
    PutU32(sector.data() + 446 + 12, 1000);
    EXPECT_TRUE(ReadMbrPartitionTypes(FromBytes(sector), 512).empty()) << "GPT's protective entry";
    sector[446 + 4] = 0x07;
    sector[446] = 0x12;
    EXPECT_TRUE(ReadMbrPartitionTypes(FromBytes(sector), 512).empty()) << "a status byte no table has";
    std::vector<uint8_t> empty;
    EXPECT_TRUE(ReadMbrPartitionTypes(FromBytes(empty), 512).empty()) << "unreadable";
}

TEST(MbrPartitionTypes, AVolumeWithoutATableIsNotReadAsOne) {
    if (!testkit::HaveProgram("mkfs.fat")) GTEST_SKIP() << "mkfs.fat missing";
    TempDir dir;
    auto volume = dir / "stick.img";
    MustRun("truncate -s 40M " + ShellQuote(volume.string()));
    MustRun("mkfs.fat -F 32 " + ShellQuote(volume.string()));
    auto bytes = testkit::ReadFile(volume);
    EXPECT_TRUE(ReadMbrPartitionTypes(FromBytes(bytes), 512).empty());
}

TEST(PartitionTable, MbrGivesPrimaryAndLogicalPartitionsWithTheirLengths) {
    if (!testkit::HaveProgram("sfdisk")) GTEST_SKIP() << "sfdisk missing";
    TempDir dir;
    auto disk = dir / "disk.img";
    MustRun("truncate -s 64M " + ShellQuote(disk.string()));
    MustRun(
        "printf 'label: dos\\nstart=2048, size=20480, type=c\\nstart=22528, size=80000, type=f\\n"
        "start=24576, size=10000, type=7\\nstart=36864, size=20000, type=83\\n' | sfdisk -q " +
        ShellQuote(disk.string()));
    auto bytes = testkit::ReadFile(disk);
    const uint64_t sectors = bytes.size() / 512;
    auto slots = ReadPartitionTable(FromBytes(bytes), 512, sectors);
    ASSERT_EQ(slots.size(), 3u) << "the extended container is no partition";
    EXPECT_EQ(slots[0].start, 2048u);
    EXPECT_EQ(slots[0].length, 20480u);
    EXPECT_EQ(slots[0].type, 0x0C);
    EXPECT_EQ(slots[1].start, 24576u);
    EXPECT_EQ(slots[1].length, 10000u);
    EXPECT_EQ(slots[2].start, 36864u);
    EXPECT_EQ(slots[2].length, 20000u);

    // An entry that runs past the end of the disk is cut at the end; one that
    // starts past it is dropped.
    auto shorter = ReadPartitionTable(FromBytes(bytes), 512, 30000);
    ASSERT_EQ(shorter.size(), 2u);
    EXPECT_EQ(shorter[1].start, 24576u);
    EXPECT_EQ(shorter[1].length, 30000u - 24576u);
}

TEST(PartitionTable, GptEntriesAreRead) {
    if (!testkit::HaveProgram("sfdisk")) GTEST_SKIP() << "sfdisk missing";
    TempDir dir;
    auto disk = dir / "gpt.img";
    MustRun("truncate -s 32M " + ShellQuote(disk.string()));
    MustRun("printf 'label: gpt\\nstart=2048, size=8192\\nstart=12288, size=20000\\n' | sfdisk -q " +
            ShellQuote(disk.string()));
    auto bytes = testkit::ReadFile(disk);
    auto slots = ReadPartitionTable(FromBytes(bytes), 512, bytes.size() / 512);
    ASSERT_EQ(slots.size(), 2u);
    EXPECT_EQ(slots[0].start, 2048u);
    EXPECT_EQ(slots[0].length, 8192u);
    EXPECT_EQ(slots[1].start, 12288u);
    EXPECT_EQ(slots[1].length, 20000u);
    // A damaged header signature means no table at all, not the protective entry as a partition.
    bytes[512] = 'X';
    EXPECT_TRUE(ReadPartitionTable(FromBytes(bytes), 512, bytes.size() / 512).empty());
}

TEST(PartitionTable, AVolumeOrNothingIsNoTable) {
    if (!testkit::HaveProgram("mkfs.fat")) GTEST_SKIP() << "mkfs.fat missing";
    TempDir dir;
    auto volume = dir / "fat.img";
    MustRun("truncate -s 8M " + ShellQuote(volume.string()) + " && mkfs.fat " + ShellQuote(volume.string()));
    auto bytes = testkit::ReadFile(volume);
    EXPECT_TRUE(ReadPartitionTable(FromBytes(bytes), 512, bytes.size() / 512).empty());
    std::vector<uint8_t> zeros(4096, 0);
    EXPECT_TRUE(ReadPartitionTable(FromBytes(zeros), 512, 8).empty());
    std::vector<uint8_t> none;
    EXPECT_TRUE(ReadPartitionTable(FromBytes(none), 512, 8).empty());
}

std::string LabelOf(const std::string& format, const std::string& megabytes) {
    TempDir dir;
    auto volume = dir / "volume.img";
    RunCommand("truncate -s " + megabytes + " " + ShellQuote(volume.string()));
    EXPECT_EQ(RunCommand(format + " " + ShellQuote(volume.string()) + " >/dev/null 2>&1"), 0) << format;
    auto bytes = testkit::ReadFile(volume);
    if (bytes.size() < 512) return "<unreadable>";
    return ReadFatVolumeLabel(FromBytes(bytes), bytes.data(), 512);
}

TEST(FatVolumeLabel, ComesFromTheVolumeItself) {
    if (!testkit::HaveProgram("mkfs.fat")) GTEST_SKIP() << "mkfs.fat missing";
    EXPECT_EQ(LabelOf("mkfs.fat -F 12 -n FLOPPY", "1440K"), "FLOPPY");
    EXPECT_EQ(LabelOf("mkfs.fat -F 16 -n \"MY CARD\"", "16M"), "MY CARD");
    EXPECT_EQ(LabelOf("mkfs.fat -F 32 -n CAMERA", "40M"), "CAMERA");
    EXPECT_EQ(LabelOf("mkfs.fat -F 32", "40M"), "");
}

TEST(FatVolumeLabel, RootFolderLabelWinsOverTheBootSector) {
    if (!testkit::HaveProgram("mkfs.fat") || !testkit::HaveProgram("mlabel"))
        GTEST_SKIP() << "mtools missing";
    TempDir dir;
    auto volume = dir / "volume.img";
    MustRun("truncate -s 16M " + ShellQuote(volume.string()));
    MustRun("mkfs.fat -F 16 -n OLDNAME " + ShellQuote(volume.string()));
    MustRun("MTOOLS_SKIP_CHECK=1 mlabel -N 12345678 -i " + ShellQuote(volume.string()) + " ::RENAMED");
    auto bytes = testkit::ReadFile(volume);
    // Put the old name back into the boot sector only: the root folder's label is what counts.
    std::memcpy(bytes.data() + 43, "OLDNAME    ", 11);
    EXPECT_EQ(ReadFatVolumeLabel(FromBytes(bytes), bytes.data(), 512), "RENAMED");
}

TEST(FatVolumeLabel, DamagedBootSectorGivesNoLabel) {
    std::vector<uint8_t> sector(512, 0xFF);
    EXPECT_EQ(ReadFatVolumeLabel(FromBytes(sector), sector.data(), sector.size()), "");
    EXPECT_EQ(ReadFatVolumeLabel(FromBytes(sector), sector.data(), 100), "");
}

std::string LabelOfImage(const std::string& name, bool ntfs) {
    std::filesystem::path dir = testkit::RealImagesDir();
    if (dir.empty() || !std::filesystem::exists(dir / name)) return "<missing>";
    std::vector<uint8_t> bytes = testkit::ReadFile(dir / name);
    return ntfs ? ReadNtfsVolumeLabel(FromBytes(bytes), bytes.data(), bytes.size())
                : ReadExfatVolumeLabel(FromBytes(bytes), bytes.data(), bytes.size());
}

TEST(ExfatVolumeLabel, ComesFromTheRootFolderInUtf16) {
    if (testkit::HaveProgram("mkfs.exfat")) {
        TempDir dir;
        auto volume = dir / "card.img";
        MustRun("truncate -s 16M " + ShellQuote(volume.string()));
        MustRun("mkfs.exfat -L 'Карта SD' " + ShellQuote(volume.string()));
        auto bytes = testkit::ReadFile(volume);
        EXPECT_EQ(ReadExfatVolumeLabel(FromBytes(bytes), bytes.data(), 512), "Карта SD");
        EXPECT_EQ(ReadNtfsVolumeLabel(FromBytes(bytes), bytes.data(), 512), "") << "not an NTFS volume";
        EXPECT_EQ(ReadFatVolumeLabel(FromBytes(bytes), bytes.data(), 512), "") << "not a FAT volume";
        MustRun("mkfs.exfat " + ShellQuote(volume.string()));
        bytes = testkit::ReadFile(volume);
        EXPECT_EQ(ReadExfatVolumeLabel(FromBytes(bytes), bytes.data(), 512), "");
    }
    std::string label = LabelOfImage("exfat_win.raw", false);
    if (label == "<missing>") GTEST_SKIP() << "public images missing";
    EXPECT_EQ(label, "test123");
    EXPECT_EQ(LabelOfImage("win_exfat_7.raw", false), "");
}

TEST(NtfsVolumeLabel, ComesFromTheVolumeRecord) {
    std::string label = LabelOfImage("7-ntfs-undel.dd", true);
    if (label == "<missing>") GTEST_SKIP() << "public images missing";
    EXPECT_EQ(label, "NTFS_DEL");
    EXPECT_EQ(LabelOfImage("8-jpeg-search.dd", true), "JPEG-SRCH");
    // A record whose update sequence does not match is damaged: no label.
    std::vector<uint8_t> bytes = testkit::ReadFile(testkit::RealImagesDir() / "7-ntfs-undel.dd");
    ByteView boot(bytes.data(), 512);
    const uint64_t clusterBytes = uint64_t{boot.U16(11)} * boot.U8(13);
    const uint64_t record3 = boot.U64(48) * clusterBytes + 3 * 1024;
    ASSERT_LT(record3 + 1024, bytes.size());
    bytes[record3 + 510] ^= 0xFF;
    EXPECT_EQ(ReadNtfsVolumeLabel(FromBytes(bytes), bytes.data(), 512), "");
    std::vector<uint8_t> garbage(512, 0xFF);
    EXPECT_EQ(ReadNtfsVolumeLabel(FromBytes(garbage), garbage.data(), garbage.size()), "");
    EXPECT_EQ(ReadExfatVolumeLabel(FromBytes(garbage), garbage.data(), garbage.size()), "");
}

}  // namespace
}  // namespace sorvane
