#include "results/scan_resume_store.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>

#include "platform/volume_registry.h"
#include "results/scan_log.h"
#include "results/target_fingerprint.h"
#include "tests/testkit/testkit.h"

namespace sorvane {
namespace {

namespace fs = std::filesystem;

// Volume keys that no volume registry entry has: their free space is 0.
constexpr uint32_t kUnknownVolume = 4000;

void Touch(const fs::path& path) { std::ofstream(path) << "data"; }

std::vector<uint8_t> Table(uint64_t counter, const std::vector<ResumeRecord>& records) {
    std::vector<uint8_t> bytes(8);
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<uint8_t>(counter >> (8 * i));
    for (const auto& r : records) {
        uint8_t raw[kResumeRecordSize];
        EXPECT_TRUE(EncodeResumeRecord(r, raw));
        bytes.insert(bytes.end(), raw, raw + kResumeRecordSize);
    }
    return bytes;
}

ResumeRecord PartitionRecord(uint64_t start, uint64_t freeBytes, const std::string& folder) {
    ResumeRecord r;
    r.driveIndex = 1;
    r.rangeStart = start;
    r.rangeLength = 1000;
    r.runStart = 10;
    r.freeBytes = freeBytes;
    r.scanFolder = folder;
    return r;
}

class ResumeStoreTest : public ::testing::Test {
  protected:
    testkit::TempDir dir_;
    fs::path base_ = dir_.Path() / "ScanLog";
    std::string Folder(int n) const { return (base_ / std::to_string(n)).string() + "/"; }
    void SetUp() override { fs::create_directories(base_); }
};

TEST_F(ResumeStoreTest, TableRoundTripsWithTheStoredLayout) {
    fs::path image = dir_ / "card.img";
    Touch(image);
    {
        CScanResumeStore store(base_);
        EXPECT_EQ(store.ScanCounter(), 0u);
        fs::path first = store.NewScanFolder();
        EXPECT_EQ(first, fs::path(Folder(1)));
        ASSERT_EQ(store.WriteProgress(0, kImageDriveIndex, 0, 8192, 100, 50, 7, 1234, 42, first, image), 0);
        fs::path second = store.NewScanFolder();
        ASSERT_EQ(store.WriteProgress(kUnknownVolume, 2, 2048, 4096, 1, 2, 3, 4, 5, second, {}), 0);
    }
    auto bytes = testkit::ReadFile(base_ / "config");
    ASSERT_EQ(bytes.size(), 8u + 2 * 1120);
    EXPECT_EQ(bytes[0], 2);    // the scan counter
    EXPECT_EQ(bytes[8], 128);  // an image's drive index
    // The scan folder as UTF-16 at offset 600 of the record.
    std::string folder = Folder(1);
    for (size_t i = 0; i < folder.size(); ++i) {
        ASSERT_EQ(bytes[8 + 600 + 2 * i], static_cast<uint8_t>(folder[i]));
        ASSERT_EQ(bytes[8 + 600 + 2 * i + 1], 0);
    }
    EXPECT_FALSE(fs::exists(base_ / "config.tmp"));

    CScanResumeStore again(base_);
    EXPECT_EQ(again.ScanCounter(), 2u);
    auto records = again.Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].imagePath, image.string());
    EXPECT_NE(records[0].imageTime, 0u);
    EXPECT_EQ(records[0].runStart, 100u);
    EXPECT_EQ(records[0].runLength, 50u);
    EXPECT_EQ(records[0].runPosition, 7u);
    EXPECT_EQ(records[0].sectorsDone, 1234u);
    EXPECT_EQ(records[0].filesFound, 42u);
    EXPECT_EQ(records[1].driveIndex, 2u);
    EXPECT_EQ(records[1].rangeStart, 2048u);
    EXPECT_EQ(records[1].scanFolder, Folder(2));
    EXPECT_TRUE(records[1].imagePath.empty());
}

TEST_F(ResumeStoreTest, MissingShortOrTornTablesLoadWhatTheyHold) {
    CScanResumeStore empty(base_);
    EXPECT_EQ(empty.Load(), 87);
    testkit::WriteFile(base_ / "config", {1, 2, 3});
    EXPECT_EQ(empty.Load(), 87);
    EXPECT_EQ(empty.ScanCounter(), 0u);

    auto bytes = Table(9, {PartitionRecord(1, 0, Folder(9)), PartitionRecord(2, 0, Folder(8))});
    bytes.resize(8 + 1120 + 620);  // the second record torn
    testkit::WriteFile(base_ / "config", bytes);
    EXPECT_EQ(empty.Load(), 0);
    EXPECT_EQ(empty.ScanCounter(), 9u);
    ASSERT_EQ(empty.Records().size(), 1u);
    EXPECT_EQ(empty.Records()[0].scanFolder, Folder(9));
}

