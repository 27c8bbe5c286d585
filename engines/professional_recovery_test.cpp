// The deep scan end to end on images made by real tools: reformatted FAT32
// and NTFS volumes, files in space with no file system, the duplicate rule of
// the merged search, resuming, and the pass's edge cases.
#include "engines/professional_recovery.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "carving/carving_test_support.h"
#include "carving/content_check.h"
#include "device/byte_view.h"
#include "engines/engine_factory.h"
#include "platform/path_text.h"
#include "platform/text_encoding.h"
#include "results/file_categories.h"
#include "results/scan_resume_store.h"
#include "tests/testkit/test_images.h"
#include "tests/testkit/testkit.h"

namespace sorvane {
namespace {

using testkit::TempDir;

std::string Everything() { return AllCategoriesPattern() + "|.other"; }

std::vector<FoundItemRecord> Files(IFileRecoveryParse& engine) {
    FoundItemList out;
    EXPECT_EQ(engine.FindByExtension(Everything(), out), 1);
    return out;
}

struct Progress {
    std::vector<int> percents;
    uint64_t cancelAtDone = UINT64_MAX;
    bool cancelled = false;
    std::function<void()> atCancel;  // runs at the moment of the cancel
    uint64_t cancelledAtDone = 0;
};

int OnProgress(void* userData, int percent, int weight, int64_t, uint64_t done, uint64_t, uint64_t) {
    auto* p = static_cast<Progress*>(userData);
    p->percents.push_back(weight == 100 ? 1000 + percent : percent);
    if (!p->cancelled && done >= p->cancelAtDone) {
        p->cancelled = true;
        p->cancelledAtDone = done;
        if (p->atCancel) p->atCancel();
        return kCancelCode;
    }
    return 0;
}

class DeepScanTest : public ::testing::Test {
  protected:
    void SetUp() override { UseDataDir("data"); }
    void TearDown() override { CScanResumeStore::ResetInstanceForTests(); }

    void UseDataDir(const std::string& name) {
        testkit::SetEnv("SORVANE_DATA_DIR", dir_.Path() / name);
        CScanResumeStore::ResetInstanceForTests();
    }

    std::unique_ptr<CProfessionalRecovery> Scan(const std::filesystem::path& image,
                                                Progress* progress = nullptr, int* result = nullptr) {
        auto engine = std::make_unique<CProfessionalRecovery>();
        EXPECT_EQ(engine->OpenImage(image, 7), 0);
        engine->SetCallbacks(progress ? OnProgress : nullptr, nullptr, progress, 100);
        int rc = engine->Scan(nullptr);
        if (result)
            *result = rc;
        else
            EXPECT_EQ(rc, 0);
        return engine;
    }

    std::string RecoveredSha(CProfessionalRecovery& engine, const FoundItemRecord& r) {
        std::filesystem::path target = dir_ / "out" / std::to_string(counter_++);
        if (engine.RecoverItem(r, target, 0) != 0) return "";
        return testkit::FileSha256(target);
    }

