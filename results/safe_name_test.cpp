// Hostile names from a disk must never lead a recovered file out of the
// destination folder, and must stay usable names.
#include "results/safe_name.h"
#include "platform/file_name_rules.h"

#include <gtest/gtest.h>

#include <fstream>

#include "tests/testkit/testkit.h"

namespace sorvane {
namespace {

TEST(SafeFileName, SeparatorsControlsAndDotNamesBecomeHarmless) {
    EXPECT_EQ(SafeFileName("photo.jpg"), "photo.jpg");
    EXPECT_EQ(SafeFileName("../../etc/passwd"), ".._.._etc_passwd");
    EXPECT_EQ(SafeFileName("..\\..\\boot.ini"), ".._.._boot.ini");
    EXPECT_EQ(SafeFileName(std::string("a\0b", 3)), "a_b");
    EXPECT_EQ(SafeFileName("tab\there\nnew\x7f"), "tab_here_new_");
    EXPECT_EQ(SafeFileName(""), "_");
    EXPECT_EQ(SafeFileName("."), "_");
    EXPECT_EQ(SafeFileName(".."), "_");
    // Linux keeps "..." as it is; Windows drops trailing dots, and a name of dots only becomes "_".
    EXPECT_EQ(SafeFileName("..."), NameAllowedBySystem("..."));
    EXPECT_EQ(SafeFileName("Ünïcödé.txt"), "Ünïcödé.txt");
    // Bytes that are not UTF-8 are kept: Linux takes any byte but '/' and NUL.
    EXPECT_EQ(SafeFileName("\xff\xfe.bin"), "\xff\xfe.bin");
}

TEST(SafeFileName, LongNamesAreCutAtACharacterKeepingTheExtension) {
    std::string longAscii(300, 'a');
    EXPECT_EQ(SafeFileName(longAscii + ".jpeg").size(), kMaxFileNameBytes);
    EXPECT_EQ(SafeFileName(longAscii + ".jpeg").substr(kMaxFileNameBytes - 5), ".jpeg");
    std::string cyrillic;
    for (int i = 0; i < 200; ++i) cyrillic += "\xd0\x96";  // 400 bytes of "Ж"
    std::string cut = SafeFileName(cyrillic + ".txt");
    EXPECT_LE(cut.size(), kMaxFileNameBytes);
    EXPECT_EQ(cut.substr(cut.size() - 4), ".txt");
    // No half character before the extension.
    std::string base = cut.substr(0, cut.size() - 4);
    EXPECT_EQ(base.size() % 2, 0u);
    // A long "extension" is not an extension: the name is simply cut.
    std::string odd = "x." + std::string(300, 'e');
    EXPECT_EQ(SafeFileName(odd).size(), kMaxFileNameBytes);
}

TEST(JoinInsideDestination, DiskFolderPathsStayInsideTheDestination) {
    testkit::TempDir dir;
    std::filesystem::path out;
    ASSERT_TRUE(JoinInsideDestination(dir.Path(), {"..", "..", "etc"}, "passwd", out));
    EXPECT_EQ(out, dir.Path() / "_" / "_" / "etc" / "passwd");
    ASSERT_TRUE(JoinInsideDestination(dir.Path(), {"a/../../b"}, "/abs", out));
    EXPECT_EQ(out, dir.Path() / "a_.._.._b" / "_abs");
    ASSERT_TRUE(JoinInsideDestination(dir.Path(), {}, "", out));
    EXPECT_EQ(out, dir.Path());
    EXPECT_EQ(SplitFolderPath("a/b\\c//d/"), (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_TRUE(SplitFolderPath("").empty());
}

TEST(JoinInsideDestination, RefusesALinkInTheDestinationThatLeadsOut) {
    testkit::TempDir dir, elsewhere;
    if (!testkit::MakeLink(elsewhere.Path(), dir / "photo")) GTEST_SKIP() << "this system cannot make links";
    std::filesystem::path out;
    EXPECT_FALSE(JoinInsideDestination(dir.Path(), {"photo"}, "x.jpg", out));
    EXPECT_TRUE(out.empty());
}

}  // namespace
}  // namespace sorvane
