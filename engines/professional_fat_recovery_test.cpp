// The deep FAT engine on directory sectors: geometry from sightings, long
// names across sector boundaries, the entry tests, and the memory bounds.
#include "engines/professional_fat_recovery.h"
#include "engines/engine_factory.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "device/byte_view.h"
#include "engines/professional_recovery.h"
#include "fs/fat_directory.h"
#include "fs/fat_directory_sector.h"
#include "platform/result_codes.h"
#include "results/scan_resume_store.h"
#include "tests/testkit/test_images.h"
#include "tests/testkit/testkit.h"

namespace sorvane {
namespace {

using testkit::TempDir;

// 2024-05-17 10:20:30 as FAT date and time words.
constexpr uint16_t kDate = ((2024 - 1980) << 9) | (5 << 5) | 17;
constexpr uint16_t kTime = (10 << 11) | (20 << 5) | 15;

struct Entry {
    uint8_t bytes[32] = {};
};

Entry ShortEntry(const char* name11, uint8_t attr, uint32_t cluster, uint32_t size, uint16_t date = kDate) {
    Entry e;
    std::memcpy(e.bytes, name11, 11);
    e.bytes[11] = attr;
    PutU16(e.bytes + 14, kTime);
    PutU16(e.bytes + 16, date);
    PutU16(e.bytes + 18, date);
    PutU16(e.bytes + 20, static_cast<uint16_t>(cluster >> 16));
    PutU16(e.bytes + 22, kTime);
    PutU16(e.bytes + 24, date);
    PutU16(e.bytes + 26, static_cast<uint16_t>(cluster));
    PutU32(e.bytes + 28, size);
    return e;
}

// The long-name entries of `name` (ASCII) for a short entry, in disk order.
std::vector<Entry> LongEntries(const std::string& name, const char* name11) {
    const uint8_t checksum = ShortNameChecksum(ByteView(reinterpret_cast<const uint8_t*>(name11), 11));
    std::vector<char16_t> units(name.begin(), name.end());
    units.push_back(0);
    while (units.size() % 13) units.push_back(0xFFFF);
    const size_t parts = units.size() / 13;
    static const int kOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    std::vector<Entry> out;
    for (size_t p = parts; p-- > 0;) {
        Entry e;
        e.bytes[0] = static_cast<uint8_t>((p + 1) | (p + 1 == parts ? 0x40 : 0));
        e.bytes[11] = 0x0F;
        e.bytes[13] = checksum;
        for (int i = 0; i < 13; ++i) PutU16(e.bytes + kOffsets[i], units[p * 13 + i]);
        out.push_back(e);
    }
    return out;
}

std::vector<uint8_t> SectorOf(const std::vector<Entry>& entries) {
    std::vector<uint8_t> s(512, 0);
    for (size_t i = 0; i < entries.size() && i < 16; ++i)
        std::memcpy(s.data() + 32 * i, entries[i].bytes, 32);
    return s;
}

std::vector<Entry> DotPair(uint32_t self, uint32_t parent) {
    return {ShortEntry(".          ", 0x10, self, 0), ShortEntry("..         ", 0x10, parent, 0)};
}

class DeepFatTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testkit::SetEnv("SORVANE_DATA_DIR", dir_.Path() / "data");
        CScanResumeStore::ResetInstanceForTests();
        CScanResumeStore::Instance().NewScanFolder();
    }
    void TearDown() override { CScanResumeStore::ResetInstanceForTests(); }

    // An image of zeros, or a real FAT32 volume when `fat32` is set.
    std::filesystem::path MakeImage(bool fat32) {
        std::filesystem::path image = dir_ / "volume.img";
        std::filesystem::remove(image);
        if (fat32) {
            if (!testkit::HaveProgram("mkfs.fat")) return {};
            int rc = testkit::RunCommand("mkfs.fat -C -F 32 -s 8 -S 512 " +
                                         testkit::ShellQuote(image.string()) + " 40960 >/dev/null 2>&1");
            if (rc != 0) return {};
        } else {
            testkit::WriteFile(image, std::vector<uint8_t>(4u << 20, 0));
        }
        return image;
    }