TEST_F(ResumeStoreTest, TemporaryTableIsPromotedWhenTheTableIsMissing) {
    testkit::WriteFile(base_ / "config.tmp", Table(7, {PartitionRecord(63, 0, Folder(7))}));
    CScanResumeStore store(base_);
    EXPECT_EQ(store.ScanCounter(), 7u);
    EXPECT_EQ(store.Records().size(), 1u);
    EXPECT_TRUE(fs::exists(base_ / "config"));
    EXPECT_FALSE(fs::exists(base_ / "config.tmp"));

    // Next to a table, a temporary one is a save that never finished: ignored.
    testkit::WriteFile(base_ / "config.tmp", Table(99, {}));
    EXPECT_EQ(store.Load(), 0);
    EXPECT_EQ(store.ScanCounter(), 7u);
}

TEST_F(ResumeStoreTest, FailedSaveKeepsThePreviousTable) {
    CScanResumeStore store(base_);
    store.NewScanFolder();
    ASSERT_EQ(store.Save(), 0);
    auto before = testkit::ReadFile(base_ / "config");
    // A folder where "config.tmp" must go makes its write fail.
    fs::create_directory(base_ / "config.tmp");
    store.NewScanFolder();
    EXPECT_NE(store.Save(), 0);
    EXPECT_EQ(testkit::ReadFile(base_ / "config"), before);
    fs::remove(base_ / "config.tmp");
    ASSERT_EQ(store.Save(), 0);
    EXPECT_EQ(CScanResumeStore(base_).ScanCounter(), 2u);
}

TEST_F(ResumeStoreTest, MatchingPartitionRecordResumesItsFolder) {
    testkit::WriteFile(base_ / "config", Table(5, {PartitionRecord(2048, 0, Folder(4))}));
    CScanResumeStore store(base_);
    ResumeRecord found;
    ASSERT_TRUE(store.FindForPartition(1, 2048, 1000, kUnknownVolume, 0, found));
    EXPECT_EQ(found.runStart, 10u);
    EXPECT_TRUE(store.IsResuming());
    EXPECT_EQ(store.CurrentScanFolder(), fs::path(Folder(4)));

    // A different range is not this record: the store stops resuming.
    EXPECT_FALSE(store.FindForPartition(1, 4096, 1000, kUnknownVolume, 0, found));
    EXPECT_FALSE(store.IsResuming());
    EXPECT_EQ(store.CurrentScanFolder(), fs::path(Folder(5)));
    EXPECT_EQ(store.Records().size(), 1u);

    // A new scan folder ends resuming too.
    ASSERT_TRUE(store.FindForPartition(1, 2048, 1000, kUnknownVolume, 0, found));
    EXPECT_EQ(store.NewScanFolder(), fs::path(Folder(6)));
    EXPECT_FALSE(store.IsResuming());
    EXPECT_EQ(store.CurrentScanFolder(), fs::path(Folder(6)));
}

TEST_F(ResumeStoreTest, ChangedFreeSpaceMakesTheRecordStaleAndDeletesItsFolder) {
    fs::create_directories(base_ / "4");
    Touch(base_ / "4" / "Pro_Fat_2048_20261279 5");
    // Stored with free space the (unmounted) volume does not have now.
    testkit::WriteFile(base_ / "config", Table(5, {PartitionRecord(2048, 123456, Folder(4))}));
    CScanResumeStore store(base_);
    ResumeRecord found;
    EXPECT_FALSE(store.FindForPartition(1, 2048, 1000, kUnknownVolume, 0, found));
    EXPECT_FALSE(fs::exists(base_ / "4"));
    EXPECT_TRUE(store.Records().empty());
    EXPECT_FALSE(store.IsResuming());
}

