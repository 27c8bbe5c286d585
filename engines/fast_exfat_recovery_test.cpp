// The quick exFAT engine on cards made by mkfs.exfat and written by
// exfat-fuse, and on the two public volumes Windows wrote.
#include "engines/fast_exfat_recovery.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <sstream>

#include "carving/content_check.h"
#include "engines/engine_factory.h"
#include "engines/exfat_file_data.h"
#include "engines/fat_test_support.h"
#include "engines/professional_recovery.h"
#include "platform/file_time.h"
#include "tests/testkit/test_images.h"
#include "tests/testkit/testkit.h"

namespace sorvane {
namespace {

using fattest::AllRecords;
using fattest::FoundEntry;

std::map<std::string, FoundItemRecord> ByPath(const std::vector<FoundEntry>& all) {
    std::map<std::string, FoundItemRecord> out;
    for (const auto& e : all) out[e.path] = e.record;
    return out;
}

bool Damaged(const FoundItemRecord& r) { return (r.engineSpecific & kExfatDamaged) != 0; }

std::unique_ptr<CFastExfatRecovery> OpenQuick(const std::filesystem::path& image) {
    auto engine = CreateRecoveryEngineForImage(image, 1, false);
    auto* exfat = dynamic_cast<CFastExfatRecovery*>(engine.get());
    if (!exfat) return nullptr;
    engine.release();
    return std::unique_ptr<CFastExfatRecovery>(exfat);
}

TEST(QuickExfat, EveryDeletedIntactFileComesBackByteExactWithItsFolderAndTime) {
    fattest::ScanFolder logs;
    testkit::TempDir dir, out;
    SORVANE_BUILD_IMAGE_OR_SKIP(image, testkit::ImageKind::kExfat, dir.Path());
    const std::string before = testkit::FileSha256(image.image);
    auto engine = OpenQuick(image.image);
    ASSERT_TRUE(engine) << "an exFAT card gets the quick exFAT engine";
    ASSERT_EQ(engine->Scan(nullptr), 0);
    const auto found = ByPath(AllRecords(*engine));

    size_t exact = 0, damaged = 0, sawLongName = 0, sawFragmented = 0, n = 0;
    for (const auto& t : image.Deleted()) {
        auto it = found.find(t.path);
        ASSERT_NE(it, found.end()) << t.path << " is not listed";
        const FoundItemRecord& r = it->second;
        EXPECT_EQ(uint32_t{r.engineCode}, static_cast<uint32_t>(EngineCode::kQuickExfat));
        EXPECT_EQ(uint64_t{r.size}, t.size) << t.path;
        EXPECT_EQ(uint64_t{r.written}, FileTimeFromUnix(static_cast<int64_t>(t.Number("mtime")))) << t.path;
        if (t.Name().size() > 190) ++sawLongName;
        if (t.Has("fragmented")) ++sawFragmented;
        std::filesystem::path file = out / ("f" + std::to_string(++n));
        int rc = -1;
        const std::string sha = fattest::RecoverSha256(*engine, r, file, &rc);
        if (t.Has("overwritten")) {
            // The file that took its cluster was deleted in turn, so the
            // bitmap shows the cluster free; the overlap with that later file
            // still tells that this one's content is gone.
            EXPECT_TRUE(Damaged(r)) << t.path;
            EXPECT_NE(sha, t.sha256) << t.path << " was overwritten";
            ++damaged;
            continue;
        }
        if (t.Has("fragmented")) {
            // The chain of a deleted fragmented file is gone; reading on from
            // its first cluster meets the live file in the gap, which must
            // show, unless the FAT still held the chain and the copy is exact.
            EXPECT_TRUE(Damaged(r) || sha == t.sha256) << t.path;
            continue;
        }
        EXPECT_FALSE(Damaged(r)) << t.path;
        EXPECT_EQ(rc, 0) << t.path;
        EXPECT_EQ(sha, t.sha256) << t.path;
        if (sha == t.sha256) ++exact;
        if (t.size > 0) {
            auto mtime = std::filesystem::last_write_time(file);
            auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                               std::chrono::file_clock::to_sys(mtime).time_since_epoch())
                               .count();
            EXPECT_EQ(seconds, static_cast<int64_t>(t.Number("mtime")))
                << t.path << ": recovered file's time";
        }
    }
    EXPECT_GE(exact, 12u);
    EXPECT_EQ(damaged, 1u);
    EXPECT_EQ(sawLongName, 1u);
    EXPECT_EQ(sawFragmented, 1u);

