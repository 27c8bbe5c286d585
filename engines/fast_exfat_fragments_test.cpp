// Deleted exFAT files in two pieces, on cards made by mkfs.exfat and written
// through exfat-fuse the way a camera card fragments: filled, every other
// file deleted, a big file copied into the holes (its clusters follow the
// FAT), then it and the file between its pieces deleted. exfat-fuse clears
// the chain of a deleted file, so the engines put it back together from the
// free clusters by its structure; a chain the FAT kept is followed. Either
// way the copy is byte-exact and the listing says "rebuilt from 2 pieces";
// overwritten, it stays damaged.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "carving/content_check.h"
#include "engines/engine_factory.h"
#include "engines/exfat_file_data.h"
#include "engines/fat_test_support.h"
#include "engines/professional_recovery.h"
#include "results/file_condition.h"
#include "tests/testkit/fragmented_card.h"
#include "tests/testkit/fragmented_exfat_card.h"
#include "tests/testkit/testkit.h"

namespace sorvane {
namespace {

using testkit::FragmentedExfatCard;
using testkit::kExfatCardClusterBytes;
using testkit::Noise;
using testkit::RunCommand;
using testkit::ShellQuote;

struct Scanned {
    FoundItemRecord record;
    std::string recoveredSha;
    bool found = false;
};

// The record named `name` as `engine` lists it (only records of `code`), and
// the hash of its copy.
Scanned Find(IFileRecoveryParse& engine, EngineCode code, const std::string& name,
             const testkit::TempDir& out) {
    static int copies = 0;
    Scanned s;
    for (const auto& f : fattest::AllRecords(engine)) {
        if ((f.path != name && !f.path.ends_with("/" + name)) || f.record.Engine() != code) continue;
        s.found = true;
        s.record = f.record;
        s.recoveredSha = fattest::RecoverSha256(engine, f.record, out / (std::to_string(++copies) + name));
    }
    EXPECT_TRUE(s.found) << name;
    return s;
}

Scanned QuickScan(const FragmentedExfatCard& card, const testkit::TempDir& out) {
    auto engine = CreateRecoveryEngineForImage(card.image, 1, false);
    EXPECT_TRUE(engine);
    if (!engine) return {};
    EXPECT_EQ(engine->Scan(nullptr), 0);
    return Find(*engine, EngineCode::kQuickExfat, card.name, out);
}

class ExfatFragments : public ::testing::TestWithParam<const char*> {
  protected:
    fattest::UnhurriedSearches unhurried_;
    // Makes the pictures or archives, and the card with the first of them in two pieces.
    void MakeCard(const testkit::FragmentedExfatCardLayout& layout = {}) {
        for (const char* tool : {"convert", "zip"})
            if (!testkit::HaveProgram(tool)) GTEST_SKIP() << tool << " missing";
        const std::string ext = GetParam();
        const std::string in = "cd " + ShellQuote(dir_.Path().string()) + " && ";
        if (ext == "png") {
            ASSERT_EQ(RunCommand(in + "convert -size 160x160 plasma:fractal -seed 11 big.png 2>/dev/null"),
                      0);
        } else {
            testkit::WriteFile(dir_ / "photo.raw", Noise(60000, 77));
            std::string text;
            for (int i = 0; i < 900; ++i) text += "entry " + std::to_string(i * 31 % 97) + " of the ledger\n";
            testkit::WriteFile(dir_ / "ledger.txt", std::vector<uint8_t>(text.begin(), text.end()));
            ASSERT_EQ(RunCommand(in + "zip -q -X big.zip ledger.txt photo.raw"), 0);
        }
        big_ = dir_ / ("big." + ext);
        const uint64_t clusters =
            (testkit::ReadFile(big_).size() + kExfatCardClusterBytes - 1) / kExfatCardClusterBytes;
        ASSERT_GE(clusters, 6u);
        const uint32_t holes = static_cast<uint32_t>(clusters / 2 + 1);  // two holes hold it, one does not
        if (!testkit::MakeFragmentedExfatCard(dir_, big_, holes, layout, card_)) {
            if (!card_.skipReason.empty()) GTEST_SKIP() << card_.skipReason;
            FAIL() << "the exFAT card could not be made: " << card_.output;
        }
        ASSERT_EQ(card_.pieces.size(), 2u) << "the file did not land in two holes: " << card_.output;
        ASSERT_GT(card_.pieces[1].first, card_.pieces[0].second + 1);
    }
    bool Skipped() const { return IsSkipped() || HasFatalFailure(); }

