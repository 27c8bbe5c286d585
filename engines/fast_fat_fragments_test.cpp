// Deleted files (pictures, archives, documents, films) in two pieces with
// free clusters between, on cards made by mkfs.fat and mtools the way a
// camera card fragments: filled, every other file deleted, a big file copied
// into the holes, then it and the file between its pieces deleted. The quick
// engine puts it back together byte for byte and says so; overwritten, or
// with only a plausible wrong piece left, it stays damaged.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "carving/content_check.h"
#include "engines/engine_factory.h"
#include "engines/fat_test_support.h"
#include "results/file_condition.h"
#include "tests/testkit/fragmented_card.h"
#include "tests/testkit/testkit.h"

namespace sorvane {
namespace {

using testkit::RunCommand;
using testkit::ShellQuote;

using testkit::FragmentedCard;
using testkit::kCardClusterBytes;
using testkit::Noise;

struct Scanned {
    FoundItemRecord record;
    std::string recoveredSha;
};

Scanned ScanFor(const FragmentedCard& card, const std::string& name, const testkit::TempDir& out) {
    Scanned s;
    auto engine = CreateRecoveryEngineForImage(card.image, 1, false);
    EXPECT_TRUE(engine);
    if (!engine) return s;
    EXPECT_EQ(engine->Scan(nullptr), 0);
    bool found = false;
    for (const auto& f : fattest::AllRecords(*engine)) {
        if (f.path != name) continue;
        found = true;
        s.record = f.record;
        s.recoveredSha = fattest::RecoverSha256(*engine, f.record, out / name);
    }
    EXPECT_TRUE(found) << name;
    return s;
}

class QuickFatFragments : public ::testing::TestWithParam<const char*> {
  protected:
    fattest::UnhurriedSearches unhurried_;
    void SetUp() override {
        for (const char* tool : {"mkfs.fat", "mcopy", "mdel", "mshowfat", "convert", "zip"})
            if (!testkit::HaveProgram(tool)) GTEST_SKIP() << tool << " missing";
        const std::string ext = GetParam();
        const std::string in = "cd " + ShellQuote(dir_.Path().string()) + " && ";
        if (ext == "png") {
            // Two pictures of one size and kind: the second's bytes look like a continuation of the first.
            ASSERT_EQ(RunCommand(in + "convert -size 80x80 plasma:fractal -seed 11 big.png 2>/dev/null"), 0);
            ASSERT_EQ(RunCommand(in + "convert -size 80x80 plasma:fractal -seed 12 other.png 2>/dev/null"),
                      0);
        } else if (ext == "jpg") {
            // Two photos of one size, quality and tables: the second's coded data
            // decodes as the first's would.
            for (const char* pic : {"-seed 11 -size 200x150 plasma:fractal big.jpg",
                                    "-seed 12 -size 200x150 plasma:fractal other.jpg"})
                ASSERT_EQ(RunCommand(in + "convert " + pic + " 2>/dev/null"), 0);
        } else if (ext == "pdf") {
            // Two reports of one layout written by LibreOffice, with different words.
            if (!testkit::HaveProgram("soffice")) GTEST_SKIP() << "LibreOffice missing";
            for (const char* name : {"big", "other"}) {
                std::string html = "<html><body><h1>Ledger</h1>";
                for (int i = 0; i < 400; ++i)
                    html += "<p>entry " + std::to_string(i * (name[0] == 'b' ? 31 : 37) % 997) +
                            " of the ledger</p>";
                html += "</body></html>";
                testkit::WriteFile(dir_ / (std::string(name) + ".html"),
                                   std::vector<uint8_t>(html.begin(), html.end()));
            }
            ASSERT_EQ(RunCommand(in + "soffice -env:UserInstallation=file://" + (dir_ / "profile").string() +
                                 " --headless --convert-to pdf big.html other.html >/dev/null 2>&1"),
                      0);
        } else if (ext == "mp4") {
            // Two films of one size and codec, the movie box after the media data as ffmpeg writes it.
            std::string encoders;
            if (!testkit::HaveProgram("ffmpeg") ||
                RunCommand("ffmpeg -hide_banner -encoders 2>/dev/null", &encoders) != 0 ||
                encoders.find("libx264") == std::string::npos)
                GTEST_SKIP() << "ffmpeg with libx264 missing";
            for (const char* film : {"testsrc=duration=2:size=240x160:rate=25 big.mp4",
                                     "testsrc2=duration=2:size=240x160:rate=25 other.mp4"}) {
                const std::string f = film;
                ASSERT_EQ(RunCommand(in + "ffmpeg -hide_banner -loglevel error -y -f lavfi -i " +
                                     f.substr(0, f.find(' ')) + " -c:v libx264 -preset veryfast " +
                                     f.substr(f.find(' ') + 1)),
                          0);
            }
        } else {
            testkit::WriteFile(dir_ / "photo.raw", Noise(9000, 77));
            std::string text;
            for (int i = 0; i < 900; ++i) text += "entry " + std::to_string(i * 31 % 97) + " of the ledger\n";
            testkit::WriteFile(dir_ / "ledger.txt", std::vector<uint8_t>(text.begin(), text.end()));
            ASSERT_EQ(
                RunCommand(
                    in +
                    "zip -q -X big.zip ledger.txt photo.raw && zip -q -X other.zip photo.raw ledger.txt"),
                0);
        }
        big_ = dir_ / ("big." + ext);
        name_ = "Holiday picture." + ext;
        const uint64_t clusters =
            (testkit::ReadFile(big_).size() + kCardClusterBytes - 1) / kCardClusterBytes;
        ASSERT_GE(clusters, 6u);
        holes_ = static_cast<uint32_t>(clusters / 2 + 1);  // two holes hold it, one does not
        ASSERT_TRUE(testkit::MakeFragmentedCard(dir_, big_, holes_, card_));
        ASSERT_EQ(card_.pieces.size(), 2u) << "the file did not land in two holes";
        ASSERT_GT(card_.pieces[1].first, card_.pieces[0].second + 1);
    }
    testkit::TempDir dir_, out_;
    std::filesystem::path big_;
    std::string name_;
    uint32_t holes_ = 0;
    FragmentedCard card_;
};

TEST_P(QuickFatFragments, TwoPiecesComeBackByteExactAndSaySo) {
    fattest::ScanFolder logs;
    const std::string before = testkit::FileSha256(card_.image);
    const Scanned s = ScanFor(card_, name_, out_);
    EXPECT_EQ(uint32_t{s.record.contentCheck}, kContentWhole);
    EXPECT_EQ(ConditionOf(s.record, 0, 512), FileCondition::kWhole);
    EXPECT_EQ(RebuiltPieces(s.record), 2u);
    EXPECT_EQ(RebuiltNote(s.record), "rebuilt from 2 pieces");
    EXPECT_EQ(s.recoveredSha, testkit::FileSha256(big_));
    EXPECT_EQ(testkit::FileSha256(card_.image), before) << "the scanned image was written to";
}

TEST_P(QuickFatFragments, AnOverwrittenSecondPieceStaysDamaged) {
    fattest::ScanFolder logs;
    const auto [first, last] = card_.pieces[1];
    testkit::OverwriteClusters(card_, first, Noise(size_t{last - first + 1} * kCardClusterBytes, 5));
    const Scanned s = ScanFor(card_, name_, out_);
    EXPECT_EQ(ConditionOf(s.record, 0, 512), FileCondition::kDamaged);
    EXPECT_EQ(RebuiltPieces(s.record), 0u);
    EXPECT_EQ(RebuiltNote(s.record), "");
}

TEST_P(QuickFatFragments, APlausibleWrongContinuationIsNeverCalledWhole) {
    fattest::ScanFolder logs;
    // The right second piece overwritten; where the file between its pieces
    // was, and again after the second hole, the same part of a file of the
    // same kind and size: right-looking headers, wrong bytes.
    const auto [first, last] = card_.pieces[1];
    testkit::OverwriteClusters(card_, first, Noise(size_t{last - first + 1} * kCardClusterBytes, 6));
    const std::vector<uint8_t> other = testkit::ReadFile(dir_ / ("other." + std::string(GetParam())));
    const size_t head = size_t{card_.pieces[0].second - card_.pieces[0].first + 1} * kCardClusterBytes;
    ASSERT_GT(other.size(), head);
    const std::vector<uint8_t> tail(other.begin() + static_cast<ptrdiff_t>(head), other.end());
    testkit::OverwriteClusters(card_, card_.pieces[0].second + 1, tail);
    const Scanned s = ScanFor(card_, name_, out_);
    EXPECT_NE(ConditionOf(s.record, 0, 512), FileCondition::kWhole);
    EXPECT_EQ(RebuiltPieces(s.record), 0u);
}

INSTANTIATE_TEST_SUITE_P(Types, QuickFatFragments, ::testing::Values("png", "zip", "jpg", "pdf", "mp4"));

}  // namespace
}  // namespace sorvane
