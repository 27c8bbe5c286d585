// The JPEG check on pictures made by ImageMagick: whole ones check out to
// their last byte; with a cluster of another picture's coded data in their
// midst (the hardest case: same size, same tables) the check finds the
// break, bounds it from both sides, and finds it soon after it.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "carving/fragment_check.h"
#include "carving/fragment_check_test_support.h"
#include "tests/testkit/testkit.h"

namespace sorvane {
namespace {

using fragment_testing::Check;
using fragment_testing::kBlock;
using fragment_testing::Noise;
using fragment_testing::SwapBlock;
using testkit::RunCommand;
using testkit::ShellQuote;

class JpegFragmentCheckTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!testkit::HaveProgram("convert")) GTEST_SKIP() << "ImageMagick missing";
    }
    // A 640×480 picture of `seed`, with ImageMagick's further options.
    std::vector<uint8_t> Picture(const std::string& name, int seed, const std::string& options) {
        const std::string path = ShellQuote((dir_ / name).string());
        EXPECT_EQ(RunCommand("convert -seed " + std::to_string(seed) + " -size 640x480 plasma:fractal " +
                             options + " " + path + " 2>/dev/null"),
                  0);
        return testkit::ReadFile(dir_ / name);
    }
    testkit::TempDir dir_;
};

struct Distances {
    std::vector<uint64_t> bytes;  // from the swapped block's start to where the check failed
    uint64_t Percentile(double p) {
        std::sort(bytes.begin(), bytes.end());
        return bytes.empty() ? 0 : bytes[static_cast<size_t>(p * double(bytes.size() - 1))];
    }
};

// Every block from the coded data on swapped for `other`'s: the verdict is
// kInvalidAt, every byte before its offset is right, the wrong byte lies
// before its end, and the end is found within `bound` bytes of the block.
Distances ExpectSwapsFound(const std::vector<uint8_t>& bytes, const std::vector<uint8_t>& other,
                           uint64_t bound) {
    Distances d;
    for (size_t at = kBlock; at + kBlock < bytes.size(); at += kBlock) {
        SCOPED_TRACE("block at " + std::to_string(at));
        const FragmentVerdict v = Check("jpg", SwapBlock(bytes, at, other));
        EXPECT_EQ(v.check, FragmentCheck::kInvalidAt);
        EXPECT_LE(v.offset, at);
        EXPECT_GT(v.end, at);
        EXPECT_LE(v.end, at + bound);
        d.bytes.push_back(v.end - at);
    }
    return d;
}

void Report(const char* what, Distances d) {
    const uint64_t worst = d.Percentile(1.0);
    std::printf("[ measured ] %s: %zu swaps, break found after median %llu, 90%% %llu, worst %llu bytes\n",
                what, d.bytes.size(), static_cast<unsigned long long>(d.Percentile(0.5)),
                static_cast<unsigned long long>(d.Percentile(0.9)), static_cast<unsigned long long>(worst));
}

TEST_F(JpegFragmentCheckTest, WholePicturesCheckOutToTheirLastByte) {
    for (const char* options : {"-quality 90", "-quality 75 -sampling-factor 2x2", "-colorspace gray",
                                "-quality 85 -define jpeg:optimize-coding=true"}) {
        SCOPED_TRACE(options);
        const std::vector<uint8_t> jpeg = Picture("a.jpg", 3, options);
        const FragmentVerdict v = Check("jpg", jpeg);
        EXPECT_TRUE(v.Valid()) << int(v.check) << " at " << v.offset << " to " << v.end;
        EXPECT_EQ(v.offset, jpeg.size());
    }
}

// The picture `name` again with a restart marker every `rows` MCU rows, as jpegtran writes it.
std::vector<uint8_t> WithRestarts(const testkit::TempDir& dir, const std::string& name, int rows) {
    const std::string out = "r" + name;
    EXPECT_EQ(RunCommand("jpegtran -restart " + std::to_string(rows) + " " +
                         ShellQuote((dir / name).string()) + " > " + ShellQuote((dir / out).string())),
              0);
    return testkit::ReadFile(dir / out);
}

