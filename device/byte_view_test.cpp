#include "device/byte_view.h"

#include <gtest/gtest.h>

namespace sorvane {
namespace {

TEST(ByteViewTest, ReadsBothByteOrdersAndNothingPastTheEnd) {
    const uint8_t bytes[] = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0, 0x01};
    ByteView v(bytes, sizeof bytes);
    EXPECT_EQ(v.U16(0), 0x3412u);
    EXPECT_EQ(v.U16Be(0), 0x1234u);
    EXPECT_EQ(v.U24Be(1), 0x345678u);
    EXPECT_EQ(v.U32Be(0), 0x12345678u);
    EXPECT_EQ(v.U32(0), 0x78563412u);
    EXPECT_EQ(v.U64Be(1), 0x3456789ABCDEF001u);
    EXPECT_EQ(v.GetBe(8, 1), 0x01u);
    // A value that would end one byte past the buffer reads as 0 in either order.
    EXPECT_EQ(v.U32Be(6), 0u);
    EXPECT_EQ(v.U32(6), 0u);
    EXPECT_EQ(v.U64Be(2), 0u);
    EXPECT_EQ(v.GetBe(0, 9), 0u);
    EXPECT_EQ(v.U16Be(SIZE_MAX), 0u);  // an offset whose end wraps around is refused too
}

}  // namespace
}  // namespace sorvane
