// The quick exFAT engine on a 5 GiB card holding a deleted 3 GiB file: the
// card image is sparse, but exfat-fuse writes the file's zeros, so building
// it takes a while.
#include <gtest/gtest.h>

#include <fstream>
#include <map>

#include "engines/engine_factory.h"
#include "engines/exfat_file_data.h"
#include "engines/fast_exfat_recovery.h"
#include "engines/fat_test_support.h"
#include "tests/testkit/test_images.h"
#include "tests/testkit/testkit.h"

namespace sorvane {
namespace {

TEST(QuickExfat, AMultiGigabyteFileComesBackWithItsSizeAndBothEnds) {
    fattest::ScanFolder logs;
    testkit::TempDir dir, out;
    SORVANE_BUILD_IMAGE_OR_SKIP(image, testkit::ImageKind::kExfatLarge, dir.Path());
    auto engine = CreateRecoveryEngineForImage(image.image, 1, false);
    ASSERT_TRUE(dynamic_cast<CFastExfatRecovery*>(engine.get()));
    ASSERT_EQ(engine->Scan(nullptr), 0);
    std::map<std::string, FoundItemRecord> found;
    for (const auto& e : fattest::AllRecords(*engine)) found[e.path] = e.record;
    const testkit::TruthEntry* big = image.Find("Video/camera recording.mts");
    ASSERT_TRUE(big);
    ASSERT_TRUE(found.count(big->path));
    const FoundItemRecord& r = found.at(big->path);
    EXPECT_EQ(uint64_t{r.size}, big->size);
    EXPECT_FALSE(r.engineSpecific & kExfatDamaged);
    std::filesystem::path file = out / "big.mts";
    ASSERT_EQ(engine->RecoverItem(r, file, 0), 0);
    ASSERT_EQ(std::filesystem::file_size(file), big->size);
    // Zeros between two markers: the markers where they belong, nothing else.
    const std::string marker = "SORVANE-SPARSE-MARK";
    std::ifstream in(file, std::ios::binary);
    std::vector<char> piece(1 << 20);
    uint64_t at = 0, nonZero = 0;
    std::string head, tail;
    while (in.read(piece.data(), piece.size()) || in.gcount() > 0) {
        const size_t got = static_cast<size_t>(in.gcount());
        for (size_t i = 0; i < got; ++i)
            if (piece[i] != 0) ++nonZero;
        if (at == 0) head.assign(piece.data(), marker.size());
        if (at + got == big->size) tail.assign(piece.data() + got - marker.size(), marker.size());
        at += got;
    }
    EXPECT_EQ(head, marker);
    EXPECT_EQ(tail, marker);
    uint64_t markerNonZero = 0;
    for (char ch : marker) markerNonZero += ch != 0;
    EXPECT_EQ(nonZero, 2 * markerNonZero);
}

}  // namespace
}  // namespace sorvane