    // Opens a real FAT32 volume of zeros and the layout its boot sector gives.
    void OpenFat32(CProfessionalFatRecovery& engine, FatVolumeGuess& guess) {
        auto image = MakeImage(true);
        if (image.empty()) GTEST_SKIP() << "mkfs.fat is needed";
        ASSERT_EQ(OpenOnImage(engine, image, 3), 0);
        ASSERT_EQ(engine.StartScanLog(nullptr), 0);
        engine.RegisterBootSector();
        ASSERT_EQ(engine.Guesses().size(), 1u);
        guess = engine.Guesses()[0];
    }

    std::vector<FoundItemRecord> AllRecords(CProfessionalFatRecovery& engine) {
        std::vector<FoundItemRecord> out;
        EXPECT_EQ(engine.Log()->Flush(), 0);
        for (uint32_t n = 1; n <= engine.Log()->Count(); ++n) {
            FoundItemRecord r;
            if (engine.Log()->ReadRecord(n, r) == 0) out.push_back(r);
        }
        return out;
    }

    TempDir dir_;
};

TEST_F(DeepFatTest, TwoSightingsGiveClusterSizeAndDataArea) {
    auto image = MakeImage(false);
    CProfessionalFatRecovery engine;
    ASSERT_EQ(OpenOnImage(engine, image, 3), 0);
    ASSERT_EQ(engine.StartScanLog(nullptr), 0);
    engine.RegisterBootSector();
    EXPECT_TRUE(engine.Guesses().empty());

    auto first = DotPair(5, 0);
    first.push_back(ShortEntry("A       TXT", 0x20, 100, 10));
    auto second = DotPair(7, 0);
    second.push_back(ShortEntry("B       TXT", 0x20, 200, 10));
    engine.OnDirectoryStart(SectorOf(first).data(), 1000);
    EXPECT_TRUE(engine.Guesses().empty());
    EXPECT_EQ(engine.OrphanCount(), 1u);  // no geometry yet: the file waits
    engine.OnDirectoryStart(SectorOf(second).data(), 1016);
    ASSERT_EQ(engine.Guesses().size(), 1u);
    EXPECT_EQ(engine.Guesses()[0].sectorsPerCluster, 8u);
    EXPECT_EQ(engine.Guesses()[0].DataAreaStart(), 976u);
    EXPECT_EQ(engine.Guesses()[0].volumeStart, 0u);
    EXPECT_EQ(engine.Guesses()[0].dataAreaOffset, 976u);

    // The waiting entry was placed once the geometry was known.
    ASSERT_EQ(engine.Consolidate(), 0);
    EXPECT_EQ(engine.OrphanCount(), 0u);
    auto records = AllRecords(engine);
    int files = 0;
    for (const auto& r : records) {
        if (r.IsFolder()) continue;
        ++files;
        EXPECT_EQ(uint32_t{r.clusterBytes}, 8u * 512);  // fields of the packed record are copied
        EXPECT_EQ(uint64_t{r.dataStart}, 976u);
        EXPECT_EQ(uint32_t{r.engineCode}, static_cast<uint32_t>(EngineCode::kDeepFat));
    }
    EXPECT_EQ(files, 2);
}

TEST_F(DeepFatTest, SightingsThatFitNoClusterSizeAddNoGuess) {
    auto image = MakeImage(false);
    CProfessionalFatRecovery engine;
    ASSERT_EQ(OpenOnImage(engine, image, 3), 0);
    ASSERT_EQ(engine.StartScanLog(nullptr), 0);
    // 24 sectors over 2 clusters is 12 per cluster: no FAT volume has that.
    engine.OnDirectoryStart(SectorOf(DotPair(5, 0)).data(), 1000);
    engine.OnDirectoryStart(SectorOf(DotPair(7, 0)).data(), 1024);
    // 256 sectors per cluster is beyond what FAT allows.
    engine.OnDirectoryStart(SectorOf(DotPair(9, 0)).data(), 3000);
    engine.OnDirectoryStart(SectorOf(DotPair(10, 0)).data(), 3256);
    EXPECT_TRUE(engine.Guesses().empty());
}

