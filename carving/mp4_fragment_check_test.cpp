// The MP4 check on films ffmpeg makes: H.264 with AAC sound, the movie box
// before or after the media data, as MP4 and QuickTime; whole ones check
// out, a cluster of another film's bytes or of noise in the H.264 samples is
// found within the sample it lands in, and MPEG-4 part 2 video cannot be told.
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

class Mp4FragmentCheckTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string encoders;
        if (!testkit::HaveProgram("ffmpeg") ||
            RunCommand("ffmpeg -hide_banner -encoders 2>/dev/null", &encoders) != 0 ||
            encoders.find("libx264") == std::string::npos)
            GTEST_SKIP() << "ffmpeg with libx264 missing";
    }
    // A film of `seconds` of a test pattern of `source` with a tone.
    std::vector<uint8_t> Film(const std::string& name, const std::string& source,
                              const std::string& options) {
        const std::string cmd = "ffmpeg -hide_banner -loglevel error -y -f lavfi -i " + source +
                                " -f lavfi -i sine=frequency=440:duration=3 -shortest " + options + " " +
                                ShellQuote((dir_ / name).string());
        EXPECT_EQ(RunCommand(cmd), 0) << cmd;
        return testkit::ReadFile(dir_ / name);
    }
    testkit::TempDir dir_;
};

constexpr const char* kH264 = "-c:v libx264 -preset veryfast -c:a aac";

TEST_F(Mp4FragmentCheckTest, WholeFilmsCheckOutToTheirLastByte) {
    for (const char* name : {"a.mp4", "b.mov", "c.m4v"}) {
        SCOPED_TRACE(name);
        const std::string faststart = std::string(name) == "b.mov" ? " -movflags +faststart" : "";
        const std::vector<uint8_t> film =
            Film(name, "testsrc=duration=3:size=320x240:rate=25", kH264 + faststart);
        const FragmentVerdict v = Check(std::string(name).substr(2), film);
        EXPECT_TRUE(v.Valid()) << int(v.check) << " at " << v.offset << " to " << v.end;
        fragment_testing::ExpectCutsInvalid("mp4", film);
    }
    EXPECT_TRUE(HasFragmentCheck("mov") && HasFragmentCheck("m4a") && HasFragmentCheck("3gp"));
}

// Every block after the first swapped for `other`'s: found, bounded on both sides.
void ExpectSwapsFound(const char* what, const std::vector<uint8_t>& film, const std::vector<uint8_t>& other) {
    std::vector<uint64_t> after;
    for (size_t at = kBlock; at < film.size(); at += kBlock) {
        SCOPED_TRACE("block at " + std::to_string(at));
        const std::vector<uint8_t> wrong = SwapBlock(film, at, other);
        if (wrong == film) continue;
        const FragmentVerdict v = Check("mp4", wrong);
        EXPECT_EQ(v.check, FragmentCheck::kInvalidAt);
        EXPECT_LE(v.offset, at);
        EXPECT_GT(v.end, at);
        after.push_back(v.end > at ? v.end - at : 0);
    }
    std::sort(after.begin(), after.end());
    if (!after.empty())
        std::printf("[ measured ] MP4, %s: %zu swaps, break found after median %llu, worst %llu bytes\n",
                    what, after.size(), static_cast<unsigned long long>(after[after.size() / 2]),
                    static_cast<unsigned long long>(after.back()));
}

TEST_F(Mp4FragmentCheckTest, ASwappedClusterIsFoundInTheSampleItLandsIn) {
    // The movie box first, so every cluster of media data has its samples' lengths to meet.
    const std::vector<uint8_t> a = Film("a.mp4", "testsrc=duration=3:size=320x240:rate=25",
                                        std::string(kH264) + " -movflags +faststart");
    const std::vector<uint8_t> b = Film("b.mp4", "testsrc2=duration=3:size=320x240:rate=25",
                                        std::string(kH264) + " -movflags +faststart");
    ASSERT_GT(a.size(), 6 * kBlock);
    ExpectSwapsFound("movie box first, other film", a, b);
    ExpectSwapsFound("movie box first, noise", a, Noise(a.size(), 5));
    // The movie box last: a break in the media data shows at the latest where the box chain meets it.
    const std::vector<uint8_t> c = Film("c.mp4", "testsrc=duration=3:size=320x240:rate=25", kH264);
    ExpectSwapsFound("movie box last, other film", c, b);
}

TEST_F(Mp4FragmentCheckTest, OtherVideoIsToldOnlyByItsBoxes) {
    const std::vector<uint8_t> film =
        Film("p2.mp4", "testsrc=duration=2:size=320x240:rate=25", "-c:v mpeg4 -c:a aac");
    const FragmentVerdict v = Check("mp4", film);
    EXPECT_EQ(v.check, FragmentCheck::kCannotTell);
    EXPECT_LT(v.offset, 200u) << "the proof stops where the media data starts";
    // A box header where the chain says one starts is still checked.
    std::vector<uint8_t> wrong = film;
    wrong[36] ^= 0x40;  // the box after ftyp: its type letters
    EXPECT_EQ(Check("mp4", wrong).check, FragmentCheck::kInvalidAt);
    EXPECT_EQ(Check("mp4", Noise(200, 1)).check, FragmentCheck::kInvalidAt);
}

}  // namespace
}  // namespace sorvane