// Two disks of one layout take the same number in turn: each finds its own
// scan by the fingerprint its folder keeps, and neither deletes the other's,
// neither at the lookup nor when its progress is written.
TEST_F(ResumeStoreTest, AnotherDisksScanOfTheSameRangeIsKept) {
    fs::create_directories(base_ / "3");
    fs::create_directories(base_ / "4");
    ASSERT_EQ(SaveTargetFingerprint(base_ / "3", 111), 0);
    ASSERT_EQ(SaveTargetFingerprint(base_ / "4", 222), 0);
    // Disk 111's record also holds a free space the volume does not have now:
    // were it taken for this disk's, it would be deleted as stale.
    testkit::WriteFile(base_ / "config", Table(5, {PartitionRecord(2048, 123456, Folder(3)),
                                                   PartitionRecord(2048, 0, Folder(4))}));
    CScanResumeStore store(base_);
    ResumeRecord found;
    ASSERT_TRUE(store.FindForPartition(1, 2048, 1000, kUnknownVolume, 222, found));
    EXPECT_EQ(store.CurrentScanFolder(), fs::path(Folder(4)));
    EXPECT_TRUE(fs::exists(base_ / "3")) << "the other disk's scan is kept";

    // A third disk of the layout: nothing to resume, and its own scan is added.
    EXPECT_FALSE(store.FindForPartition(1, 2048, 1000, kUnknownVolume, 333, found));
    const fs::path fresh = store.NewScanFolder();
    ASSERT_EQ(store.WriteProgress(kUnknownVolume, 1, 2048, 1000, 0, 1000, 5, 5, 0, fresh, {}), 0);
    ASSERT_EQ(store.Records().size(), 3u);
    EXPECT_TRUE(fs::exists(base_ / "3"));
    EXPECT_TRUE(fs::exists(base_ / "4"));
}

TEST_F(ResumeStoreTest, ChangedImageTimeMakesTheRecordStaleAndDeletesItsFolder) {
    fs::path image = dir_ / "disk.img";
    Touch(image);
    CScanResumeStore store(base_);
    fs::path folder = store.NewScanFolder();
    fs::create_directories(folder);
    Touch(folder / "File_Type_0_2026127 9 5");
    ASSERT_EQ(store.WriteProgress(0, kImageDriveIndex, 0, 100, 1, 2, 3, 4, 5, folder, image), 0);

    ResumeRecord found;
    ASSERT_TRUE(store.FindForImage(image, found));
    EXPECT_EQ(found.sectorsDone, 4u);
    EXPECT_EQ(store.CurrentScanFolder(), folder);
    // The image path is matched exactly.
    EXPECT_FALSE(store.FindForImage(dir_ / "DISK.img", found));
    EXPECT_TRUE(fs::exists(folder));

    fs::last_write_time(image, fs::last_write_time(image) + std::chrono::seconds(3));
    EXPECT_FALSE(store.FindForImage(image, found));
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_TRUE(store.Records().empty());
}

TEST_F(ResumeStoreTest, WriteProgressUpdatesTheRecordAndNeverDeletesTheScansFolder) {
    fs::path image = dir_ / "disk.img";
    Touch(image);
    CScanResumeStore store(base_);
    fs::path folder = store.NewScanFolder();
    fs::create_directories(folder);
    Touch(folder / "Pro_Ntfs_0_2026127 9 5");
    ASSERT_EQ(store.WriteProgress(0, kImageDriveIndex, 0, 100, 1, 2, 3, 4, 5, folder, image), 0);
    ASSERT_EQ(store.WriteProgress(0, kImageDriveIndex, 0, 100, 6, 7, 8, 9, 10, folder, image), 0);
    ASSERT_EQ(store.Records().size(), 1u);
    EXPECT_EQ(store.Records()[0].sectorsDone, 9u);

    // The image changed while it was scanned: the record is brought up to date,
    // and the results just written stay.
    fs::last_write_time(image, fs::last_write_time(image) + std::chrono::seconds(3));
    ASSERT_EQ(store.WriteProgress(0, kImageDriveIndex, 0, 100, 11, 12, 13, 14, 15, folder, image), 0);
    EXPECT_TRUE(fs::exists(folder / "Pro_Ntfs_0_2026127 9 5"));
    ASSERT_EQ(store.Records().size(), 1u);
    ResumeRecord found;
    ASSERT_TRUE(store.FindForImage(image, found));
    EXPECT_EQ(found.filesFound, 15u);

    // A path that cannot be stored in 260 UTF-16 units is refused.
    EXPECT_EQ(
        store.WriteProgress(0, kImageDriveIndex, 0, 100, 1, 2, 3, 4, 5, folder, dir_ / std::string(300, 'x')),
        206);
}

