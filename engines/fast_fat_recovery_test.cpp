// The quick FAT engine on volumes made by mkfs.fat and mtools: every deleted
// file that The Sleuth Kit's icat extracts intact must come back byte-exact,
// under its name and folder, and the source must never change.
#include "engines/fast_fat_recovery.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <regex>
#include <set>

#include "carving/content_check.h"
#include "engines/engine_factory.h"
#include "engines/fat_test_support.h"
#include "engines/professional_recovery.h"
#include "platform/drive_table.h"
#include "platform/file_time.h"
#include "platform/text_encoding.h"
#include "tests/testkit/test_images.h"

namespace sorvane {
namespace {

using fattest::AllRecords;
using fattest::FoundEntry;
using testkit::ImageKind;

struct Outcome {
    size_t required = 0;   // deleted files icat extracts intact
    size_t recovered = 0;  // of those, recovered byte-exact under the right name and folder
    size_t extra = 0;      // deleted files icat gets wrong that we recover byte-exact
    size_t extraTried = 0;
    size_t wrongCopies = 0;   // deleted files whose one-run copy is not the file
    size_t wrongFlagged = 0;  // of those, reported damaged
    std::vector<std::string> failures;
};

// Scans volume `volume` of a built image with the engine the factory chooses,
// and checks every deleted file of the truth against icat and our recovery.
Outcome CheckVolume(const testkit::BuiltImage& built, int volume, IFileRecoveryParse& engine,
                    const std::filesystem::path& out) {
    Outcome o;
    const testkit::TruthVolume& v = built.volumes.at(static_cast<size_t>(volume));
    std::vector<FoundEntry> found = AllRecords(engine);
    auto fls = fattest::FlsDeletedFiles(built.image, v.startSector);
    int n = 0;
    for (const auto& truth : built.Deleted(volume)) {
        auto inode = fls.find(fattest::NormalisedPath(truth.path));
        std::string icatSha =
            inode == fls.end() ? "" : fattest::IcatSha256(built.image, v.startSector, inode->second);
        bool required = icatSha == truth.sha256 && !truth.Has("overwritten");
        const FoundEntry* match = nullptr;
        for (const auto& f : found)
            if (!f.record.IsFolder() && fattest::PathMatches(f.path, truth.path, true) &&
                f.record.size == truth.size)
                match = &f;
        std::string ours;
        if (match) ours = fattest::RecoverSha256(engine, match->record, out / ("f" + std::to_string(++n)));
        if (match && !ours.empty()) {
            // A copy that is the file is never called damaged; one that is not
            // should be.
            bool damaged = std::string(ContentCheckWord(match->record.contentCheck)) == "damaged";
            if (ours == truth.sha256 && damaged)
                o.failures.push_back(truth.path + " (whole, reported damaged)");
            if (ours != truth.sha256) {
                ++o.wrongCopies;
                if (damaged) ++o.wrongFlagged;
            }
        }
        if (required) {
            ++o.required;
            if (ours == truth.sha256)
                ++o.recovered;
            else
                o.failures.push_back(truth.path + (match ? " (content differs)" : " (not found)"));
        } else if (!truth.Has("overwritten")) {
            ++o.extraTried;
            if (ours == truth.sha256) ++o.extra;
        }
    }
    // Nothing live is listed: every file found is a deleted file of the truth.
    for (const auto& f : found) {
        if (f.record.IsFolder()) continue;
        bool deletedInTruth = false;
        for (const auto& truth : built.entries)
            if (!truth.isDir && truth.volume == volume && truth.deleted &&
                fattest::PathMatches(f.path, truth.path, true))
                deletedInTruth = true;
        if (!deletedInTruth) o.failures.push_back("listed but not deleted: " + f.path);
    }
    return o;
}

class QuickFatOnToolkitImage : public ::testing::TestWithParam<ImageKind> {};

TEST_P(QuickFatOnToolkitImage, RecoversEveryDeletedFileThatIcatExtractsIntact) {
    fattest::ScanFolder logs;
    testkit::TempDir dir, out;
    SORVANE_BUILD_IMAGE_OR_SKIP(built, GetParam(), dir.Path());
    if (!testkit::HaveProgram("icat")) GTEST_SKIP() << "The Sleuth Kit is missing";
    std::string before = testkit::FileSha256(built.image);
    auto engine = CreateRecoveryEngineForImage(built.image, 7, false);
    ASSERT_TRUE(engine);
    ASSERT_NE(dynamic_cast<CFastFatRecovery*>(engine.get()), nullptr);
    ASSERT_EQ(engine->Scan(nullptr), 0);
    Outcome o = CheckVolume(built, 0, *engine, out.Path());
    std::printf(
        "[ %s ] %zu of %zu deleted files that icat extracts intact recovered byte-exact; "
        "%zu of %zu that icat gets wrong recovered too; %zu of %zu wrong copies reported damaged\n",
        testkit::ImageKindName(GetParam()), o.recovered, o.required, o.extra, o.extraTried, o.wrongFlagged,
        o.wrongCopies);
    EXPECT_GT(o.required, 5u);
    EXPECT_EQ(o.recovered, o.required);
    for (const auto& f : o.failures) ADD_FAILURE() << f;
    // Preview of every file leaves the source as it was, too.
    for (const auto& f : AllRecords(*engine)) {
        if (f.record.IsFolder()) continue;
        std::vector<uint8_t> buffer(4096);
        size_t count = buffer.size();
        std::filesystem::path temp;
        EXPECT_EQ(engine->PreviewItem(f.record, temp, buffer.data(), count, nullptr, nullptr), 0) << f.path;
    }
    engine.reset();
    EXPECT_EQ(testkit::FileSha256(built.image), before);
}

INSTANTIATE_TEST_SUITE_P(Toolkit, QuickFatOnToolkitImage,
                         ::testing::Values(ImageKind::kFat12, ImageKind::kFat16, ImageKind::kFat32),
                         [](const auto& info) { return std::string(testkit::ImageKindName(info.param)); });

TEST(QuickFatPartition, FatPartitionOfAWholeDiskImageIsReadLikeADrive) {
    fattest::ScanFolder logs;
    testkit::TempDir dir, out;
    SORVANE_BUILD_IMAGE_OR_SKIP(built, ImageKind::kMbr, dir.Path());
    if (!testkit::HaveProgram("icat")) GTEST_SKIP() << "The Sleuth Kit is missing";
    int volume = -1;
    for (const auto& v : built.volumes)
        if (v.fileSystem == "fat32") volume = v.index;
    ASSERT_GE(volume, 0);
    const auto& v = built.volumes.at(static_cast<size_t>(volume));
    int drive = DriveTable::Instance().AddImage(built.image);
    auto engine = CreateRecoveryEngine(drive, v.startSector, v.sectorCount, 3, false);
    ASSERT_TRUE(engine);
    ASSERT_EQ(engine->Scan(nullptr), 0);
    Outcome o = CheckVolume(built, volume, *engine, out.Path());
    std::printf("[ mbr fat32 partition ] %zu of %zu recovered byte-exact\n", o.recovered, o.required);
    EXPECT_GT(o.required, 3u);
    EXPECT_EQ(o.recovered, o.required);
    for (const auto& f : o.failures) ADD_FAILURE() << f;
    for (const auto& f : AllRecords(*engine)) EXPECT_EQ(uint64_t{f.record.partitionStart}, v.startSector);
}

TEST(QuickFatEngine, FilesInsideADeletedFolderAreFiledUnderIt) {
    fattest::ScanFolder logs;
    testkit::TempDir dir, out;
    SORVANE_SHARED_IMAGE_OR_SKIP(built, ImageKind::kFat16);
    auto engine = CreateRecoveryEngineForImage(built.image, 1, false);
    ASSERT_TRUE(engine);
    ASSERT_EQ(engine->Scan(nullptr), 0);
    FoundItemList root;
    ASSERT_EQ(engine->ListChildren(nullptr, 0, root), 0);
    const FoundItemRecord* old = nullptr;
    for (const auto& r : root)
        if (r.IsFolder() && r.Name() == "Old Projects") old = &r;
    ASSERT_NE(old, nullptr) << "the deleted folder is listed under the root";
    EXPECT_EQ(uint32_t{old->engineSpecific}, 1u) << "marked deleted";
    EXPECT_EQ(uint32_t{old->engineCode}, 1u);
    FoundItemList inside;
    ASSERT_EQ(engine->ListChildren(old, 1, inside), 0);
    ASSERT_FALSE(inside.empty());
    // Files come first, then folders, by name ignoring case.
    bool seenFolder = false;
    for (const auto& r : inside) {
        if (r.IsFolder())
            seenFolder = true;
        else
            EXPECT_FALSE(seenFolder);
    }
    std::string path;
    EXPECT_EQ(engine->GetFolderPath(inside.front(), path), 0);
    EXPECT_EQ(path, "Old Projects/");
    uint32_t count = 0;
    EXPECT_EQ(engine->CountFiles(old, 1, count), 0);
    EXPECT_GE(count, inside.size() - 1);

    // Recovering the folder rebuilds its tree below the destination, whatever
    // the destination's own depth.
    std::filesystem::path target = out / "deep" / "er" / "Old Projects";
    ASSERT_EQ(engine->RecoverItem(*old, target, 0), 0);
    size_t files = 0;
    for (const auto& e : std::filesystem::recursive_directory_iterator(target))
        if (e.is_regular_file()) ++files;
    EXPECT_EQ(files, count);
    std::map<std::string, std::string> recovered;  // path below out/deep/er -> sha
    for (const auto& e : std::filesystem::recursive_directory_iterator(target))
        if (e.is_regular_file())
            recovered[testkit::GenericUtf8(e.path().lexically_relative(out / "deep" / "er"))] =
                testkit::FileSha256(e.path());
    size_t checked = 0;
    for (const auto& truth : built.Deleted()) {
        if (truth.path.rfind("Old Projects/", 0) != 0) continue;
        bool match = false;
        for (const auto& [path, sha] : recovered)
            if (fattest::PathMatches(path, truth.path, true) && sha == truth.sha256) match = true;
        EXPECT_TRUE(match) << truth.path;
        ++checked;
    }
    EXPECT_GE(checked, 3u);

    EXPECT_EQ(engine->ListChildren(nullptr, 5, root), 87);
    EXPECT_EQ(engine->CountFiles(nullptr, 5, count), 87);
}

TEST(QuickFatEngine, LiveFilesOfADeletedFolderAreListedAndFollowTheirChain) {
    if (!testkit::HaveProgram("mcopy")) GTEST_SKIP() << "mtools missing";
    fattest::ScanFolder logs;
    testkit::TempDir dir, out;
    std::string image = (dir / "folder.img").string();
    std::string q = testkit::ShellQuote(image);
    // A folder whose entry alone is deleted (as a crash or another system can
    // leave it) holds a live file split around a live one in the root.
    std::string script = "set -e; export MTOOLS_SKIP_CHECK=1; mkfs.fat -F 16 -s 1 -C " + q +
                         " 16384 >/dev/null; cd " + testkit::ShellQuote(dir.Path().string()) +
                         "; head -c 1024 /dev/urandom > filler; head -c 512 /dev/urandom > mid;"
                         " head -c 2900 /dev/urandom > 'split file.bin'; mmd -i " +
                         q +
                         " ::/Kept;"
                         " mcopy -i " +
                         q + " filler ::/filler; mcopy -i " + q +
                         " mid ::/mid;"
                         " mdel -i " +
                         q + " ::/filler; mcopy -i " + q + " 'split file.bin' '::/Kept/split file.bin'";
    ASSERT_EQ(testkit::RunCommand("bash -c " + testkit::ShellQuote(script)), 0);
    std::vector<uint8_t> bytes = testkit::ReadFile(image);
    CFastFatRecovery probe;
    ASSERT_EQ(OpenOnImage(probe, image, 1), 0);
    const FatGeometry g = probe.Geometry();
    bool patched = false;
    for (uint64_t off = g.rootDirStart * 512; off < g.dataStart * 512; off += 32) {
        if (std::memcmp(&bytes[off], "KEPT       ", 11) == 0 && (bytes[off + 11] & 0x10)) {
            bytes[off] = 0xE5;
            patched = true;
        }
    }
    ASSERT_TRUE(patched);
    testkit::WriteFile(image, bytes);

    auto engine = CreateRecoveryEngineForImage(image, 1, false);
    ASSERT_TRUE(engine);
    ASSERT_EQ(engine->Scan(nullptr), 0);
    auto found = AllRecords(*engine);
    std::vector<std::string> files;
    for (const auto& f : found)
        if (!f.record.IsFolder()) files.push_back(f.path);
    // The deleted filler is listed too (its clusters went to the split file);
    // the live file in the live root is not.
    ASSERT_EQ(files, (std::vector<std::string>{"!iller", "Kept/split file.bin"}));
    for (const auto& f : found) {
        if (f.path != "Kept/split file.bin") continue;
        EXPECT_EQ(uint32_t{f.record.engineSpecific}, 0u) << "the entry itself is live";
        std::string sha = fattest::RecoverSha256(*engine, f.record, out / "split.bin");
        EXPECT_EQ(sha, testkit::FileSha256(dir / "split file.bin"));
    }
}

// A camera-like folder of hundreds of files, with a folder of its own inside,
// deleted as a whole next to a live folder. Its clusters are not one run (its
// files' data was written between them) and deleting it cleared its chain.
struct BigDeletedFolder {
    std::filesystem::path image;
    std::filesystem::path source;                           // the files as they were copied in
    std::vector<std::pair<uint32_t, uint32_t>> cameraRuns;  // the folder's clusters before deletion
};

bool MakeBigDeletedFolder(const testkit::TempDir& dir, int bits, BigDeletedFolder& made) {
    made.image = dir / "camera.img";
    made.source = dir / "src";
    // The files' bytes come from a fixed seed, so a failure comes back on the
    // next run with the same image.
    std::mt19937 random(2026);
    auto put = [&](const std::filesystem::path& path, size_t size) {
        std::vector<uint8_t> bytes(size);
        for (auto& b : bytes) b = static_cast<uint8_t>(random());
        std::filesystem::create_directories(path.parent_path());
        testkit::WriteFile(path, bytes);
    };
    const std::filesystem::path camera = made.source / "DCIM/Camera";
    for (int i = 0; i < 160; ++i) {
        char name[64];
        if (i % 2 == 0)
            std::snprintf(name, sizeof name, "IMG_%04d.DAT", i);
        else
            std::snprintf(name, sizeof name, "Holiday photo number %d.dat", i);
        put(camera / name, static_cast<size_t>(100 + i * 37 % 2900));
    }
    for (int i = 0; i < 40; ++i)
        put(camera / "Burst" / ("burst shot " + std::to_string(i) + ".dat"),
            static_cast<size_t>(600 + i * 13));
    for (int i = 0; i < 3; ++i) put(made.source / "Keep" / ("live" + std::to_string(i) + ".txt"), 700);
    const std::string q = testkit::ShellQuote(made.image.string());
    const std::string sectors = bits == 32 ? "40960" : "16384";
    std::string script =
        "set -e; export MTOOLS_SKIP_CHECK=1 LC_ALL=C.UTF-8; cd " + testkit::ShellQuote(dir.Path().string()) +
        "; PATH=$PATH:/usr/sbin:/sbin mkfs.fat -F " + std::to_string(bits) + " -s 1 -C " + q + " " + sectors +
        " >/dev/null; mcopy -s -i " + q + " src/DCIM src/Keep ::; mshowfat -i " + q +
        " ::/DCIM/Camera > chains.txt; mdeltree -i " + q + " ::/DCIM";
    if (testkit::RunCommand("bash -c " + testkit::ShellQuote(script)) != 0) return false;
    std::ifstream chains(dir / "chains.txt");
    std::string line;
    std::getline(chains, line);
    std::regex run("<(\\d+)(?:-(\\d+))?>");
    for (std::sregex_iterator it(line.begin(), line.end(), run), end; it != end; ++it) {
        uint32_t lo = static_cast<uint32_t>(std::stoul((*it)[1].str()));
        uint32_t hi = (*it)[2].matched ? static_cast<uint32_t>(std::stoul((*it)[2].str())) : lo;
        made.cameraRuns.emplace_back(lo, hi);
    }
    return true;
}

class QuickFatBigDeletedFolder : public ::testing::TestWithParam<int> {
  protected:
    // The image with its deleted folder in two runs or more, and its layout.
    void MakeWithGeometry(const testkit::TempDir& dir, BigDeletedFolder& made, FatGeometry& g) {
        ASSERT_TRUE(MakeBigDeletedFolder(dir, GetParam(), made));
        ASSERT_GE(made.cameraRuns.size(), 2u);
        CFastFatRecovery probe;
        ASSERT_EQ(OpenOnImage(probe, made.image, 1), 0);
        g = probe.Geometry();
    }
};

TEST_P(QuickFatBigDeletedFolder, EveryFileComesBackByteExactInItsFolder) {
    if (!testkit::HaveProgram("mcopy") || !testkit::HaveProgram("mshowfat")) GTEST_SKIP() << "mtools missing";
    fattest::ScanFolder logs;
    testkit::TempDir dir, out;
    BigDeletedFolder made;
    ASSERT_TRUE(MakeBigDeletedFolder(dir, GetParam(), made));
    // The case this guards: the folder's clusters after the first lie elsewhere.
    ASSERT_GE(made.cameraRuns.size(), 2u);
    ASSERT_GT(made.cameraRuns[1].first, made.cameraRuns[0].second + 1);
    const std::string before = testkit::FileSha256(made.image);

    auto engine = CreateRecoveryEngineForImage(made.image, 1, false);
    ASSERT_TRUE(engine);
    ASSERT_EQ(engine->Scan(nullptr), 0);
    std::map<std::string, std::string> expected;  // "DCIM/Camera/..." -> sha
    for (const auto& e : std::filesystem::recursive_directory_iterator(made.source / "DCIM"))
        if (e.is_regular_file())
            expected[e.path().lexically_relative(made.source).string()] = testkit::FileSha256(e.path());
    ASSERT_EQ(expected.size(), 200u);

    std::set<std::string> matched;
    int n = 0;
    for (const auto& f : AllRecords(*engine)) {
        if (f.record.IsFolder()) continue;
        const std::string* original = nullptr;
        for (const auto& [path, sha] : expected)
            if (fattest::PathMatches(f.path, path, true)) original = &path;
        if (!original) {
            ADD_FAILURE() << "listed but not a file of the deleted folder: " << f.path;
            continue;
        }
        EXPECT_TRUE(matched.insert(*original).second) << "listed twice: " << *original;
        std::string sha = fattest::RecoverSha256(*engine, f.record, out / ("f" + std::to_string(++n)));
        EXPECT_EQ(sha, expected[*original]) << *original;
    }
    std::printf("[ fat%d ] %zu of %zu files of the deleted folder listed\n", GetParam(), matched.size(),
                expected.size());
    EXPECT_EQ(matched.size(), expected.size());
    engine.reset();
    EXPECT_EQ(testkit::FileSha256(made.image), before);
}

TEST_P(QuickFatBigDeletedFolder, ClustersSomethingLiveHoldsAreNeverReadAsPartOfIt) {
    if (!testkit::HaveProgram("mcopy") || !testkit::HaveProgram("mshowfat")) GTEST_SKIP() << "mtools missing";
    fattest::ScanFolder logs;
    testkit::TempDir dir;
    BigDeletedFolder made;
    FatGeometry g;
    ASSERT_NO_FATAL_FAILURE(MakeWithGeometry(dir, made, g));
    // The folder's later clusters are given back to a live file (in every
    // copy of the table): they still hold the old entries, but those are no
    // longer the deleted folder's to list.
    std::vector<uint8_t> bytes = testkit::ReadFile(made.image);
    const uint32_t width = GetParam() == 32 ? 4 : 2;
    const uint32_t from = made.cameraRuns[1].first, to = made.cameraRuns.back().second;
    for (uint32_t fat = 0; fat < g.fatCount; ++fat) {
        const uint64_t base =
            (uint64_t{g.reservedSectors} + uint64_t{fat} * g.sectorsPerFat) * g.bytesPerSector;
        for (uint32_t c = from; c <= to; ++c) {
            uint32_t value = c == to ? 0x0FFFFFFF : c + 1;
            std::memcpy(&bytes[base + uint64_t{c} * width], &value, width);
        }
    }
    testkit::WriteFile(made.image, bytes);

    auto engine = CreateRecoveryEngineForImage(made.image, 1, false);
    ASSERT_TRUE(engine);
    ASSERT_EQ(engine->Scan(nullptr), 0);
    const uint64_t firstSector = g.ClusterSector(from), endSector = g.ClusterSector(to) + g.sectorsPerCluster;
    size_t listed = 0;
    for (const auto& f : AllRecords(*engine)) {
        if (f.record.IsFolder()) continue;
        ++listed;
        EXPECT_FALSE(f.record.location >= firstSector && f.record.location < endSector)
            << f.path << " was read from a cluster a live file holds";
    }
    // The folder's first cluster is still its own and still listed.
    EXPECT_GT(listed, 0u);
    EXPECT_LT(listed, 200u);
}

TEST_P(QuickFatBigDeletedFolder, AFileEndingInAFewStrayBytesDoesNotEndTheFolder) {
    if (!testkit::HaveProgram("mcopy") || !testkit::HaveProgram("mshowfat")) GTEST_SKIP() << "mtools missing";
    fattest::ScanFolder logs;
    testkit::TempDir dir;
    BigDeletedFolder made;
    FatGeometry g;
    ASSERT_NO_FATAL_FAILURE(MakeWithGeometry(dir, made, g));
    // The last cluster of a file often holds a few bytes and then zeros. Put
    // there, between the folder's first cluster and its next, bytes that
    // read as a volume label, as a long-name piece, or as a live folder
    // entry without a cluster: none of them is the folder going on.
    struct Stray {
        const char* what;
        uint8_t bytes[32];
    };
    const Stray strays[] = {
        {"label", {'C', 'A', 'R', 'D', ' ', ' ', ' ', ' ', ' ', ' ', ' ', 0x08}},
        {"long-name piece", {0x01, 'a', 0, 'b', 0, 'c', 0, 'd', 0, 'e', 0, 0x0F, 0, 0x00, 'f', 0}},
        {"folder without a cluster", {'P', 'H',  'O', 'T', 'O',  'S',  ' ',  ' ',  ' ',  ' ',
                                      ' ', 0x10, 0,   0,   0x20, 0x60, 0x87, 0x5D, 0x87, 0x5D}},
    };
    for (const Stray& stray : strays) {
        SCOPED_TRACE(stray.what);
        std::vector<uint8_t> bytes = testkit::ReadFile(made.image);
        // Just before the folder's next cluster: data of a file whose entry
        // the search has not seen yet, so it is read.
        const uint32_t cluster = made.cameraRuns[1].first - 1;
        ASSERT_GT(cluster, made.cameraRuns[0].second);
        const uint64_t at = g.ClusterSector(cluster) * g.bytesPerSector;
        std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(at), g.ClusterBytes(), uint8_t{0});
        std::copy(std::begin(stray.bytes), std::end(stray.bytes),
                  bytes.begin() + static_cast<std::ptrdiff_t>(at));
        const std::filesystem::path image = dir / "stray.img";
        testkit::WriteFile(image, bytes);

        auto engine = CreateRecoveryEngineForImage(image, 1, false);
        ASSERT_TRUE(engine);
        ASSERT_EQ(engine->Scan(nullptr), 0);
        size_t listed = 0;
        for (const auto& f : AllRecords(*engine))
            if (!f.record.IsFolder() && f.path.find("Camera/") != std::string::npos) ++listed;
        EXPECT_EQ(listed, 200u);
    }
}

INSTANTIATE_TEST_SUITE_P(Fat, QuickFatBigDeletedFolder, ::testing::Values(16, 32),
                         [](const auto& info) { return "fat" + std::to_string(info.param); });

TEST(QuickFatEngine, RecoveredFilesKeepTheirDatesAndEmptyFilesComeBackEmpty) {
    fattest::ScanFolder logs;
    testkit::TempDir dir, out;
    SORVANE_SHARED_IMAGE_OR_SKIP(built, ImageKind::kFat32);
    auto engine = CreateRecoveryEngineForImage(built.image, 1, false);
    ASSERT_TRUE(engine);
    ASSERT_EQ(engine->Scan(nullptr), 0);
    bool sawEmpty = false;
    int n = 0;
    for (const auto& f : AllRecords(*engine)) {
        if (f.record.IsFolder()) continue;
        std::filesystem::path file = out / ("x" + std::to_string(++n));
        ASSERT_EQ(engine->RecoverItem(f.record, file, 0), 0) << f.path;
        EXPECT_EQ(std::filesystem::file_size(file), uint64_t{f.record.size});
        if (f.record.size == 0) sawEmpty = true;
        ASSERT_NE(uint64_t{f.record.written}, 0u);
        auto mtime = std::filesystem::last_write_time(file);
        auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                           std::chrono::file_clock::to_sys(mtime).time_since_epoch())
                           .count();
        EXPECT_EQ(seconds, UnixFromLocalWallClock(f.record.written)) << f.path;
    }
    EXPECT_TRUE(sawEmpty);
}