// The long name of "A long file name.txt" takes two entries; put the first in
// the last slot of a directory sector and the second at the start of the next.
struct SplitName {
    std::vector<uint8_t> first, second;
};
SplitName MakeSplitName(uint32_t dirCluster) {
    auto head = DotPair(dirCluster, 0);
    for (int i = 0; i < 13; ++i) {
        char name[12];
        std::snprintf(name, sizeof name, "FILE%02d  TXT", i);
        head.push_back(ShortEntry(name, 0x20, 1000 + i, 100));
    }
    auto lfn = LongEntries("A long file name.txt", "ALONGF~1TXT");
    EXPECT_EQ(lfn.size(), 2u);
    head.push_back(lfn[0]);
    std::vector<Entry> tail{lfn[1], ShortEntry("ALONGF~1TXT", 0x20, 2000, 1234)};
    return {SectorOf(head), SectorOf(tail)};
}

TEST_F(DeepFatTest, LongNameAcrossSectorsIsJoinedWhicheverSectorComesFirst) {
    for (bool secondFirst : {false, true}) {
        SCOPED_TRACE(secondFirst ? "continuation met first" : "start met first");
        CScanResumeStore::Instance().NewScanFolder();  // each run its own log
        CProfessionalFatRecovery engine;
        FatVolumeGuess g;
        OpenFat32(engine, g);
        if (HasFatalFailure() || IsSkipped()) return;
        const uint32_t cluster = 40;
        const uint64_t start = *g.ClusterSector(cluster);
        SplitName split = MakeSplitName(cluster);
        ASSERT_TRUE(IsFatDirectoryStart(split.first.data(), 512, 0));
        ASSERT_TRUE(IsFatDirectorySector(split.second.data(), 512));
        if (secondFirst) {
            engine.OnDirectorySector(split.second.data(), start + 1);
            EXPECT_EQ(engine.StoredSectorCount(), 1u);
            engine.OnDirectoryStart(split.first.data(), start);
        } else {
            engine.OnDirectoryStart(split.first.data(), start);
            engine.OnDirectorySector(split.second.data(), start + 1);
        }
        ASSERT_EQ(engine.Consolidate(), 0);
        EXPECT_EQ(engine.FragmentCount(), 0u);
        int found = 0, files = 0;
        for (const auto& r : AllRecords(engine)) {
            if (r.IsFolder()) continue;
            ++files;
            if (r.Name() == "A long file name.txt") {
                ++found;
                EXPECT_EQ(uint64_t{r.size}, 1234u);
                EXPECT_EQ(uint32_t{r.key}, 2000u);
                EXPECT_EQ(uint64_t{r.location}, start);  // the joined buffer begins in the first sector
            }
        }
        EXPECT_EQ(found, 1);
        EXPECT_EQ(files, 14);
    }
}

TEST_F(DeepFatTest, AFullFolderClusterGoesOnWhereItsFilesDataEnds) {
    // A folder grows by the next free cluster when it fills. After a reformat
    // only the order of things on disk says which cluster that was: right
    // after the data of the files written so far, or, where a system writes
    // a file's data before its entry, right after that one file's data.
    for (bool dataFirst : {false, true}) {
        SCOPED_TRACE(dataFirst ? "data before entry" : "entry before data");
        CScanResumeStore::Instance().NewScanFolder();
        CProfessionalFatRecovery engine;
        FatVolumeGuess g;
        OpenFat32(engine, g);
        if (HasFatalFailure() || IsSkipped()) return;
        // The folder at cluster 40, full: 126 files of one cluster each from 41 on.
        const uint32_t folder = 40;
        std::vector<Entry> entries = DotPair(folder, 0);
        for (uint32_t i = 0; i < 126; ++i) {
            char name[12];
            std::snprintf(name, sizeof name, "IMG_%04uJPG", i);
            entries.push_back(ShortEntry(name, 0x20, 41 + i, 100));
        }
        // Its next cluster, and the file it lists first.
        const uint32_t next = dataFirst ? 41 + 126 + 1 : 41 + 126;
        const uint32_t firstData = dataFirst ? 41 + 126 : next + 1;
        std::vector<Entry> later{ShortEntry("IMG_0126JPG", 0x20, firstData, 100),
                                 ShortEntry("IMG_0127JPG", 0x20, firstData + (dataFirst ? 2 : 1), 100)};
        for (size_t s = 0; s < 8; ++s) {
            std::vector<Entry> part(entries.begin() + static_cast<std::ptrdiff_t>(s * 16),
                                    entries.begin() + static_cast<std::ptrdiff_t>(s * 16 + 16));
            const uint64_t at = *g.ClusterSector(folder) + s;
            if (s == 0)
                engine.OnDirectoryStart(SectorOf(part).data(), at);
            else
                engine.OnDirectorySector(SectorOf(part).data(), at);
        }
        engine.OnDirectorySector(SectorOf(later).data(), *g.ClusterSector(next));
        ASSERT_EQ(engine.Consolidate(), 0);
        std::set<std::string> folders;
        size_t files = 0;
        for (const auto& r : AllRecords(engine)) {
            if (r.IsFolder()) continue;
            ++files;
            std::string path;
            ASSERT_EQ(engine.GetFolderPath(r, path), 0);
            folders.insert(path);
        }
        EXPECT_EQ(files, 128u);
        EXPECT_EQ(folders.size(), 1u) << "the later cluster was listed as a folder of its own";
    }
}

