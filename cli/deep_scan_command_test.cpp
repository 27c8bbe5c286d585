// `sorvane scan --deep` and `sorvane recover --deep` run as the built program
// on a reformatted volume: the earlier files come back, an interrupted scan
// exits 130 and continues with --resume, --fresh starts afresh.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "tests/testkit/test_images.h"
#include "tests/testkit/testkit.h"

namespace {

using sorvane::testkit::RunCommand;
using sorvane::testkit::ShellQuote;
using sorvane::testkit::TempDir;

struct Result {
    int status = 0;
    std::string out;
};

Result RunCli(const std::string& data, const std::string& args) {
    Result r;
    std::string command = "SORVANE_DATA_DIR=" + ShellQuote(data) + " " + ShellQuote(SORVANE_CLI) + " " + args +
                          " </dev/null 2>/dev/null";
    int raw = RunCommand(command, &r.out);
    r.status = raw;
    return r;
}

size_t CountLines(const std::string& text, const std::string& needle) {
    std::istringstream in(text);
    size_t n = 0;
    for (std::string line; std::getline(in, line);)
        if (line.find(needle) != std::string::npos) ++n;
    return n;
}

TEST(DeepScanCommand, ReformattedFat32ComesBackAndRecoversByteExact) {
    TempDir work;
    SORVANE_BUILD_IMAGE_OR_SKIP(image, sorvane::testkit::ImageKind::kFat32, work.Path());
    const std::string img = ShellQuote(image.image.string());
    ASSERT_EQ(RunCommand("mkfs.fat -F 32 -s 1 -S 512 " + img + " >/dev/null 2>&1"), 0);
    const std::string before = sorvane::testkit::FileSha256(image.image);

    Result listing = RunCli((work / "data").string(), "scan --json " + img);  // deep is the default
    ASSERT_EQ(listing.status, 0);
    size_t fromDirectories = CountLines(listing.out, "\"engineCode\":3");
    std::printf("sorvane scan on a reformatted FAT32 volume: %zu files from earlier directories\n", fromDirectories);
    EXPECT_GE(fromDirectories, 20u);

    // Recover: every intact earlier file lands byte-exact somewhere below the destination.
    std::string out = (work / "out").string();
    Result recovered = RunCli((work / "data").string(), "recover --deep --fresh --to " + ShellQuote(out) + " " + img);
    ASSERT_EQ(recovered.status, 0) << recovered.out;
    std::string hashes;
    RunCommand("find " + ShellQuote(out) + " -type f -exec sha256sum {} +", &hashes);
    int intact = 0, exact = 0;
    for (const auto& t : image.entries) {
        if (t.isDir || t.Has("padding") || t.size == 0 || t.Has("overwritten") || t.Has("fragmented")) continue;
        if (t.path.find('/') == std::string::npos) continue;  // the root directory was overwritten
        ++intact;
        if (hashes.find(t.sha256) != std::string::npos) ++exact;
    }
    std::printf("sorvane recover on a reformatted FAT32 volume: %d of %d files byte-exact\n", exact, intact);
    EXPECT_EQ(exact, intact);
    EXPECT_EQ(sorvane::testkit::FileSha256(image.image), before);
}

TEST(DeepScanCommand, InterruptedScanExits130AndResumes) {
    TempDir work;
    // Large enough that an interrupt arrives while the pass runs.
    std::string img = (work / "raw.img").string();
    ASSERT_EQ(RunCommand("head -c 402653184 /dev/urandom > " + ShellQuote(img)), 0);
    const std::string data = (work / "data").string();
    std::string command = "SORVANE_DATA_DIR=" + ShellQuote(data) + " timeout --preserve-status -s INT 0.2 " +
                          ShellQuote(SORVANE_CLI) + " scan --deep " + ShellQuote(img) + " </dev/null >/dev/null 2>&1";
    int status = RunCommand(command);
    if (status == 0) GTEST_SKIP() << "the scan ended before the interrupt arrived";
    EXPECT_EQ(status, 130);
    // Without --resume and without a terminal the earlier scan is dropped;
    // with --resume it is continued to its end.
    Result resumed = RunCli(data, "scan --resume " + ShellQuote(img));
    EXPECT_EQ(resumed.status, 0);
    Result fresh = RunCli(data, "scan --fresh " + ShellQuote(img));
    EXPECT_EQ(fresh.status, 0);
    EXPECT_EQ(resumed.out, fresh.out);
}

}  // namespace