TEST(QuickFatEngine, CancelAnswerEndsTheScanAtOnceAndKeepsWhatWasFound) {
    fattest::ScanFolder logs;
    SORVANE_SHARED_IMAGE_OR_SKIP(built, ImageKind::kFat16);
    auto engine = CreateRecoveryEngineForImage(built.image, 1, false);
    ASSERT_TRUE(engine);
    int calls = 0;
    engine->SetCallbacks(
        [](void* user, int, int, int64_t, uint64_t, uint64_t, uint64_t) -> int {
            ++*static_cast<int*>(user);
            return kCancelCode;
        },
        nullptr, &calls, 100);
    EXPECT_EQ(engine->Scan(nullptr), kCancelCode);
    EXPECT_EQ(calls, 1);
    // Progress reports of a whole scan run from 1 to 100.
    std::vector<int> percents;
    auto second = CreateRecoveryEngineForImage(built.image, 1, false);
    second->SetCallbacks(
        [](void* user, int percent, int weight, int64_t, uint64_t, uint64_t, uint64_t) -> int {
            EXPECT_EQ(weight, 100);
            static_cast<std::vector<int>*>(user)->push_back(percent);
            return 0;
        },
        nullptr, &percents, 100);
    EXPECT_EQ(second->Scan(nullptr), 0);
    ASSERT_GE(percents.size(), 3u);
    EXPECT_EQ(percents.front(), 1);
    EXPECT_EQ(percents.back(), 100);
    EXPECT_GT(second->GetFoundCount(), 0u);

    // Stopped after the walk: the files found so far, in folders too, can be reached.
    auto third = CreateRecoveryEngineForImage(built.image, 1, false);
    third->SetCallbacks([](void*, int percent, int, int64_t, uint64_t, uint64_t,
                           uint64_t) -> int { return percent == 80 ? kCancelCode : 0; },
                        nullptr, nullptr, 100);
    EXPECT_EQ(third->Scan(nullptr), kCancelCode);
    size_t inFolders = 0;
    for (const auto& f : AllRecords(*third))
        if (!f.record.IsFolder() && f.path.find('/') != std::string::npos) ++inFolders;
    EXPECT_GT(inFolders, 0u);
}