TEST_F(ResumeStoreTest, NewScanNumberWithAFolderReusesTheNumberAfterDeletingIt) {
    testkit::WriteFile(base_ / "config", Table(3, {PartitionRecord(1, 0, Folder(4))}));
    fs::create_directories(base_ / "4");
    Touch(base_ / "4" / "Fast_63_20261279 5");
    CScanResumeStore store(base_);
    EXPECT_EQ(store.NewScanFolder(), fs::path(Folder(4)));
    EXPECT_EQ(store.ScanCounter(), 4u);
    EXPECT_FALSE(fs::exists(base_ / "4"));
    EXPECT_TRUE(store.Records().empty());

    // An unused number is given back; the next save writes the counter.
    store.DecrementScanCounter();
    ASSERT_EQ(store.Save(), 0);
    EXPECT_EQ(CScanResumeStore(base_).ScanCounter(), 3u);
}

TEST_F(ResumeStoreTest, OnlyFoldersInsideTheBaseFolderAreEverDeleted) {
    fs::path outside = dir_ / "home-user";
    fs::create_directories(outside / "Photos");
    Touch(outside / "Photos" / "wedding.jpg");
    fs::create_directories(base_ / "2");
    Touch(base_ / "2" / "keep");
    if (!testkit::MakeLink(outside, base_ / "7")) GTEST_SKIP() << "this system cannot make links";
    // A damaged or hostile table naming folders that are not scan folders.
    testkit::WriteFile(base_ / "config",
                       Table(9, {PartitionRecord(1, 555, outside.string() + "/"),
                                 PartitionRecord(2, 555, base_.string() + "/"),
                                 PartitionRecord(3, 555, (base_ / "2" / ".." / ".." / "home-user").string()),
                                 PartitionRecord(4, 555, Folder(7))}));
    CScanResumeStore store(base_);
    ResumeRecord found;
    for (uint64_t start = 1; start <= 4; ++start)
        EXPECT_FALSE(store.FindForPartition(1, start, 1000, kUnknownVolume, 0, found));
    EXPECT_TRUE(store.Records().empty());
    EXPECT_TRUE(fs::exists(outside / "Photos" / "wedding.jpg"));
    EXPECT_TRUE(fs::exists(base_ / "2" / "keep"));
    EXPECT_TRUE(fs::exists(base_ / "config"));

    EXPECT_EQ(store.DeleteScan(outside), 5);
    EXPECT_EQ(store.DeleteScan(base_), 5);
    EXPECT_EQ(store.DeleteScan(base_ / "2" / ".." / ".." / "home-user"), 5);
    EXPECT_EQ(store.DeleteScan(base_ / "7"), 5);
    EXPECT_TRUE(fs::exists(outside / "Photos" / "wedding.jpg"));
    EXPECT_TRUE(fs::is_symlink(base_ / "7"));

    // A real scan folder goes, with or without its trailing separator.
    EXPECT_EQ(store.DeleteScan(base_ / "2"), 0);
    EXPECT_FALSE(fs::exists(base_ / "2"));
}

TEST_F(ResumeStoreTest, FindFileInFolderTakesOnlyALogNamedAsTheEnginesNameThem) {
    fs::path folder = base_ / "3";
    fs::create_directories(folder);
    for (const char* name : {"Pro_Fat_2048_20261279 5_Relation", ".Pro_Fat_hidden", "Pro_Fat_2048_20261279 5",
                             "Pro_Fat_2048_20261279 5_DirInfo", "File_Type_2048_20261279 5",
                             "my Fast_ notes.txt", "Fast_notes.txt"})
        Touch(folder / name);
    // Where links cannot be made (Windows without the right), the other cases still run.
    std::error_code linkError;
    fs::create_symlink(dir_ / "elsewhere", folder / "Fast_0_20261279 5", linkError);
    CScanResumeStore store(base_);
    std::string name;
    ASSERT_EQ(store.FindFileInFolder("Pro_Fat_", folder, name), 0);
    EXPECT_EQ(name, "Pro_Fat_2048_20261279 5");
    ASSERT_EQ(store.FindFileInFolder("File_Type_", folder, name), 0);
    EXPECT_EQ(name, "File_Type_2048_20261279 5");
    EXPECT_EQ(store.FindFileInFolder("Type_", folder, name), 2) << "a name holding the prefix is not a log";
    EXPECT_EQ(store.FindFileInFolder("Fast_", folder, name), 2) << "neither a user's file nor a link";
    EXPECT_EQ(store.FindFileInFolder("Pro_Ntfs_", folder, name), 2);
    EXPECT_TRUE(name.empty());

    EXPECT_TRUE(IsLogFileName("Fast_0_2026127 9 5", "Fast_"));
    EXPECT_FALSE(IsLogFileName("Fast__2026", "Fast_"));
    EXPECT_FALSE(IsLogFileName("Fast_12", "Fast_"));
    EXPECT_FALSE(IsLogFileName("xFast_1_2", "Fast_"));
    EXPECT_FALSE(IsLogFileName("Fast_1_2_Relation", "Fast_"));
}