TEST_F(DeepFatTest, EntryTestRejectsOutOfRangeDatesAndLowerCaseShortNames) {
    auto ok = ShortEntry("REPORT  TXT", 0x20, 10, 100);
    EXPECT_TRUE(IsFatDirectoryEntry(ok.bytes, 32, 0));
    auto early = ShortEntry("REPORT  TXT", 0x20, 10, 100, ((1989 - 1980) << 9) | (12 << 5) | 31);
    EXPECT_FALSE(IsFatDirectoryEntry(early.bytes, 32, 0));
    auto late = ShortEntry("REPORT  TXT", 0x20, 10, 100, ((2050 - 1980) << 9) | (1 << 5) | 2);
    EXPECT_FALSE(IsFatDirectoryEntry(late.bytes, 32, 0));
    auto lower = ShortEntry("Report  TXT", 0x20, 10, 100);
    EXPECT_FALSE(IsFatDirectoryEntry(lower.bytes, 32, 0));
    // A sector holding a bad entry fails as a whole.
    std::vector<Entry> entries{ok, early};
    EXPECT_FALSE(IsFatDirectorySector(SectorOf(entries).data(), 512));
    entries.pop_back();
    EXPECT_TRUE(IsFatDirectorySector(SectorOf(entries).data(), 512));
    // A file of size 0 with a cluster is not plausible; a ".." entry never passes.
    EXPECT_FALSE(IsFatDirectoryEntry(ShortEntry("EMPTY   TXT", 0x20, 10, 0).bytes, 32, 0));
    EXPECT_FALSE(IsFatDirectoryEntry(ShortEntry("..         ", 0x10, 10, 0).bytes, 32, 0));
    // Long-name runs must end at their own short entry.
    auto lfn = LongEntries("A long file name.txt", "ALONGF~1TXT");
    std::vector<Entry> run{lfn[0], lfn[1], ShortEntry("OTHER   TXT", 0x20, 5, 5)};
    EXPECT_FALSE(IsFatDirectorySector(SectorOf(run).data(), 512));
    run.back() = ShortEntry("ALONGF~1TXT", 0x20, 5, 5);
    EXPECT_TRUE(IsFatDirectorySector(SectorOf(run).data(), 512));
    // The end of a file's last cluster: a few bytes, then zeros. A long-name
    // piece cut off by the end of the folder, or a live folder without a
    // cluster or a written date, is no entry.
    run.pop_back();
    EXPECT_FALSE(IsFatDirectorySector(SectorOf(run).data(), 512));
    auto folder = ShortEntry("PHOTOS     ", 0x10, 7, 0);
    EXPECT_TRUE(IsFatDirectorySector(SectorOf({folder}).data(), 512));
    EXPECT_FALSE(IsFatDirectorySector(SectorOf({ShortEntry("PHOTOS     ", 0x10, 0, 0)}).data(), 512));
    std::memset(folder.bytes + 22, 0, 4);
    EXPECT_FALSE(IsFatDirectorySector(SectorOf({folder}).data(), 512));
}

