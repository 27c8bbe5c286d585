// `sorvane scan --deep` and `sorvane recover --deep` run as the built program
// on a reformatted volume: the earlier files come back, an interrupted scan
// exits 130 and continues with --resume, --fresh starts afresh.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
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
    std::string command = "SORVANE_DATA_DIR=" + ShellQuote(data) + " " + ShellQuote(SORVANE_CLI) + " " +
                          args + " </dev/null 2>/dev/null";
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
    std::printf("sorvane scan on a reformatted FAT32 volume: %zu files from earlier directories\n",
                fromDirectories);
    EXPECT_GE(fromDirectories, 20u);

    // Recover: every intact earlier file lands byte-exact somewhere below the destination.
    std::string out = (work / "out").string();
    Result recovered =
        RunCli((work / "data").string(), "recover --deep --fresh --to " + ShellQuote(out) + " " + img);
    ASSERT_EQ(recovered.status, 0) << recovered.out;
    std::string hashes;
    RunCommand("find " + ShellQuote(out) + " -type f -exec sha256sum {} +", &hashes);
    int intact = 0, exact = 0;
    for (const auto& t : image.entries) {
        if (t.isDir || t.Has("padding") || t.size == 0 || t.Has("overwritten") || t.Has("fragmented"))
            continue;
        if (t.path.find('/') == std::string::npos) continue;  // the root directory was overwritten
        ++intact;
        if (hashes.find(t.sha256) != std::string::npos) ++exact;
    }
    std::printf("sorvane recover on a reformatted FAT32 volume: %d of %d files byte-exact\n", exact, intact);
    EXPECT_EQ(exact, intact);
    EXPECT_EQ(sorvane::testkit::FileSha256(image.image), before);
}

// Ctrl-C, SIGTERM (a polite kill) and SIGHUP (the terminal closed) all stop
// the scan so that it can be continued.
TEST(DeepScanCommand, InterruptedScanExits130AndResumes) {
    TempDir work;
    // Large enough that an interrupt arrives while the pass runs.
    std::string img = (work / "raw.img").string();
    ASSERT_EQ(RunCommand("head -c 402653184 /dev/urandom > " + ShellQuote(img)), 0);
    const std::string data = (work / "data").string();
    Result fresh = RunCli(data, "scan --fresh " + ShellQuote(img));
    ASSERT_EQ(fresh.status, 0);
    for (const char* signal : {"INT", "TERM", "HUP"}) {
        std::string command = "SORVANE_DATA_DIR=" + ShellQuote(data) + " timeout --preserve-status -s " +
                              signal + " 0.05 " + ShellQuote(SORVANE_CLI) + " scan --deep --fresh " +
                              ShellQuote(img) + " </dev/null >/dev/null 2>&1";
        int status = RunCommand(command);
        if (status == 0) GTEST_SKIP() << "the scan ended before the signal arrived";
        EXPECT_EQ(status, 130) << signal;
        // With --resume the earlier scan is continued to its end and finds what
        // an uninterrupted scan finds.
        Result resumed = RunCli(data, "scan --resume " + ShellQuote(img));
        EXPECT_EQ(resumed.status, 0) << signal;
        EXPECT_EQ(resumed.out, fresh.out) << signal;
    }
    // Without --resume and without a terminal an earlier scan is dropped.
    Result again = RunCli(data, "scan " + ShellQuote(img));
    EXPECT_EQ(again.status, 0);
    EXPECT_EQ(again.out, fresh.out);
}

// The "continued ... from N %" line of a resumed scan; -1 when there is none.
int ContinuedFromPercent(const std::string& err) {
    const std::string mark = "from ";
    const size_t line = err.find("continued the earlier deep scan");
    if (line == std::string::npos) return -1;
    const size_t at = err.find(mark, line);
    return at == std::string::npos ? -1 : std::atoi(err.c_str() + at + mark.size());
}

