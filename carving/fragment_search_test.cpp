// The two-piece search over a small disk held in memory: a picture and an
// archive written into two holes with other deleted data between, found
// in the right order; overwritten or out of budget, never called whole.
#include "carving/fragment_search.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "tests/testkit/testkit.h"

namespace sorvane {
namespace {

constexpr uint32_t kCluster = 1024;

struct MemoryDisk {
    std::vector<uint8_t> bytes;
    std::set<uint32_t> used;  // clusters a live file holds
    uint32_t readsCount = 0;

    explicit MemoryDisk(uint32_t clusters, uint32_t seed) : bytes(size_t{clusters} * kCluster) {
        std::mt19937 random(seed);
        for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
    }
    uint32_t Clusters() const { return static_cast<uint32_t>(bytes.size() / kCluster); }
    // Writes `data` from byte `from` into the clusters starting at `cluster`.
    void Put(const std::vector<uint8_t>& data, size_t from, size_t length, uint32_t cluster) {
        std::memcpy(&bytes[size_t{cluster} * kCluster], data.data() + from, length);
    }
    ClusterSpace Space() {
        ClusterSpace space;
        space.clusterBytes = kCluster;
        space.nextCandidate = [this](uint32_t c) -> uint32_t {
            for (uint32_t n = c + 1; n < Clusters(); ++n)
                if (!used.count(n)) return n;
            return 0;
        };
        space.readCluster = [this](uint32_t c, uint8_t* out) {
            ++readsCount;
            if (c >= Clusters()) return false;
            std::memcpy(out, &bytes[size_t{c} * kCluster], kCluster);
            return true;
        };
        return space;
    }
};

std::vector<uint8_t> Gather(const MemoryDisk& disk, const std::vector<uint32_t>& clusters, size_t size) {
    std::vector<uint8_t> out;
    for (uint32_t c : clusters)
        out.insert(out.end(), disk.bytes.begin() + size_t{c} * kCluster,
                   disk.bytes.begin() + size_t{c + 1} * kCluster);
    out.resize(size);
    return out;
}

class FragmentSearchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!testkit::HaveProgram("convert")) GTEST_SKIP() << "ImageMagick missing";
        const std::string path = testkit::ShellQuote((dir_ / "p.png").string());
        ASSERT_EQ(testkit::RunCommand("convert -size 96x96 plasma:fractal -seed 3 " + path + " 2>/dev/null"),
                  0);
        png_ = testkit::ReadFile(dir_ / "p.png");
        const std::string other = testkit::ShellQuote((dir_ / "q.png").string());
        ASSERT_EQ(testkit::RunCommand("convert -size 96x96 plasma:fractal -seed 4 " + other + " 2>/dev/null"),
                  0);
        other_ = testkit::ReadFile(dir_ / "q.png");
        ASSERT_GT(png_.size(), 6 * kCluster);
    }
    // The picture's first `head` clusters at 10, the rest at `second`, a live
    // file at 10+head, deleted data of another file between.
    void Split(MemoryDisk& disk, uint32_t head, uint32_t second) {
        disk.Put(png_, 0, size_t{head} * kCluster, 10);
        disk.Put(png_, size_t{head} * kCluster, png_.size() - size_t{head} * kCluster, second);
        disk.used.insert(10 + head);
    }
    testkit::TempDir dir_;
    std::vector<uint8_t> png_, other_;
};

TEST_F(FragmentSearchTest, TwoPiecesWithDeletedDataBetweenComeBackInOrder) {
    for (uint32_t head : {1u, 3u, 5u}) {
        SCOPED_TRACE("first piece " + std::to_string(head));
        MemoryDisk disk(200, head);
        Split(disk, head, 40);
        const PiecedFile f = FindFileOrder(disk.Space(), 10, png_.size(), "png");
        ASSERT_EQ(f.check, FragmentCheck::kValidToEnd);
        EXPECT_EQ(f.pieces, 2u);
        EXPECT_EQ(Gather(disk, f.clusters, png_.size()), png_);
        EXPECT_EQ(f.clusters.front(), 10u);
        EXPECT_EQ(f.clusters[head], 40u);
    }
}

TEST_F(FragmentSearchTest, OneRunThatChecksOutIsTakenAsItIs) {
    MemoryDisk disk(100, 1);
    disk.Put(png_, 0, png_.size(), 10);
    const PiecedFile f = FindFileOrder(disk.Space(), 10, png_.size(), "png");
    EXPECT_EQ(f.check, FragmentCheck::kValidToEnd);
    EXPECT_EQ(f.pieces, 1u);
    EXPECT_EQ(f.checks, 1u);
    // A live cluster in the way is skipped the way the copy skips it.
    MemoryDisk skipped(100, 2);
    skipped.Put(png_, 0, 2 * kCluster, 10);
    skipped.used.insert(12);
    skipped.Put(png_, 2 * kCluster, png_.size() - 2 * kCluster, 13);
    const PiecedFile g = FindFileOrder(skipped.Space(), 10, png_.size(), "png");
    EXPECT_EQ(g.check, FragmentCheck::kValidToEnd);
    EXPECT_EQ(g.pieces, 1u);
}

TEST_F(FragmentSearchTest, OverwrittenSecondPieceOrAPlausibleWrongOneIsNeverWhole) {
    MemoryDisk disk(200, 5);
    Split(disk, 3, 40);
    // The right continuation overwritten; the tail of a picture of the same
    // size and kind (plausible chunks, wrong bytes) lies further on.
    std::mt19937 random(9);
    for (size_t i = 40 * kCluster; i < 50 * kCluster; ++i) disk.bytes[i] = static_cast<uint8_t>(random());
    disk.Put(other_, 3 * kCluster, other_.size() - 3 * kCluster, 80);
    const PiecedFile f = FindFileOrder(disk.Space(), 10, png_.size(), "png");
    EXPECT_NE(f.check, FragmentCheck::kValidToEnd);
    EXPECT_EQ(f.pieces, 1u);
    EXPECT_GT(f.checks, 50u) << "every later candidate was tried";
}

TEST_F(FragmentSearchTest, LimitsEndTheSearchAndTypesWithoutACheckStayOneRun) {
    MemoryDisk disk(400, 6);
    Split(disk, 2, 300);
    FragmentSearchLimits few;
    few.maxChecks = 20;
    const PiecedFile f = FindFileOrder(disk.Space(), 10, png_.size(), "png", few);
    EXPECT_NE(f.check, FragmentCheck::kValidToEnd);
    EXPECT_LE(f.checks, 20u);
    FragmentSearchLimits small;
    small.maxBytesChecked = 64 * kCluster;
    EXPECT_NE(FindFileOrder(disk.Space(), 10, png_.size(), "png", small).check, FragmentCheck::kValidToEnd);
    // With room enough the same file is found.
    EXPECT_EQ(FindFileOrder(disk.Space(), 10, png_.size(), "png").pieces, 2u);
    // Each cluster is read from the disk once, however many tries read it.
    MemoryDisk counted(400, 6);
    Split(counted, 2, 300);
    static_cast<void>(FindFileOrder(counted.Space(), 10, png_.size(), "png"));
    EXPECT_LE(counted.readsCount, 400u);

    const PiecedFile text = FindFileOrder(disk.Space(), 10, 5000, "txt");
    EXPECT_EQ(text.check, FragmentCheck::kCannotTell);
    EXPECT_EQ(text.pieces, 1u);
    EXPECT_EQ(text.clusters.size(), 5u);
    EXPECT_EQ(text.checks, 0u);
}

}  // namespace
}  // namespace sorvane
