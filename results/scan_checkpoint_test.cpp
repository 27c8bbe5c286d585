#include "results/scan_checkpoint.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "platform/result_codes.h"
#include "results/scan_log.h"
#include "tests/testkit/testkit.h"

namespace sorvane {
namespace {

uint32_t Add(CScanLog& log, const std::string& name, bool folder = false, FolderKey key = 0) {
    FoundItemRecord* r = log.AppendRecord();
    r->SetName(name);
    r->isFolder = folder ? 1 : 0;
    r->key = key;
    r->clusterBytes = folder ? kFolderClusterBytes : 4096;
    r->size = name.size();
    return r->recordNumber;
}

std::vector<std::string> ChildNames(CScanLog& log, RelationKey relation) {
    std::vector<FoundItemRecord> children;
    EXPECT_EQ(log.ReadChildren(relation, children), 0);
    std::vector<std::string> names;
    for (const auto& r : children) names.push_back(r.Name());
    return names;
}

// A log filled before a checkpoint and then written on, as a scan that is
// killed some seconds after its last checkpoint leaves it.
class LogCutBack : public ::testing::Test {
  protected:
    void SetUp() override {
        CScanLog log;
        ASSERT_EQ(log.OpenIn(folder_, "Pro_Fat_0_x"), 0);
        const uint32_t dcim = Add(log, "DCIM", true, 40);
        log.AddChild(MakeRelationKey(2, 0), dcim, 40, "DCIM");
        for (int i = 0; i < 250; ++i)  // more than one write buffer
            log.AddChild(MakeRelationKey(40, 1), Add(log, "old" + std::to_string(i) + ".jpg"), 0, nullptr);
        ASSERT_EQ(CheckpointLog(log, saved_), 0);
        // After the checkpoint: files in the same folder, a new folder with
        // its own list and name entry, all flushed to the disk.
        log.AddChild(MakeRelationKey(40, 1), Add(log, "late.jpg"), 0, nullptr);
        const uint32_t extra = Add(log, "LATE", true, 77);
        log.AddChild(MakeRelationKey(2, 0), extra, 77, "LATE");
        log.AddChild(MakeRelationKey(77, 1), Add(log, "later.jpg"), 0, nullptr);
        ASSERT_EQ(log.Flush(), 0);
        ASSERT_EQ(log.Count(), 254u);
    }

    testkit::TempDir dir_;
    std::filesystem::path folder_ = dir_.Path() / "1";
    LogCheckpoint saved_;
};

TEST_F(LogCutBack, RecordsFoldersAndIndexAreAsAtTheCheckpoint) {
    EXPECT_EQ(saved_.name, "Pro_Fat_0_x");
    EXPECT_EQ(saved_.records, 251u);
    EXPECT_EQ(saved_.folders, 1u);
    ASSERT_EQ(CutLogBack(folder_, saved_), 0);

    CScanLog log;
    ASSERT_EQ(log.OpenIn(folder_, "Pro_Fat_0_x"), 0);
    EXPECT_EQ(log.Count(), 251u);
    EXPECT_EQ(std::filesystem::file_size(folder_ / "Pro_Fat_0_x"), 251u * sizeof(FoundItemRecord));
    ASSERT_EQ(log.Folders().size(), 1u);
    EXPECT_STREQ(log.Folders()[0].name, "DCIM");
    EXPECT_EQ(ChildNames(log, MakeRelationKey(2, 0)), std::vector<std::string>{"DCIM"});
    const auto inDcim = ChildNames(log, MakeRelationKey(40, 1));
    EXPECT_EQ(inDcim.size(), 250u);
    EXPECT_EQ(std::count(inDcim.begin(), inDcim.end(), "late.jpg"), 0);
    EXPECT_TRUE(ChildNames(log, MakeRelationKey(77, 1)).empty());

    // The next record takes the first number the cut freed, as in the
    // uninterrupted scan.
    EXPECT_EQ(Add(log, "again.jpg"), 252u);
}

TEST_F(LogCutBack, ATornIndexIsReplacedWhole) {
    // A kill while the index was rewritten leaves a mixture of two versions.
    testkit::WriteFile(folder_ / "Pro_Fat_0_x_Relation", {' ', '|', ' ', '4', '2', ' ', '-', ' ', '[', '9'});
    ASSERT_EQ(CutLogBack(folder_, saved_), 0);
    CScanLog log;
    ASSERT_EQ(log.OpenIn(folder_, "Pro_Fat_0_x"), 0);
    std::map<RelationKey, std::vector<uint32_t>> expected;
    CScanLog::ParseRelationText(saved_.relationText, expected);
    EXPECT_EQ(log.Children(), expected);
}

TEST_F(LogCutBack, OnlyTheLogsOwnPlainFilesAreTouched) {
    // Files shorter than the checkpoint says are not the files it describes.
    std::filesystem::resize_file(folder_ / "Pro_Fat_0_x", 100 * sizeof(FoundItemRecord));
    EXPECT_EQ(CutLogBack(folder_, saved_), kErrInvalidParameter);

    LogCheckpoint escaping = saved_;
    escaping.name = "../victim";
    EXPECT_EQ(CutLogBack(folder_, escaping), kErrInvalidName);
    escaping.name = "..";
    EXPECT_EQ(CutLogBack(folder_, escaping), kErrInvalidName);

    // A link planted in place of a log file is never followed.
    const std::filesystem::path victim = dir_.Path() / "victim.txt";
    testkit::WriteFile(victim, std::vector<uint8_t>(400000, 'v'));
    std::filesystem::remove(folder_ / "Pro_Fat_0_x");
    ASSERT_TRUE(testkit::MakeLink(victim, folder_ / "Pro_Fat_0_x"));
    EXPECT_EQ(CutLogBack(folder_, saved_), kErrAccessDenied);
    EXPECT_EQ(std::filesystem::file_size(victim), 400000u);
}

TEST(CheckpointFile, RoundTripsAndRefusesDamage) {
    testkit::TempDir dir;
    std::vector<uint8_t> payload;
    EXPECT_EQ(LoadCheckpointFile(dir.Path(), payload), kErrFileNotFound);

    CheckpointWriter w;
    w.U32(7);
    w.U64(1ull << 40);
    w.Text("Pro_Ntfs_0_x");
    w.Bool(true);
    ASSERT_EQ(SaveCheckpointFile(dir.Path(), w.Data()), 0);
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "checkpoint.tmp"));
    ASSERT_EQ(LoadCheckpointFile(dir.Path(), payload), 0);
    EXPECT_EQ(payload, w.Data());