// A deep scan killed with SIGKILL, which gives it no chance to save anything,
// at several moments of its search: --resume continues from its last
// checkpoint, taken at most a few seconds before the kill, and ends with the
// list an uninterrupted scan gives. Every read of the image is slowed, as on
// a worn card, so that the search lasts long enough to be killed where wanted.
TEST(DeepScanCommand, ScanKilledMidSearchContinuesFromItsLastCheckpoint) {
    TempDir work;
    SORVANE_BUILD_IMAGE_OR_SKIP(image, sorvane::testkit::ImageKind::kFat32, work.Path());
    const std::string img = ShellQuote(image.image.string());
    ASSERT_EQ(RunCommand("mkfs.fat -F 32 -s 1 -S 512 " + img + " >/dev/null 2>&1"), 0);
    const std::string before = sorvane::testkit::FileSha256(image.image);
    Result alone = RunCli((work / "alone").string(), "scan --json " + img);
    ASSERT_EQ(alone.status, 0);
    ASSERT_GE(CountLines(alone.out, "\"engineCode\":3"), 20u)
        << "the deep FAT engine's files must be at stake";

    const uint64_t sectors = std::filesystem::file_size(image.image) / 512;
    const std::string slow = "SORVANE_FAULT_PLAN=" +
                             ShellQuote(image.image.string() + ":0-" + std::to_string(sectors) + ":slow12");
    const std::string err = (work / "err.txt").string();
    // The progress line shows 10 % to 100 % of the search as 9 % to 90 %.
    for (int shown : {50, 70, 85}) {
        SCOPED_TRACE("killed at " + std::to_string(shown) + " % shown");
        const std::string data = (work / ("data" + std::to_string(shown))).string();
        const std::string script = slow + " SORVANE_DATA_DIR=" + ShellQuote(data) + " " +
                                   ShellQuote(SORVANE_CLI) + " scan --fresh --json --progress " + img +
                                   " </dev/null >/dev/null 2>" + ShellQuote(err) +
                                   " & p=$!; while kill -0 $p 2>/dev/null; do "
                                   "n=$(tr '\\r' '\\n' < " +
                                   ShellQuote(err) +
                                   " | grep -o '^ *[0-9]*%' | tail -1 | tr -dc 0-9); "
                                   "if [ \"${n:-0}\" -ge " +
                                   std::to_string(shown) +
                                   " ]; then kill -9 $p; break; fi; sleep 0.02; done; "
                                   "wait $p; echo $?";
        std::string killed;
        RunCommand("bash -c " + ShellQuote(script), &killed);
        if (killed.find("137") == std::string::npos)
            GTEST_SKIP() << "the scan ended before the kill: " << killed;

        std::string resumedErr;
        Result resumed;
        resumed.status = RunCommand("SORVANE_DATA_DIR=" + ShellQuote(data) + " " + ShellQuote(SORVANE_CLI) +
                                        " scan --resume --json " + img + " </dev/null 2>" + ShellQuote(err),
                                    &resumed.out);
        auto bytes = sorvane::testkit::ReadFile(err);
        resumedErr.assign(bytes.begin(), bytes.end());
        EXPECT_EQ(resumed.status, 0) << resumedErr;
        EXPECT_EQ(resumed.out, alone.out);
        const int killedAt = shown * 10 / 9 - 10;  // share of the search when it was killed
        const int from = ContinuedFromPercent(resumedErr);
        std::printf("killed at %d %% of the search, continued from %d %%\n", killedAt, from);
        EXPECT_LE(from, killedAt + 1) << resumedErr;
        EXPECT_GE(from, killedAt - 35) << "continued from a checkpoint of the last seconds: " << resumedErr;
    }
    EXPECT_EQ(sorvane::testkit::FileSha256(image.image), before);
}

// Every "N files found" the progress line showed.
std::vector<uint64_t> ShownCounts(const std::string& err) {
    std::vector<uint64_t> counts;
    const std::string mark = " files found";
    for (size_t at = err.find(mark); at != std::string::npos; at = err.find(mark, at + 1)) {
        size_t begin = at;
        while (begin > 0 && std::isdigit(static_cast<unsigned char>(err[begin - 1]))) --begin;
        if (begin < at) counts.push_back(std::stoull(err.substr(begin, at - begin)));
    }
    return counts;
}

