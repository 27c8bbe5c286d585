// The texts a scan's progress and a size show, at each unit's edges.
#include <gtest/gtest.h>

#include "results/size_text.h"
#include "results/time_text.h"

namespace sorvane {
namespace {

TEST(ProgressTexts, RemainingTimeAndSize) {
    EXPECT_EQ(RemainingTimeText(0), "0 Sec");
    EXPECT_EQ(RemainingTimeText(59), "59 Sec");
    EXPECT_EQ(RemainingTimeText(60), "1 Min 0 Sec");
    EXPECT_EQ(RemainingTimeText(3599), "59 Min 59 Sec");
    EXPECT_EQ(RemainingTimeText(3600), "1 Hour 0 Min");
    EXPECT_EQ(RemainingTimeText(7384), "2 Hour 3 Min");
    EXPECT_EQ(FormatSizeText(1023), "1023 Bytes");
    EXPECT_EQ(FormatSizeText(1024), "1.00 KB");
    EXPECT_EQ(FormatSizeText(1536), "1.50 KB");
    EXPECT_EQ(FormatSizeText(5ull << 20), "5.00 MB");
    EXPECT_EQ(FormatSizeText(3ull << 30), "3.00 GB");
    EXPECT_EQ(FormatSizeText(1ull << 40), "1.00 TB");
}

}  // namespace
}  // namespace sorvane
