// The deep exFAT engine: a card formatted again by mkfs.exfat gives back its
// files with their names and folders, and hostile entry sets in free space
// (folders listed inside each other, sets cut by the end of a read) neither
// hang the scan nor lose what is sound.
#include "engines/professional_exfat_recovery.h"
#include "engines/engine_factory.h"

#include <gtest/gtest.h>

#include <map>

#include "carving/content_check.h"
#include "engines/exfat_file_data.h"
#include "engines/fast_exfat_recovery.h"
#include "engines/fat_test_support.h"
#include "engines/professional_recovery.h"
#include "fs/exfat_test_support.h"
#include "platform/file_time.h"
#include "results/file_categories.h"
#include "tests/testkit/test_images.h"
#include "tests/testkit/testkit.h"

namespace sorvane {
namespace {

using exfattest::BuildSet;
using exfattest::EntrySetFields;

std::map<std::string, FoundItemRecord> DeepExfatRecords(CProfessionalRecovery& engine) {
    std::map<std::string, FoundItemRecord> out;
    for (const auto& e : fattest::AllRecords(engine))
        if (e.record.Engine() == EngineCode::kDeepExfat) out[e.path] = e.record;
    return out;
}

std::unique_ptr<CProfessionalRecovery> DeepScan(const std::filesystem::path& image) {
    auto engine = std::make_unique<CProfessionalRecovery>();
    EXPECT_EQ(OpenOnImage(*engine, image, 1), 0);
    EXPECT_EQ(engine->Scan(nullptr), 0);
    return engine;
}

TEST(DeepExfat, AReformattedCardGivesBackItsFilesWithNamesAndFolders) {
    fattest::ScanFolder logs;
    testkit::TempDir dir, out;
    SORVANE_BUILD_IMAGE_OR_SKIP(image, testkit::ImageKind::kExfatReformatted, dir.Path());
    const std::string before = testkit::FileSha256(image.image);
    auto engine = DeepScan(image.image);
    const auto found = DeepExfatRecords(*engine);
    // The new root folder was written over the old one, so the entries of the
    // top level are gone; everything below them is still in its folder, which
    // is filed under the lost folder of the top-level folder's cluster.
    size_t expected = 0, listed = 0, exact = 0, n = 0, pictures = 0;
    for (const auto& t : image.entries) {
        const size_t slash = t.path.find('/');
        if (slash == std::string::npos || t.Has("padding")) continue;
        const testkit::TruthEntry* top = image.Find(t.path.substr(0, slash));
        ASSERT_TRUE(top);
        const std::string path =
            LostFolderName(static_cast<uint32_t>(top->Number("first_cluster"))) + t.path.substr(slash);
        ++expected;
        auto it = found.find(path);
        EXPECT_NE(it, found.end()) << path;
        if (it == found.end()) continue;
        ++listed;
        EXPECT_EQ(it->second.IsFolder(), t.isDir) << path;
        if (t.isDir) continue;
        EXPECT_EQ(uint64_t{it->second.size}, t.size) << path;
        EXPECT_EQ(uint64_t{it->second.written}, FileTimeFromUnix(static_cast<int64_t>(t.Number("mtime"))))
            << path;
        if (!t.Has("intact") || t.Has("fragmented")) continue;
        const std::string sha =
            fattest::RecoverSha256(*engine, it->second, out / ("f" + std::to_string(++n)));
        EXPECT_EQ(sha, t.sha256) << path;
        exact += sha == t.sha256;
        // A picture's structure is read through: still on the card, it is whole.
        if (path.ends_with(".jpg") || path.ends_with(".JPG") || path.ends_with(".png")) {
            EXPECT_STREQ(ContentCheckWord(it->second.contentCheck), "whole") << path;
            ++pictures;
        }
    }
    EXPECT_GE(pictures, 2u);
    std::printf(
        "exfat-reformatted: %zu of %zu entries below the top level listed in their folders, %zu byte-exact\n",
        listed, expected, exact);
    EXPECT_GT(expected, 20u);
    EXPECT_EQ(listed, expected);
    EXPECT_GE(exact, 15u);
    engine.reset();
    EXPECT_EQ(testkit::FileSha256(image.image), before);
}

TEST(DeepExfat, FilesOfADeletedFolderTheQuickScanListedAreNotListedTwice) {
    fattest::ScanFolder logs;
    SORVANE_SHARED_IMAGE_OR_SKIP(image, testkit::ImageKind::kExfat);
    auto engine = DeepScan(image.image);
    // The deleted folder's clusters are free, so the pass meets its entry sets again.
    EXPECT_GT(engine->DeepExfat().GetFoundCount(), 0u);
    FoundItemList all;
    EXPECT_EQ(engine->FindByExtension(AllCategoriesPattern() + "|.other", all), 1);
    std::map<std::string, int> times;
    for (const auto& r : all) ++times[r.Name()];
    for (const auto& t : image.Deleted()) {
        if (t.Has("overwritten")) continue;
        EXPECT_EQ(times[t.Name()], 1) << t.path;
    }
}

// Writes `bytes` at byte `offset` of `image`.
void WriteAt(const std::filesystem::path& image, uint64_t offset, const std::vector<uint8_t>& bytes) {
    FileHandle f;
    ASSERT_EQ(OpenForWriting(image, WriteMode::kOpenOrCreate, f), 0);
    f.Seek(offset);
    ASSERT_EQ(f.Write(bytes.data(), bytes.size()), 0);
}

TEST(DeepExfat, FoldersListedInsideEachOtherAndSetsCutByAReadEndStaySound) {
    if (!testkit::HaveProgram("mkfs.exfat")) GTEST_SKIP() << "mkfs.exfat missing";
    fattest::ScanFolder logs;
    testkit::TempDir dir;
    const std::filesystem::path card = dir / "card.img";
    ASSERT_EQ(testkit::RunCommand("truncate -s 8M " + testkit::ShellQuote(card.string()) +
                                  " && mkfs.exfat -c 4096 " + testkit::ShellQuote(card.string()) +
                                  " >/dev/null 2>&1"),
              0);
    std::vector<uint8_t> head = testkit::ReadFile(card);
    ExfatGeometry g;
    ASSERT_TRUE(ParseExfatBootSector(head.data(), head.size(), g));
    auto at = [&](uint32_t cluster, size_t entry) { return g.ClusterOffset(cluster) + entry * 32; };

    // The pass reads 64 KiB pieces from the start of each free run; a set
    // put in the last entry before such a boundary is cut by the read.
    uint64_t runStart = 0, runLength = 0;
    {
        CFastExfatRecovery quick;
        ASSERT_EQ(OpenOnImage(quick, card, 1), 0);
        ASSERT_EQ(quick.LoadAllocationMap(), 0);
        ASSERT_EQ(quick.NextFreeExtent(runStart, runLength), 1);
    }
    const uint64_t boundary = runStart * 512 + 4 * 65536;
    const uint32_t folderA = g.ClusterAtOffset(boundary - 32);
    const uint32_t folderB = folderA + 100, data = folderA + 200;
    ASSERT_TRUE(g.IsHeapCluster(data));

    // Folder A is listed in B's cluster and B in A's: a loop no walk may
    // follow for ever.
    EntrySetFields a;
    a.name = u"A";
    a.attributes = 0x10;
    a.firstCluster = folderA;
    a.dataLength = 8192;
    a.inUse = false;
    EntrySetFields b = a;
    b.name = u"B";
    b.firstCluster = folderB;
    WriteAt(card, at(folderB, 0), BuildSet(a));
    WriteAt(card, at(folderA, 0), BuildSet(b));
    // A file in A whose stream and name entries lie past the read's end.
    EntrySetFields file;
    file.name = u"straddling the end of a read.txt";
    file.firstCluster = data;
    file.dataLength = 11;
    file.validDataLength = 5;  // the rest reads as zeros
    file.noFatChain = true;
    file.inUse = false;
    WriteAt(card, boundary - 32, BuildSet(file));
    WriteAt(card, g.ClusterOffset(data), {'h', 'e', 'l', 'l', 'o', 'X', 'X', 'X', 'X', 'X', 'X'});

    auto engine = DeepScan(card);
    const auto found = DeepExfatRecords(*engine);
    std::vector<std::string> paths;
    for (const auto& [path, r] : found) paths.push_back(path);
    ASSERT_EQ(found.size(), 3u) << ::testing::PrintToString(paths);
    const FoundItemRecord* straddling = nullptr;
    for (const auto& [path, r] : found)
        if (r.Name() == "straddling the end of a read.txt") straddling = &r;
    ASSERT_TRUE(straddling);
    testkit::TempDir out;
    ASSERT_EQ(engine->RecoverItem(*straddling, out / "f.txt", 0), 0);
    EXPECT_EQ(testkit::ReadFile(out / "f.txt"),
              (std::vector<uint8_t>{'h', 'e', 'l', 'l', 'o', 0, 0, 0, 0, 0, 0}));
}

}  // namespace
}  // namespace sorvane