TEST(QuickFatEngine, ReopeningTheScanLogListsTheSameResults) {
    fattest::ScanFolder logs;
    SORVANE_SHARED_IMAGE_OR_SKIP(built, ImageKind::kFat12);
    auto engine = CreateRecoveryEngineForImage(built.image, 1, false);
    ASSERT_TRUE(engine);
    ASSERT_EQ(engine->GetFoundCount(), 0u);
    ASSERT_EQ(engine->Scan(nullptr), 0);
    auto first = AllRecords(*engine);
    ASSERT_FALSE(first.empty());
    std::string name = static_cast<CFastFatRecovery*>(engine.get())->Log()->RecordPath().filename().string();
    engine.reset();
    auto again = CreateRecoveryEngineForImage(built.image, 1, false);
    ASSERT_EQ(again->Scan(&name), 0);
    auto second = AllRecords(*again);
    ASSERT_EQ(first.size(), second.size());
    for (size_t i = 0; i < first.size(); ++i) EXPECT_EQ(first[i].path, second[i].path);
    FoundItemList photos;
    EXPECT_EQ(again->FindByExtension("*.jpg|*.txt", photos), 1);
    for (const auto& r : photos) {
        std::string ext = r.Name().substr(r.Name().rfind('.') + 1);
        EXPECT_TRUE(ext == "jpg" || ext == "txt") << r.Name();
    }
}

