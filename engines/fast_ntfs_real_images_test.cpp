// The quick NTFS engine on volumes that Windows wrote (public forensic test
// images): the deleted files their authors published come back byte-exact,
// and every NTFS image there opens and scans without a crash, a hang or a
// change to the image.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "carving/content_check.h"
#include "engines/engine_factory.h"
#include "engines/fast_ntfs_recovery.h"
#include "tests/testkit/testkit.h"

namespace sorvane {
namespace {

using testkit::FileSha256;
using testkit::RunCommand;
using testkit::ShellQuote;
using testkit::TempDir;

const auto* const kDataDir = ::testing::AddGlobalTestEnvironment(new testkit::DataDirEnvironment);

struct Expected {
    std::string path;
    uint64_t size = 0;
    std::string md5;
    std::string sha256;
    std::string note;
};

// The text or number after "key": inside one flat JSON object ("" when absent).
std::string Field(const std::string& object, const std::string& key) {
    size_t at = object.find("\"" + key + "\"");
    if (at == std::string::npos) return "";
    at = object.find(':', at);
    if (at == std::string::npos) return "";
    at = object.find_first_not_of(" \t\n", at + 1);
    if (at == std::string::npos) return "";
    if (object[at] == '"') {
        size_t end = object.find('"', at + 1);
        return end == std::string::npos ? "" : object.substr(at + 1, end - at - 1);
    }
    size_t end = object.find_first_of(",}\n", at);
    return object.substr(at, end - at);
}

// The flat objects of a ground-truth JSON list, by path. (Hand-parsed: the
// files are lists of flat objects of strings and numbers.)
std::map<std::string, Expected> ReadTruth(const std::filesystem::path& file) {
    std::vector<uint8_t> bytes = testkit::ReadFile(file);
    std::string text(bytes.begin(), bytes.end());
    std::map<std::string, Expected> out;
    for (size_t open = text.find('{'); open != std::string::npos; open = text.find('{', open + 1)) {
        size_t close = text.find('}', open);
        if (close == std::string::npos) break;
        std::string o = text.substr(open, close - open + 1);
        Expected e;
        e.path = Field(o, "path");
        std::string size = Field(o, "size");
        if (!size.empty() && size != "null") e.size = std::stoull(size);
        e.md5 = Field(o, "md5");
        if (e.md5 == "null") e.md5.clear();
        e.sha256 = Field(o, "sha256");
        e.note = Field(o, "note");
        out[e.path] = e;
    }
    return out;
}

std::string Md5(const std::filesystem::path& file) {
    std::string out;
    RunCommand("md5sum " + ShellQuote(file.string()), &out);
    return out.substr(0, out.find(' '));
}

std::filesystem::path RealImage(const std::string& name) {
    std::filesystem::path dir = testkit::RealImagesDir();
    return dir.empty() ? std::filesystem::path() : dir / name;
}

#define REAL_IMAGE_OR_SKIP(var, name)            \
    std::filesystem::path var = RealImage(name); \
    if (var.empty() || !std::filesystem::exists(var)) GTEST_SKIP() << "public test images are not here"

void Browse(CFastNtfsRecovery& engine, const FoundItemRecord* folder, uint32_t level,
            const std::string& prefix, std::map<std::string, FoundItemRecord>& files,
            std::map<std::string, FoundItemRecord>& folders) {
    ASSERT_LT(level, 64u);
    FoundItemList children;
    ASSERT_EQ(engine.ListChildren(folder, level, children), 0);
    for (const FoundItemRecord& child : children) {
        std::string path = prefix + child.Name();
        if (child.IsFolder()) {
            folders[path] = child;
            Browse(engine, &child, level + 1, path + "/", files, folders);
        } else {
            files[path] = child;
        }
    }
}

// Where the quick scan files a published path: a file whose folder's record
// went to another file is found in "LostFolder<record>".
std::string QuickScanPath(const std::string& published) {
    if (published == "dir3/sing2.dat") return "LostFolder37/sing2.dat";
    return published;
}

// DFTT #7: every deleted file of the published list (fragmented ones too: the
// run list places their pieces) comes back with the published MD5 and the
// SHA-256 The Sleuth Kit's icat gives for it. The alternate data stream of
// mult1.dat is not a file of its own and is left out.
TEST(FastNtfsRealImages, NtfsUndeleteTestRecoversThePublishedFiles) {
    REAL_IMAGE_OR_SKIP(image, "7-ntfs-undel.dd");
    auto published = ReadTruth(image.string() + ".published.json");
    auto icat = ReadTruth(image.string() + ".deleted.json");
    ASSERT_FALSE(published.empty());
    const std::string before = FileSha256(image);

    CFastNtfsRecovery engine;
    ASSERT_EQ(OpenOnImage(engine, image, 1), 0);
    ASSERT_EQ(engine.Scan(nullptr), 0);
    std::map<std::string, FoundItemRecord> files, folders;
    Browse(engine, nullptr, 0, "", files, folders);

    TempDir out;
    size_t wanted = 0, good = 0;
    for (const auto& [path, e] : published) {
        if (e.md5.empty() || path.find(':') != std::string::npos) continue;  // folders, the stream
        ++wanted;
        std::string where = QuickScanPath(path);
        auto it = files.find(where);
        if (it == files.end()) {
            ADD_FAILURE() << "not listed: " << where;
            continue;
        }
        EXPECT_EQ(+it->second.size, e.size) << path;
        auto target = out.Path() / std::to_string(wanted) / it->second.Name();
        ASSERT_EQ(engine.RecoverItem(it->second, target, 0), 0) << path;
        bool exact = Md5(target) == e.md5;
        std::string icatPath = path == "dir3/sing2.dat" ? "$OrphanFiles/sing2.dat" : path;
        if (icat.count(icatPath)) exact = exact && FileSha256(target) == icat[icatPath].sha256;
        EXPECT_TRUE(exact) << path;
        if (exact) ++good;
    }
    std::printf("[ NTFS     ] 7-ntfs-undel.dd: %zu of %zu published deleted files recovered byte-exact\n",
                good, wanted);
    EXPECT_EQ(good, wanted);
    EXPECT_EQ(wanted, 8u);
    EXPECT_TRUE(folders.count("dir1"));
    EXPECT_TRUE(folders.count("dir1/dir2"));
    EXPECT_EQ(files.size(), 8u) << "nothing but the deleted files is listed";

    // A deleted folder recovers with its subfolder and files.
    ASSERT_EQ(engine.RecoverItem(folders["dir1"], out.Path() / "tree" / "dir1", 1), 0);
    EXPECT_EQ(Md5(out.Path() / "tree/dir1/mult2.dat"), published["dir1/mult2.dat"].md5);
    EXPECT_EQ(Md5(out.Path() / "tree/dir1/dir2/frag3.dat"), published["dir1/dir2/frag3.dat"].md5);

    std::filesystem::path temp;
    uint8_t buffer[16];
    size_t count = sizeof buffer;
    ASSERT_EQ(engine.PreviewItem(files["res1.dat"], temp, buffer, count, nullptr, nullptr), 0);
    EXPECT_EQ(count, sizeof buffer);
    EXPECT_EQ(FileSha256(image), before);
}

// DFTT #8: the two deleted JPEGs, one of them under a wrong extension.
TEST(FastNtfsRealImages, JpegSearchTestRecoversTheDeletedPictures) {
    REAL_IMAGE_OR_SKIP(image, "8-jpeg-search.dd");
    auto published = ReadTruth(image.string() + ".published.json");
    const std::string before = FileSha256(image);
    CFastNtfsRecovery engine;
    ASSERT_EQ(OpenOnImage(engine, image, 1), 0);
    ASSERT_EQ(engine.Scan(nullptr), 0);
    std::map<std::string, FoundItemRecord> files, folders;
    Browse(engine, nullptr, 0, "", files, folders);
    TempDir out;
    for (const char* path : {"del1/file6.jpg", "del2/file7.hmm"}) {
        ASSERT_TRUE(files.count(path)) << path;
        // The picture's own structure checks out to its end; the other name says nothing of its content.
        EXPECT_STREQ(ContentCheckWord(files[path].contentCheck),
                     std::string(path).ends_with(".jpg") ? "whole" : "not checked")
            << path;
        auto target = out.Path() / files[path].Name();
        ASSERT_EQ(engine.RecoverItem(files[path], target, 0), 0);
        EXPECT_EQ(Md5(target), published[path].md5) << path;
    }
    EXPECT_EQ(files.size(), 2u);
    EXPECT_EQ(FileSha256(image), before);
}

}  // namespace
}  // namespace sorvane
