// `sorvane scans` and `sorvane recover --scan` run as the built program: a
// deep scan is kept, listed, recovered from without scanning (only when its
// image is there and unchanged) and deleted.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "tests/testkit/testkit.h"

namespace {

namespace fs = std::filesystem;
using sorvane::testkit::RunCommand;
using sorvane::testkit::ShellQuote;
using sorvane::testkit::TempDir;

struct Result {
    int status = 0;
    std::string out;
};

// Runs the program on the data folder `data`; `withErrors` keeps its stderr in `out` too.
Result RunCli(const fs::path& data, const std::string& args, bool withErrors = false) {
    Result r;
    r.status = RunCommand("SORVANE_DATA_DIR=" + ShellQuote(data.string()) + " " + ShellQuote(SORVANE_CLI) +
                              " " + args + " </dev/null " + (withErrors ? "2>&1" : "2>/dev/null"),
                          &r.out);
    return r;
}

// A FAT16 card whose files were deleted, with a picture the file system forgot.
fs::path CardImage(const TempDir& dir, const std::string& name, char fill) {
    const fs::path image = dir / name;
    const std::string quoted = ShellQuote(image.string());
    std::string script = "truncate -s 16M " + quoted + " && mkfs.fat -F 16 " + quoted;
    for (int i = 0; i < 6; ++i) {
        const fs::path source = dir / (name + std::to_string(i) + ".txt");
        sorvane::testkit::WriteFile(source,
                                    std::vector<uint8_t>(3000 + 700 * i, static_cast<uint8_t>(fill + i)));
        script += " && mcopy -i " + quoted + " " + ShellQuote(source.string()) + " ::letter" +
                  std::to_string(i) + ".txt";
    }
    script += " && mdel -i " + quoted + " '::letter*.txt'";
    if (RunCommand("(" + script + ") >/dev/null 2>&1") != 0) return {};
    return image;
}

TEST(ScansCommand, AKeptScanIsListedRecoveredFromWithoutScanningAndDeleted) {
    if (!sorvane::testkit::HaveProgram("mkfs.fat") || !sorvane::testkit::HaveProgram("mcopy"))
        GTEST_SKIP() << "mkfs.fat or mtools missing";
    TempDir work;
    const fs::path image = CardImage(work, "card.img", 'a');
    const fs::path other = CardImage(work, "other.img", 'k');
    ASSERT_FALSE(image.empty());
    ASSERT_FALSE(other.empty());
    const std::string before = sorvane::testkit::FileSha256(image);
    const fs::path data = work / "data";

    // Recovering right after the scan; the scan stays kept.
    Result first = RunCli(data, "recover --deep --fresh --to " + ShellQuote((work / "first").string()) + " " +
                                    ShellQuote(image.string()));
    ASSERT_EQ(first.status, 0) << first.out;
    const auto recoveredFirst = sorvane::testkit::FileShasBelow(work / "first");
    ASSERT_GE(recoveredFirst.size(), 6u);

    Result listed = RunCli(data, "scans --json");
    ASSERT_EQ(listed.status, 0);
    const std::string target = "\"target\":\"" + image.string() + "\"";
    ASSERT_NE(listed.out.find(target), std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find("\"mode\":\"deep\""), std::string::npos);
    EXPECT_NE(listed.out.find("\"finished\":true"), std::string::npos);
    const size_t at = listed.out.find("\"id\":");
    ASSERT_NE(at, std::string::npos);
    const std::string id = std::to_string(std::stoull(listed.out.substr(at + 5)));
    Result text = RunCli(data, "scans");
    EXPECT_NE(text.out.find(image.string()), std::string::npos);
    EXPECT_NE(text.out.find("finished"), std::string::npos);

    // Its image gone, then another image in its place: said plainly, nothing written, the scan kept.
    const fs::path aside = work / "aside.img";
    fs::rename(image, aside);
    Result absent =
        RunCli(data, "recover --scan " + id + " --to " + ShellQuote((work / "absent").string()), true);
    EXPECT_NE(absent.status, 0);
    EXPECT_NE(absent.out.find("is not there"), std::string::npos) << absent.out;
    fs::copy_file(other, image);
    Result wrong =
        RunCli(data, "recover --scan " + id + " --to " + ShellQuote((work / "wrong").string()), true);
    EXPECT_NE(wrong.status, 0);
    EXPECT_NE(wrong.out.find("is not the image"), std::string::npos) << wrong.out;
    EXPECT_TRUE(sorvane::testkit::FileShasBelow(work / "absent").empty());
    EXPECT_TRUE(sorvane::testkit::FileShasBelow(work / "wrong").empty());
    fs::remove(image);
    fs::rename(aside, image);  // keeps its last-write time: the same image as scanned
    EXPECT_NE(RunCli(data, "scans --json").out.find(target), std::string::npos) << "the scan is still kept";

    // From the kept scan: no scanning, the same files.
    Result again =
        RunCli(data, "recover --scan " + id + " --to " + ShellQuote((work / "again").string()), true);
    ASSERT_EQ(again.status, 0) << again.out;
    EXPECT_NE(again.out.find("had finished; these are its results"), std::string::npos) << again.out;
    EXPECT_EQ(sorvane::testkit::FileShasBelow(work / "again"), recoveredFirst);

    EXPECT_EQ(RunCli(data, "scans --delete 999999").status, 2);
    Result removed = RunCli(data, "scans --delete " + id);
    EXPECT_EQ(removed.status, 0);
    EXPECT_EQ(RunCli(data, "scans --json").out, "");
    EXPECT_NE(RunCli(data, "recover --scan " + id + " --to " + ShellQuote((work / "gone").string())).status,
              0);
    EXPECT_EQ(sorvane::testkit::FileSha256(image), before) << "the image is only read";
}

}  // namespace