TEST(QuickFatEngine, AllocationMapGivesTheFreeRunsOfTheVolume) {
    if (!testkit::HaveProgram("fsstat")) GTEST_SKIP() << "fsstat (sleuthkit) is not installed";
    fattest::ScanFolder logs;
    SORVANE_SHARED_IMAGE_OR_SKIP(built, ImageKind::kFat16);
    CFastFatRecovery engine;
    uint64_t start = 0, length = 0;
    ASSERT_EQ(OpenOnImage(engine, built.image, 1), 0);
    EXPECT_EQ(engine.NextFreeExtent(start, length), 0) << "no map before it is loaded";
    ASSERT_EQ(engine.LoadAllocationMap(), 0);
    // Walk every free run and compare with the clusters fsstat gives as used.
    std::string fsstat;
    testkit::RunCommand("fsstat " + testkit::ShellQuote(built.image.string()), &fsstat);
    const FatGeometry& g = engine.Geometry();
    uint64_t freeSectors = 0;
    start = 0;
    uint64_t total = built.volumes[0].sectorCount;
    int steps = 0;
    while (start < total && ++steps < 100000) {
        uint64_t before = start;
        ASSERT_EQ(engine.NextFreeExtent(start, length), 1);
        if (length == 0) break;
        ASSERT_GE(start, before);
        ASSERT_GE(start, g.dataStart);
        freeSectors += length;
        start += length;
    }
    // The free clusters fsstat counts, in sectors, within the whole clusters.
    std::string out;
    testkit::RunCommand(
        "fsstat " + testkit::ShellQuote(built.image.string()) +
            " | awk '/^[0-9]+-[0-9]+ \\([0-9]+\\)/ {gsub(/[()]/,\"\",$2); s+=$2} END {print s}'",
        &out);
    uint64_t used = std::stoull(out);
    uint64_t dataSectors = uint64_t{g.clusterCount} * g.sectorsPerCluster;
    EXPECT_EQ(freeSectors, dataSectors - used);
    start = total + 10;
    EXPECT_EQ(engine.NextFreeExtent(start, length), 1);
    EXPECT_EQ(start, total);
    EXPECT_EQ(length, 0u);
}