    TempDir dir_;
    int counter_ = 0;
};

// A name as the deep engines give it matches the truth's name ignoring case;
// a deleted entry without a long name has lost its first character.
bool SameName(const std::string& found, const std::string& truth) {
    if (CompareNamesIgnoringCase(found, truth) == 0) return true;
    return found.size() == truth.size() && found.size() > 1 && found[0] == '!' &&
           CompareNamesIgnoringCase(found.substr(1), truth.substr(1)) == 0;
}

struct Score {
    int files = 0, found = 0, exactCandidates = 0, exact = 0;
};

// Looks for every truth file among the records of engine `code`, and recovers
// each one whose content survived.
Score ScoreAgainstTruth(CProfessionalRecovery& engine, const testkit::BuiltImage& image, EngineCode code,
                        const std::function<std::string(const FoundItemRecord&)>& recover) {
    Score s;
    std::vector<FoundItemRecord> all;
    EXPECT_EQ(engine.FindByExtension(Everything(), all), 1);
    for (const auto& t : image.entries) {
        if (t.isDir || t.Has("padding")) continue;
        ++s.files;
        const FoundItemRecord* match = nullptr;
        for (const auto& r : all)
            if (r.Engine() == code && r.size == t.size && SameName(r.Name(), t.Name())) match = &r;
        if (!match) {
            if (std::getenv("SORVANE_DEBUG_DEEP"))
                std::printf("missing: %s %llu %s\n", t.path.c_str(), (unsigned long long)t.size,
                            t.deleted ? "deleted" : "live");
            continue;
        }
        ++s.found;
        if (t.Has("fragmented") || t.Has("overwritten") || t.size == 0) continue;
        ++s.exactCandidates;
        if (recover(*match) == t.sha256) ++s.exact;
    }
    return s;
}

TEST_F(DeepScanTest, ReformattedFat32GivesBackEarlierFoldersAndFiles) {
    TempDir work;
    SORVANE_BUILD_IMAGE_OR_SKIP(image, testkit::ImageKind::kFat32, work.Path());
    ASSERT_EQ(testkit::RunCommand("mkfs.fat -F 32 -s 1 -S 512 -n REFORMAT " +
                                  testkit::ShellQuote(image.image.string()) + " >/dev/null 2>&1"),
              0);
    const std::string before = testkit::FileSha256(image.image);
    auto engine = Scan(image.image);
    EXPECT_TRUE(engine->UsedFreeSpaceOnly());
    Score s = ScoreAgainstTruth(*engine, image, EngineCode::kDeepFat,
                                [&](const FoundItemRecord& r) { return RecoveredSha(*engine, r); });
    std::printf("reformatted FAT32: %d of %d files found by name and size, %d of %d intact ones byte-exact\n",
                s.found, s.files, s.exact, s.exactCandidates);
    // Measured: 20 of 23 (the three lost ones were listed in the root directory
    // the new file system overwrote), all 20 intact ones byte-exact.
    EXPECT_GE(s.found * 100, s.files * 85);
    EXPECT_EQ(s.exact, s.exactCandidates);

    // Folders come back with their names where their parent directory survived.
    FoundItemList root;
    ASSERT_EQ(engine->ListChildren(nullptr, 0, root), 0);
    int namedFolders = 0, truthFolders = 0;
    std::set<std::string> names;
    std::function<void(const FoundItemRecord&, uint32_t)> walk = [&](const FoundItemRecord& f,
                                                                     uint32_t level) {
        if (f.Engine() != EngineCode::kDeepFat || level > 16) return;
        names.insert(AsciiLower(f.Name()));
        FoundItemList children;
        EXPECT_EQ(engine->ListChildren(&f, level, children), 0);
        for (const auto& c : children)
            if (c.IsFolder()) walk(c, level + 1);
    };
    for (const auto& r : root)
        if (r.IsFolder()) walk(r, 1);
    for (const auto& t : image.entries) {
        if (!t.isDir || t.path.find('/') == std::string::npos)
            continue;  // top folders were listed in the lost root
        ++truthFolders;
        if (names.count(AsciiLower(t.Name()))) ++namedFolders;
    }
    std::printf("reformatted FAT32: %d of %d nested folders named\n", namedFolders, truthFolders);
    EXPECT_EQ(namedFolders, truthFolders);
    EXPECT_EQ(testkit::FileSha256(image.image), before);
}

TEST_F(DeepScanTest, QuickReformattedNtfsGivesBackEarlierFiles) {
    TempDir work;
    SORVANE_BUILD_IMAGE_OR_SKIP(image, testkit::ImageKind::kNtfs, work.Path());
    ASSERT_EQ(testkit::RunCommand("mkntfs -F -Q -q -c 4096 -s 512 -p 0 -H 64 -S 32 -L REFORMAT " +
                                  testkit::ShellQuote(image.image.string()) + " >/dev/null 2>&1"),
              0);
    const std::string before = testkit::FileSha256(image.image);
    auto engine = Scan(image.image);
    Score s = ScoreAgainstTruth(*engine, image, EngineCode::kDeepNtfs,
                                [&](const FoundItemRecord& r) { return RecoveredSha(*engine, r); });
    std::printf(
        "quick-reformatted NTFS: %d of %d files found by name and size, %d of %d intact ones byte-exact\n",
        s.found, s.files, s.exact, s.exactCandidates);
    // Measured: 24 of 24, all 21 intact ones byte-exact.
    EXPECT_GE(s.found * 100, s.files * 95);
    EXPECT_EQ(s.exact, s.exactCandidates);

    // Files sit in their folders: a file's folder path ends with its truth folder.
    std::vector<FoundItemRecord> all = Files(*engine);
    int placed = 0, nested = 0;
    for (const auto& t : image.entries) {
        size_t slash = t.path.rfind('/');
        if (t.isDir || slash == std::string::npos) continue;
        std::string parent = t.path.substr(0, slash);
        std::string parentName =
            parent.substr(parent.rfind('/') == std::string::npos ? 0 : parent.rfind('/') + 1);
        for (const auto& r : all) {
            if (r.Engine() != EngineCode::kDeepNtfs || r.Name() != t.Name() || r.size != t.size) continue;
            ++nested;
            std::string path;
            EXPECT_EQ(engine->GetFolderPath(r, path), 0);
            if (path.size() >= parentName.size() + 1 &&
                path.compare(path.size() - parentName.size() - 1, parentName.size(), parentName) == 0)
                ++placed;
            break;
        }
    }
    std::printf("quick-reformatted NTFS: %d of %d files found in a folder of the right name\n", placed,
                nested);
    EXPECT_GE(placed * 100, nested * 95);
    EXPECT_EQ(testkit::FileSha256(image.image), before);
}

// The toolkit's own reformatted volumes, scored against what its truth says
// survived the format: a file "intact" outside the overwritten root must come
// back byte-exact; an NTFS file whose record is "record_intact" must be found.
TEST_F(DeepScanTest, ToolkitReformattedVolumesGiveBackWhatSurvived) {
    for (auto kind : {testkit::ImageKind::kFat16Reformatted, testkit::ImageKind::kNtfsReformatted}) {
        SCOPED_TRACE(testkit::ImageKindName(kind));
        TempDir work;
        SORVANE_BUILD_IMAGE_OR_SKIP(image, kind, work.Path());
        const bool ntfs = kind == testkit::ImageKind::kNtfsReformatted;
        const EngineCode code = ntfs ? EngineCode::kDeepNtfs : EngineCode::kDeepFat;
        const std::string before = testkit::FileSha256(image.image);
        UseDataDir(std::string("data-") + testkit::ImageKindName(kind));
        auto engine = Scan(image.image);
        std::vector<FoundItemRecord> all = Files(*engine);
        int expected = 0, found = 0, exactCandidates = 0, exact = 0;
        for (const auto& t : image.entries) {
            if (t.isDir || t.Has("padding") || t.size == 0) continue;
            const bool listed = ntfs ? t.Has("record_intact") : t.path.find('/') != std::string::npos;
            if (!listed) continue;
            ++expected;
            const FoundItemRecord* match = nullptr;
            for (const auto& r : all)
                if (r.Engine() == code && r.size == t.size && SameName(r.Name(), t.Name())) match = &r;
            if (!match) continue;
            ++found;
            if (!t.Has("intact") || t.Has("fragmented")) continue;
            ++exactCandidates;
            if (RecoveredSha(*engine, *match) == t.sha256) ++exact;
        }
        std::printf("%s: %d of %d surviving files found by name and size, %d of %d intact ones byte-exact\n",
                    testkit::ImageKindName(kind), found, expected, exact, exactCandidates);
        EXPECT_GT(expected, 0);
        EXPECT_GE(found * 100, expected * 95);  // measured: 19 of 19 (FAT16), 23 of 23 (NTFS)
        EXPECT_EQ(exact, exactCandidates);
        EXPECT_EQ(testkit::FileSha256(image.image), before);
        engine.reset();
    }
}

// Writes `bytes` at `sector` of `image`.
void WriteAt(const std::filesystem::path& image, uint64_t sector, const std::vector<uint8_t>& bytes) {
    FileHandle f;
    ASSERT_EQ(OpenForWriting(image, WriteMode::kOpenOrCreate, f), 0);
    f.Seek(sector * 512);
    ASSERT_EQ(f.Write(bytes.data(), bytes.size()), 0);
}

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    for (auto& b : v) b = static_cast<uint8_t>(rng() & 0x7F);  // no marker bytes (0xFF) by chance
    return v;
}

// A real picture made by ImageMagick.
std::vector<uint8_t> MakePicture(const std::filesystem::path& dir, const std::string& name,
                                 const std::string& recipe) {
    std::filesystem::path p = dir / name;
    if (testkit::RunCommand("convert " + recipe + " " + testkit::ShellQuote(p.string()) +
                            " >/dev/null 2>&1") != 0)
        return {};
    return testkit::ReadFile(p);
}

TEST_F(DeepScanTest, AReformattedVolumesFilesSayWhetherTheyAreWhole) {
    // The deep FAT and NTFS engines find a reformatted volume's files by their
    // old entries or file records and copy each as one run; the carver,
    // meeting the same run, checks its structure. A photo whose middle sectors
    // now hold the start of another picture (as when the volume was written
    // to after the format) is damaged; the files left as they were are whole.
    const std::filesystem::path made = carvingtest::MadeFilesDir("make_structured_files.sh");
    const std::vector<std::string> intact = {"photo.jpg", "picture.png", "letter.pdf", "commented.zip"};
    for (const std::string& name : intact)
        if (made.empty() || !std::filesystem::exists(made / name)) GTEST_SKIP() << "a tool is missing";
    std::vector<uint8_t> spliced = testkit::ReadFile(made / "photo.jpg");
    const std::vector<uint8_t> png = testkit::ReadFile(made / "picture.png");
    ASSERT_GT(spliced.size(), 18u * 512);
    std::copy(png.begin(), png.begin() + 8 * 512, spliced.begin() + 10 * 512);
    testkit::WriteFile(dir_ / "spliced.jpg", spliced);
    std::vector<std::filesystem::path> files;
    for (const std::string& name : intact) files.push_back(made / name);
    files.push_back(dir_ / "spliced.jpg");

    struct Volume {
        EngineCode engine;
        std::vector<const char*> tools;
        std::string format, prepare, copy;  // shell commands taking the image, and then the file
    };
    // On FAT the files go in a folder: the format rewrites the root's entries.
    const std::vector<Volume> volumes = {
        {EngineCode::kDeepFat,
         {"mkfs.fat", "mcopy", "mmd"},
         "mkfs.fat -F 32 -s 1 IMG >/dev/null",
         "mmd -i IMG ::DCIM",
         "mcopy -i IMG FILE ::DCIM/"},
        {EngineCode::kDeepNtfs,
         {"mkntfs", "ntfscp"},
         "mkntfs -F -Q -q IMG >/dev/null",
         "true",
         "ntfscp -q IMG FILE NAME"},
    };
    for (const Volume& volume : volumes) {
        SCOPED_TRACE(volume.format);
        bool have = true;
        for (const char* tool : volume.tools) have = have && testkit::HaveProgram(tool);
        if (!have) continue;
        const std::string card = testkit::ShellQuote((dir_ / "volume.img").string());
        auto with = [&](std::string command, const std::filesystem::path& file) {
            for (auto [key, value] : {std::pair<std::string, std::string>{"IMG", card},
                                      {"FILE", testkit::ShellQuote(file.string())},
                                      {"NAME", testkit::ShellQuote(file.filename().string())}})
                for (size_t at; (at = command.find(key)) != std::string::npos;)
                    command.replace(at, key.size(), value);
            return command;
        };
        std::string script = "set -e; export MTOOLS_SKIP_CHECK=1 PATH=$PATH:/usr/sbin:/sbin; rm -f " + card +
                             "; truncate -s 64M " + card + "; " + with(volume.format, {}) + "; " +
                             with(volume.prepare, {});
        for (const auto& file : files) script += "; " + with(volume.copy, file);
        script += "; " + with(volume.format, {});
        ASSERT_EQ(testkit::RunCommand("bash -c " + testkit::ShellQuote(script)), 0);
        const std::string before = testkit::FileSha256(dir_ / "volume.img");

        auto engine = Scan(dir_ / "volume.img");
        std::map<std::string, std::string> words;
        for (const FoundItemRecord& r : Files(*engine)) {
            if (r.Engine() != volume.engine) continue;
            const std::string name = r.Name();
            words[name] = ContentCheckWord(r.contentCheck);
            if (words[name] == "whole") {
                EXPECT_EQ(RecoveredSha(*engine, r), testkit::FileSha256(made / name)) << name;
            }
        }
        for (const std::string& name : intact) EXPECT_EQ(words[name], "whole") << name;
        EXPECT_EQ(words["spliced.jpg"], "damaged");
        engine.reset();
        EXPECT_EQ(testkit::FileSha256(dir_ / "volume.img"), before);
    }
}

TEST_F(DeepScanTest, EveryFileOfABigFolderOnAReformattedCardKeepsItsNameAndFolder) {
    // A camera folder of hundreds of photos on a card with 4 KiB clusters
    // (300 MB, enough clusters for FAT32): its entries fill several clusters;
    // the reformat left the FAT empty, so nothing but their places on disk
    // ties them together. Copied all at once the folder's later clusters lie
    // one after another; copied one by one, as a camera writes, each lies
    // after the photos written before it.
    for (const char* tool : {"mkfs.fat", "mcopy", "mmd"})
        if (!testkit::HaveProgram(tool)) GTEST_SKIP() << tool << " is needed";
    struct Way {
        const char* what;
        int files;
        bool oneByOne;
    };
    for (const Way& way : {Way{"all at once", 600, false}, Way{"one by one", 300, true}}) {
        SCOPED_TRACE(way.what);
        const std::filesystem::path photos = dir_ / way.what;
        std::filesystem::create_directories(photos);
        std::mt19937 random(600);
        std::map<std::string, std::string> expected;  // name -> sha
        for (int i = 1; i <= way.files; ++i) {
            std::vector<uint8_t> bytes(3000 + static_cast<size_t>(i) * 7);
            for (auto& b : bytes) b = static_cast<uint8_t>(random());
            const std::string name = "img_" + std::to_string(i) + ".dat";
            testkit::WriteFile(photos / name, bytes);
            expected[name] = testkit::FileSha256(photos / name);
        }
        const std::string card = testkit::ShellQuote((dir_ / "card.img").string());
        const std::string from = testkit::ShellQuote(photos.string());
        const std::string copy =
            way.oneByOne ? "for f in " + from + "/*; do mcopy -i " + card + " \"$f\" ::DCIM/; done"
                         : "mcopy -i " + card + " " + from + "/* ::DCIM/";
        ASSERT_EQ(testkit::RunCommand(
                      "bash -c " +
                      testkit::ShellQuote("set -e; export MTOOLS_SKIP_CHECK=1 "
                                          "PATH=$PATH:/usr/sbin:/sbin; rm -f " +
                                          card + "; truncate -s 300M " + card + "; mkfs.fat -F 32 -s 8 " +
                                          card + " >/dev/null 2>&1; mmd -i " + card + " ::DCIM; " + copy +
                                          "; mkfs.fat -F 32 -s 8 " + card + " >/dev/null 2>&1")),
                  0);
        const std::string before = testkit::FileSha256(dir_ / "card.img");

        auto engine = Scan(dir_ / "card.img");
        std::set<std::string> named, folders;
        for (const FoundItemRecord& r : Files(*engine)) {
            const std::string name = r.Name();
            auto it = expected.find(name);
            if (it == expected.end()) continue;
            EXPECT_TRUE(named.insert(name).second) << name << " listed twice";
            std::string folder;
            EXPECT_EQ(engine->GetFolderPath(r, folder), 0);
            folders.insert(folder);
            if (named.size() % 50 == 0) {
                EXPECT_EQ(RecoveredSha(*engine, r), it->second) << name;
            }
        }
        EXPECT_EQ(named.size(), expected.size());
        // All at once, the first cluster lies far before the run of later ones.
        EXPECT_EQ(folders.size(), way.oneByOne ? 1u : 2u);
        engine.reset();
        EXPECT_EQ(testkit::FileSha256(dir_ / "card.img"), before);
    }
}

TEST_F(DeepScanTest, FilesFoundByTwoEnginesAreListedOnce) {
    // A live FAT volume with a deleted folder tree: the quick and the deep FAT
    // engine both find its deleted files; each is listed (and counted) once,
    // as the quick engine's record, which knows its folder.
    TempDir work;
    SORVANE_BUILD_IMAGE_OR_SKIP(image, testkit::ImageKind::kFat16, work.Path());
    std::string before = testkit::FileSha256(image.image);
    auto engine = Scan(image.image);
    std::vector<FoundItemRecord> all = Files(*engine);
    std::map<std::pair<uint64_t, uint64_t>, int> byStart;
    size_t fileSystemFiles = 0;
    for (const auto& r : all) {
        if (r.Engine() == EngineCode::kRawSignature || r.size == 0) continue;
        ++fileSystemFiles;
        uint64_t start = uint64_t{r.clusterBytes / 512} * (r.key - 2) + r.partitionStart + r.dataStart;
        int& times = byStart[std::make_pair(start, uint64_t{r.size})];
        EXPECT_EQ(++times, 1) << r.Name() << " listed twice";
    }
    EXPECT_GT(fileSystemFiles, 5u);
    for (const auto& t : image.Deleted()) {
        if (t.size == 0) continue;
        int listed = 0;
        for (const auto& r : all)
            if (r.Engine() != EngineCode::kRawSignature && r.size == t.size && SameName(r.Name(), t.Name()))
                ++listed;
        EXPECT_LE(listed, 1) << t.path;
    }
    uint32_t count = 0;
    ASSERT_EQ(engine->CountFiles(nullptr, 0, count), 0);
    EXPECT_LE(count, all.size());
    engine.reset();
    EXPECT_EQ(testkit::FileSha256(image.image), before);
}

TEST_F(DeepScanTest, PublicFatUndeleteImageListsEachFileOnceAndItsFragmentsDamaged) {
    std::filesystem::path image = testkit::RealImagesDir() / "6-fat-undel.dd";
    if (testkit::RealImagesDir().empty() || !std::filesystem::exists(image))
        GTEST_SKIP() << "no public images";
    std::string before = testkit::FileSha256(image);
    auto engine = Scan(image);
    std::vector<FoundItemRecord> all = Files(*engine);
    const std::map<std::string, bool> published = {{"frag1.dat", true},  {"frag2.dat", true},
                                                   {"frag3.dat", true},  {"sing.dat", false},
                                                   {"mult1.dat", false}, {"mult2.dat", false}};
    for (const auto& [name, fragmented] : published) {
        SCOPED_TRACE(name);
        int listed = 0;
        for (const auto& r : all) {
            std::string found = r.Name();
            // A deleted entry without a long name has lost its first character.
            if (found.size() != name.size() || CompareNamesIgnoringCase(found.substr(1), name.substr(1)) != 0)
                continue;
            ++listed;
            EXPECT_EQ(std::string(ContentCheckWord(r.contentCheck)) == "damaged", fragmented) << found;
        }
        EXPECT_EQ(listed, 1);
    }
    engine.reset();
    EXPECT_EQ(testkit::FileSha256(image), before);
}

TEST_F(DeepScanTest, PublicDeletedFolderOfEmptyFilesIsListedOnce) {
    // A deleted folder of 500 empty files (and one of 2): the quick engine
    // reads it from the live tree, the deep engine meets its clusters again
    // in free space. Files without data have no data start to be matched by:
    // the folder is one folder, told by its directory cluster.
    const std::filesystem::path packed = testkit::RealImagesDir() / "fat_deleted_dir.raw.gz";
    if (testkit::RealImagesDir().empty() || !std::filesystem::exists(packed))
        GTEST_SKIP() << "no public images";
    TempDir work;
    const std::filesystem::path image = work / "fat_deleted_dir.raw";
    ASSERT_EQ(testkit::RunCommand("gzip -dc " + testkit::ShellQuote(packed.string()) + " > " +
                                  testkit::ShellQuote(image.string())),
              0);
    const std::string before = testkit::FileSha256(image);
    auto engine = Scan(image);
    std::vector<FoundItemRecord> all = Files(*engine);
    // Many names are alike ("!" for each of "1" to "9", which lost their only
    // character): the list must hold each name as often as the truth does.
    std::map<std::string, int> found, truth;
    for (const FoundItemRecord& r : all) {
        std::string folder;
        ASSERT_EQ(engine->GetFolderPath(r, folder), 0);
        EXPECT_TRUE(folder == "test/" || folder == "test_2/") << folder;
        ++found[AsciiLower(r.Name())];
    }
    std::string json;
    {
        const std::vector<uint8_t> text =
            testkit::ReadFile(testkit::RealImagesDir() / "fat_deleted_dir.raw.deleted.json");
        json.assign(text.begin(), text.end());
    }
    for (size_t at = json.find("\"path\": \""); at != std::string::npos;
         at = json.find("\"path\": \"", at + 1)) {
        const size_t from = at + 9, to = json.find('"', from);
        std::string path = json.substr(from, to - from);
        const size_t slash = path.rfind('/');
        // The truth shows a lost character as "_", and some files as orphans: names are compared.
        std::string name = path.substr(slash + 1);
        if (name[0] == '_') name[0] = '!';
        ++truth[AsciiLower(name)];
    }
    EXPECT_EQ(all.size(), 502u);
    EXPECT_EQ(found, truth);

    // The tree shows each folder once, under its name, with all its files.
    std::function<size_t(const FoundItemRecord*, uint32_t)> count = [&](const FoundItemRecord* folder,
                                                                        uint32_t level) -> size_t {
        FoundItemList children;
        EXPECT_EQ(engine->ListChildren(folder, level, children), 0);
        size_t files = 0;
        for (const FoundItemRecord& c : children) {
            EXPECT_EQ(c.Name().rfind("LostFolder", 0), std::string::npos) << c.Name();
            files += c.IsFolder() ? count(&c, level + 1) : 1;
        }
        return files;
    };
    EXPECT_EQ(count(nullptr, 0), 502u);
    uint32_t counted = 0;
    ASSERT_EQ(engine->CountFiles(nullptr, 0, counted), 0);
    EXPECT_EQ(counted, 502u);
    engine.reset();
    EXPECT_EQ(testkit::FileSha256(image), before);
}

TEST_F(DeepScanTest, AFileWhoseLongNameLostItsExtensionTakesTheCarversOnce) {
    // "Holiday photo at the beach.jpg" needs three long-name pieces; the one
    // holding ".jpg" is damaged, so the file system lists the name without
    // it, under "other files", while the carver finds the same bytes as a JPEG.
    for (const char* tool : {"mkfs.fat", "mcopy", "mdel", "convert"})
        if (!testkit::HaveProgram(tool)) GTEST_SKIP() << tool << " missing";
    TempDir work;
    const std::string card = testkit::ShellQuote((work / "card.img").string());
    const std::string photo = testkit::ShellQuote((work / "photo.jpg").string());
    ASSERT_EQ(testkit::RunCommand("convert -size 200x150 plasma:fractal -seed 3 " + photo), 0);
    ASSERT_EQ(testkit::RunCommand("mkfs.fat -C -F 12 " + card + " 2048 >/dev/null && mcopy -i " + card + " " +
                                  photo + " '::Holiday photo at the beach.jpg' && mdel -i " + card +
                                  " '::Holiday photo at the beach.jpg'"),
              0);
    std::vector<uint8_t> bytes = testkit::ReadFile(work / "card.img");
    const std::u16string piece = u".jpg";
    bool damaged = false;
    for (size_t at = 0; at + 32 <= bytes.size() && !damaged; at += 32) {
        if (bytes[at] != 0xE5 || bytes[at + 11] != 0x0F) continue;
        // The last piece holds characters 27 to 30: ".jpg" begins at its byte 1.
        if (bytes[at + 1] == '.' && bytes[at + 3] == 'j' && bytes[at + 5] == 'p' && bytes[at + 7] == 'g') {
            bytes[at + 11] = 0x7F;  // attributes no entry can have
            damaged = true;
        }
    }
    ASSERT_TRUE(damaged);
    testkit::WriteFile(work / "card.img", bytes);
    auto engine = Scan(work / "card.img");
    int listed = 0;
    for (const FoundItemRecord& r : Files(*engine)) {
        if (r.size != std::filesystem::file_size(work / "photo.jpg")) continue;
        ++listed;
        EXPECT_EQ(r.Name(), "Holiday photo at the beach.jpg");
        EXPECT_NE(r.Engine(), EngineCode::kRawSignature);
        EXPECT_EQ(CategoryFolderName(r.Name()), "photo");
        EXPECT_EQ(RecoveredSha(*engine, r), testkit::FileSha256(work / "photo.jpg"));
    }
    EXPECT_EQ(listed, 1);
}

TEST_F(DeepScanTest, FilesInSpaceWithoutFileSystemAreCarved) {
    if (!testkit::HaveProgram("convert")) GTEST_SKIP() << "ImageMagick is needed";
    std::filesystem::path image = dir_ / "raw.img";
    testkit::WriteFile(image, RandomBytes(8u << 20, 11));
    // A JPEG longer than a chunk that starts near a chunk's end, a second one
    // right after its last sector, and a PNG further on.
    auto big = MakePicture(dir_.Path(), "big.jpg", "-size 400x300 plasma:fractal -quality 95");
    auto small = MakePicture(dir_.Path(), "small.jpg", "-size 64x48 gradient:red-blue");
    auto png = MakePicture(dir_.Path(), "p.png", "-size 80x60 gradient:green-yellow");
    ASSERT_FALSE(big.empty() || small.empty() || png.empty());
    ASSERT_GT(big.size(), 65536u);
    const uint64_t bigAt = 120, smallAt = bigAt + (big.size() + 511) / 512, pngAt = 9000;
    WriteAt(image, bigAt, big);
    WriteAt(image, smallAt, small);
    WriteAt(image, pngAt, png);
    const std::string before = testkit::FileSha256(image);

    auto engine = Scan(image);
    EXPECT_EQ(engine->QuickEngine(), nullptr);
    EXPECT_EQ(engine->TotalSectors(), (8u << 20) / 512);
    std::map<uint64_t, FoundItemRecord> carved;
    for (const auto& r : Files(*engine))
        if (r.Engine() == EngineCode::kRawSignature) carved[uint64_t{r.location}] = r;
    int found = 0;
    for (auto [at, bytes] : {std::pair{bigAt, &big}, std::pair{smallAt, &small}, std::pair{pngAt, &png}}) {
        auto it = carved.find(at);
        if (it == carved.end()) continue;
        ++found;
        // How far a carved file reaches is the measurement's business; it
        // must cover the whole picture and begin with it.
        EXPECT_GE(uint64_t{it->second.size}, bytes->size());
        std::filesystem::path out = dir_ / ("carved" + std::to_string(at));
        ASSERT_EQ(engine->RecoverItem(it->second, out, 0), 0);
        auto got = testkit::ReadFile(out);
        ASSERT_GE(got.size(), bytes->size());
        EXPECT_TRUE(std::equal(bytes->begin(), bytes->end(), got.begin()));
    }
    std::printf("carved: %d of 3 pictures found\n", found);
    EXPECT_EQ(found, 3);
    EXPECT_EQ(testkit::FileSha256(image), before);
}

TEST_F(DeepScanTest, CarvedJpegAtAThumbnailsStartIsListedOnce) {
    if (!testkit::HaveProgram("convert") || !testkit::HaveProgram("mcopy"))
        GTEST_SKIP() << "ImageMagick and mtools";
    auto jpeg = MakePicture(dir_.Path(), "t.jpg", "-size 160x120 gradient:red-blue");
    ASSERT_FALSE(jpeg.empty());
    std::filesystem::path image = dir_ / "fat.img";
    std::string img = testkit::ShellQuote(image.string());
    std::string src = testkit::ShellQuote((dir_ / "t.jpg").string());
    ASSERT_EQ(testkit::RunCommand("mkfs.fat -C -F 16 -s 4 " + img + " 16384 >/dev/null 2>&1"), 0);
    ASSERT_EQ(testkit::RunCommand("mcopy -i " + img + " " + src + " ::/PHOTO.THM && mcopy -i " + img + " " +
                                  src + " ::/PHOTO.DAT && mdel -i " + img + " ::/PHOTO.THM ::/PHOTO.DAT"),
              0);
    auto engine = Scan(image);
    ASSERT_NE(engine->QuickEngine(), nullptr);
    int thm = 0, dat = 0, carvedJpeg = 0;
    for (const auto& r : Files(*engine)) {
        std::string ext = LowerExtension(r.Name());
        if (r.Engine() == EngineCode::kRawSignature && ext == "jpg")
            ++carvedJpeg;
        else if (ext == "thm")
            ++thm;
        else if (ext == "dat")
            ++dat;
    }
    EXPECT_EQ(thm, 1);
    EXPECT_EQ(dat, 1);
    EXPECT_EQ(carvedJpeg, 1);  // the one at PHOTO.DAT's start; the thumbnail's is the same file
}

// Records of a scan as comparable texts.
std::set<std::string> FoundSet(CProfessionalRecovery& engine) {
    std::set<std::string> out;
    for (const auto& r : Files(engine))
        out.insert(std::to_string(r.engineCode) + " " + r.Name() + " " + std::to_string(r.size) + " " +
                   std::to_string(r.location));
    return out;
}

TEST_F(DeepScanTest, InterruptedScanResumedFindsWhatAWholeScanFinds) {
    TempDir work;
    SORVANE_BUILD_IMAGE_OR_SKIP(image, testkit::ImageKind::kFat32, work.Path());
    ASSERT_EQ(testkit::RunCommand("mkfs.fat -F 32 -s 1 -S 512 " + testkit::ShellQuote(image.image.string()) +
                                  " >/dev/null 2>&1"),
              0);
    UseDataDir("whole");
    auto whole = Scan(image.image);
    std::set<std::string> expected = FoundSet(*whole);
    ASSERT_FALSE(expected.empty());
    const uint64_t total = whole->TotalSectors();
    whole.reset();

    UseDataDir("resumed");
    Progress progress;
    progress.cancelAtDone = total / 2;
    int rc = 0;
    auto first = Scan(image.image, &progress, &rc);
    EXPECT_EQ(rc, kCancelCode);
    EXPECT_LT(first->SectorsDone(), total);
    EXPECT_EQ(std::count(progress.percents.begin(), progress.percents.end(), 1100),
              0);  // no 100 % after a stop
    first.reset();
    CScanResumeStore::ResetInstanceForTests();  // as a new run of the program

    auto second = std::make_unique<CProfessionalRecovery>();
    ASSERT_EQ(second->OpenImage(image.image, 7), 0);
    ASSERT_TRUE(second->HasResumeRecord());
    EXPECT_GT(second->SavedRecord().sectorsDone, 0u);
    Progress rest;
    second->SetCallbacks(OnProgress, nullptr, &rest, 100);
    ASSERT_EQ(second->Scan(nullptr), 0);
    EXPECT_EQ(second->SectorsDone(), total);
    std::set<std::string> resumed = FoundSet(*second);
    EXPECT_EQ(resumed, expected);
    second.reset();

    // Touching the image makes the record stale.
    CScanResumeStore::ResetInstanceForTests();
    auto later = std::filesystem::last_write_time(image.image) + std::chrono::seconds(5);
    std::filesystem::last_write_time(image.image, later);
    auto third = std::make_unique<CProfessionalRecovery>();
    ASSERT_EQ(third->OpenImage(image.image, 7), 0);
    EXPECT_FALSE(third->HasResumeRecord());
}

// Every listed file with its folder path, sorted, duplicates kept: a file
// listed twice or filed under another folder makes a different list.
std::vector<std::string> ListedWithFolders(CProfessionalRecovery& engine) {
    std::vector<std::string> out;
    for (const auto& r : Files(engine)) {
        std::string folder;
        EXPECT_EQ(engine.GetFolderPath(r, folder), 0);
        out.push_back(std::to_string(r.engineCode) + " " + folder + r.Name() + " " + std::to_string(r.size) +
                      " " + std::to_string(r.location) + " " + std::to_string(r.contentCheck));
    }
    std::sort(out.begin(), out.end());
    return out;
}

// A scan killed at any moment leaves on the disk its last checkpoint and
// whatever its logs received since. Here the data folder is copied from inside
// the pass, as the kill would leave it, and a new run of the program
// continues from it: it starts just before the kill point, not at 0, and ends
// with exactly the list of an uninterrupted scan, folders and all.
TEST_F(DeepScanTest, ScanKilledAnywhereContinuesFromItsLastCheckpointWithTheSameList) {
    TempDir work;
    SORVANE_BUILD_IMAGE_OR_SKIP(image, testkit::ImageKind::kFat32, work.Path());
    ASSERT_EQ(testkit::RunCommand("mkfs.fat -F 32 -s 1 -S 512 " + testkit::ShellQuote(image.image.string()) +
                                  " >/dev/null 2>&1"),
              0);
    const std::string before = testkit::FileSha256(image.image);
    UseDataDir("whole");
    auto whole = Scan(image.image);
    const std::vector<std::string> expected = ListedWithFolders(*whole);
    ASSERT_GT(std::count_if(expected.begin(), expected.end(),
                            [](const std::string& line) {
                                return line.rfind("3 ", 0) == 0 && line.find('/') != std::string::npos;
                            }),
              5)
        << "the deep FAT engine's folders are what a lost state would cost";
    const uint64_t total = whole->TotalSectors();
    whole.reset();

    const uint64_t chunkSectors = CProfessionalRecovery::kChunkBytes / 512;
    constexpr uint32_t kSpacing = 40;
    for (int eighth : {1, 3, 5, 7}) {
        SCOPED_TRACE("killed at " + std::to_string(eighth) + "/8");
        const std::filesystem::path data = dir_.Path() / "killed";
        const std::filesystem::path left = dir_.Path() / "left";
        std::filesystem::remove_all(data);
        std::filesystem::remove_all(left);
        UseDataDir("killed");
        auto first = std::make_unique<CProfessionalRecovery>();
        ASSERT_EQ(first->OpenImage(image.image, 7), 0);
        first->SetCheckpointSpacing(kSpacing);
        Progress progress;
        progress.cancelAtDone = total * eighth / 8;
        progress.atCancel = [&] {
            std::filesystem::copy(data, left, std::filesystem::copy_options::recursive);
        };
        first->SetCallbacks(OnProgress, nullptr, &progress, 100);
        ASSERT_EQ(first->Scan(nullptr), kCancelCode);
        first.reset();
        // What the disk held at the moment of the kill is all the next run sees.
        std::filesystem::remove_all(data);
        std::filesystem::rename(left, data);
        CScanResumeStore::ResetInstanceForTests();

        auto second = std::make_unique<CProfessionalRecovery>();
        ASSERT_EQ(second->OpenImage(image.image, 7), 0);
        ASSERT_TRUE(second->HasResumeRecord());
        Progress rest;
        second->SetCallbacks(OnProgress, nullptr, &rest, 100);
        ASSERT_EQ(second->Scan(nullptr), 0);
        EXPECT_FALSE(second->ResumeDiscarded());
        EXPECT_LT(second->ResumedAtSector(), progress.cancelledAtDone);
        EXPECT_GE(second->ResumedAtSector() + (kSpacing + 1) * chunkSectors, progress.cancelledAtDone);
        EXPECT_EQ(second->SectorsDone(), total);
        EXPECT_EQ(ListedWithFolders(*second), expected);
    }
    EXPECT_EQ(testkit::FileSha256(image.image), before);
}

// A checkpoint that does not match the logs it describes, or one that is
// damaged, is never continued from: the scan starts afresh and still lists
// everything once.
TEST_F(DeepScanTest, ADamagedCheckpointStartsTheScanAfresh) {
    TempDir work;
    SORVANE_BUILD_IMAGE_OR_SKIP(image, testkit::ImageKind::kFat32, work.Path());
    ASSERT_EQ(testkit::RunCommand("mkfs.fat -F 32 -s 1 -S 512 " + testkit::ShellQuote(image.image.string()) +
                                  " >/dev/null 2>&1"),
              0);
    auto whole = Scan(image.image);
    const std::vector<std::string> expected = ListedWithFolders(*whole);
    const uint64_t total = whole->TotalSectors();
    whole.reset();

    for (const char* damage : {"flip", "missing"}) {
        SCOPED_TRACE(damage);
        UseDataDir(std::string("damaged-") + damage);
        Progress progress;
        progress.cancelAtDone = total / 2;
        int rc = 0;
        auto first = Scan(image.image, &progress, &rc);
        ASSERT_EQ(rc, kCancelCode);
        first.reset();
        const auto records = CScanResumeStore::Instance().Records();
        ASSERT_EQ(records.size(), 1u);
        const std::filesystem::path checkpoint = PathFromUtf8(records[0].scanFolder) / "checkpoint";
        if (std::string(damage) == "flip") {
            auto bytes = testkit::ReadFile(checkpoint);
            ASSERT_GT(bytes.size(), 100u);
            bytes[bytes.size() / 2] ^= 1;
            testkit::WriteFile(checkpoint, bytes);
        } else {
            std::filesystem::remove(checkpoint);
        }
        CScanResumeStore::ResetInstanceForTests();
        auto second = std::make_unique<CProfessionalRecovery>();
        ASSERT_EQ(second->OpenImage(image.image, 7), 0);
        ASSERT_TRUE(second->HasResumeRecord());
        ASSERT_EQ(second->Scan(nullptr), 0);
        EXPECT_TRUE(second->ResumeDiscarded());
        EXPECT_EQ(second->ResumedAtSector(), 0u);
        EXPECT_EQ(ListedWithFolders(*second), expected);
    }
}

TEST_F(DeepScanTest, VolumeWithNothingUnallocatedReadsNoChunkAndEndsAtHundred) {
    if (!testkit::HaveProgram("mcopy")) GTEST_SKIP() << "mtools is needed";
    std::filesystem::path image = dir_ / "full.img";
    std::string img = testkit::ShellQuote(image.string());
    ASSERT_EQ(testkit::RunCommand("mkfs.fat -C -F 12 -s 1 " + img + " 1024 >/dev/null 2>&1"), 0);
    std::string listing;
    testkit::RunCommand("mdir -i " + img + " ::/ 2>/dev/null | grep 'bytes free'", &listing);
    // mdir groups the digits with spaces.
    std::string digits;
    for (char c : listing.substr(0, listing.find("bytes")))
        if (c >= '0' && c <= '9') digits += c;
    uint64_t freeBytes = std::strtoull(digits.c_str(), nullptr, 10);
    ASSERT_GT(freeBytes, 0u);
    testkit::WriteFile(dir_ / "fill.bin", RandomBytes(freeBytes, 3));
    ASSERT_EQ(testkit::RunCommand("mcopy -i " + img + " " +
                                  testkit::ShellQuote((dir_ / "fill.bin").string()) + " ::/FILL.BIN"),
              0);
    Progress progress;
    auto engine = Scan(image, &progress);
    EXPECT_TRUE(engine->UsedFreeSpaceOnly());
    EXPECT_EQ(engine->ChunksRead(), 0u);
    EXPECT_EQ(engine->TotalSectors(), 0u);
    ASSERT_FALSE(progress.percents.empty());
    EXPECT_EQ(progress.percents.back(), 1100);
}

TEST_F(DeepScanTest, FileRecordAcrossAChunkEndIsReadWhole) {
    TempDir work;
    SORVANE_BUILD_IMAGE_OR_SKIP(ntfs, testkit::ImageKind::kNtfs, work.Path());
    // Take one real file record of a non-resident file from the toolkit volume.
    const testkit::TruthEntry* pick = nullptr;
    for (const auto& t : ntfs.entries)
        if (!pick && !t.isDir && !t.deleted && t.Has("mft") && t.Has("nonresident")) pick = &t;
    ASSERT_NE(pick, nullptr);
    auto volume = testkit::ReadFile(ntfs.image);
    ByteView boot(volume.data(), 512);
    uint64_t mftByte = boot.U64(48) * boot.U8(13) * 512 + pick->Number("mft") * 1024;
    ASSERT_LE(mftByte + 1024, volume.size());
    std::vector<uint8_t> record(volume.begin() + static_cast<std::ptrdiff_t>(mftByte),
                                volume.begin() + static_cast<std::ptrdiff_t>(mftByte + 1024));

    std::filesystem::path image = dir_ / "straddle.img";
    testkit::WriteFile(image, RandomBytes(1u << 20, 5));
    WriteAt(image, 127, record);  // sectors 127 and 128: the end of the first chunk and the next
    auto engine = Scan(image);
    int found = 0;
    for (const auto& r : Files(*engine))
        if (r.Engine() == EngineCode::kDeepNtfs && r.Name() == pick->Name() && r.location == 127) ++found;
    EXPECT_EQ(found, 1) << pick->Name();
}

TEST_F(DeepScanTest, EveryDeepRequestGetsTheCoordinator) {
    std::filesystem::path raw = dir_ / "unknown.img";
    testkit::WriteFile(raw, RandomBytes(1u << 20, 9));
    EXPECT_EQ(CreateRecoveryEngineForImage(raw, 1, false), nullptr);  // quick mode knows no such volume
    auto deep = CreateRecoveryEngineForImage(raw, 1, true);
    ASSERT_NE(deep, nullptr);
    auto* coordinator = dynamic_cast<CProfessionalRecovery*>(deep.get());
    ASSERT_NE(coordinator, nullptr);
    EXPECT_EQ(coordinator->QuickEngine(), nullptr);
    if (!testkit::HaveProgram("mkfs.fat")) return;
    std::filesystem::path fat = dir_ / "fat.img";
    ASSERT_EQ(testkit::RunCommand("mkfs.fat -C -F 16 " + testkit::ShellQuote(fat.string()) +
                                  " 16384 >/dev/null 2>&1"),
              0);
    auto deepFat = CreateRecoveryEngineForImage(fat, 1, true);
    auto* onFat = dynamic_cast<CProfessionalRecovery*>(deepFat.get());
    ASSERT_NE(onFat, nullptr);
    EXPECT_NE(onFat->QuickEngine(), nullptr);  // the live FAT is read by its quick engine first
}

}  // namespace
}  // namespace sorvane
