// The FAT layout and table readers against volumes made by mkfs.fat and
// filled by mtools, with The Sleuth Kit's fsstat as the reference.
#include "fs/fat_volume.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <sstream>
#include <vector>

#include "tests/testkit/testkit.h"

namespace sorvane {
namespace {

using testkit::RunCommand;
using testkit::ShellQuote;

struct FsstatFacts {
    uint64_t clusterAreaStart = 0;
    uint64_t rootStart = 0, rootEnd = 0;
    uint32_t maxCluster = 0;
    uint32_t clusterBytes = 0;
    std::string type;
    // (first sector, last sector, next sector or 0 for EOF) of every FAT run.
    struct Run {
        uint64_t first, last, next;
    };
    std::vector<Run> runs;
};

FsstatFacts Fsstat(const std::string& image) {
    std::string out;
    RunCommand("fsstat " + ShellQuote(image), &out);
    FsstatFacts f;
    std::smatch m;
    std::istringstream lines(out);
    std::string line;
    const std::regex clusterArea(R"(Cluster Area: (\d+) - (\d+))");
    const std::regex root(R"(Root Directory: (\d+) - (\d+))");
    const std::regex range(R"(Total Cluster Range: 2 - (\d+))");
    const std::regex size(R"(^Cluster Size: (\d+))");
    const std::regex type(R"(^File System Type: (\S+))");
    const std::regex run(R"(^(\d+)-(\d+) \(\d+\) -> (EOF|\d+))");
    while (std::getline(lines, line)) {
        if (std::regex_search(line, m, clusterArea))
            f.clusterAreaStart = std::stoull(m[1]);
        else if (std::regex_search(line, m, root))
            f.rootStart = std::stoull(m[1]), f.rootEnd = std::stoull(m[2]);
        else if (std::regex_search(line, m, range))
            f.maxCluster = static_cast<uint32_t>(std::stoul(m[1]));
        else if (std::regex_search(line, m, size))
            f.clusterBytes = static_cast<uint32_t>(std::stoul(m[1]));
        else if (std::regex_search(line, m, type))
            f.type = m[1];
        else if (std::regex_search(line, m, run))
            f.runs.push_back({std::stoull(m[1]), std::stoull(m[2]), m[3] == "EOF" ? 0 : std::stoull(m[3])});
    }
    return f;
}

// Makes a volume whose files are fragmented: three files, the middle one
// deleted, then a larger file that must fill the gap and go on after the last.
std::string MakeFragmentedVolume(const testkit::TempDir& dir, const std::string& mkfsOptions, int sizeKb,
                                 int fileKb) {
    std::string image = (dir / "vol.img").string();
    std::string q = ShellQuote(image);
    std::string script = "set -e; export MTOOLS_SKIP_CHECK=1; mkfs.fat " + mkfsOptions + " -C " + q + " " +
                         std::to_string(sizeKb) + " >/dev/null; cd " + ShellQuote(dir.Path().string()) + ";";
    for (int i = 1; i <= 6; ++i)
        script += " head -c " + std::to_string(fileKb * 1024 * i / 3 + 77) + " /dev/urandom > f" +
                  std::to_string(i) + ".bin; mcopy -i " + q + " f" + std::to_string(i) + ".bin ::/F" +
                  std::to_string(i) + ".BIN;";
    script += " mdel -i " + q + " ::/F2.BIN ::/F4.BIN;";
    script += " head -c " + std::to_string(fileKb * 1024 * 3) + " /dev/urandom > big.bin; mcopy -i " + q +
              " big.bin ::/BIG.BIN;";
    EXPECT_EQ(RunCommand("bash -c " + ShellQuote(script)), 0);
    return image;
}

struct Layout {
    const char* name;
    const char* mkfsOptions;
    int sizeKb;
    int bits;
    int fileKb;
    bool fragments;  // mtools fills the gap of a deleted file (FAT32 allocates after the last cluster)
    bool smallWindow = false;
};

class FatLayoutTest : public ::testing::TestWithParam<Layout> {};

TEST_P(FatLayoutTest, GeometryAndEveryChainAgreeWithFsstat) {
    if (!testkit::HaveProgram("mkfs.fat") || !testkit::HaveProgram("fsstat")) GTEST_SKIP() << "tools missing";
    testkit::TempDir dir;
    const Layout& layout = GetParam();
    std::string image = MakeFragmentedVolume(dir, layout.mkfsOptions, layout.sizeKb, layout.fileKb);
    std::string before = testkit::FileSha256(image);
    FsstatFacts facts = Fsstat(image);
    ASSERT_EQ(facts.type, "FAT" + std::to_string(layout.bits));

    DiskReader reader;
    ASSERT_EQ(OpenImageReader(image, reader), 0);
    std::vector<uint8_t> boot(512);
    uint32_t got = 0;
    ASSERT_EQ(ReadSectors(1, reader, boot.data(), 0, 512, &got), 0);
    FatGeometry g;
    ASSERT_TRUE(ParseFatBootSector(ByteView(boot.data(), boot.size()), g));
    EXPECT_EQ(g.fatBits, layout.bits);
    EXPECT_EQ(g.dataStart, facts.clusterAreaStart);
    EXPECT_EQ(g.MaxCluster(), facts.maxCluster);
    EXPECT_EQ(g.ClusterBytes(), facts.clusterBytes);
    if (layout.bits != 32) {
        EXPECT_EQ(g.rootDirStart, facts.rootStart);
        EXPECT_EQ(g.rootDirStart + g.rootDirSectors - 1, facts.rootEnd);
    }

    // A window of two sectors moves for nearly every chain; the answers must not change.
    FatTable fat(layout.smallWindow ? 512 : FatTable::kWindowBytes);
    ASSERT_EQ(fat.Load(reader, 0, g), 0);
    size_t fragmentedRuns = 0;
    ASSERT_FALSE(facts.runs.empty());
    for (const auto& run : facts.runs) {
        uint32_t first = static_cast<uint32_t>((run.first - g.dataStart) / g.sectorsPerCluster + 2);
        uint32_t last = static_cast<uint32_t>((run.last - g.dataStart) / g.sectorsPerCluster + 2);
        for (uint32_t c = first; c < last; ++c) ASSERT_EQ(fat.Entry(c), c + 1) << "cluster " << c;
        uint32_t expected = run.next == 0
                                ? kFatEndOfChain
                                : static_cast<uint32_t>((run.next - g.dataStart) / g.sectorsPerCluster + 2);
        EXPECT_EQ(fat.Entry(last), expected) << "end of run at cluster " << last;
        if (run.next != 0) ++fragmentedRuns;
    }
    if (layout.fragments) {
        EXPECT_GE(fragmentedRuns, 1u) << "the volume was meant to hold a fragmented file";
    }
    // Clusters past the used ones are free, and the first free one is found.
    uint32_t lastUsed = 2;
    for (const auto& run : facts.runs)
        lastUsed =
            std::max(lastUsed, static_cast<uint32_t>((run.last - g.dataStart) / g.sectorsPerCluster + 2));
    EXPECT_EQ(fat.Entry(lastUsed + 1), 0u);
    EXPECT_EQ(fat.NextFreeAfter(lastUsed), lastUsed + 1);
    EXPECT_EQ(fat.Entry(g.MaxCluster() + 1), kFatEndOfChain);
    EXPECT_EQ(fat.Entry(0), kFatEndOfChain);
    EXPECT_EQ(testkit::FileSha256(image), before);
}

INSTANTIATE_TEST_SUITE_P(RealVolumes, FatLayoutTest,
                         ::testing::Values(Layout{"Fat12Floppy", "-F 12", 1440, 12, 6, true},
                                           Layout{"Fat12TwoKiB", "-F 12 -s 4", 2880, 12, 12, true},
                                           Layout{"Fat16", "-F 16", 16384, 16, 20, true},
                                           Layout{"Fat32", "-F 32 -s 1", 65536, 32, 20, false},
                                           Layout{"Fat12MovingWindow", "-F 12", 1440, 12, 60, true, true},
                                           Layout{"Fat32MovingWindow", "-F 32 -s 1", 65536, 32, 20, false,
                                                  true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FatGeometry, RejectsBootSectorsThatDescribeNoVolume) {
    std::vector<uint8_t> zeros(512, 0);
    FatGeometry g;
    EXPECT_FALSE(ParseFatBootSector(ByteView(zeros.data(), zeros.size()), g));
    // A plausible FAT16 boot sector, then one broken field at a time.
    auto make = [] {
        std::vector<uint8_t> b(512, 0);
        PutU16(&b[11], 512);
        b[13] = 4;
        PutU16(&b[14], 4);
        b[16] = 2;
        PutU16(&b[17], 512);
        PutU16(&b[19], 40000);
        PutU16(&b[22], 40);
        return b;
    };
    auto ok = make();
    ASSERT_TRUE(ParseFatBootSector(ByteView(ok.data(), ok.size()), g));
    EXPECT_EQ(g.fatBits, 16);
    EXPECT_EQ(g.dataStart, 4u + 80u + 32u);
    auto oddSector = make();
    PutU16(&oddSector[11], 500);
    EXPECT_FALSE(ParseFatBootSector(ByteView(oddSector.data(), 512), g));
    auto oddCluster = make();
    oddCluster[13] = 3;
    EXPECT_FALSE(ParseFatBootSector(ByteView(oddCluster.data(), 512), g));
    auto tooSmall = make();
    PutU16(&tooSmall[19], 100);
    EXPECT_FALSE(ParseFatBootSector(ByteView(tooSmall.data(), 512), g));
    auto noFats = make();
    noFats[16] = 0;
    EXPECT_FALSE(ParseFatBootSector(ByteView(noFats.data(), 512), g));
    // The 32-bit total is used when the 16-bit one is 0.
    auto big = make();
    PutU16(&big[19], 0);
    PutU32(&big[32], 400000);
    PutU16(&big[22], 256);
    ASSERT_TRUE(ParseFatBootSector(ByteView(big.data(), 512), g));
    EXPECT_EQ(g.totalSectors, 400000u);
    // A short buffer is not a boot sector.
    EXPECT_FALSE(ParseFatBootSector(ByteView(ok.data(), 100), g));
}

}  // namespace
}  // namespace sorvane