TEST_F(ResumeStoreTest, ARecordNamingAFolderOutsideTheStoreIsDroppedAndNeverWritten) {
    fs::path image = dir_ / "card.img";
    Touch(image);
    // A damaged or foreign table: the scan folder is a user's folder holding
    // a file whose name contains a log's prefix.
    fs::path victim = dir_ / "Documents";
    fs::create_directories(victim);
    Touch(victim / "Fast_0_2026 budget.xls");
    fs::create_directories(base_ / "7");
    std::vector<fs::path> folders{victim, base_ / "7" / ".." / ".." / "Documents"};
    // Where links cannot be made (Windows without the right), the other spellings still run.
    std::error_code linkError;
    fs::create_directory_symlink(victim, base_ / "8", linkError);
    if (!linkError) folders.push_back(base_ / "8");
    for (const fs::path& folder : folders) {
        {
            CScanResumeStore writer(base_);
            ASSERT_EQ(writer.WriteProgress(0, kImageDriveIndex, 0, 100, 1, 2, 3, 4, 5, folder, image), 0);
        }
        CScanResumeStore store(base_);
        ResumeRecord found;
        EXPECT_FALSE(store.FindForImage(image, found)) << folder;
        EXPECT_FALSE(store.IsResuming());
        EXPECT_TRUE(store.Records().empty()) << "the record is dropped";
        EXPECT_NE(store.CurrentScanFolder().parent_path().parent_path(), victim);
        EXPECT_TRUE(CScanResumeStore(base_).Records().empty()) << "and the drop is saved";
    }
    EXPECT_EQ(testkit::ReadFile(victim / "Fast_0_2026 budget.xls").size(), 4u);
    EXPECT_TRUE(fs::exists(victim));

    // The store's own numbered folder is still followed.
    {
        CScanResumeStore writer(base_);
        ASSERT_EQ(writer.WriteProgress(0, kImageDriveIndex, 0, 100, 1, 2, 3, 4, 5, base_ / "7", image), 0);
    }
    CScanResumeStore store(base_);
    ResumeRecord found;
    EXPECT_TRUE(store.FindForImage(image, found));
}

TEST_F(ResumeStoreTest, AnImageIsFoundHoweverItsPathIsSpelt) {
    fs::create_directories(dir_ / "cards");
    fs::path image = dir_ / "cards" / "card.img";
    Touch(image);
    {
        CScanResumeStore store(base_);
        fs::path folder = store.NewScanFolder();
        ASSERT_EQ(store.WriteProgress(0, kImageDriveIndex, 0, 100, 1, 2, 3, 4, 5, folder, image), 0);
    }
    const fs::path previous = fs::current_path();
    fs::current_path(dir_ / "cards");
    for (const fs::path& spelling : {fs::path("card.img"), fs::path("./card.img"), dir_ / "cards//card.img",
                                     dir_ / "cards" / ".." / "cards" / "card.img"}) {
        CScanResumeStore store(base_);
        ResumeRecord found;
        EXPECT_TRUE(store.FindForImage(spelling, found)) << spelling;
    }
    fs::current_path(previous);
}

TEST(ResumeStoreInstance, FollowsTheDataFolderAndPlacesLogsInTheCurrentScanFolder) {
    testkit::TempDir dir;
    const char* previous = std::getenv("SORVANE_DATA_DIR");
    std::string saved = previous ? previous : "";
    testkit::SetEnv("SORVANE_DATA_DIR", dir.Path());
    CScanResumeStore::ResetInstanceForTests();
    {
        CScanResumeStore& store = CScanResumeStore::Instance();
        EXPECT_EQ(store.BaseFolder(), dir / "ScanLog");
        EXPECT_EQ(&store, &CScanResumeStore::Instance());
        fs::path folder = store.NewScanFolder();
        CScanLog log;
        ASSERT_EQ(log.Open("Fast_0_20261279 5"), 0);
        EXPECT_TRUE(fs::is_regular_file(folder / "Fast_0_20261279 5"));
        EXPECT_TRUE(fs::is_regular_file(dir / "ScanLog" / "1" / "Fast_0_20261279 5_Relation"));
    }
    CScanResumeStore::ResetInstanceForTests();
    if (previous)
        testkit::SetEnv("SORVANE_DATA_DIR", saved);
    else
        testkit::UnsetEnv("SORVANE_DATA_DIR");
}

}  // namespace
}  // namespace sorvane
