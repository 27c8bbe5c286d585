// A log larger than a signed 32-bit byte offset can address: about 2.4 GB on
// disk, removed again at the end.
#include <gtest/gtest.h>

#include "results/scan_log.h"
#include "tests/testkit/testkit.h"

namespace sorvane {
namespace {

TEST(ScanLogLarge, SevenMillionRecordsReadBackByNumber) {
    constexpr uint32_t kRecords = 7000000;
    // The first record whose offset does not fit a signed 32-bit number.
    constexpr uint32_t kFirstPastInt32 = 2147483647u / 346 + 2;
    testkit::TempDir dir;
    {
        CScanLog log;
        ASSERT_EQ(log.OpenIn(dir.Path(), "Pro_Ntfs_0_2026127 9 5"), 0);
        for (uint32_t i = 1; i <= kRecords; ++i) {
            FoundItemRecord* r = log.AppendRecord();
            r->location = i;
            if (i % 1000000 == 0 || i == kFirstPastInt32 || i == kFirstPastInt32 - 1) {
                r->SetName("mark" + std::to_string(i) + ".jpg");
                log.AddChild(MakeRelationKey(7, 1), i, 0, nullptr);
            }
        }
        ASSERT_EQ(log.Flush(), 0);
        EXPECT_EQ(log.Count(), kRecords);
    }
    ASSERT_EQ(std::filesystem::file_size(dir / "Pro_Ntfs_0_2026127 9 5"), uint64_t{kRecords} * 346);

    CScanLog log;
    ASSERT_EQ(log.OpenIn(dir.Path(), "Pro_Ntfs_0_2026127 9 5"), 0);
    FoundItemRecord r;
    for (uint32_t n : {kFirstPastInt32 - 1, kFirstPastInt32, kRecords}) {
        ASSERT_EQ(log.ReadRecord(n, r), 0) << n;
        EXPECT_EQ(+r.recordNumber, n);
        EXPECT_EQ(+r.location, n);
        EXPECT_EQ(r.Name(), "mark" + std::to_string(n) + ".jpg");
    }
    std::vector<FoundItemRecord> children;
    ASSERT_EQ(log.ReadChildren(MakeRelationKey(7, 1), children), 0);
    ASSERT_EQ(children.size(), 9u);
    for (const auto& c : children) EXPECT_EQ(c.Name(), "mark" + std::to_string(+c.recordNumber) + ".jpg");

    std::vector<FoundItemRecord> found;
    ASSERT_EQ(log.FindByExtension("*.jpg", found), 1);
    EXPECT_EQ(found.size(), 9u);
}

}  // namespace
}  // namespace sorvane
