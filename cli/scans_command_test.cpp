// `sorvane scans` and `sorvane recover --scan` run as the built program: a
// deep scan is kept, listed, recovered from without scanning (only when its
// image, or the disk it was made of, is there and unchanged) and deleted.
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

// Runs the program on the data folder `data`; `withErrors` keeps its stderr in
// `out` too. With a `root`, the machine's disks are those below it.
Result RunCli(const fs::path& data, const std::string& args, bool withErrors = false,
              const fs::path& root = {}) {
    Result r;
    const std::string machine = root.empty() ? "" : "SORVANE_SYSTEM_ROOT=" + ShellQuote(root.string()) + " ";
    r.status =
        RunCommand(machine + "SORVANE_DATA_DIR=" + ShellQuote(data.string()) + " " + ShellQuote(SORVANE_CLI) +
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

// The first number after "id": in `scans --json`.
std::string FirstId(const std::string& json) {
    const size_t at = json.find("\"id\":");
    return at == std::string::npos ? std::string() : std::to_string(std::stoull(json.substr(at + 5)));
}

// A USB disk `name` below the fake system root `root`: 20 MiB, with `card`
// at sector 2048 and random bytes around it.
void AddDisk(const fs::path& root, const std::string& name, const fs::path& card, unsigned seed) {
    auto write = [&root](const std::string& rel, const std::string& text) {
        fs::create_directories((root / rel).parent_path());
        sorvane::testkit::WriteFile(root / rel, std::vector<uint8_t>(text.begin(), text.end()));
    };
    write("sys/block/" + name + "/removable", "1\n");
    write("sys/block/" + name + "/size", "40960\n");
    write("sys/block/" + name + "/dev", "240:" + std::to_string(16 * seed) + "\n");
    write("sys/block/" + name + "/device_path",
          "/sys/devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/6:0:0:" + std::to_string(seed) + "\n");
    write("proc/self/mountinfo", "");
    std::vector<uint8_t> disk(40960 * 512);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : disk) b = static_cast<uint8_t>((x = x * 1664525u + 1013904223u) >> 24);
    const std::vector<uint8_t> volume = sorvane::testkit::ReadFile(card);
    std::copy(volume.begin(), volume.end(), disk.begin() + 2048 * 512);
    fs::create_directories(root / "dev");
    sorvane::testkit::WriteFile(root / "dev" / name, disk);
}

TEST(ScansCommand, AKeptScanOfADiskPartitionIsFoundUnderTheDisksNewNumber) {
    if (!sorvane::testkit::HaveProgram("mkfs.fat") || !sorvane::testkit::HaveProgram("mcopy"))
        GTEST_SKIP() << "mkfs.fat or mtools missing";
    TempDir work;
    TempDir root;
    const fs::path card = CardImage(work, "card.img", 'a');
    const fs::path other = CardImage(work, "other.img", 'k');
    ASSERT_FALSE(card.empty());
    ASSERT_FALSE(other.empty());
    const fs::path data = work / "data";
    AddDisk(root.Path(), "sdc", card, 1);
    const std::string range = ":2048:32768";

    Result first = RunCli(
        data, "recover --deep --fresh --to " + ShellQuote((work / "first").string()) + " disk:0" + range,
        true, root.Path());
    ASSERT_EQ(first.status, 0) << first.out;
    const auto recoveredFirst = sorvane::testkit::FileShasBelow(work / "first");
    ASSERT_GE(recoveredFirst.size(), 6u);
    Result listed = RunCli(data, "scans --json", false, root.Path());
    ASSERT_NE(listed.out.find("disk 0, sectors 2048+32768"), std::string::npos) << listed.out;
    const std::string id = FirstId(listed.out);
    ASSERT_FALSE(id.empty());

    // Another disk of the same layout plugged in, named first: it takes number
    // 0 and the scanned disk is number 1. The other disk is not taken for it.
    AddDisk(root.Path(), "sdb", other, 2);
    const std::string scanned = sorvane::testkit::FileSha256(root / "dev/sdc");
    const std::string stranger = sorvane::testkit::FileSha256(root / "dev/sdb");
    Result again = RunCli(data, "recover --scan " + id + " --to " + ShellQuote((work / "again").string()),
                          true, root.Path());
    ASSERT_EQ(again.status, 0) << again.out;
    EXPECT_NE(again.out.find("is disk 1 now"), std::string::npos) << again.out;
    EXPECT_NE(again.out.find("had finished; these are its results"), std::string::npos) << again.out;
    EXPECT_EQ(sorvane::testkit::FileShasBelow(work / "again"), recoveredFirst);
    listed = RunCli(data, "scans --json", false, root.Path());
    EXPECT_NE(listed.out.find("disk 1, sectors 2048+32768"), std::string::npos) << listed.out;
    EXPECT_EQ(FirstId(listed.out), id) << "the same scan, not a new one";

    // Only the stranger left: said plainly, nothing recovered, the scan kept.
    fs::remove_all(root / "sys/block/sdc");
    fs::rename(root / "dev/sdc", work / "sdc.aside");
    Result absent = RunCli(data, "recover --scan " + id + " --to " + ShellQuote((work / "absent").string()),
                           true, root.Path());
    EXPECT_EQ(absent.status, 1) << absent.out;
    EXPECT_NE(absent.out.find("is not connected"), std::string::npos) << absent.out;
    EXPECT_TRUE(sorvane::testkit::FileShasBelow(work / "absent").empty());
    EXPECT_EQ(FirstId(RunCli(data, "scans --json", false, root.Path()).out), id);
    EXPECT_EQ(sorvane::testkit::FileSha256(work / "sdc.aside"), scanned) << "disks are only read";
    EXPECT_EQ(sorvane::testkit::FileSha256(root / "dev/sdb"), stranger);
}

// Two disks of one layout take the same number in turn: the deep scan of the
// second keeps the first one's kept scan, which recovers as before once its
// disk is back.
TEST(ScansCommand, AnotherDiskOfTheSameLayoutKeepsTheFirstDisksScan) {
    if (!sorvane::testkit::HaveProgram("mkfs.fat") || !sorvane::testkit::HaveProgram("mcopy"))
        GTEST_SKIP() << "mkfs.fat or mtools missing";
    TempDir work;
    TempDir root;
    const fs::path card = CardImage(work, "card.img", 'a');
    const fs::path other = CardImage(work, "other.img", 'k');
    ASSERT_FALSE(card.empty());
    ASSERT_FALSE(other.empty());
    const fs::path data = work / "data";
    const std::string range = ":2048:32768";
    AddDisk(root.Path(), "sdc", card, 1);
    Result first = RunCli(
        data, "recover --deep --fresh --to " + ShellQuote((work / "first").string()) + " disk:0" + range,
        true, root.Path());
    ASSERT_EQ(first.status, 0) << first.out;
    const auto recoveredFirst = sorvane::testkit::FileShasBelow(work / "first");
    ASSERT_GE(recoveredFirst.size(), 6u);
    const std::string id = FirstId(RunCli(data, "scans --json", false, root.Path()).out);
    ASSERT_FALSE(id.empty());

    fs::remove_all(root / "sys/block/sdc");
    fs::remove(root / "dev/sdc");
    AddDisk(root.Path(), "sdb", other, 2);
    Result second = RunCli(data, "scan --deep disk:0" + range, true, root.Path());
    ASSERT_EQ(second.status, 0) << second.out;
    const std::string listed = RunCli(data, "scans --json", false, root.Path()).out;
    EXPECT_NE(listed.find("\"id\":" + id + ","), std::string::npos) << "the first disk's scan is kept\n"
                                                                    << listed;

    fs::remove_all(root / "sys/block/sdb");
    fs::remove(root / "dev/sdb");
    AddDisk(root.Path(), "sdc", card, 1);
    Result again = RunCli(data, "recover --scan " + id + " --to " + ShellQuote((work / "again").string()),
                          true, root.Path());
    ASSERT_EQ(again.status, 0) << again.out;
    EXPECT_NE(again.out.find("had finished; these are its results"), std::string::npos) << again.out;
    EXPECT_EQ(sorvane::testkit::FileShasBelow(work / "again"), recoveredFirst);
}

}  // namespace