// The count shown while scanning never runs ahead of the list at the end:
// photos the file system lists are also met by the content search, folders
// are no files, and a reformatted volume's earlier files come from the deep
// engines; none of them may be counted twice or counted and then dropped.
TEST(DeepScanCommand, TheCountShownWhileScanningNeverExceedsTheList) {
    if (!sorvane::testkit::HaveProgram("mcopy")) GTEST_SKIP() << "mtools is needed";
    TempDir work;
    const std::string card = (work / "card.img").string();
    ASSERT_EQ(RunCommand("truncate -s 48M " + ShellQuote(card) + " && mkfs.fat -F 32 -s 1 " +
                         ShellQuote(card) + " >/dev/null 2>&1 && mmd -i " + ShellQuote(card) + " ::DCIM"),
              0);
    for (int i = 1; i <= 40; ++i) {
        const std::string photo = (work / ("photo" + std::to_string(i) + ".jpg")).string();
        ASSERT_EQ(RunCommand("{ printf '\\377\\330\\377\\340\\000\\020JFIF\\000'; head -c " +
                             std::to_string(20000 + i * 997) + " /dev/urandom; printf '\\377\\331'; } > " +
                             ShellQuote(photo) + " && mcopy -i " + ShellQuote(card) + " " +
                             ShellQuote(photo) + " ::DCIM/"),
                  0);
    }
    for (int i = 1; i <= 40; i += 2)
        ASSERT_EQ(RunCommand("mdel -i " + ShellQuote(card) + " ::DCIM/photo" + std::to_string(i) + ".jpg"),
                  0);
    SORVANE_BUILD_IMAGE_OR_SKIP(reformatted, sorvane::testkit::ImageKind::kFat32, work.Path());
    ASSERT_EQ(RunCommand("mkfs.fat -F 32 -s 1 -S 512 " + ShellQuote(reformatted.image.string()) +
                         " >/dev/null 2>&1"),
              0);

    const std::string err = (work / "err.txt").string();
    struct Case {
        std::string image, mode;
    };
    // Also with options that leave files out: the count is of what the list
    // will show, not of everything found.
    for (const Case& c :
         {Case{card, "--deep --fresh"}, Case{card, "--quick"},
          Case{reformatted.image.string(), "--deep --fresh"}, Case{reformatted.image.string(), "--quick"},
          Case{card, "--deep --fresh --min-size 40000"}, Case{card, "--quick --min-size 40000"},
          Case{reformatted.image.string(), "--deep --fresh --types document,archive"},
          Case{card, "--quick --types photo --max-size 30KB"}}) {
        SCOPED_TRACE(c.image + " " + c.mode);
        std::string out;
        ASSERT_EQ(RunCommand("SORVANE_DATA_DIR=" + ShellQuote((work / "data").string()) + " " +
                                 ShellQuote(SORVANE_CLI) + " scan --json --progress " + c.mode + " " +
                                 ShellQuote(c.image) + " </dev/null 2>" + ShellQuote(err),
                             &out),
                  0);
        auto bytes = sorvane::testkit::ReadFile(err);
        const std::vector<uint64_t> shown = ShownCounts(std::string(bytes.begin(), bytes.end()));
        ASSERT_FALSE(shown.empty());
        const uint64_t listed = CountLines(out, "\"name\"");
        EXPECT_LE(*std::max_element(shown.begin(), shown.end()), listed);
        EXPECT_EQ(shown.back(), listed) << "at its end the scan shows the count the list has";
    }
}

// While a slow deep scan runs, the progress line comes to tell how long is
// left and keeps telling it to the end. Only what the program reports is
// judged, never how long it took: how near the figure comes to the truth
// depends on the machine and is measured by bench/time_left_bench.sh.
TEST(DeepScanCommand, TimeLeftIsGivenOnceTheScanCanTell) {
    TempDir work;
    const std::string img = (work / "card.img").string();
    ASSERT_EQ(RunCommand("truncate -s 32M " + ShellQuote(img)), 0);
    // Every read waits a little, as on a worn card, so the scan lasts several
    // estimate intervals however fast the machine is.
    const std::string slow = "SORVANE_FAULT_PLAN=" + ShellQuote(img + ":0-65535:slow8");
    std::string out;
    const std::string err = (work / "err.txt").string();
    ASSERT_EQ(RunCommand(slow + " SORVANE_DATA_DIR=" + ShellQuote((work / "data").string()) + " " +
                             ShellQuote(SORVANE_CLI) + " scan --deep --fresh --progress " + ShellQuote(img) +
                             " </dev/null 2>" + ShellQuote(err),
                         &out),
              0);
    auto bytes = sorvane::testkit::ReadFile(err);
    std::string text(bytes.begin(), bytes.end());
    struct Line {
        int percent = 0;
        bool estimating = true;
    };
    std::vector<Line> lines;
    for (size_t pos = 0; pos < text.size();) {
        size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        const size_t percent = line.find('%');
        const size_t left = line.find("time left: ");
        if (percent == std::string::npos || left == std::string::npos) continue;
        size_t digits = percent;
        while (digits > 0 && std::isdigit(static_cast<unsigned char>(line[digits - 1]))) --digits;
        lines.push_back({std::atoi(line.c_str() + digits), line.compare(left + 11, 10, "estimating") == 0});
    }
    ASSERT_GT(lines.size(), 10u) << text;
    size_t first = 0;
    while (first < lines.size() && lines[first].estimating) ++first;
    ASSERT_LT(first, lines.size()) << "no line ever gave the time left";
    EXPECT_LT(lines[first].percent, 100) << "the time left came only at the end";
    for (size_t i = first; i < lines.size(); ++i) {
        if (lines[i].percent < 100) {
            EXPECT_FALSE(lines[i].estimating) << "back to estimating at " << lines[i].percent << " %";
        }
    }
    EXPECT_EQ(lines.back().percent, 100);
}

