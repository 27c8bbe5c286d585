#include "results/kept_scans.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <optional>

#include "results/scan_checkpoint.h"
#include "tests/testkit/testkit.h"

namespace sorvane {
namespace {

namespace fs = std::filesystem;

class KeptScansTest : public ::testing::Test {
  protected:
    void SetUp() override { fs::create_directories(base_); }

    // A scan folder holding a log file and, when `finished` is set, a checkpoint saying so.
    std::string MakeScanFolder(int number, std::optional<bool> finished) {
        const fs::path folder = base_ / std::to_string(number);
        fs::create_directories(folder);
        std::ofstream(folder / "FAT_0_1") << "records";
        if (finished) {
            CheckpointWriter w;
            w.U32(1);
            w.U64(0);
            w.U64(1000);
            w.U32(512);
            w.Bool(*finished);
            EXPECT_EQ(SaveCheckpointFile(folder, w.Data()), 0);
        }
        return folder.string() + "/";
    }

    // Writes `records` as the store's table and loads a store on it.
    std::unique_ptr<CScanResumeStore> StoreWith(const std::vector<ResumeRecord>& records) {
        std::vector<uint8_t> bytes(kResumeTableHeaderSize);
        bytes[0] = 9;  // the scan counter
        for (const ResumeRecord& r : records) {
            uint8_t raw[kResumeRecordSize];
            EXPECT_TRUE(EncodeResumeRecord(r, raw));
            bytes.insert(bytes.end(), raw, raw + kResumeRecordSize);
        }
        testkit::WriteFile(base_ / "config", bytes);
        return std::make_unique<CScanResumeStore>(base_);
    }

    static ResumeRecord Record(const std::string& folder, uint64_t found, const std::string& image = {}) {
        ResumeRecord r;
        r.driveIndex = image.empty() ? 2 : kImageDriveIndex;
        r.rangeStart = image.empty() ? 2048 : 0;
        r.rangeLength = 1000;
        r.filesFound = found;
        r.imagePath = image;
        r.scanFolder = folder;
        return r;
    }

