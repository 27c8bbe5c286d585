#include "device/ahead_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "platform/fault_plan.h"
#include "platform/result_codes.h"
#include "tests/testkit/testkit.h"

namespace sorvane {
namespace {

using testkit::TempDir;

class AheadReaderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        bytes_.resize(512 * 200);
        for (size_t i = 0; i < bytes_.size(); ++i)
            bytes_[i] = static_cast<uint8_t>((i * 13 + i / 512) & 0xFF);
        image_ = dir_ / "disk.img";
        testkit::WriteFile(image_, bytes_);
        ASSERT_EQ(OpenImageReader(image_, reader_), kSuccess);
    }
    void TearDown() override { FaultPlan::Instance().Clear(); }

    bool Same(const uint8_t* chunk, uint64_t first, uint32_t count) const {
        return std::equal(chunk, chunk + size_t{count} * 512,
                          bytes_.begin() + static_cast<std::ptrdiff_t>(first * 512));
    }

    TempDir dir_;
    std::filesystem::path image_;
    std::vector<uint8_t> bytes_;
    DiskReader reader_;
};

// Blocks of 8 sectors, chunks of 3: most chunks lie in one block, some span two.
TEST_F(AheadReaderTest, ChunksInOrderAndAfterJumpsAreTheSourcesBytes) {
    AheadReader ahead(reader_, 512, 8 * 512, 3);
    BadSectorMap bad;
    const uint8_t* chunk = nullptr;
    for (uint64_t first = 10; first + 3 <= 100; first += 3) {
        ASSERT_EQ(ahead.Fetch(first, 3, 100, chunk, bad), kSuccess) << first;
        ASSERT_TRUE(Same(chunk, first, 3)) << first;
    }
    // A carved file's body skipped past what was read ahead, a step back, and another run.
    for (uint64_t first : {150u, 151u, 190u, 120u}) {
        ASSERT_EQ(ahead.Fetch(first, 2, 195, chunk, bad), kSuccess) << first;
        ASSERT_TRUE(Same(chunk, first, 2)) << first;
    }
    ASSERT_EQ(ahead.Fetch(0, 5, 5, chunk, bad), kSuccess);
    EXPECT_TRUE(Same(chunk, 0, 5));
    EXPECT_TRUE(bad.Empty());
}

TEST_F(AheadReaderTest, OnlyTheUnreadableSectorsOfChunksAskedForAreNamed) {
    FaultPlan::Instance().Add(image_, 12, 12, FaultKind::kError);
    FaultPlan::Instance().Add(image_, 30, 31, FaultKind::kError);
    AheadReader ahead(reader_, 512, 16 * 512, 4);
    BadSectorMap bad;
    const uint8_t* chunk = nullptr;
    EXPECT_EQ(ahead.Fetch(8, 8, 64, chunk, bad), kErrReadFault);
    EXPECT_TRUE(std::all_of(chunk + 4 * 512, chunk + 5 * 512, [](uint8_t b) { return b == 0; }));
    EXPECT_TRUE(Same(chunk + 5 * 512, 13, 3));
    // Sectors 30 and 31 were read ahead, but the pass skips over them.
    EXPECT_EQ(ahead.Fetch(40, 8, 64, chunk, bad), kSuccess);
    EXPECT_EQ(bad.Ranges(), (std::vector<SectorRange>{{12, 1}}));
}

TEST_F(AheadReaderTest, ARunPastTheDrivesEndReadsWhatThereIs) {
    AheadReader ahead(reader_, 512, 16 * 512, 2);
    BadSectorMap bad;
    const uint8_t* chunk = nullptr;
    ASSERT_EQ(ahead.Fetch(190, 8, 260, chunk, bad), kSuccess);
    EXPECT_TRUE(Same(chunk, 190, 8));
    EXPECT_EQ(ahead.Fetch(198, 8, 260, chunk, bad), kErrInvalidParameter);
    EXPECT_TRUE(bad.Empty());
}

}  // namespace
}  // namespace sorvane