// A folder whose entries cannot be read (FAT), or a file record of the MFT
// that cannot be read (NTFS): the scan lists everything else, says what it
// could not read and does not exit 0 as if the list were whole.
TEST(DeepScanCommand, AFolderThatCannotBeReadIsReportedAndTheRestListed) {
    TempDir work;
    const std::string data = (work / "data").string();
    auto run = [&](const std::string& plan, const std::string& args, std::string& err) {
        Result r;
        const std::string errPath = (work / "err.txt").string();
        r.status = RunCommand(plan + " SORVANE_DATA_DIR=" + ShellQuote(data) + " " + ShellQuote(SORVANE_CLI) +
                                  " " + args + " </dev/null 2>" + ShellQuote(errPath),
                              &r.out);
        auto bytes = sorvane::testkit::ReadFile(errPath);
        err.assign(bytes.begin(), bytes.end());
        return r;
    };
    auto u16 = [](const std::vector<uint8_t>& b, size_t at) {
        return uint64_t{b[at]} | uint64_t{b[at + 1]} << 8;
    };
    auto u32 = [&](const std::vector<uint8_t>& b, size_t at) { return u16(b, at) | u16(b, at + 2) << 16; };
    std::string err;

    // FAT32: the first cluster of the Photos folder, which lists deleted files.
    SORVANE_BUILD_IMAGE_OR_SKIP(fat, sorvane::testkit::ImageKind::kFat32, work.Path() / "fat");
    const std::string fatPath = fat.image.string();
    const std::string before = sorvane::testkit::FileSha256(fat.image);
    const auto* photos = fat.Find("Photos");
    ASSERT_NE(photos, nullptr);
    const auto boot = sorvane::testkit::ReadFile(fat.image);
    const uint64_t dataStart = u16(boot, 14) + uint64_t{boot[16]} * u32(boot, 36);
    const uint64_t photosSector = dataStart + (photos->Number("first_cluster") - 2) * boot[13];
    const std::string fatPlan =
        "SORVANE_FAULT_PLAN=" + ShellQuote(fatPath + ":" + std::to_string(photosSector) + ":error");
    const std::string inPhotos = "\"folderPath\":\"Photos/\"";
    for (const std::string mode : {"--quick", "--deep --fresh"}) {
        SCOPED_TRACE(mode);
        Result clean = run("", "scan --json " + mode + " " + ShellQuote(fatPath), err);
        ASSERT_EQ(clean.status, 0) << err;
        const size_t photoFiles = CountLines(clean.out, inPhotos);
        ASSERT_GE(photoFiles, 3u);
        Result faulty = run(fatPlan, "scan --json " + mode + " " + ShellQuote(fatPath), err);
        EXPECT_EQ(faulty.status, 3) << err;
        EXPECT_NE(err.find("1 folder of " + fatPath + " could not be read"), std::string::npos) << err;
        EXPECT_EQ(CountLines(faulty.out, inPhotos), 0u);
        // Every file outside the unreadable folder is listed (the deep scan may
        // also list the lost ones' contents as found by their content).
        EXPECT_GE(CountLines(faulty.out, "\"name\""), CountLines(clean.out, "\"name\"") - photoFiles);
    }
    EXPECT_EQ(sorvane::testkit::FileSha256(fat.image), before);

    // NTFS: the file record of one deleted photo.
    SORVANE_BUILD_IMAGE_OR_SKIP(ntfs, sorvane::testkit::ImageKind::kNtfs, work.Path() / "ntfs");
    const std::string ntfsPath = ntfs.image.string();
    const auto* photo = ntfs.Find("Photos/DSC00042.JPG");
    ASSERT_NE(photo, nullptr);
    const auto ntfsBoot = sorvane::testkit::ReadFile(ntfs.image);
    const uint64_t spc = ntfsBoot[13] * u16(ntfsBoot, 11) / 512;
    const uint64_t mftSector = (u32(ntfsBoot, 48) | u32(ntfsBoot, 52) << 32) * spc;
    const uint64_t photoSector = mftSector + photo->Number("mft") * 2;
    const std::string ntfsPlan =
        "SORVANE_FAULT_PLAN=" + ShellQuote(ntfsPath + ":" + std::to_string(photoSector) + "-" +
                                           std::to_string(photoSector + 1) + ":error");
    Result clean = run("", "scan --quick --json " + ShellQuote(ntfsPath), err);
    ASSERT_EQ(clean.status, 0) << err;
    ASSERT_EQ(CountLines(clean.out, "DSC00042"), 1u);
    Result faulty = run(ntfsPlan, "scan --quick --json " + ShellQuote(ntfsPath), err);
    EXPECT_EQ(faulty.status, 3) << err;
    EXPECT_NE(err.find("1 MFT record of " + ntfsPath + " could not be read"), std::string::npos) << err;
    EXPECT_EQ(CountLines(faulty.out, "\"name\""), CountLines(clean.out, "\"name\"") - 1);
    EXPECT_EQ(CountLines(faulty.out, "DSC00042"), 0u);
}