    testkit::TempDir dir_;
    fs::path base_ = dir_.Path() / "ScanLog";
};

TEST_F(KeptScansTest, ListsTheStoresOwnScansWithWhatTheyFound) {
    const std::string card = (dir_.Path() / "card.img").string();
    auto store = StoreWith({Record(MakeScanFolder(3, true), 120, card), Record(MakeScanFolder(5, false), 7),
                            Record(MakeScanFolder(6, std::nullopt), 1),
                            // Listed in the table, but its folder is gone.
                            Record((base_ / "8").string() + "/", 4)});
    const std::vector<KeptScan> scans = ListKeptScans(*store);
    ASSERT_EQ(scans.size(), 3u);
    std::map<uint64_t, KeptScan> byId;
    for (const KeptScan& scan : scans) byId[scan.id] = scan;
    ASSERT_EQ(byId.count(3), 1u);
    EXPECT_TRUE(byId[3].image);
    EXPECT_EQ(byId[3].TargetName(), card);
    EXPECT_EQ(byId[3].filesFound, 120u);
    EXPECT_TRUE(byId[3].finished);
    EXPECT_TRUE(byId[3].deep);
    EXPECT_GT(byId[3].when, 1600000000) << "the time of its last write";
    EXPECT_FALSE(byId[5].finished) << "the checkpoint says it stopped early";
    EXPECT_FALSE(byId[6].finished) << "no checkpoint: it never got that far";
    EXPECT_EQ(byId[5].TargetName(), "disk 2, sectors 2048+1000");
    KeptScan found;
    EXPECT_TRUE(FindKeptScan(*store, 5, found));
    EXPECT_EQ(found.folder, fs::weakly_canonical(base_ / "5"));
    EXPECT_FALSE(FindKeptScan(*store, 8, found));
}

TEST_F(KeptScansTest, DeletesOnlyFoldersInsideTheScanLogFolder) {
    // A crafted table: one record names a folder of the person's own outside the
    // scan-log folder, another a link inside it that leads out.
    const fs::path outside = dir_.Path() / "Photos" / "4";
    fs::create_directories(outside);
    testkit::WriteFile(outside / "wedding.jpg", {0xFF, 0xD8, 0xFF, 0xE0});
    const std::string before = testkit::FileSha256(outside / "wedding.jpg");
    // Some systems (Windows without the right) cannot make links: the rest still holds there.
    const bool linked = testkit::MakeLink(outside, base_ / "7");
    std::vector<ResumeRecord> records = {Record(outside.string() + "/", 1),
                                         Record(MakeScanFolder(2, true), 3)};
    if (linked) records.push_back(Record((base_ / "7").string() + "/", 1));
    auto store = StoreWith(records);

    const std::vector<KeptScan> scans = ListKeptScans(*store);
    ASSERT_EQ(scans.size(), 1u) << "neither the outside folder nor the link is listed";
    EXPECT_EQ(scans[0].id, 2u);

    EXPECT_EQ(DeleteKeptScan(*store, 4), 5) << "a folder outside is refused";
    if (linked) {
        EXPECT_EQ(DeleteKeptScan(*store, 7), 5) << "a link leading out is refused";
    }
    ASSERT_TRUE(fs::exists(outside / "wedding.jpg"));
    EXPECT_EQ(testkit::FileSha256(outside / "wedding.jpg"), before);

    EXPECT_EQ(DeleteKeptScan(*store, 2), 0);
    EXPECT_FALSE(fs::exists(base_ / "2"));
    EXPECT_EQ(DeleteKeptScan(*store, 2), 2) << "gone from the table too";
    // The table on disk says the same to the next store.
    CScanResumeStore reloaded(base_);
    EXPECT_TRUE(ListKeptScans(reloaded).empty());
    EXPECT_TRUE(reloaded.Records().empty()) << "the refused records are dropped, their folders kept";
}

TEST_F(KeptScansTest, AScanMovedToItsDisksNewNumberIsTheOneItsRangeContinues) {
    // Scan 3 was of disk 2; scan 4 of another disk, then number 0, of the same layout.
    ResumeRecord stranger = Record(MakeScanFolder(4, true), 9);
    stranger.driveIndex = 0;
    auto store =
        StoreWith({Record(MakeScanFolder(3, true), 5), stranger, Record(MakeScanFolder(6, std::nullopt), 1)});
    KeptScan scan;
    ASSERT_TRUE(FindKeptScan(*store, 3, scan));
    int drive = -1;
    EXPECT_EQ(CheckKeptPartition(scan, drive), KeptTarget::kUnknown) << "no fingerprint kept: not judged";
    EXPECT_EQ(drive, -1);

    ASSERT_EQ(MoveKeptScanToDrive(*store, scan, 0), 0);
    CScanResumeStore reloaded(base_);
    ResumeRecord found;
    ASSERT_TRUE(reloaded.FindForPartition(0, 2048, 1000, 0, 0, found));
    // The folder as the table names it, with its closing separator.
    EXPECT_EQ(fs::path(found.scanFolder).parent_path(), base_ / "3") << "met before the other disk's scan";
    std::vector<uint8_t> bytes;
    ASSERT_EQ(LoadCheckpointFile(base_ / "3", bytes), 0);
    CheckpointReader r(bytes);
    uint32_t checkpointDrive = 9, sectorSize = 0;
    uint64_t start = 1, length = 0;
    bool finished = false;
    ASSERT_TRUE(r.U32(checkpointDrive) && r.U64(start) && r.U64(length) && r.U32(sectorSize) &&
                r.Bool(finished));
    EXPECT_EQ(checkpointDrive, 0u) << "the deep scan continues only a checkpoint of the drive it opened";
    EXPECT_EQ(start, 0u);
    EXPECT_EQ(length, 1000u);
    EXPECT_EQ(sectorSize, 512u);
    EXPECT_TRUE(finished);
    std::map<uint64_t, std::string> names;
    for (const KeptScan& kept : ListKeptScans(reloaded)) names[kept.id] = kept.TargetName();
    EXPECT_EQ(names[3], "disk 0, sectors 2048+1000");
    EXPECT_EQ(names[4], "disk 0, sectors 2048+1000") << "the other scan stays kept";

    // A scan without a checkpoint cannot be moved; its record stays as it was.
    ASSERT_TRUE(FindKeptScan(reloaded, 6, scan));
    EXPECT_NE(MoveKeptScanToDrive(reloaded, scan, 7), 0);
    ASSERT_TRUE(FindKeptScan(reloaded, 6, scan));
    EXPECT_EQ(scan.driveIndex, 2u);
}

}  // namespace
}  // namespace sorvane