TEST(QuickFatEngine, CorruptedTablesAndDirectoriesNeverStopAScan) {
    fattest::ScanFolder logs;
    testkit::TempDir dir, out;
    SORVANE_SHARED_IMAGE_OR_SKIP(built, ImageKind::kFat16);
    std::vector<uint8_t> pristine = testkit::ReadFile(built.image);
    CFastFatRecovery probe;
    ASSERT_EQ(OpenOnImage(probe, built.image, 1), 0);
    const FatGeometry g = probe.Geometry();
    // The FATs, the root and the first directory clusters.
    const size_t metaEnd = static_cast<size_t>((g.dataStart + 64 * g.sectorsPerCluster) * 512);
    const size_t metaStart = static_cast<size_t>(g.reservedSectors) * 512;
    for (uint32_t seed = 1; seed <= 12; ++seed) {
        std::mt19937 random(seed);
        std::vector<uint8_t> bytes = pristine;
        std::uniform_int_distribution<size_t> where(metaStart, metaEnd - 1);
        for (int i = 0; i < 400 * static_cast<int>(seed); ++i)
            bytes[where(random)] = static_cast<uint8_t>(random());
        std::filesystem::path damaged = dir / ("damaged" + std::to_string(seed) + ".img");
        testkit::WriteFile(damaged, bytes);
        CFastFatRecovery engine;
        static_cast<void>(OpenOnImage(engine, damaged, 1));  // damaged: only that nothing breaks counts
        static_cast<void>(engine.Scan(nullptr));
        int n = 0;
        for (const auto& f : AllRecords(engine)) {
            if (++n > 200) break;
            static_cast<void>(
                engine.RecoverItem(f.record, out / ("s" + std::to_string(seed)) / std::to_string(n), 0));
        }
        static_cast<void>(engine.LoadAllocationMap());
    }
}