// Two scans started together: the second waits for the first instead of
// sharing its scan folder, and both list everything.
TEST(DeepScanCommand, ConcurrentScansWaitForEachOther) {
    TempDir work;
    SORVANE_BUILD_IMAGE_OR_SKIP(image, sorvane::testkit::ImageKind::kFat32, work.Path());
    const std::string img = ShellQuote(image.image.string());
    ASSERT_EQ(RunCommand("mkfs.fat -F 32 -s 1 -S 512 " + img + " >/dev/null 2>&1"), 0);
    const std::string data = (work / "data").string();
    Result alone = RunCli(data, "scan --json " + img);
    ASSERT_EQ(alone.status, 0);
    ASSERT_FALSE(alone.out.empty());

    const std::string env = "SORVANE_DATA_DIR=" + ShellQuote(data) + " " + ShellQuote(SORVANE_CLI);
    for (int round = 0; round < 3; ++round) {
        const std::string a = (work / "a.txt").string(), b = (work / "b.txt").string();
        const std::string q = (work / "quick.txt").string();
        std::string script = env + " scan --fresh --json " + img + " >" + ShellQuote(a) +
                             " 2>/dev/null </dev/null & " + env + " scan --fresh --json " + img + " >" +
                             ShellQuote(b) + " 2>/dev/null </dev/null & " + env + " scan --quick --json " +
                             img + " >" + ShellQuote(q) + " 2>/dev/null </dev/null & " +
                             "s=0; for p in $(jobs -p); do wait $p || s=1; done; exit $s";
        ASSERT_EQ(RunCommand("bash -c " + ShellQuote(script)), 0) << "round " << round;
        auto text = [](const std::string& path) {
            auto bytes = sorvane::testkit::ReadFile(path);
            return std::string(bytes.begin(), bytes.end());
        };
        EXPECT_EQ(text(a), alone.out) << "round " << round;
        EXPECT_EQ(text(b), alone.out) << "round " << round;
        Result resumed = RunCli(data, "scan --resume --json " + img);
        EXPECT_EQ(resumed.status, 0);
        EXPECT_EQ(resumed.out, alone.out) << "round " << round;
    }
}