    // Deleted folders are folders, marked deleted; live files are not listed.
    for (const char* folder : {"Old Projects", "Old Projects/Archive 2019"}) {
        auto it = found.find(folder);
        ASSERT_NE(it, found.end()) << folder;
        EXPECT_TRUE(it->second.IsFolder());
        EXPECT_TRUE(it->second.engineSpecific & kExfatFolderDeleted) << folder;
    }
    EXPECT_FALSE(found.at("Photos").engineSpecific & kExfatFolderDeleted);
    for (const auto& t : image.Live()) EXPECT_EQ(found.count(t.path), 0u) << t.path << " is live";

    // A recovered folder's files keep their times as well, not only a file recovered alone.
    const std::filesystem::path folderOut = out / "Old Projects";
    ASSERT_EQ(engine->RecoverItem(found.at("Old Projects"), folderOut, 0), 0);
    size_t timed = 0;
    for (const auto& t : image.Deleted()) {
        const std::string below = "Old Projects/";
        if (t.isDir || t.size == 0 || t.Has("overwritten") || t.path.rfind(below, 0) != 0) continue;
        const std::filesystem::path file = folderOut / t.path.substr(below.size());
        std::error_code ec;
        auto mtime = std::filesystem::last_write_time(file, ec);
        ASSERT_FALSE(ec) << file;
        auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                           std::chrono::file_clock::to_sys(mtime).time_since_epoch())
                           .count();
        EXPECT_EQ(seconds, static_cast<int64_t>(t.Number("mtime")))
            << t.path << ": time inside a recovered folder";
        ++timed;
    }
    EXPECT_GT(timed, 0u);
    engine.reset();
    EXPECT_EQ(testkit::FileSha256(image.image), before);
}

// A deleted picture whose data is one run says what its structure shows:
// whole while its clusters hold it, damaged once one of them was rewritten
// (the allocation map cannot tell: the cluster is free again).
TEST(QuickExfat, DeletedPictureWithARewrittenClusterIsDamaged) {
    fattest::ScanFolder logs;
    testkit::TempDir dir;
    SORVANE_BUILD_IMAGE_OR_SKIP(image, testkit::ImageKind::kExfat, dir.Path());
    auto isPicture = [](const std::string& path) {
        return path.ends_with(".JPG") || path.ends_with(".jpg") || path.ends_with(".png");
    };
    auto scan = [&](const std::filesystem::path& path) {
        auto engine = OpenQuick(path);
        EXPECT_TRUE(engine);
        if (!engine) return std::map<std::string, FoundItemRecord>{};
        EXPECT_EQ(engine->Scan(nullptr), 0);
        return ByPath(AllRecords(*engine));
    };
    const std::string before = testkit::FileSha256(image.image);
    auto found = scan(image.image);
    std::optional<testkit::TruthEntry> victim;  // a copy: the list is a temporary
    size_t whole = 0;
    for (const auto& t : image.Deleted()) {
        if (!isPicture(t.path) || t.Has("overwritten") || t.Has("fragmented")) continue;
        ASSERT_TRUE(found.count(t.path)) << t.path;
        EXPECT_STREQ(ContentCheckWord(found[t.path].contentCheck), "whole") << t.path;
        ++whole;
        if (t.path.ends_with(".png") && t.size > 3 * uint64_t{found[t.path].clusterBytes}) victim = t;
    }
    EXPECT_GE(whole, 3u);
    EXPECT_EQ(testkit::FileSha256(image.image), before);
    ASSERT_TRUE(victim) << "the card holds a deleted picture of several clusters";

    // In a copy of the card, the picture's second cluster (found by its
    // first bytes, read back from the scan's own copy) becomes zeros.
    auto engine = OpenQuick(image.image);
    ASSERT_TRUE(engine);
    ASSERT_EQ(engine->Scan(nullptr), 0);
    const auto extracted = dir.Path() / "victim.png";
    int rc = -1;
    EXPECT_EQ(fattest::RecoverSha256(*engine, found[victim->path], extracted, &rc), victim->sha256);
    engine.reset();
    const std::vector<uint8_t> picture = testkit::ReadFile(extracted);
    std::vector<uint8_t> disk = testkit::ReadFile(image.image);
    auto at = std::search(disk.begin(), disk.end(), picture.begin(), picture.begin() + 512);
    ASSERT_NE(at, disk.end());
    const uint32_t cluster = found[victim->path].clusterBytes;
    std::fill_n(at + cluster, cluster, 0);
    const auto rewritten = dir.Path() / "rewritten.img";
    testkit::WriteFile(rewritten, disk);
    found = scan(rewritten);
    ASSERT_TRUE(found.count(victim->path));
    EXPECT_TRUE(Damaged(found[victim->path]));
    EXPECT_STREQ(ContentCheckWord(found[victim->path].contentCheck), "damaged");
}

