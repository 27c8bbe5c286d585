// The quick FAT engine on FAT and exFAT volumes that other systems wrote
// (public forensic test images): the files their authors published come back
// byte-exact, and every image scans without a crash, a hang or a change.
#include <gtest/gtest.h>

#include <regex>

#include "carving/content_check.h"
#include "engines/engine_factory.h"
#include "engines/fast_fat_recovery.h"
#include "engines/fat_test_support.h"
#include "results/safe_name.h"

namespace sorvane {
namespace {

using fattest::AllRecords;
using fattest::FoundEntry;

struct Expected {
    std::string path;
    uint64_t size = 0;
    std::string md5;     // empty when not given
    std::string sha256;  // empty when not given
    bool fragmented = false;
};

// The objects of a ground-truth JSON list (flat objects of strings and numbers).
std::vector<Expected> ReadTruth(const std::filesystem::path& file) {
    std::vector<uint8_t> bytes = testkit::ReadFile(file);
    std::string text(bytes.begin(), bytes.end());
    std::vector<Expected> out;
    const std::regex object(R"(\{[^{}]*\})");
    const std::regex path(R"re("path"\s*:\s*"([^"]*)")re");
    const std::regex size(R"re("size"\s*:\s*(\d+))re");
    const std::regex md5(R"re("md5"\s*:\s*"([0-9a-f]+)")re");
    const std::regex sha(R"re("sha256"\s*:\s*"([0-9a-f]+)")re");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), object); it != std::sregex_iterator();
         ++it) {
        std::string o = it->str();
        std::smatch m;
        Expected e;
        if (std::regex_search(o, m, path)) e.path = m[1];
        if (std::regex_search(o, m, size)) e.size = std::stoull(m[1]);
        if (std::regex_search(o, m, md5)) e.md5 = m[1];
        if (std::regex_search(o, m, sha)) e.sha256 = m[1];
        e.fragmented = o.find("md5_naive") != std::string::npos;
        out.push_back(e);
    }
    return out;
}

std::string Md5(const std::filesystem::path& file) {
    std::string out;
    testkit::RunCommand("md5sum " + testkit::ShellQuote(file.string()), &out);
    return out.substr(0, out.find(' '));
}

// A test image, decompressed into a temporary folder when it is stored gzipped.
class RealImage {
  public:
    explicit RealImage(const std::string& name) {
        std::filesystem::path dir = testkit::RealImagesDir();
        if (dir.empty()) return;
        truthBase_ = dir / name;
        if (std::filesystem::exists(dir / name)) {
            path_ = dir / name;
        } else if (std::filesystem::exists(dir / (name + ".gz"))) {
            path_ = temp_ / name;
            testkit::RunCommand("zcat " + testkit::ShellQuote((dir / (name + ".gz")).string()) + " > " +
                                testkit::ShellQuote(path_.string()));
        }
    }
    bool Present() const { return !path_.empty(); }
    const std::filesystem::path& Path() const { return path_; }
    std::filesystem::path Truth(const std::string& suffix) const { return truthBase_.string() + suffix; }

  private:
    testkit::TempDir temp_;
    std::filesystem::path path_;
    std::filesystem::path truthBase_;
};

#define REAL_IMAGE_OR_SKIP(var, name) \
    RealImage var(name);              \
    if (!var.Present()) GTEST_SKIP() << name << " is not available"

TEST(QuickFatRealImages, PublishedUnfragmentedFilesOfTheFatUndeleteTestComeBackByteExact) {
    fattest::ScanFolder logs;
    testkit::TempDir out;
    REAL_IMAGE_OR_SKIP(image, "6-fat-undel.dd");
    std::string before = testkit::FileSha256(image.Path());
    auto engine = CreateRecoveryEngineForImage(image.Path(), 1, false);
    ASSERT_TRUE(engine);
    ASSERT_EQ(engine->Scan(nullptr), 0);
    std::vector<FoundEntry> found = AllRecords(*engine);
    size_t required = 0, recovered = 0, fragmentedRight = 0, fragmented = 0;
    int n = 0;
    for (const auto& e : ReadTruth(image.Truth(".published.json"))) {
        if (e.md5.empty()) continue;  // a folder
        const FoundEntry* match = nullptr;
        for (const auto& f : found)
            if (!f.record.IsFolder() && fattest::PathMatches(f.path, e.path, true)) match = &f;
        std::string md5;
        if (match) {
            std::filesystem::path file = out / ("f" + std::to_string(++n));
            EXPECT_EQ(uint64_t{match->record.size}, e.size) << e.path;
            if (engine->RecoverItem(match->record, file, 0) == 0) md5 = Md5(file);
        }
        // A fragmented file copied as one run is not the file: it says so.
        if (match) {
            EXPECT_EQ(std::string(ContentCheckWord(match->record.contentCheck)) == "damaged", e.fragmented)
                << e.path;
        }
        if (e.fragmented) {
            ++fragmented;
            if (md5 == e.md5) ++fragmentedRight;
            continue;
        }
        ++required;
        EXPECT_TRUE(match) << e.path << " not found";
        EXPECT_EQ(md5, e.md5) << e.path;
        if (md5 == e.md5) ++recovered;
    }
    std::printf("[ 6-fat-undel ] %zu of %zu unfragmented published files byte-exact; %zu of %zu fragmented\n",
                recovered, required, fragmentedRight, fragmented);
    EXPECT_EQ(required, 3u);
    engine.reset();
    EXPECT_EQ(testkit::FileSha256(image.Path()), before);
}

// The Sleuth Kit prints at most 247 characters of a name; longer names (up to
// 255) are compared by those first characters.
bool SamePathAsTsk(const std::string& ours, const std::string& tsk) {
    std::vector<std::string> a = SplitFolderPath(ours), b = SplitFolderPath(tsk);
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (fattest::NameMatches(a[i], b[i], true)) continue;
        if (b[i].size() == 247 && a[i].size() > 247 && a[i].compare(0, 247, b[i]) == 0) continue;
        if (fattest::NormalisedPath(a[i]) == fattest::NormalisedPath(b[i])) continue;
        return false;
    }
    return true;
}

