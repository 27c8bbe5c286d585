#include "results/file_filter.h"

#include <gtest/gtest.h>

#include "carving/content_check.h"

namespace sorvane {
namespace {

FoundItemRecord File(uint64_t size, uint64_t written, uint32_t contentCheck = kContentWhole) {
    FoundItemRecord r{};
    r.engineCode = static_cast<uint32_t>(EngineCode::kQuickFat);
    r.contentCheck = contentCheck;
    r.size = size;
    r.written = written;
    r.key = 5;
    r.clusterBytes = 4096;
    r.dataStart = 100;
    return r;
}

constexpr uint64_t kVolume = 64ull << 20;

TEST(FileFilter, SizeAndDateLimitsIncludeBothEnds) {
    FileFilter f;
    EXPECT_FALSE(NarrowsFiles(f));
    EXPECT_TRUE(PassesFileFilter(f, File(0, 0), kVolume, 512)) << "no limit keeps everything";
    f.minSize = 10000;
    f.maxSize = 20000;
    EXPECT_TRUE(NarrowsFiles(f));
    EXPECT_FALSE(PassesFileFilter(f, File(9999, 5), kVolume, 512));
    EXPECT_TRUE(PassesFileFilter(f, File(10000, 5), kVolume, 512));
    EXPECT_TRUE(PassesFileFilter(f, File(20000, 5), kVolume, 512));
    EXPECT_FALSE(PassesFileFilter(f, File(20001, 5), kVolume, 512));

    FileFilter dates;
    dates.haveSince = dates.haveUntil = true;
    dates.since = 100;
    dates.until = 200;
    EXPECT_TRUE(PassesFileFilter(dates, File(1, 100), kVolume, 512));
    EXPECT_TRUE(PassesFileFilter(dates, File(1, 200), kVolume, 512));
    EXPECT_FALSE(PassesFileFilter(dates, File(1, 99), kVolume, 512));
    EXPECT_FALSE(PassesFileFilter(dates, File(1, 201), kVolume, 512));
    EXPECT_FALSE(PassesFileFilter(dates, File(1, 0), kVolume, 512))
        << "an undated file is older than any date";
}

TEST(FileFilter, HidingDamagedLeavesOutWhatMayNotOpenButKeepsFolders) {
    FileFilter f;
    f.hideMayNotOpen = true;
    EXPECT_TRUE(NarrowsFiles(f));
    EXPECT_TRUE(PassesFileFilter(f, File(1000, 1, kContentWhole), kVolume, 512));
    EXPECT_TRUE(PassesFileFilter(f, File(1000, 1, kContentNotChecked), kVolume, 512));
    EXPECT_FALSE(PassesFileFilter(f, File(1000, 1, kContentDamaged), kVolume, 512));
    EXPECT_FALSE(PassesFileFilter(f, File(1000, 1, kContentContradicts), kVolume, 512));
    EXPECT_FALSE(PassesFileFilter(f, File(kVolume + 1, 1), kVolume, 512)) << "larger than its volume";
    EXPECT_TRUE(PassesFileFilter(f, File(kVolume + 1, 1), 0, 512))
        << "a volume of unknown size proves nothing";
    FoundItemRecord folder = File(0, 1, kContentDamaged);
    folder.isFolder = 1;
    ASSERT_TRUE(folder.IsFolder());
    EXPECT_TRUE(PassesFileFilter(f, folder, kVolume, 512));
}

TEST(FileFilter, NamesMatchBySubstringOrWildcardIgnoringCase) {
    EXPECT_TRUE(NameMatches("", "anything.jpg"));
    EXPECT_TRUE(NameMatches("0412", "IMG_0412.JPG"));
    EXPECT_TRUE(NameMatches("img_04", "IMG_0412.JPG"));
    EXPECT_FALSE(NameMatches("0413", "IMG_0412.JPG"));
    EXPECT_FALSE(NameMatches("IMG_0412.JPGX", "IMG_0412.JPG"));
    // With a wildcard the whole name must match.
    EXPECT_TRUE(NameMatches("*.jpg", "IMG_0412.JPG"));
    EXPECT_FALSE(NameMatches("*.jpg", "IMG_0412.JPG.txt"));
    EXPECT_TRUE(NameMatches("img_04??.*", "IMG_0412.JPG"));
    EXPECT_FALSE(NameMatches("img_04?.*", "IMG_0412.JPG"));
    EXPECT_TRUE(NameMatches("*", ""));
    EXPECT_TRUE(NameMatches("a*b*c", "aXXbYYbZZc"));
    EXPECT_FALSE(NameMatches("a*b*c", "aXXbYYbZZ"));
    // A long run of stars against a long name ends quickly and correctly.
    EXPECT_FALSE(NameMatches(std::string(60, '*') + "x", std::string(5000, 'a')));
}

}  // namespace
}  // namespace sorvane