TEST(QuickExfat, TheAllocationMapLeavesOutLiveClustersAndKeepsDeletedOnes) {
    fattest::ScanFolder logs;
    SORVANE_SHARED_IMAGE_OR_SKIP(image, testkit::ImageKind::kExfat);
    auto engine = OpenQuick(image.image);
    ASSERT_TRUE(engine);
    ASSERT_EQ(engine->LoadAllocationMap(), 0);
    const ExfatGeometry& g = engine->Volume().Geometry();
    const uint64_t spc = g.ClusterBytes() / 512;
    const uint64_t total = image.volumes[0].sectorCount;
    std::vector<bool> free(total, false);
    uint64_t start = 0, length = 0, runs = 0;
    while (start < total && engine->NextFreeExtent(start, length) && length > 0) {
        ASSERT_LE(start + length, total);
        for (uint64_t s = start; s < start + length; ++s) free[s] = true;
        start += length;
        ASSERT_LT(++runs, 100000u);
    }
    auto sectorOf = [&](uint64_t cluster) { return g.heapOffset + (cluster - 2) * spc; };
    for (const auto& t : image.entries) {
        const uint64_t first = t.Number("first_cluster"), count = t.Number("clusters");
        if (!first || !t.Has("nofatchain")) continue;
        for (uint64_t c = first; c < first + count; ++c) {
            if (!t.deleted) {
                EXPECT_FALSE(free[sectorOf(c)]) << t.path << " cluster " << c << " is live";
            } else if (!t.Has("overwritten")) {
                EXPECT_TRUE(free[sectorOf(c)]) << t.path << " cluster " << c;
            }
        }
    }
    EXPECT_FALSE(free[0]) << "the boot region is never free space";
    EXPECT_FALSE(free[g.fatOffset]) << "nor is the FAT";
    // A start past the end is set to the end.
    start = total + 5;
    EXPECT_EQ(engine->NextFreeExtent(start, length), 1);
    EXPECT_EQ(start, total);
    EXPECT_EQ(length, 0u);
}

