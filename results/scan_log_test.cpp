#include "results/scan_log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "results/file_categories.h"
#include "tests/testkit/testkit.h"

namespace sorvane {
namespace {

using ChildMap = std::map<RelationKey, std::vector<uint32_t>>;

// Appends one record and returns its number.
uint32_t Add(CScanLog& log, const std::string& name, bool folder = false, FolderKey key = 0,
             uint32_t contentCheck = 1) {
    FoundItemRecord* r = log.AppendRecord();
    r->SetName(name);
    r->isFolder = folder ? 1 : 0;
    r->key = key;
    r->contentCheck = contentCheck;
    r->clusterBytes = folder ? kFolderClusterBytes : 4096;
    r->size = name.size();
    return r->recordNumber;
}

std::vector<std::string> Names(const std::vector<FoundItemRecord>& list) {
    std::vector<std::string> names;
    for (const auto& r : list) names.push_back(r.Name());
    return names;
}

std::string FileText(const std::filesystem::path& path) {
    auto bytes = testkit::ReadFile(path);
    return std::string(bytes.begin(), bytes.end());
}

void Resize(const std::filesystem::path& path, uint64_t size) { std::filesystem::resize_file(path, size); }

// ---------------------------------------------------------------------------
// The relation text

TEST(RelationText, OneListRoundTripsExactly) {
    ChildMap parsed;
    CScanLog::ParseRelationText(CScanLog::FormatRelationText({{5, {1}}}), parsed);
    EXPECT_EQ(parsed, (ChildMap{{5, {1}}}));
    EXPECT_EQ(CScanLog::FormatRelationText({{5, {1}}}), " | 5 - [1]");
}

TEST(RelationText, ListsComeInKeyOrderWithChildrenInFilingOrder) {
    ChildMap children{{MakeRelationKey(100, 1), {9, 3, 7}}, {5, {2, 1}}, {UINT64_MAX, {4294967295u}}};
    std::string text = CScanLog::FormatRelationText(children);
    EXPECT_EQ(text, " | 5 - [2,1] | 4294967396 - [9,3,7] | 18446744073709551615 - [4294967295]");
    ChildMap parsed;
    CScanLog::ParseRelationText(text, parsed);
    EXPECT_EQ(parsed, children);
}

TEST(RelationText, DamagedTextYieldsWhatCanBeParsed) {
    ChildMap parsed;
    // Cut inside the second list: its completed numbers stay, the cut one goes.
    CScanLog::ParseRelationText(" | 5 - [1,2,3] | 7 - [4,5", parsed);
    EXPECT_EQ(parsed, (ChildMap{{5, {1, 2, 3}}, {7, {4}}}));

    parsed.clear();
    // A key that is no number, garbage elements, zero and numbers too large
    // for a record number are dropped; the good entries survive.
    CScanLog::ParseRelationText("junk | x - [1] | 9 - [2,a,3,,0,99999999999] | 11 -[4] | 12 - [6]] | 13 - [",
                                parsed);
    EXPECT_EQ(parsed, (ChildMap{{9, {2, 3}}, {12, {6}}}));

    parsed.clear();
    // A list whose "]" was lost ends at the next entry instead of swallowing it.
    CScanLog::ParseRelationText(" | 1 - [1,2 | 2 - [3]", parsed);
    EXPECT_EQ(parsed, (ChildMap{{1, {1}}, {2, {3}}}));

    parsed.clear();
    // A later list of the same key replaces the earlier one.
    CScanLog::ParseRelationText(" | 4 - [1] | 4 - [2,3]", parsed);
    EXPECT_EQ(parsed, (ChildMap{{4, {2, 3}}}));
}

// ---------------------------------------------------------------------------
// Writing and reopening

class ScanLogTest : public ::testing::Test {
  protected:
    testkit::TempDir dir_;
    std::filesystem::path folder_ = dir_.Path() / "3";
};

TEST_F(ScanLogTest, OpenCreatesTheFolderAndTheThreeFiles) {
    CScanLog log;
    ASSERT_EQ(log.OpenIn(folder_, "Fast_0_20261271 5"), 0);
    EXPECT_TRUE(std::filesystem::is_regular_file(folder_ / "Fast_0_20261271 5"));
    EXPECT_TRUE(std::filesystem::is_regular_file(folder_ / "Fast_0_20261271 5_Relation"));
    EXPECT_TRUE(std::filesystem::is_regular_file(folder_ / "Fast_0_20261271 5_DirInfo"));
}

TEST_F(ScanLogTest, NamesThatWouldLeaveTheFolderAreRefused) {
    CScanLog log;
    for (const char* name : {"", ".", "..", "../escape", "a/b", "a\\b"})
        EXPECT_EQ(log.OpenIn(folder_, name), 123) << name;
    EXPECT_FALSE(std::filesystem::exists(dir_.Path() / "escape"));
}

TEST_F(ScanLogTest, RecordsLandAtTheirNumberAndIndexesMatchTheFormat) {
    {
        CScanLog log;
        ASSERT_EQ(log.OpenIn(folder_, "log"), 0);
        uint32_t folder = Add(log, "Pictures", true, 100);
        log.AddChild(5, folder, 100, "Pictures");
        // 201 records: the write buffer (200) spills once before the flush.
        for (int i = 0; i < 200; ++i)
            log.AddChild(MakeRelationKey(100, 1), Add(log, "f" + std::to_string(i) + ".jpg"), 0, nullptr);
        EXPECT_EQ(log.Count(), 201u);
        ASSERT_EQ(log.Flush(), 0);
    }
    EXPECT_EQ(std::filesystem::file_size(folder_ / "log"), 201u * 346);
    std::string relation = FileText(folder_ / "log_Relation");
    EXPECT_EQ(relation.rfind(" | 5 - [1] | 4294967396 - [2,3,4,", 0), 0u) << relation.substr(0, 60);
    EXPECT_EQ(relation.back(), ']');

    auto dirInfo = testkit::ReadFile(folder_ / "log_DirInfo");
    ASSERT_EQ(dirInfo.size(), 268u);
    DirInfoEntry entry;
    std::memcpy(&entry, dirInfo.data(), sizeof entry);
    EXPECT_EQ(+entry.key, 100u);
    EXPECT_EQ(+entry.recordNumber, 1u);
    EXPECT_STREQ(entry.name, "Pictures");

    // The record with number k starts at byte (k - 1) x 346.
    auto bytes = testkit::ReadFile(folder_ / "log");
    FoundItemRecord r;
    std::memcpy(&r, bytes.data() + 150 * 346, sizeof r);
    EXPECT_EQ(+r.recordNumber, 151u);
    EXPECT_EQ(r.Name(), "f149.jpg");
}

TEST_F(ScanLogTest, ARewrittenRecordChangesInTheFileOrTheBufferAndNowhereElse) {
    CScanLog log;
    ASSERT_EQ(log.OpenIn(folder_, "log"), 0);
    for (int i = 0; i < 250; ++i) Add(log, "f" + std::to_string(i) + ".jpg");
    // Record 240 is still in the write buffer (200 records spilled once);
    // reading record 3 then spills the rest, so it is rewritten in the file.
    for (uint32_t number : {240u, 3u}) {
        FoundItemRecord r;
        if (number == 3) {
            ASSERT_EQ(log.ReadRecord(number, r), 0);
        } else {
            r.recordNumber = number;
            r.clusterBytes = 4096;
        }
        r.engineSpecific = 0x5A;
        r.SetName("renamed " + std::to_string(number));
        ASSERT_EQ(log.RewriteRecord(r), 0);
    }
    FoundItemRecord bad;
    bad.recordNumber = 251;
    EXPECT_EQ(log.RewriteRecord(bad), 87);
    bad.recordNumber = 0;
    EXPECT_EQ(log.RewriteRecord(bad), 87);
    ASSERT_EQ(log.Flush(), 0);
    EXPECT_EQ(std::filesystem::file_size(folder_ / "log"), 250u * 346);
    for (uint32_t number = 1; number <= 250; ++number) {
        FoundItemRecord r;
        ASSERT_EQ(log.ReadRecord(number, r), 0);
        EXPECT_EQ(+r.recordNumber, number);
        const bool changed = number == 3 || number == 240;
        EXPECT_EQ(r.Name(),
                  changed ? "renamed " + std::to_string(number) : "f" + std::to_string(number - 1) + ".jpg");
        EXPECT_EQ(+r.engineSpecific, changed ? 0x5Au : 0u);
    }
}

TEST_F(ScanLogTest, ReopeningListsTheSameChildrenInTheSameOrder) {
    std::vector<FoundItemRecord> before, after, rootBefore, rootAfter;
    const RelationKey docs = MakeRelationKey(40, 1);
    {
        CScanLog log;
        ASSERT_EQ(log.OpenIn(folder_, "log"), 0);
        uint32_t folder = Add(log, "docs", true, 40);
        log.AddChild(5, folder, 40, "docs");
        log.AddChild(5, Add(log, "Zeta.txt"), 0, nullptr);
        // Equal names ignoring case keep their filing order (stable sort).
        for (const char* name : {"b.txt", "A.txt", "sub", "B.TXT", "a.txt"}) {
            bool isFolder = std::string(name) == "sub";
            uint32_t n = Add(log, name, isFolder, isFolder ? 41 : 0);
            log.AddChild(docs, n, 41, isFolder ? name : nullptr);
        }
        ASSERT_EQ(log.ReadChildren(docs, before), 0);
        ASSERT_EQ(log.ReadChildren(0, rootBefore), 0);
    }  // the engine goes away; the files stay
    ASSERT_EQ(Names(before), (std::vector<std::string>{"A.txt", "a.txt", "b.txt", "B.TXT", "sub"}));
    ASSERT_EQ(Names(rootBefore), (std::vector<std::string>{"Zeta.txt", "docs"}));

    CScanLog reopened;
    ASSERT_EQ(reopened.OpenIn(folder_, "log"), 0);
    EXPECT_EQ(reopened.Count(), 7u);
    ASSERT_EQ(reopened.ReadChildren(docs, after), 0);
    ASSERT_EQ(reopened.ReadChildren(0, rootAfter), 0);
    EXPECT_EQ(Names(after), Names(before));
    EXPECT_EQ(Names(rootAfter), Names(rootBefore));
    for (size_t i = 0; i < after.size(); ++i) EXPECT_EQ(+after[i].recordNumber, +before[i].recordNumber);
    EXPECT_EQ(reopened.Folders().size(), 2u);

    // Scanning into a reopened log numbers on: every record stays where its
    // number says.
    uint32_t n = Add(reopened, "later.txt");
    EXPECT_EQ(n, 8u);
    reopened.AddChild(docs, n, 0, nullptr);
    ASSERT_EQ(reopened.Flush(), 0);
    FoundItemRecord r;
    ASSERT_EQ(reopened.ReadRecord(8, r), 0);
    EXPECT_EQ(r.Name(), "later.txt");
    ASSERT_EQ(reopened.ReadRecord(1, r), 0);
    EXPECT_EQ(r.Name(), "docs");
}

TEST_F(ScanLogTest, UnknownKeyGivesAnEmptyListAndLeavesTheIndexAlone) {
    CScanLog log;
    ASSERT_EQ(log.OpenIn(folder_, "log"), 0);
    log.AddChild(5, Add(log, "a.txt"), 0, nullptr);
    std::vector<FoundItemRecord> out;
    EXPECT_EQ(log.ReadChildren(MakeRelationKey(77, 3), out), 0);
    EXPECT_TRUE(out.empty());
    uint32_t count = 99;
    EXPECT_EQ(log.CountFilesBelow(77, 3, count), 0);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(log.Children().size(), 1u);
}

// A list moved to another level is listed and counted there, keeps no
// number twice, and stays moved once the log is reopened.
TEST_F(ScanLogTest, MovedListIsFoundAtItsNewLevelOnlyAndSurvivesReopening) {
    const RelationKey early = MakeRelationKey(9, 2), browsed = MakeRelationKey(9, 3);
    {
        CScanLog log;
        ASSERT_EQ(log.OpenIn(folder_, "log"), 0);
        const uint32_t shared = Add(log, "both.txt");
        log.AddChild(early, shared, 0, nullptr);
        log.AddChild(early, Add(log, "b.txt"), 0, nullptr);
        log.AddChild(browsed, Add(log, "a.txt"), 0, nullptr);
        log.AddChild(browsed, shared, 0, nullptr);
        log.MoveChildren(early, browsed);
        log.MoveChildren(MakeRelationKey(77, 1), browsed);  // nothing filed there: nothing changes
        ASSERT_EQ(log.Flush(), 0);
    }
    CScanLog log;
    ASSERT_EQ(log.OpenIn(folder_, "log"), 0);
    EXPECT_EQ(log.Children(), (ChildMap{{browsed, {3, 1, 2}}}));
    std::vector<FoundItemRecord> list;
    ASSERT_EQ(log.ReadChildren(browsed, list), 0);
    EXPECT_EQ(Names(list), (std::vector<std::string>{"a.txt", "b.txt", "both.txt"}));
    uint32_t count = 0;
    ASSERT_EQ(log.CountFilesBelow(9, 2, count), 0);
    EXPECT_EQ(count, 0u);
    ASSERT_EQ(log.CountFilesBelow(9, 3, count), 0);
    EXPECT_EQ(count, 3u);
    // A count can leave some files out.
    ASSERT_EQ(log.CountFilesBelow(9, 3, count, [](const FoundItemRecord& r) { return r.Name() != "a.txt"; }),
              0);
    EXPECT_EQ(count, 2u);
}

// ---------------------------------------------------------------------------
// Images whose content contradicts the extension, and searches

TEST_F(ScanLogTest, ContradictedImageIsHiddenFromListingsAndSearchesButCounted) {
    CScanLog log;
    ASSERT_EQ(log.OpenIn(folder_, "log"), 0);
    uint32_t sub = Add(log, "sub", true, 9);
    log.AddChild(5, sub, 9, "sub");
    const RelationKey inSub = MakeRelationKey(9, 1);
    log.AddChild(inSub, Add(log, "x.jpg", false, 0, 0), 0, nullptr);
    log.AddChild(inSub, Add(log, "y.JPG", false, 0, 1), 0, nullptr);
    // Only images are judged by their content; a document with 0 stays.
    log.AddChild(inSub, Add(log, "z.doc", false, 0, 0), 0, nullptr);
    log.AddChild(inSub, Add(log, "noext", false, 0, 0), 0, nullptr);

    std::vector<FoundItemRecord> list;
    ASSERT_EQ(log.ReadChildren(inSub, list), 0);
    EXPECT_EQ(Names(list), (std::vector<std::string>{"noext", "y.JPG", "z.doc"}));

    std::vector<FoundItemRecord> found;
    ASSERT_EQ(log.FindByExtension(std::string(kPhotoExtensions) + "|*.doc", found), 1);
    EXPECT_EQ(Names(found), (std::vector<std::string>{"y.JPG", "z.doc"}));

    uint32_t count = 0;
    ASSERT_EQ(log.CountFilesBelow(5, 0, count), 0);
    EXPECT_EQ(count, 4u);
    ASSERT_EQ(log.CountFilesBelow(9, 1, count), 0);
    EXPECT_EQ(count, 4u);
}

TEST_F(ScanLogTest, FileWithoutExtensionAppearsOnlyForOther) {
    CScanLog log;
    ASSERT_EQ(log.OpenIn(folder_, "log"), 0);
    for (const char* name : {"report", "trailing.", "a.jpg", "b.qqq", "c.MP3"})
        log.AddChild(5, Add(log, name), 0, nullptr);
    log.AddChild(5, Add(log, "folder.jpg", true, 8), 8, "folder.jpg");

    std::vector<FoundItemRecord> found;
    ASSERT_EQ(log.FindByExtension(AllCategoriesPattern(), found), 1);
    EXPECT_EQ(Names(found), (std::vector<std::string>{"a.jpg", "c.MP3"}));

    found.clear();
    ASSERT_EQ(log.FindByExtension("*.txt|.other", found), 1);
    EXPECT_EQ(Names(found), (std::vector<std::string>{"b.qqq", "report", "trailing."}));

    found.clear();
    ASSERT_EQ(log.FindByExtension("*.jpg", found), 1);
    EXPECT_EQ(Names(found), (std::vector<std::string>{"a.jpg"}));  // never a folder
}

// An extension that only occurs inside a list entry ("ts" in "*.mts", "jp"
// in "*.jpg") belongs to no category, so the search for other files finds it;
// the whole entries still go to their categories only.
TEST_F(ScanLogTest, ExtensionsInsideListEntriesAreOther) {
    CScanLog log;
    ASSERT_EQ(log.OpenIn(folder_, "log"), 0);
    for (const char* name : {"100.ts", "b.jp", "c.mts", "d.jpg"}) log.AddChild(5, Add(log, name), 0, nullptr);

    std::vector<FoundItemRecord> found;
    ASSERT_EQ(log.FindByExtension(".other", found), 1);
    EXPECT_EQ(Names(found), (std::vector<std::string>{"100.ts", "b.jp"}));

    found.clear();
    ASSERT_EQ(log.FindByExtension(AllCategoriesPattern() + "|.other", found), 1);
    EXPECT_EQ(Names(found), (std::vector<std::string>{"100.ts", "b.jp", "c.mts", "d.jpg"}));
}

TEST_F(ScanLogTest, SearchReportsProgressAndStopsWhenTheCallbackSaysSo) {
    CScanLog log;
    ASSERT_EQ(log.OpenIn(folder_, "log"), 0);
    // 450 records: three pieces of at most 200 records.
    for (int i = 0; i < 450; ++i) Add(log, "p" + std::to_string(i) + ".png");
    struct Seen {
        std::vector<int> percents;
        int stopAfter;
    } seen{{}, 1000};
    auto callback = [](void* user, int percent, int reserved) {
        auto* s = static_cast<Seen*>(user);
        EXPECT_EQ(reserved, 0);
        s->percents.push_back(percent);
        return static_cast<int>(s->percents.size()) >= s->stopAfter ? kCancelCode : 0;
    };
    log.SetSearchCallback(callback, &seen);
    std::vector<FoundItemRecord> found;
    ASSERT_EQ(log.FindByExtension("*.png", found), 1);
    EXPECT_EQ(found.size(), 450u);
    EXPECT_EQ(seen.percents, (std::vector<int>{44, 88, 100}));

    seen = {{}, 1};
    found.clear();
    EXPECT_EQ(log.FindByExtension("*.png", found), kCancelCode);
    EXPECT_EQ(found.size(), 200u);
}

TEST_F(ScanLogTest, OtherIsIgnoredOnARecordFileOver128MiB) {
    CScanLog log;
    ASSERT_EQ(log.OpenIn(folder_, "big"), 0);
    Add(log, "report");
    Add(log, "b.qqq");
    Add(log, "a.jpg");
    // Fill up to 134217728 bytes (one past the limit) in bulk.
    const uint64_t records = 134217727 / 346 + 1;
    for (uint64_t i = 3; i < records; ++i) {
        FoundItemRecord* r = log.AppendRecord();
        r->isFolder = 1;  // folders never match, so only the three above can
    }
    ASSERT_EQ(log.Flush(), 0);
    ASSERT_GT(std::filesystem::file_size(log.RecordPath()), 134217727u);

    std::vector<FoundItemRecord> found;
    ASSERT_EQ(log.FindByExtension("*.jpg|.other", found), 1);
    EXPECT_EQ(Names(found), (std::vector<std::string>{"a.jpg"}));
}

// ---------------------------------------------------------------------------
// Folder paths

TEST_F(ScanLogTest, ParentChainRunsFromTheNearestFolderUp) {
    CScanLog log;
    ASSERT_EQ(log.OpenIn(folder_, "log"), 0);
    uint32_t top = Add(log, "top", true, 30);
    log.AddChild(5, top, 30, "top");
    uint32_t mid = Add(log, "mid", true, 31);
    log.AddChild(MakeRelationKey(30, 1), mid, 31, "mid");
    // A folder without a name entry is found by its key in the record file.
    uint32_t low = Add(log, "low", true, 32);
    log.AddChild(MakeRelationKey(31, 2), low, 32, nullptr);
    uint32_t file = Add(log, "f.txt");
    log.AddChild(MakeRelationKey(32, 3), file, 0, nullptr);

    FoundItemRecord record;
    ASSERT_EQ(log.ReadRecord(file, record), 0);
    std::vector<FoundItemRecord> chain;
    ASSERT_EQ(log.BuildParentChain(record, chain), 0);
    EXPECT_EQ(Names(chain), (std::vector<std::string>{"low", "mid", "top"}));

    chain.clear();
    ASSERT_EQ(log.ReadRecord(top, record), 0);
    ASSERT_EQ(log.BuildParentChain(record, chain), 0);
    EXPECT_TRUE(chain.empty());

    // A parent that exists nowhere ends the chain with 87.
    uint32_t orphan = Add(log, "o.txt");
    log.AddChild(MakeRelationKey(999, 4), orphan, 0, nullptr);
    ASSERT_EQ(log.ReadRecord(orphan, record), 0);
    chain.clear();
    EXPECT_EQ(log.BuildParentChain(record, chain), 87);
}

TEST_F(ScanLogTest, LoopingChainsEnd) {
    CScanLog log;
    ASSERT_EQ(log.OpenIn(folder_, "log"), 0);
    log.AddChild(5, Add(log, "rootfile"), 0, nullptr);
    // a (key 10) is filed in b's list and b (key 20) in a's: a damaged index.
    uint32_t a = Add(log, "a", true, 10);
    uint32_t b = Add(log, "b", true, 20);
    log.AddChild(MakeRelationKey(20, 3), a, 10, "a");
    log.AddChild(MakeRelationKey(10, 4), b, 20, "b");
    uint32_t file = Add(log, "f.txt");
    log.AddChild(MakeRelationKey(10, 5), file, 0, nullptr);
    // A folder filed under its own key.
    uint32_t self = Add(log, "self", true, 50);
    log.AddChild(MakeRelationKey(50, 2), self, 50, "self");

    FoundItemRecord record;
    std::vector<FoundItemRecord> chain;
    ASSERT_EQ(log.ReadRecord(file, record), 0);
    ASSERT_EQ(log.BuildParentChain(record, chain), 0);
    EXPECT_EQ(Names(chain), (std::vector<std::string>{"a", "b"}));

    chain.clear();
    ASSERT_EQ(log.ReadRecord(self, record), 0);
    ASSERT_EQ(log.BuildParentChain(record, chain), 0);
    EXPECT_TRUE(chain.empty());

    // Counting below a folder filed under itself ends, counting nothing twice.
    log.AddChild(MakeRelationKey(50, 2), Add(log, "inside.txt"), 0, nullptr);
    log.AddChild(MakeRelationKey(50, 2), self, 50, nullptr);
    log.AddChild(MakeRelationKey(50, 3), self, 50, nullptr);
    log.AddChild(MakeRelationKey(50, 3), Add(log, "deeper.txt"), 0, nullptr);
    uint32_t count = 0;
    ASSERT_EQ(log.CountFilesBelow(50, 2, count), 0);
    EXPECT_EQ(count, 2u);
}

// ---------------------------------------------------------------------------
// Logs left behind by a program that died mid-write

class DamagedLogTest : public ScanLogTest {
  protected:
    // A root with folders, each with files; returns every list as written.
    ChildMap Build() {
        CScanLog log;
        EXPECT_EQ(log.OpenIn(folder_, "log"), 0);
        for (FolderKey key = 100; key < 106; ++key) {
            uint32_t f = Add(log, "dir" + std::to_string(key), true, key);
            log.AddChild(5, f, key, ("dir" + std::to_string(key)).c_str());
            for (int i = 0; i < 7; ++i)
                log.AddChild(MakeRelationKey(key, 1),
                             Add(log, "file" + std::to_string(key * 10 + i) + ".txt"), 0, nullptr);
        }
        EXPECT_EQ(log.Flush(), 0);
        return log.Children();
    }
};

TEST_F(DamagedLogTest, RelationFileCutAnywhereStillOpensAndListsWhatSurvived) {
    ChildMap original = Build();
    const std::string text = FileText(folder_ / "log_Relation");
    for (size_t cut = 0; cut <= text.size(); ++cut) {
        testkit::WriteFile(dir_.Path() / "keep", testkit::ReadFile(folder_ / "log_Relation"));
        Resize(folder_ / "log_Relation", cut);
        {
            CScanLog log;
            ASSERT_EQ(log.OpenIn(folder_, "log"), 0) << cut;
            for (const auto& [key, list] : log.Children()) {
                // Every surviving list is a prefix of what was written.
                ASSERT_TRUE(original.count(key)) << cut;
                const auto& full = original.at(key);
                ASSERT_LE(list.size(), full.size());
                EXPECT_TRUE(std::equal(list.begin(), list.end(), full.begin())) << cut;
                std::vector<FoundItemRecord> out;
                EXPECT_EQ(log.ReadChildren(key, out), 0);
            }
            if (cut == text.size()) {
                EXPECT_EQ(log.Children(), original);
            }
        }
        testkit::WriteFile(folder_ / "log_Relation", testkit::ReadFile(dir_.Path() / "keep"));
    }
}

TEST_F(DamagedLogTest, GarbledIndexesAndRecordFileNeverCrashAndListTheRest) {
    ChildMap original = Build();
    std::string text = FileText(folder_ / "log_Relation");
    // Garble the middle of the text, and point one list past the record file.
    std::string bad = text;
    size_t middle = bad.find(" | 4294967398");
    ASSERT_NE(middle, std::string::npos);
    bad.replace(middle + 5, 6, "#@!x,]");
    bad += " | 4294967400 - [999999,1,0]";
    testkit::WriteFile(folder_ / "log_Relation", std::vector<uint8_t>(bad.begin(), bad.end()));
    // A folder file cut in its second entry, and a torn record at the end.
    Resize(folder_ / "log_DirInfo", 268 + 100);
    uint64_t recordBytes = std::filesystem::file_size(folder_ / "log");
    Resize(folder_ / "log", recordBytes + 17);

    CScanLog log;
    ASSERT_EQ(log.OpenIn(folder_, "log"), 0);
    EXPECT_EQ(log.Count(), recordBytes / 346);
    EXPECT_EQ(log.Folders().size(), 1u);
    EXPECT_EQ(log.Children().at(5), original.at(5));
    EXPECT_EQ(log.Children().at(MakeRelationKey(100, 1)), original.at(MakeRelationKey(100, 1)));

    // The number past the end is passed over; the others are listed.
    std::vector<FoundItemRecord> out;
    EXPECT_EQ(log.ReadChildren(MakeRelationKey(104, 1), out), 0);
    EXPECT_EQ(Names(out), (std::vector<std::string>{"dir100"}));

    // Filing more rewrites the relation file as exactly the parsed index: no
    // tail of the damaged text is left to be parsed again.
    uint32_t n = Add(log, "new.txt");
    EXPECT_EQ(n, recordBytes / 346 + 1);
    log.AddChild(MakeRelationKey(105, 1), n, 0, nullptr);
    ASSERT_EQ(log.Flush(), 0);
    EXPECT_EQ(FileText(folder_ / "log_Relation"), CScanLog::FormatRelationText(log.Children()));
    EXPECT_EQ(std::filesystem::file_size(folder_ / "log"), (recordBytes / 346 + 1) * 346);
}

TEST(RelationTextFuzzLike, RandomBytesNeverCrash) {
    uint32_t seed = 12345;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
    const std::string alphabet = " |-[],0123456789x";
    for (int round = 0; round < 2000; ++round) {
        std::string text;
        size_t length = next() % 80;
        for (size_t i = 0; i < length; ++i) text += alphabet[(next() >> 16) % alphabet.size()];
        ChildMap parsed;
        CScanLog::ParseRelationText(text, parsed);
        for (const auto& [key, list] : parsed) {
            for (uint32_t n : list) {
                EXPECT_NE(n, 0u);
            }
        }
    }
}

}  // namespace
}  // namespace sorvane
