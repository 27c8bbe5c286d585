#include "engines/safe_copy.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "platform/file_handle.h"
#include "platform/result_codes.h"
#include "tests/testkit/fat_stick.h"
#include "tests/testkit/null_engine.h"
#include "tests/testkit/testkit.h"

namespace sorvane {
namespace {

using testkit::TempDir;

// Writes `bytes` where it is told to, or stops halfway with `failWith`; notes
// the path it was given, so the test can see the ".part" name in use.
class WritingEngine : public testkit::NullEngine {
  public:
    std::string bytes = "the recovered bytes";
    int failWith = 0;
    std::vector<std::filesystem::path> paths;

    EngineStatus RecoverItem(const FoundItemRecord&, const std::filesystem::path& path, uint32_t) override {
        paths.push_back(path);
        std::error_code ec;
        std::filesystem::create_directories(path.parent_path(), ec);
        FileHandle out;
        if (int rc = OpenForWriting(path, WriteMode::kCreateOrTruncate, out); rc != 0) return rc;
        const size_t length = failWith ? bytes.size() / 2 : bytes.size();
        if (int rc = out.Write(bytes.data(), length); rc != 0) return rc;
        return failWith;
    }
};

std::string Text(const std::filesystem::path& path) {
    const auto data = testkit::ReadFile(path);
    return std::string(data.begin(), data.end());
}

size_t Utf16Units(const std::string& utf8) {
    size_t units = 0;
    for (size_t i = 0; i < utf8.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        if ((c & 0xC0) != 0x80) units += c >= 0xF0 ? 2 : 1;
    }
    return units;
}

TEST(SafeCopy, AFileAppearsUnderItsFinalNameOnlyWhenWhole) {
    TempDir dir;
    WritingEngine engine;
    FoundItemRecord record{};
    std::filesystem::path written;
    const auto wanted = dir / "photo" / "IMG_0001.JPG";
    ASSERT_EQ(RecoverFileSafely(engine, record, dir.Path(), wanted, 0, written), kSuccess);
    EXPECT_EQ(written, wanted);
    ASSERT_EQ(engine.paths.size(), 1u);
    EXPECT_EQ(engine.paths[0], dir / "photo" / "IMG_0001.JPG.part") << "written under the .part name";
    EXPECT_EQ(Text(wanted), engine.bytes);
    EXPECT_FALSE(std::filesystem::exists(engine.paths[0]));

    // A copy that fails (a full disk, a read fault) leaves neither name behind.
    for (int failure : {kErrDiskFull, kErrReadFault, kCancelCode}) {
        engine.failWith = failure;
        EXPECT_EQ(RecoverFileSafely(engine, record, dir.Path(), dir / "doc" / "a.pdf", 0, written), failure);
        EXPECT_TRUE(written.empty());
        EXPECT_FALSE(std::filesystem::exists(dir / "doc" / "a.pdf"));
        EXPECT_FALSE(std::filesystem::exists(dir / "doc" / "a.pdf.part"));
    }

    // A second copy of the same name is numbered; the first is never touched.
    engine.failWith = 0;
    engine.bytes = "another file";
    ASSERT_EQ(RecoverFileSafely(engine, record, dir.Path(), wanted, 0, written), kSuccess);
    EXPECT_EQ(written, dir / "photo" / "IMG_0001(1).JPG");
    EXPECT_EQ(Text(wanted), "the recovered bytes");
}

TEST(SafeCopy, AStalePartFromAStoppedRunIsReplacedButNeverWrittenThroughALink) {
    TempDir dir;
    WritingEngine engine;
    FoundItemRecord record{};
    std::filesystem::path written;
    std::filesystem::create_directories(dir / "photo");
    testkit::WriteFile(dir / "photo" / "a.jpg.part", std::vector<uint8_t>(5000, 0xAB));
    ASSERT_EQ(RecoverFileSafely(engine, record, dir.Path(), dir / "photo" / "a.jpg", 0, written), kSuccess);
    EXPECT_EQ(written, dir / "photo" / "a.jpg") << "not a(1).jpg beside a leftover";
    EXPECT_EQ(Text(written), engine.bytes);
    EXPECT_FALSE(std::filesystem::exists(dir / "photo" / "a.jpg.part"));

    // A ".part" that is a link points somewhere else: that name is passed over.
    testkit::WriteFile(dir / "outside.txt", std::vector<uint8_t>{'k', 'e', 'e', 'p'});
    ASSERT_TRUE(testkit::MakeLink(dir / "outside.txt", dir / "photo" / "b.jpg.part"));
    ASSERT_EQ(RecoverFileSafely(engine, record, dir.Path(), dir / "photo" / "b.jpg", 0, written), kSuccess);
    EXPECT_EQ(written, dir / "photo" / "b(1).jpg");
    EXPECT_EQ(Text(dir / "outside.txt"), "keep");
}

TEST(SafeCopy, LongNamesAreShortenedBeforeTheExtensionToFitWithPart) {
    const std::string ascii = std::string(251, 'n') + ".jpg";  // 255 bytes, the most a name can have
    std::string wide;
    while (wide.size() < 240) wide += "\xC3\xA9";  // é, two bytes each
    wide += ".mp4";
    for (const std::string& name : {ascii, wide}) {
        std::set<std::string> seen;
        for (int n : {0, 1, 2, 99999}) {
            const std::string fitted = FittedRecoveryName(name, n);
            EXPECT_LE(fitted.size() + 5, 255u) << n;
            EXPECT_LE(Utf16Units(fitted) + 5, 255u) << "FAT counts UTF-16 units";
            EXPECT_EQ(fitted.substr(fitted.size() - 4), name.substr(name.size() - 4))
                << "the extension stays";
            EXPECT_TRUE(seen.insert(fitted).second) << "numbered names stay unique";
            // Never cut inside a character.
            EXPECT_NE(static_cast<unsigned char>(fitted[fitted.find('.') - 1]) & 0xC0, 0xC0u) << fitted;
        }
    }
    EXPECT_EQ(FittedRecoveryName("short.txt", 0), "short.txt");
    EXPECT_EQ(FittedRecoveryName("short.txt", 3), "short(3).txt");

    // On this folder's file system (ext4 here), the longest name comes back
    // under a name that fits, and a second under another.
    TempDir dir;
    WritingEngine engine;
    FoundItemRecord record{};
    std::filesystem::path first, second;
    ASSERT_EQ(RecoverFileSafely(engine, record, dir.Path(), dir / "photo" / ascii, 0, first), kSuccess);
    ASSERT_EQ(RecoverFileSafely(engine, record, dir.Path(), dir / "photo" / ascii, 0, second), kSuccess);
    EXPECT_NE(first, second);
    EXPECT_EQ(Text(first), engine.bytes);
    EXPECT_EQ(Text(second), engine.bytes);
    EXPECT_EQ(first.extension(), ".jpg");
}

TEST(SafeCopy, OnAFatStickTheLongestNameAndNamesFatRefusesAllComeBack) {
    TempDir dir;
    testkit::FatStick stick(dir);
    if (stick.Mounted().empty()) GTEST_SKIP() << "no FAT file system can be mounted here (fusefat as root)";
    const std::filesystem::path to = stick.Mounted();
    WritingEngine engine;
    FoundItemRecord record{};

    // 255 bytes: FAT's own limit, so the ".part" form needs the name shortened.
    const std::string longest = std::string(251, 'n') + ".jpg";
    std::filesystem::path first, second;
    ASSERT_EQ(RecoverFileSafely(engine, record, to, to / "photo" / longest, 0, first), kSuccess);
    ASSERT_EQ(RecoverFileSafely(engine, record, to, to / "photo" / longest, 0, second), kSuccess);
    EXPECT_NE(first, second);
    EXPECT_EQ(Text(first), engine.bytes);
    EXPECT_EQ(Text(second), engine.bytes);
    EXPECT_EQ(first.extension(), ".jpg");

    // A title from inside a file and a folder from an NTFS disk written on
    // Linux may hold what FAT refuses; they come back mended rather than lost.
    std::filesystem::path titled, inFolder;
    ASSERT_EQ(RecoverFileSafely(engine, record, to, to / "document" / "Report: Q3?.pdf", 0, titled),
              kSuccess);
    EXPECT_EQ(titled, to / "document" / "Report_ Q3_.pdf");
    EXPECT_EQ(Text(titled), engine.bytes);
    ASSERT_EQ(RecoverFileSafely(engine, record, to, to / "Trip 10:30" / "a|b.txt", 0, inFolder), kSuccess);
    EXPECT_EQ(inFolder, to / "Trip 10_30" / "a_b.txt");
    for (const auto& entry : std::filesystem::recursive_directory_iterator(to))
        EXPECT_NE(entry.path().extension(), ".part") << entry.path();

    // A name the stick takes is kept as it is.
    std::filesystem::path plain;
    ASSERT_EQ(RecoverFileSafely(engine, record, to, to / "photo" / "IMG 0001.JPG", 0, plain), kSuccess);
    EXPECT_EQ(plain, to / "photo" / "IMG 0001.JPG");
}

}  // namespace
}  // namespace sorvane