TEST(QuickExfat, AStopKeepsWhatWasFoundAndCorruptedCardsNeverHangTheScan) {
    fattest::ScanFolder logs;
    testkit::TempDir dir;
    SORVANE_SHARED_IMAGE_OR_SKIP(image, testkit::ImageKind::kExfat);
    {
        auto engine = OpenQuick(image.image);
        ASSERT_TRUE(engine);
        engine->SetCallbacks([](void*, int percent, int, int64_t, uint64_t, uint64_t,
                                uint64_t) { return percent >= 1 ? kCancelCode : 0; },
                             nullptr, nullptr, 100);
        EXPECT_EQ(engine->Scan(nullptr), kCancelCode);
    }
    const std::vector<uint8_t> original = testkit::ReadFile(image.image);
    ExfatGeometry g;
    ASSERT_TRUE(ParseExfatBootSector(original.data(), original.size(), g));
    std::mt19937 rng(15);
    for (int round = 0; round < 12; ++round) {
        std::vector<uint8_t> bytes = original;
        // Loops and wild links in the FAT, and scrambled folder clusters.
        const uint64_t fat = uint64_t{g.fatOffset} * 512;
        for (int i = 0; i < 200; ++i) {
            const uint32_t entry = 2 + rng() % (g.clusterCount);
            const uint32_t target = round % 2 ? entry : static_cast<uint32_t>(rng());
            for (int b = 0; b < 4; ++b) bytes[fat + entry * 4 + b] = static_cast<uint8_t>(target >> (8 * b));
        }
        const uint64_t heap = uint64_t{g.heapOffset} * 512;
        for (int i = 0; i < 4000; ++i)
            bytes[heap + rng() % (bytes.size() - heap)] = static_cast<uint8_t>(rng());
        // Entry sets whose secondary count claims 255 entries.
        for (size_t at = heap; at + 32 <= bytes.size() && at < heap + 64 * g.ClusterBytes(); at += 32)
            if ((bytes[at] & 0x7F) == 0x05 && rng() % 3 == 0) bytes[at + 1] = 255;
        std::filesystem::path copy = dir / ("damaged" + std::to_string(round) + ".img");
        testkit::WriteFile(copy, bytes);
        auto engine = OpenQuick(copy);
        ASSERT_TRUE(engine) << round;
        EXPECT_EQ(engine->Scan(nullptr), 0) << round;
        AllRecords(*engine);
    }
}

TEST(QuickExfat, ADeletedSetClaimingMoreThanTheHeapIsDamagedAndItsCopyFails) {
    fattest::ScanFolder logs;
    testkit::TempDir dir;
    SORVANE_SHARED_IMAGE_OR_SKIP(image, testkit::ImageKind::kExfat);
    FoundItemRecord note;
    {
        auto engine = OpenQuick(image.image);
        ASSERT_TRUE(engine);
        ASSERT_EQ(engine->Scan(nullptr), 0);
        note = ByPath(AllRecords(*engine)).at("Photos/tiny note.txt");
    }
    // A data length of 1 TiB, sealed with a right checksum: the set itself holds.
    std::vector<uint8_t> bytes = testkit::ReadFile(image.image);
    const size_t at =
        static_cast<size_t>(uint64_t{note.location} * 512 +
                            ((uint32_t{note.engineSpecific} >> kExfatEntryIndexShift) & 0xFF) * 32);
    ASSERT_EQ(bytes[at], 0x05);
    const size_t entries = bytes[at + 1] + 1u;
    for (int i = 0; i < 8; ++i)
        bytes[at + 32 + 24 + i] = static_cast<uint8_t>((uint64_t{1} << 40) >> (8 * i));
    const uint16_t sum = ExfatSetChecksum(bytes.data() + at, entries, true);
    bytes[at + 2] = static_cast<uint8_t>(sum);
    bytes[at + 3] = static_cast<uint8_t>(sum >> 8);
    const std::filesystem::path copy = dir / "claims.img";
    testkit::WriteFile(copy, bytes);

    auto engine = OpenQuick(copy);
    ASSERT_TRUE(engine);
    ASSERT_EQ(engine->Scan(nullptr), 0);
    const FoundItemRecord r = ByPath(AllRecords(*engine)).at("Photos/tiny note.txt");
    EXPECT_EQ(uint64_t{r.size}, uint64_t{1} << 40);
    EXPECT_TRUE(Damaged(r));
    EXPECT_NE(engine->RecoverItem(r, dir / "note.txt", 0), 0) << "the clusters run out before the data does";
}