TEST(EngineSelection, QuickModeChoosesByFileSystemAndRefusesWhatItCannotRecognise) {
    fattest::ScanFolder logs;
    testkit::TempDir dir;
    // An ext volume gets the engine that finds nothing.
    std::filesystem::path ext = dir / "ext.img";
    if (testkit::HaveProgram("mkfs.ext4")) {
        ASSERT_EQ(testkit::RunCommand("truncate -s 8M " + testkit::ShellQuote(ext.string()) +
                                      " && mkfs.ext4 -q -F " + testkit::ShellQuote(ext.string()) +
                                      " >/dev/null 2>&1"),
                  0);
        auto engine = CreateRecoveryEngineForImage(ext, 1, false);
        ASSERT_TRUE(engine);
        EXPECT_EQ(engine->Scan(nullptr), 0);
        EXPECT_EQ(engine->GetFoundCount(), 0u);
        FoundItemList list;
        EXPECT_EQ(engine->ListChildren(nullptr, 0, list), 0);
        EXPECT_TRUE(list.empty());
    }
    // Nothing recognisable: no quick engine.
    std::filesystem::path zeros = dir / "zeros.img";
    testkit::WriteFile(zeros, std::vector<uint8_t>(1 << 20, 0));
    EXPECT_FALSE(CreateRecoveryEngineForImage(zeros, 1, false));
    // Shorter than the 16384 bytes the recognition reads: what there is is
    // recognised (nothing here), and the deep scan searches it all the same.
    std::filesystem::path tiny = dir / "tiny.img";
    testkit::WriteFile(tiny, std::vector<uint8_t>(8192, 0));
    EXPECT_FALSE(CreateRecoveryEngineForImage(tiny, 1, false));
    auto deep = CreateRecoveryEngineForImage(tiny, 1, true);
    ASSERT_TRUE(deep);
    EXPECT_EQ(deep->Scan(nullptr), 0);
    EXPECT_EQ(deep->GetFoundCount(), 0u);
    EXPECT_FALSE(CreateRecoveryEngineForImage(dir / "missing.img", 1, false));
    EXPECT_FALSE(CreateRecoveryEngine(9999, 0, 100, 1, false));
}