    testkit::TempDir dir_, out_;
    std::filesystem::path big_;
    FragmentedExfatCard card_;
};

void ExpectRebuilt(const Scanned& s, const std::string& sha) {
    EXPECT_EQ(uint32_t{s.record.contentCheck}, kContentWhole);
    EXPECT_EQ(ConditionOf(s.record, 0, 512), FileCondition::kWhole);
    EXPECT_EQ(s.record.engineSpecific & kExfatNoFatChain, 0u) << "the set says its clusters follow the FAT";
    EXPECT_EQ(RebuiltPieces(s.record), 2u);
    EXPECT_EQ(RebuiltNote(s.record), "rebuilt from 2 pieces");
    EXPECT_EQ(s.recoveredSha, sha);
}

TEST_P(ExfatFragments, TwoPiecesComeBackByteExactFromTheFreeClustersAndSaySo) {
    fattest::ScanFolder logs;
    MakeCard();
    if (Skipped()) return;
    const std::string before = testkit::FileSha256(card_.image);
    ExpectRebuilt(QuickScan(card_, out_), testkit::FileSha256(big_));
    EXPECT_EQ(testkit::FileSha256(card_.image), before) << "the scanned image was written to";
}

TEST_P(ExfatFragments, APieceAfterALiveFileIsFoundThroughTheBitmap) {
    fattest::ScanFolder logs;
    // The file between the pieces is still there: the free clusters from the
    // first one on, read in order, are the file.
    MakeCard({.keepMiddle = true, .folder = ""});
    if (Skipped()) return;
    ExpectRebuilt(QuickScan(card_, out_), testkit::FileSha256(big_));
}

TEST_P(ExfatFragments, AnOverwrittenSecondPieceStaysDamaged) {
    fattest::ScanFolder logs;
    MakeCard();
    if (Skipped()) return;
    const auto [first, last] = card_.pieces[1];
    testkit::OverwriteClusters(card_, first, Noise(size_t{last - first + 1} * kExfatCardClusterBytes, 5));
    const Scanned s = QuickScan(card_, out_);
    EXPECT_EQ(ConditionOf(s.record, 0, 512), FileCondition::kDamaged);
    EXPECT_EQ(RebuiltPieces(s.record), 0u);
    EXPECT_EQ(RebuiltNote(s.record), "");
    EXPECT_NE(s.recoveredSha, testkit::FileSha256(big_));
}

TEST_P(ExfatFragments, AChainTheFatKeptIsFollowedAndItsStructureChecked) {
    fattest::ScanFolder logs;
    MakeCard();
    if (Skipped()) return;
    testkit::RestoreChain(card_);
    ExpectRebuilt(QuickScan(card_, out_), testkit::FileSha256(big_));
    // The chain is believed only while its clusters still hold the file.
    const auto [first, last] = card_.pieces[1];
    testkit::OverwriteClusters(card_, first, Noise(size_t{last - first + 1} * kExfatCardClusterBytes, 7));
    const Scanned s = QuickScan(card_, out_);
    EXPECT_EQ(ConditionOf(s.record, 0, 512), FileCondition::kDamaged);
    EXPECT_EQ(RebuiltPieces(s.record), 0u);
}

TEST_P(ExfatFragments, OnACardFormattedAgainTheDeepScanRebuildsItFromTheEntrySetItMeets) {
    fattest::ScanFolder logs;
    MakeCard({.folder = "DCIM"});
    if (Skipped()) return;
    // The new format's FAT and bitmap know nothing of the file: every
    // cluster it left is a candidate.
    ASSERT_EQ(RunCommand("mkfs.exfat -c " + std::to_string(kExfatCardClusterBytes) + " -L NEW " +
                         ShellQuote(card_.image.string()) + " >/dev/null 2>&1"),
              0);
    const std::string before = testkit::FileSha256(card_.image);
    CProfessionalRecovery engine;
    ASSERT_EQ(OpenOnImage(engine, card_.image, 1), 0);
    ASSERT_EQ(engine.Scan(nullptr), 0);
    ExpectRebuilt(Find(engine, EngineCode::kDeepExfat, card_.name, out_), testkit::FileSha256(big_));
    EXPECT_EQ(testkit::FileSha256(card_.image), before) << "the scanned image was written to";
}

INSTANTIATE_TEST_SUITE_P(Types, ExfatFragments, ::testing::Values("png", "zip"));

}  // namespace
}  // namespace sorvane
