// The deep FAT engine on a card made by mkfs.fat and mtools with a deleted
// file in two pieces inside a deleted folder (tests/testkit/fragmented_card.h):
// the entry it meets in the folder's free cluster, on the volume whose boot
// sector and FAT it reads, is put back together from the free clusters,
// byte-exact, and says so; with its second piece overwritten it stays damaged.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "carving/content_check.h"
#include "engines/engine_factory.h"
#include "engines/fat_test_support.h"
#include "engines/professional_fat_recovery.h"
#include "engines/professional_recovery.h"
#include "results/file_condition.h"
#include "tests/testkit/fragmented_card.h"
#include "tests/testkit/testkit.h"

namespace sorvane {
namespace {

using testkit::kCardClusterBytes;
using testkit::Noise;
using testkit::RunCommand;
using testkit::ShellQuote;

class DeepFatFragments : public ::testing::TestWithParam<const char*> {
  protected:
    fattest::UnhurriedSearches unhurried_;
    void SetUp() override {
        for (const char* tool : {"mkfs.fat", "mcopy", "mdel", "mshowfat", "convert", "zip"})
            if (!testkit::HaveProgram(tool)) GTEST_SKIP() << tool << " missing";
        const std::string ext = GetParam();
        const std::string in = "cd " + ShellQuote(dir_.Path().string()) + " && ";
        if (ext == "png") {
            ASSERT_EQ(RunCommand(in + "convert -size 80x80 plasma:fractal -seed 11 big.png 2>/dev/null"), 0);
        } else {
            testkit::WriteFile(dir_ / "photo.raw", Noise(9000, 77));
            std::string text;
            for (int i = 0; i < 900; ++i) text += "entry " + std::to_string(i * 31 % 97) + " of the ledger\n";
            testkit::WriteFile(dir_ / "ledger.txt", std::vector<uint8_t>(text.begin(), text.end()));
            ASSERT_EQ(RunCommand(in + "zip -q -X big.zip ledger.txt photo.raw"), 0);
        }
        big_ = dir_ / ("big." + ext);
        const uint64_t clusters =
            (testkit::ReadFile(big_).size() + kCardClusterBytes - 1) / kCardClusterBytes;
        ASSERT_GE(clusters, 6u);
        ASSERT_TRUE(
            testkit::MakeFragmentedCard(dir_, big_, static_cast<uint32_t>(clusters / 2 + 1), card_, "DCIM"));
        ASSERT_EQ(card_.pieces.size(), 2u) << "the file did not land in two holes";
    }

    // The deep FAT engine's own record of the file after a deep scan, and the hash of its copy.
    void DeepScan(FoundItemRecord& record, std::string& sha) {
        CProfessionalRecovery scan;
        ASSERT_EQ(OpenOnImage(scan, card_.image, 1), 0);
        ASSERT_EQ(scan.Scan(nullptr), 0);
        CProfessionalFatRecovery& engine = scan.DeepFat();
        bool found = false;
        for (const auto& f : fattest::AllRecords(engine)) {
            if (f.record.IsFolder() || f.record.Name() != card_.name) continue;
            // Met in the deleted folder's cluster, below the root it is not listed in.
            EXPECT_EQ(f.path, "LostFolder2/" + card_.name);
            found = true;
            record = f.record;
            sha = fattest::RecoverSha256(engine, f.record, out_ / card_.name);
        }
        ASSERT_TRUE(found) << card_.name;
    }

    testkit::TempDir dir_, out_;
    std::filesystem::path big_;
    testkit::FragmentedCard card_;
};

TEST_P(DeepFatFragments, TwoPiecesComeBackByteExactAndSaySo) {
    fattest::ScanFolder logs;
    const std::string before = testkit::FileSha256(card_.image);
    FoundItemRecord record;
    std::string sha;
    DeepScan(record, sha);
    EXPECT_EQ(record.Engine(), EngineCode::kDeepFat);
    EXPECT_EQ(ConditionOf(record, 0, 512), FileCondition::kWhole);
    EXPECT_EQ(RebuiltNote(record), "rebuilt from 2 pieces");
    EXPECT_EQ(sha, testkit::FileSha256(big_));
    EXPECT_EQ(testkit::FileSha256(card_.image), before) << "the scanned image was written to";
}

TEST_P(DeepFatFragments, AnOverwrittenSecondPieceStaysDamaged) {
    fattest::ScanFolder logs;
    const auto [first, last] = card_.pieces[1];
    testkit::OverwriteClusters(card_, first, Noise(size_t{last - first + 1} * kCardClusterBytes, 5));
    FoundItemRecord record;
    std::string sha;
    DeepScan(record, sha);
    EXPECT_EQ(ConditionOf(record, 0, 512), FileCondition::kDamaged);
    EXPECT_EQ(RebuiltNote(record), "");
}

INSTANTIATE_TEST_SUITE_P(Types, DeepFatFragments, ::testing::Values("png", "zip"));

}  // namespace
}  // namespace sorvane