// A card with a bad sector: the scan goes on past it, lists what it lists
// without the fault, and says what it could not read (in words, in the JSON
// and in the exit status).
TEST(DeepScanCommand, UnreadableSectorsAreSearchedAroundAndReported) {
    TempDir work;
    SORVANE_BUILD_IMAGE_OR_SKIP(image, sorvane::testkit::ImageKind::kFat32, work.Path());
    const std::string img = ShellQuote(image.image.string());
    ASSERT_EQ(RunCommand("mkfs.fat -F 32 -s 1 -S 512 " + img + " >/dev/null 2>&1"), 0);
    const std::string data = (work / "data").string();
    Result clean = RunCli(data, "scan --fresh --json " + img);
    ASSERT_EQ(clean.status, 0);

    // A sector late in the volume, where the reformatted volume keeps no file.
    const uint64_t sectors = std::filesystem::file_size(image.image) / 512;
    const uint64_t bad = sectors - 300;
    const std::string plan =
        "SORVANE_FAULT_PLAN=" + ShellQuote(image.image.string() + ":" + std::to_string(bad) + "-" +
                                           std::to_string(bad + 1) + ":error");
    const std::string err = (work / "err.txt").string();
    std::string out;
    int status = RunCommand(plan + " SORVANE_DATA_DIR=" + ShellQuote(data) + " " + ShellQuote(SORVANE_CLI) +
                                " scan --fresh --json " + img + " </dev/null 2>" + ShellQuote(err),
                            &out);
    EXPECT_EQ(status, 3) << "a scan that could not read everything does not claim success";
    auto errBytes = sorvane::testkit::ReadFile(err);
    std::string errText(errBytes.begin(), errBytes.end());
    EXPECT_NE(errText.find("2 sectors unreadable: " + std::to_string(bad) + "-" + std::to_string(bad + 1)),
              std::string::npos)
        << errText;
    const std::string summary =
        "{\"unreadableSectors\":2,\"unreadableRanges\":[[" + std::to_string(bad) + ",2]]}\n";
    ASSERT_GE(out.size(), summary.size());
    EXPECT_EQ(out.substr(out.size() - summary.size()), summary);
    EXPECT_EQ(out.substr(0, out.size() - summary.size()), clean.out) << "every file is still found";
}

// Records that cannot be read are said to be unreadable, with their own exit
// status, and the deep scan still searches the contents.
TEST(DeepScanCommand, UnreadableFileSystemRecordsAreReportedAndSearchedAround) {
    TempDir work;
    const std::string data = (work / "data").string();
    auto run = [&](const std::string& args, const std::string& env, std::string& err) {
        const std::string errPath = (work / "err.txt").string();
        Result r;
        r.status = RunCommand(env + " SORVANE_DATA_DIR=" + ShellQuote(data) + " " + ShellQuote(SORVANE_CLI) +
                                  " " + args + " </dev/null 2>" + ShellQuote(errPath),
                              &r.out);
        auto bytes = sorvane::testkit::ReadFile(errPath);
        err.assign(bytes.begin(), bytes.end());
        return r;
    };
    std::string err;

    // NTFS whose MFT and mirror do not read.
    SORVANE_BUILD_IMAGE_OR_SKIP(ntfs, sorvane::testkit::ImageKind::kNtfs, work.Path());
    auto boot = sorvane::testkit::ReadFile(ntfs.image);
    ASSERT_GE(boot.size(), 512u);
    auto u64 = [&](size_t at) {
        uint64_t v = 0;
        for (int i = 7; i >= 0; --i) v = (v << 8) | boot[at + i];
        return v;
    };
    const uint64_t sectorsPerCluster = boot[13] * (boot[11] | boot[12] << 8) / 512;
    const uint64_t mft = u64(48) * sectorsPerCluster, mirror = u64(56) * sectorsPerCluster;
    const std::string path = ntfs.image.string();
    const std::string plan =
        "SORVANE_FAULT_PLAN=" +
        ShellQuote(path + ":" + std::to_string(mft) + "-" + std::to_string(mft + 64) + ":error;" + path +
                   ":" + std::to_string(mirror) + "-" + std::to_string(mirror + 8) + ":error");
    Result quick = run("scan --quick " + ShellQuote(path), plan, err);
    EXPECT_EQ(quick.status, 5) << err;
    EXPECT_NE(err.find("the MFT and its copy of " + path + " cannot be read"), std::string::npos) << err;
    Result deep = run("scan --fresh --json " + ShellQuote(path), plan, err);
    EXPECT_EQ(deep.status, 5) << err;
    EXPECT_NE(err.find("the deep scan searched the contents instead"), std::string::npos) << err;
    EXPECT_GT(CountLines(deep.out, "\"name\""), 0u) << "files found by searching the volume";
    EXPECT_EQ(run("scan --fresh " + ShellQuote(path), "", err).status, 0) << "the same volume without faults";

    // FAT whose boot sector holds impossible fields: 255 FATs, no reserved
    // sectors, no root entries.
    SORVANE_BUILD_IMAGE_OR_SKIP(fat, sorvane::testkit::ImageKind::kFat16, work.Path() / "fat");
    Result before = run("scan --fresh --json " + ShellQuote(fat.image.string()), "", err);
    ASSERT_EQ(before.status, 0) << err;
    ASSERT_EQ(RunCommand("printf '\\000\\000\\377\\000\\000' | dd of=" + ShellQuote(fat.image.string()) +
                         " bs=1 seek=14 conv=notrunc status=none"),
              0);
    quick = run("scan --quick " + ShellQuote(fat.image.string()), "", err);
    EXPECT_EQ(quick.status, 5) << err;
    EXPECT_NE(err.find("cannot be read"), std::string::npos) << err;
    deep = run("scan --fresh --json " + ShellQuote(fat.image.string()), "", err);
    EXPECT_EQ(deep.status, 5) << err;
    EXPECT_GT(CountLines(deep.out, "\"name\""), 0u) << "the contents are still searched";
}