TEST_F(DeepFatTest, MemoryStaysBoundedOnEndlessDirectoryLikeSectors) {
    auto image = MakeImage(false);
    CProfessionalFatRecovery engine;
    FatDeepLimits limits;
    limits.maxStoredBytes = 64 * 512;
    limits.maxOrphans = 50;
    limits.maxFragments = 10;
    limits.maxSightings = 20;
    limits.maxGuesses = 4;
    engine.SetLimits(limits);
    ASSERT_EQ(OpenOnImage(engine, image, 3), 0);
    ASSERT_EQ(engine.StartScanLog(nullptr), 0);
    std::mt19937 rng(7);
    for (int i = 0; i < 2000; ++i) {
        // Directory starts at random places with random clusters, each with a
        // file and an open long name; and plain directory sectors.
        uint32_t cluster = 3 + rng() % 100000;
        auto start = DotPair(cluster, 0);
        start.push_back(ShortEntry("X       DAT", 0x20, 9, 9));
        for (int k = 0; k < 12; ++k) start.push_back(ShortEntry("Y       DAT", 0x20, 9, 9));
        auto lfn = LongEntries("open name that never ends.dat", "OPENNA~1DAT");
        start.push_back(lfn[0]);
        engine.OnDirectoryStart(SectorOf(start).data(), 100000 + static_cast<uint64_t>(rng() % 100000000));
        std::vector<Entry> plain{ShortEntry("Z       DAT", 0x20, 9, 9)};
        engine.OnDirectorySector(SectorOf(plain).data(), 300000000 + static_cast<uint64_t>(i) * 3);
        ASSERT_LE(engine.StoredSectorCount(), 64u);
        ASSERT_LE(engine.OrphanCount(), 50u);
        ASSERT_LE(engine.FragmentCount(), 10u);
        ASSERT_LE(engine.SightingCount(), 20u);
        ASSERT_LE(engine.Guesses().size(), 4u);
    }
    EXPECT_GT(engine.DroppedItems(), 0u);
    EXPECT_EQ(engine.Consolidate(), 0);
}

// A file whose cluster can be read only in part is not recovered at all:
// closing the gap with the next cluster's bytes would shift the rest of it.
TEST_F(DeepFatTest, ClusterReadOnlyInPartIsCopiedWithZerosAndCounted) {
    const std::filesystem::path dir = testkit::RealImagesDir();
    if (dir.empty() || !std::filesystem::exists(dir / "6-fat-undel.dd")) GTEST_SKIP() << "no public images";
    const std::filesystem::path image = dir / "6-fat-undel.dd";
    const std::string hash = testkit::FileSha256(image);
    CProfessionalRecovery scan;
    ASSERT_EQ(OpenOnImage(scan, image, 7), 0);
    ASSERT_EQ(scan.Scan(nullptr), 0);
    CProfessionalFatRecovery& engine = scan.DeepFat();
    const FoundItemRecord* chosen = nullptr;
    const std::vector<FoundItemRecord> records = AllRecords(engine);
    for (const FoundItemRecord& r : records)
        if (!r.IsFolder() && r.size > r.clusterBytes && r.clusterBytes >= 1024 && r.key >= 2) chosen = &r;
    ASSERT_NE(chosen, nullptr);
    const uint64_t clusterSectors = chosen->clusterBytes / 512;
    const uint64_t second =
        chosen->partitionStart + chosen->dataStart + (chosen->key - 2) * clusterSectors + 1;

    EXPECT_EQ(engine.RecoverItem(*chosen, dir_ / "whole", 0), 0);
    EXPECT_EQ(engine.UnreadableSectorsOfLastCopy(), 0u);
    {
        testkit::ScopedFaults faults;
        faults.Error(image, second, second);
        EXPECT_EQ(engine.RecoverItem(*chosen, dir_ / "cut", 0), 0) << chosen->Name();
        EXPECT_EQ(engine.UnreadableSectorsOfLastCopy(), 1u);
    }
    // Whole but for the one sector, which is zeros.
    std::vector<uint8_t> expected = testkit::ReadFile(dir_ / "whole");
    const size_t at =
        (second - (chosen->partitionStart + chosen->dataStart + (chosen->key - 2) * clusterSectors)) * 512;
    ASSERT_LT(at, expected.size());
    std::fill(expected.begin() + at, expected.begin() + std::min(expected.size(), at + 512), 0);
    EXPECT_EQ(testkit::ReadFile(dir_ / "cut"), expected);
    EXPECT_EQ(testkit::FileSha256(image), hash);
}

}  // namespace
}  // namespace sorvane