// A card like a camera's, its entries 8.3 names only: what each scan lists
// under `folder`, by name (lower case), with whether the name was guessed.
std::map<std::string, bool> ListedUnder(IFileRecoveryParse& engine, const std::string& folder) {
    std::map<std::string, bool> names;
    for (const auto& f : AllRecords(engine)) {
        const std::string path = AsciiLower(f.path);
        if (f.record.IsFolder() || path.rfind(folder, 0) != 0) continue;
        names[path.substr(folder.size())] = f.record.NameGuessed();
    }
    return names;
}

TEST(QuickFatEngine, DeletedCameraNamesWithoutLongNamesGetTheirFirstLetterBack) {
    for (const char* tool : {"mkfs.fat", "mcopy", "mmd", "mdel", "mdeltree", "convert"})
        if (!testkit::HaveProgram(tool)) GTEST_SKIP() << tool << " missing";
    testkit::TempDir dir;
    fattest::ScanFolder scanFolder;
    const std::string card = testkit::ShellQuote((dir / "card.img").string());
    // A real picture, so that no listing leaves a photo out for contents that contradict its name.
    const std::string data = testkit::ShellQuote((dir / "data.jpg").string());
    ASSERT_EQ(testkit::RunCommand("convert -size 64x48 xc:red " + data), 0);
    // Upper-case 8.3 names need no long name, so mtools writes none.
    std::string make = "mkfs.fat -C -F 16 " + card + " 32768 >/dev/null && mmd -i " + card +
                       " ::DCIM ::DCIM/100CANON ::DCIM/101CANON ::DOCS";
    for (const char* name :
         {"DCIM/100CANON/IMG_0412.JPG", "DCIM/100CANON/IMG_0413.JPG", "DCIM/100CANON/IMG_0414.JPG",
          "DCIM/101CANON/MVI_0500.MOV", "DCIM/101CANON/DSC_0501.JPG", "DOCS/REPORT.TXT", "DOCS/NOTES.TXT",
          "DOCS/PLAN.TXT"})
        make += " && mcopy -i " + card + " " + data + " ::" + name;
    // In 100CANON one photo stays; 101CANON goes whole; so do the unrelated documents.
    make += " && mdel -i " + card + " ::DCIM/100CANON/IMG_0412.JPG ::DCIM/100CANON/IMG_0413.JPG" +
            " && mdeltree -i " + card + " ::DCIM/101CANON ::DOCS";
    ASSERT_EQ(testkit::RunCommand(make), 0);
    const std::string before = testkit::FileSha256(dir / "card.img");

    auto quick = CreateRecoveryEngineForImage(dir / "card.img", 3, false);
    ASSERT_TRUE(quick);
    ASSERT_EQ(quick->Scan(nullptr), 0);
    // Beside a live IMG_0414.JPG, by the camera's prefixes in a camera folder.
    EXPECT_EQ(ListedUnder(*quick, "dcim/100canon/"),
              (std::map<std::string, bool>{{"img_0412.jpg", true}, {"img_0413.jpg", true}}));
    // A deleted camera folder is itself a guess, and so are its files.
    EXPECT_EQ(ListedUnder(*quick, "dcim/101canon/"),
              (std::map<std::string, bool>{{"mvi_0500.mov", true}, {"dsc_0501.jpg", true}}));
    // Unrelated names keep their "!".
    EXPECT_EQ(
        ListedUnder(*quick, "!ocs/"),
        (std::map<std::string, bool>{{"!eport.txt", false}, {"!otes.txt", false}, {"!lan.txt", false}}));
    bool folderGuessed = false;
    for (const auto& f : AllRecords(*quick))
        if (f.record.IsFolder() && AsciiLower(f.path) == "dcim/101canon")
            folderGuessed = f.record.NameGuessed();
    EXPECT_TRUE(folderGuessed);
    quick.reset();

    // The deep scan lists the same names, each once.
    auto deep = CreateRecoveryEngineForImage(dir / "card.img", 3, true);
    ASSERT_TRUE(deep);
    ASSERT_EQ(deep->Scan(nullptr), 0);
    EXPECT_EQ(ListedUnder(*deep, "dcim/100canon/"),
              (std::map<std::string, bool>{{"img_0412.jpg", true}, {"img_0413.jpg", true}}));
    EXPECT_EQ(ListedUnder(*deep, "dcim/101canon/"),
              (std::map<std::string, bool>{{"mvi_0500.mov", true}, {"dsc_0501.jpg", true}}));
    // The deep FAT engine's own list, which the merged list names from the
    // quick engine's folders: it guesses nothing the siblings and camera
    // rules do not support (it knows the deleted folders only as lost ones).
    auto* coordinator = dynamic_cast<CProfessionalRecovery*>(deep.get());
    ASSERT_NE(coordinator, nullptr);
    CScanLog* deepLog = coordinator->DeepFat().Log();
    ASSERT_NE(deepLog, nullptr);
    size_t deepFiles = 0;
    deepLog->ForEachRecordFrom(1, [&](FoundItemRecord& r) {
        if (r.IsFolder()) return;
        ++deepFiles;
        const std::string name = AsciiLower(r.Name());
        if (name == "!eport.txt" || name == "!otes.txt" || name == "!lan.txt") {
            EXPECT_FALSE(r.NameGuessed()) << name;
        }
    });
    EXPECT_GT(deepFiles, 0u);
    deep.reset();
    EXPECT_EQ(testkit::FileSha256(dir / "card.img"), before);

    // Without its boot sector (FAT16 keeps no copy) the quick engine cannot
    // read the card; the deep scan still restores what the siblings tell.
    ASSERT_EQ(testkit::RunCommand("dd if=/dev/zero of=" + card + " bs=512 count=1 conv=notrunc status=none"),
              0);
    const std::string zeroed = testkit::FileSha256(dir / "card.img");
    ASSERT_FALSE(CreateRecoveryEngineForImage(dir / "card.img", 3, false));
    auto lone = CreateRecoveryEngineForImage(dir / "card.img", 3, true);
    ASSERT_TRUE(lone);
    ASSERT_EQ(lone->Scan(nullptr), 0);
    std::map<std::string, bool> byName;
    for (const auto& f : AllRecords(*lone)) {
        if (f.record.IsFolder()) continue;
        const std::string path = AsciiLower(f.path);
        byName[path.substr(path.rfind('/') + 1)] = f.record.NameGuessed();
    }
    EXPECT_TRUE(byName["img_0412.jpg"] && byName["img_0413.jpg"]) << "beside a live IMG_0414.JPG";
    EXPECT_TRUE(byName.count("!eport.txt") && byName.count("!otes.txt"))
        << "unrelated names keep their \"!\"";
    lone.reset();
    EXPECT_EQ(testkit::FileSha256(dir / "card.img"), zeroed);
}

}  // namespace
}  // namespace sorvane