    // A later checkpoint replaces the earlier one whole.
    CheckpointWriter later;
    later.U64(99);
    ASSERT_EQ(SaveCheckpointFile(dir.Path(), later.Data()), 0);
    ASSERT_EQ(LoadCheckpointFile(dir.Path(), payload), 0);
    EXPECT_EQ(payload, later.Data());

    const auto whole = testkit::ReadFile(dir.Path() / kCheckpointFileName);
    for (size_t at : {size_t{0}, size_t{9}, size_t{17}, whole.size() - 1}) {
        auto damaged = whole;
        damaged[at] ^= 0x40;
        EXPECT_EQ(ParseCheckpointFile(damaged, payload), kErrInvalidParameter) << "byte " << at;
        EXPECT_TRUE(payload.empty());
    }
    std::vector<uint8_t> torn(whole.begin(), whole.end() - 3);
    EXPECT_EQ(ParseCheckpointFile(torn, payload), kErrInvalidParameter);
    std::vector<uint8_t> longer = whole;
    longer.push_back(0);
    EXPECT_EQ(ParseCheckpointFile(longer, payload), kErrInvalidParameter);

    RemoveCheckpointFile(dir.Path());
    EXPECT_EQ(LoadCheckpointFile(dir.Path(), payload), kErrFileNotFound);
}

TEST(CheckpointReader, ReadsWhatWasWrittenAndFailsForGoodPastTheEnd) {
    CheckpointWriter w;
    w.U8(200);
    w.Bool(false);
    w.U32(0xDEADBEEF);
    w.I64(-5);
    w.Text("name");
    FoundItemRecord record;
    record.SetName("photo.jpg");
    record.size = 12345;
    WriteRecord(w, record);

    CheckpointReader r(w.Data());
    uint8_t u8 = 0;
    bool flag = true;
    uint32_t u32 = 0;
    int64_t i64 = 0;
    std::string text;
    FoundItemRecord back;
    ASSERT_TRUE(r.U8(u8) && r.Bool(flag) && r.U32(u32) && r.I64(i64) && r.Text(text, 10) &&
                ReadRecord(r, back));
    EXPECT_EQ(u8, 200);
    EXPECT_FALSE(flag);
    EXPECT_EQ(u32, 0xDEADBEEFu);
    EXPECT_EQ(i64, -5);
    EXPECT_EQ(text, "name");
    EXPECT_EQ(back.Name(), "photo.jpg");
    EXPECT_EQ(uint64_t{back.size}, 12345u);
    EXPECT_TRUE(r.AtEnd());
    EXPECT_FALSE(r.U8(u8));
    EXPECT_FALSE(r.Ok());

    // A length or count larger than the bytes left, or a text over its
    // limit, fails instead of allocating what the bytes claim.
    CheckpointWriter claims;
    claims.U64(1ull << 60);
    std::vector<uint8_t> bytes;
    CheckpointReader huge(claims.Data());
    EXPECT_FALSE(huge.Bytes(bytes, SIZE_MAX));
    uint64_t count = 0;
    CheckpointReader many(claims.Data());
    EXPECT_FALSE(many.Count(count, 1));
    CheckpointReader limited(w.Data());
    ASSERT_TRUE(limited.U8(u8) && limited.Bool(flag) && limited.U32(u32) && limited.I64(i64));
    EXPECT_FALSE(limited.Text(text, 3));

    // A flag byte other than 0 or 1 is damage.
    CheckpointWriter odd;
    odd.U8(2);
    CheckpointReader oddReader(odd.Data());
    EXPECT_FALSE(oddReader.Bool(flag));
}

}  // namespace
}  // namespace sorvane