// An image cut short while it is scanned: the scan says so and does not exit 0.
TEST(DeepScanCommand, ATargetThatShrinksDuringTheScanIsReported) {
    TempDir work;
    std::string img = (work / "raw.img").string();
    ASSERT_EQ(RunCommand("head -c 268435456 /dev/urandom > " + ShellQuote(img)), 0);
    const std::string err = (work / "err.txt").string();
    std::string script = "SORVANE_DATA_DIR=" + ShellQuote((work / "data").string()) + " " +
                         ShellQuote(SORVANE_CLI) + " scan --deep " + ShellQuote(img) +
                         " </dev/null >/dev/null 2>" + ShellQuote(err) +
                         " & p=$!; sleep 0.03; truncate -s 64M " + ShellQuote(img) + "; wait $p";
    int status = RunCommand("bash -c " + ShellQuote(script));
    auto errBytes = sorvane::testkit::ReadFile(err);
    std::string errText(errBytes.begin(), errBytes.end());
    if (status == 0 && errText.find("shrank") == std::string::npos)
        GTEST_SKIP() << "the scan ended before the image was cut";
    EXPECT_EQ(status, 3) << errText;
    EXPECT_NE(errText.find("shrank from 524288 to 131072 sectors"), std::string::npos) << errText;
}

// The command line opens what it scans once: every engine reads through that
// one opening (a failing card is asked as few times as possible).
TEST(DeepScanCommand, TheTargetIsOpenedOnce) {
    if (!sorvane::testkit::HaveProgram("strace") || !sorvane::testkit::HaveProgram("mkfs.fat"))
        GTEST_SKIP() << "strace and mkfs.fat are needed";
    TempDir work;
    const std::string img = (work / "card.img").string();
    ASSERT_EQ(RunCommand("mkfs.fat -C -F 16 " + ShellQuote(img) + " 16384 >/dev/null 2>&1"), 0);
    const std::string trace = (work / "trace.txt").string();
    // The leak check of a sanitized build cannot run under ptrace; it is off for this one run.
    const int status = RunCommand(
        "ASAN_OPTIONS=detect_leaks=0 SORVANE_DATA_DIR=" + ShellQuote((work / "data").string()) +
        " strace -f -qq -e trace=open,openat -o " + ShellQuote(trace) + " " + ShellQuote(SORVANE_CLI) +
        " scan --json " + ShellQuote(img) + " </dev/null >/dev/null 2>&1");
    auto traced = sorvane::testkit::ReadFile(trace);
    const std::string text(traced.begin(), traced.end());
    if (text.find("open") == std::string::npos) GTEST_SKIP() << "this system does not let strace trace";
    EXPECT_EQ(status, 0);
    EXPECT_EQ(CountLines(text, "\"" + img + "\""), 1u) << text;
}

}  // namespace