TEST_F(JpegFragmentCheckTest, ASwappedClusterWithoutRestartMarkersIsFoundByDecoding) {
    const std::vector<uint8_t> a = Picture("a.jpg", 1, "-quality 90");
    const std::vector<uint8_t> b = Picture("b.jpg", 2, "-quality 90");
    Report("no restart markers, other picture", ExpectSwapsFound(a, b, 2 * kBlock));
    Report("no restart markers, noise", ExpectSwapsFound(a, Noise(a.size(), 4), 2 * kBlock));
    const std::vector<uint8_t> c = Picture("c.jpg", 4, "-quality 75 -sampling-factor 2x2");
    const std::vector<uint8_t> d = Picture("d.jpg", 5, "-quality 75 -sampling-factor 2x2");
    Report("4:2:0, other picture", ExpectSwapsFound(c, d, 2 * kBlock));
}

TEST_F(JpegFragmentCheckTest, RestartIntervalsMustHoldTheirMcusAndCountUp) {
    if (!testkit::HaveProgram("jpegtran")) GTEST_SKIP() << "jpegtran missing";
    Picture("a.jpg", 1, "-quality 90");
    Picture("b.jpg", 2, "-quality 90");
    const std::vector<uint8_t> a = WithRestarts(dir_, "a.jpg", 2), b = WithRestarts(dir_, "b.jpg", 2);
    const FragmentVerdict whole = Check("jpg", a);
    EXPECT_TRUE(whole.Valid()) << int(whole.check) << " at " << whole.offset << " to " << whole.end;
    Report("restart every 2 MCU rows, other picture", ExpectSwapsFound(a, b, 2 * kBlock));
    const std::vector<uint8_t> c = WithRestarts(dir_, "a.jpg", 1), d = WithRestarts(dir_, "b.jpg", 1);
    Report("restart every MCU row, other picture", ExpectSwapsFound(c, d, 2 * kBlock));
}

TEST_F(JpegFragmentCheckTest, MarkersAndTablesAreCheckedBeforeTheData) {
    const std::vector<uint8_t> a = Picture("a.jpg", 1, "-quality 90");
    fragment_testing::ExpectCutsInvalid("jpg", a);
    // Not a JPEG; a segment length pointing past the file; bytes after the end marker.
    EXPECT_EQ(Check("jpg", Noise(64, 3)).check, FragmentCheck::kInvalidAt);
    std::vector<uint8_t> longer = a;
    longer[4] = 0xFF;
    EXPECT_EQ(Check("jpg", longer).check, FragmentCheck::kInvalidAt);
    std::vector<uint8_t> trailing = a;
    trailing.resize(a.size() + 100, 0);
    EXPECT_EQ(Check("jpg", trailing).check, FragmentCheck::kCannotTell);
    EXPECT_EQ(Check("jpg", trailing).offset, a.size());
    EXPECT_TRUE(HasFragmentCheck("jpeg") && HasFragmentCheck("jpg"));
}

TEST_F(JpegFragmentCheckTest, ProgressivePicturesAreWalkedForTheirMarkersOnly) {
    const std::vector<uint8_t> p = Picture("p.jpg", 5, "-quality 80 -interlace JPEG");
    const FragmentVerdict v = Check("jpg", p);
    EXPECT_EQ(v.check, FragmentCheck::kCannotTell);
    EXPECT_GT(v.offset, 100u);
    EXPECT_LT(v.offset, 2000u) << "the proof stops at the first scan's data";
    // Noise in a scan shows as markers that may not stand there.
    const FragmentVerdict noisy = Check("jpg", SwapBlock(p, kBlock * 2, Noise(p.size(), 8)));
    EXPECT_EQ(noisy.check, FragmentCheck::kInvalidAt);
    EXPECT_GT(noisy.end, kBlock * 2);
}

}  // namespace
}  // namespace sorvane