TEST(QuickExfat, ABootRegionDamagedInBothCopiesGetsNoQuickEngineButADeepScan) {
    fattest::ScanFolder logs;
    testkit::TempDir dir;
    SORVANE_SHARED_IMAGE_OR_SKIP(image, testkit::ImageKind::kExfat);
    std::vector<uint8_t> bytes = testkit::ReadFile(image.image);
    bytes[100] ^= 0x5A;  // the main region's checksum fails: the backup is read
    std::filesystem::path mainDamaged = dir / "main.img";
    testkit::WriteFile(mainDamaged, bytes);
    auto engine = OpenQuick(mainDamaged);
    ASSERT_TRUE(engine);
    EXPECT_EQ(engine->Volume().BootChoice(), ExfatBootChoice::kBackup);
    ASSERT_EQ(engine->Scan(nullptr), 0);
    EXPECT_GT(engine->GetFoundCount(), 10u);

    bytes[108] = 20;
    bytes[12 * 512 + 108] = 20;
    std::filesystem::path bothDamaged = dir / "both.img";
    testkit::WriteFile(bothDamaged, bytes);
    EXPECT_TRUE(HasDamagedExfatBootRegion(bytes.data(), 16384));
    EXPECT_FALSE(CreateRecoveryEngineForImage(bothDamaged, 1, false));
    auto deep = CreateRecoveryEngineForImage(bothDamaged, 1, true);
    EXPECT_TRUE(dynamic_cast<CProfessionalRecovery*>(deep.get()));
}

// Deleted entries `fls -r -d -p` lists: path -> is a folder. TSK's virtual
// orphan folder is left out.
std::map<std::string, bool> FlsDeleted(const std::filesystem::path& listing) {
    std::map<std::string, bool> out;
    std::ifstream in(listing);
    std::string line;
    while (std::getline(in, line)) {
        const size_t tab = line.find('\t');
        if (tab == std::string::npos || line.find(" * ") == std::string::npos) continue;
        const std::string path = line.substr(tab + 1);
        if (path.rfind("$OrphanFiles", 0) == 0) continue;
        out[path] = line.rfind("d/d", 0) == 0;
    }
    return out;
}

TEST(QuickExfat, EveryDeletedEntryOfTheWindowsVolumesIsListedAndReusedClustersShowAsDamaged) {
    fattest::ScanFolder logs;
    const std::filesystem::path real = testkit::RealImagesDir();
    if (real.empty() || !std::filesystem::exists(real / "exfat_win.raw")) GTEST_SKIP() << "no public images";
    // The README names the files whose clusters were reused: all deleted
    // files with data on the first volume.
    const std::set<std::string> reused = {"1.bin", "333.bin", "555.bin"};
    for (const char* name : {"exfat_win.raw", "win_exfat_7.raw"}) {
        const std::filesystem::path image = real / name;
        const std::string before = testkit::FileSha256(image);
        auto engine = OpenQuick(image);
        ASSERT_TRUE(engine) << name;
        ASSERT_EQ(engine->Scan(nullptr), 0) << name;
        const auto found = ByPath(AllRecords(*engine));
        const auto expected = FlsDeleted(real / (std::string(name) + ".fls-deleted.txt"));
        ASSERT_FALSE(expected.empty());
        for (const auto& [path, folder] : expected) {
            auto it = found.find(path);
            ASSERT_NE(it, found.end()) << name << ": " << path;
            EXPECT_EQ(it->second.IsFolder(), folder) << path;
            if (!folder) {
                EXPECT_EQ(Damaged(it->second), reused.count(path) != 0) << path;
            }
        }
        size_t files = 0;
        for (const auto& [path, r] : found) files += !r.IsFolder();
        EXPECT_EQ(files, std::string(name) == "exfat_win.raw" ? 4u : 1u) << name;
        engine.reset();
        EXPECT_EQ(testkit::FileSha256(image), before);
    }
}

}  // namespace
}  // namespace sorvane
