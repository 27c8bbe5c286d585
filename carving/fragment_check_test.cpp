// The fragment checks on files made by the tools people's files come from
// (ImageMagick, Info-ZIP), whole, cut, with a block of them replaced as a
// wrong cluster would, and with trailing bytes.
#include "carving/fragment_check.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "carving/fragment_check_test_support.h"
#include "tests/testkit/testkit.h"

namespace sorvane {
namespace {

using testkit::RunCommand;
using testkit::ShellQuote;

using fragment_testing::Check;
using fragment_testing::ExpectCutsInvalid;
using fragment_testing::kBlock;
using fragment_testing::Noise;

// Every block-aligned block replaced by `other`'s bytes (or noise) is caught,
// and never after the block: all bytes before the offset the check gives are right.
void ExpectEveryBlockSwapCaught(const std::string& ext, const std::vector<uint8_t>& bytes,
                                const std::vector<uint8_t>& other) {
    for (size_t at = 0; at < bytes.size(); at += kBlock) {
        SCOPED_TRACE("block at " + std::to_string(at));
        const std::vector<uint8_t> wrong = fragment_testing::SwapBlock(bytes, at, other);
        const size_t n = std::min(kBlock, bytes.size() - at);
        if (wrong == bytes) continue;
        const FragmentVerdict v = Check(ext, wrong);
        EXPECT_FALSE(v.Valid());
        EXPECT_LE(v.offset, at + n);
    }
}

class FragmentCheckTest : public ::testing::Test {
  protected:
    testkit::TempDir dir_;
    std::string Path(const std::string& name) { return ShellQuote((dir_ / name).string()); }
    std::vector<uint8_t> Bytes(const std::string& name) { return testkit::ReadFile(dir_ / name); }
};

TEST_F(FragmentCheckTest, PngChunksProveEveryByte) {
    if (!testkit::HaveProgram("convert")) GTEST_SKIP() << "ImageMagick missing";
    ASSERT_EQ(RunCommand("convert -size 160x120 plasma:fractal -seed 7 " + Path("a.png") + " 2>/dev/null"),
              0);
    ASSERT_EQ(RunCommand("convert -size 160x120 gradient:red-blue " + Path("b.png")), 0);
    const std::vector<uint8_t> a = Bytes("a.png"), b = Bytes("b.png");
    ASSERT_GT(a.size(), 3 * kBlock);
    const FragmentVerdict whole = Check("png", a);
    EXPECT_TRUE(whole.Valid());
    EXPECT_EQ(whole.offset, a.size());

    // A wrong block from noise, and from another picture of the same kind.
    ExpectEveryBlockSwapCaught("png", a, Noise(a.size(), 1));
    ExpectEveryBlockSwapCaught("png", a, b);
    ExpectCutsInvalid("png", a);

    // Bytes after the end chunk: the structure cannot vouch for them.
    std::vector<uint8_t> trailing = a;
    trailing.resize(a.size() + 100, 0);
    EXPECT_EQ(Check("png", trailing).check, FragmentCheck::kCannotTell);
    EXPECT_EQ(Check("png", trailing).offset, a.size());
    // Not a PNG at all.
    EXPECT_EQ(Check("png", b.size() > 8 ? Noise(64, 3) : b).check, FragmentCheck::kInvalidAt);
}

TEST_F(FragmentCheckTest, ZipEntriesAndDirectoryProveTheArchive) {
    if (!testkit::HaveProgram("zip")) GTEST_SKIP() << "zip missing";
    testkit::WriteFile(dir_ / "noise.bin", Noise(3 * kBlock + 123, 5));
    std::string text;
    for (int i = 0; i < 3000; ++i) text += "line " + std::to_string(i * 7919 % 1000) + " of the report\n";
    testkit::WriteFile(dir_ / "text.txt", std::vector<uint8_t>(text.begin(), text.end()));
    const std::string in = "cd " + ShellQuote(dir_.Path().string()) + " && ";
    // Deflated and stored entries, then one written as a stream (sizes in data descriptors).
    ASSERT_EQ(RunCommand(in + "zip -q -X a.zip text.txt && zip -q -X -0 a.zip noise.bin"), 0);
    ASSERT_EQ(RunCommand(in + "cat text.txt noise.bin | zip -q -X - - > s.zip"), 0);
    for (const char* name : {"a.zip", "s.zip"}) {
        SCOPED_TRACE(name);
        const std::vector<uint8_t> z = Bytes(name);
        const FragmentVerdict whole = Check("zip", z);
        EXPECT_TRUE(whole.Valid()) << int(whole.check) << " at " << whole.offset;
        ExpectEveryBlockSwapCaught("zip", z, Noise(z.size(), 9));
        ExpectEveryBlockSwapCaught("zip", z, Bytes("a.zip") == z ? Bytes("s.zip") : Bytes("a.zip"));
        ExpectCutsInvalid("zip", z);
    }
    // The family shares the check; other types get none.
    EXPECT_TRUE(HasFragmentCheck("docx") && HasFragmentCheck("odt") && HasFragmentCheck("png"));
    EXPECT_FALSE(HasFragmentCheck("txt"));
    EXPECT_EQ(Check("txt", Bytes("text.txt")).check, FragmentCheck::kCannotTell);
}

}  // namespace
}  // namespace sorvane