// Every deleted file The Sleuth Kit extracted (by path, size and SHA-256) is
// found and recovered the same; returns how many of how many.
std::pair<size_t, size_t> CheckAgainstIcat(const RealImage& image, IFileRecoveryParse& engine,
                                           const std::filesystem::path& out) {
    std::vector<FoundEntry> found = AllRecords(engine);
    size_t total = 0, same = 0;
    int n = 0;
    for (const auto& e : ReadTruth(image.Truth(".deleted.json"))) {
        ++total;
        std::string sha;
        for (const auto& f : found) {
            if (f.record.IsFolder() || f.record.size != e.size) continue;
            if (!SamePathAsTsk(f.path, e.path)) continue;
            std::filesystem::path file = out / ("i" + std::to_string(++n));
            sha = fattest::RecoverSha256(engine, f.record, file);
            break;
        }
        EXPECT_EQ(sha, e.sha256) << e.path;
        if (sha == e.sha256) ++same;
    }
    return {same, total};
}

struct ImageCase {
    const char* name;
    bool fat;             // a quick engine is expected
    size_t deletedFiles;  // files the quick scan lists
    bool compareIcat;     // every icat extraction is matched
};

class QuickScanOfRealImage : public ::testing::TestWithParam<ImageCase> {};

TEST_P(QuickScanOfRealImage, OpensScansAndLeavesTheImageAsItWas) {
    fattest::ScanFolder logs;
    testkit::TempDir out;
    const ImageCase& c = GetParam();
    REAL_IMAGE_OR_SKIP(image, c.name);
    std::string before = testkit::FileSha256(image.Path());
    auto engine = CreateRecoveryEngineForImage(image.Path(), 1, false);
    if (!c.fat) {
        EXPECT_FALSE(engine) << "exFAT is not a volume the quick scan reads";
        return;
    }
    ASSERT_TRUE(engine);
    ASSERT_NE(dynamic_cast<CFastFatRecovery*>(engine.get()), nullptr);
    ASSERT_EQ(engine->Scan(nullptr), 0);
    size_t files = 0;
    for (const auto& f : AllRecords(*engine)) {
        if (f.record.IsFolder()) continue;
        ++files;
        EXPECT_EQ(uint32_t{f.record.engineCode}, 1u);
    }
    EXPECT_EQ(files, c.deletedFiles);
    if (c.compareIcat) {
        auto [same, total] = CheckAgainstIcat(image, *engine, out.Path());
        std::printf("[ %s ] %zu of %zu files icat extracted recovered the same\n", c.name, same, total);
        EXPECT_EQ(same, total);
    }
    engine.reset();
    EXPECT_EQ(testkit::FileSha256(image.Path()), before);
}

INSTANTIATE_TEST_SUITE_P(Public, QuickScanOfRealImage,
                         ::testing::Values(ImageCase{"daylight.dd", true, 0, false},
                                           ImageCase{"9-fat-label.dd", true, 0, false},
                                           ImageCase{"fat-img-kw.dd", true, 1, true},
                                           ImageCase{"fat32_full_test.raw", true, 1, true},
                                           ImageCase{"fat_deleted_dir.raw", true, 502, false}),
                         [](const auto& info) {
                             std::string name = info.param.name;
                             for (char& ch : name)
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return name;
                         });

TEST(QuickFatRealImages, EmptyFilesOfADeletedFolderAreAllListedUnderIt) {
    fattest::ScanFolder logs;
    REAL_IMAGE_OR_SKIP(image, "fat_deleted_dir.raw");
    auto engine = CreateRecoveryEngineForImage(image.Path(), 1, false);
    ASSERT_TRUE(engine);
    ASSERT_EQ(engine->Scan(nullptr), 0);
    size_t inTest = 0, inTest2 = 0;
    for (const auto& f : AllRecords(*engine)) {
        if (f.record.IsFolder()) continue;
        EXPECT_EQ(uint64_t{f.record.size}, 0u) << f.path;
        if (f.path.rfind("test/", 0) == 0) ++inTest;
        if (f.path.rfind("test_2/", 0) == 0) ++inTest2;
    }
    EXPECT_EQ(inTest, 500u);
    EXPECT_EQ(inTest2, 2u);
}

}  // namespace
}  // namespace sorvane
