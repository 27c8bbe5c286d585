// The disks and image commands, run as a user runs them: the built program
// against a fake sysfs tree and mount table (image files stand in for device
// nodes), and against a real loop device when this machine allows one.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "cli/target.h"
#include "platform/volume_registry.h"
#include "tests/testkit/testkit.h"

namespace sorvane::cli {
namespace {

using testkit::RunCommand;
using testkit::ShellQuote;
using testkit::TempDir;

const std::string kProgram = SORVANE_CLI;

struct Result {
    int status = -1;
    std::string output;  // stdout and stderr together
};

Result Sorvane(const std::string& arguments, const std::filesystem::path& root = {},
               const std::string& environment = "") {
    std::string command = environment + " ";
    if (!root.empty()) command += "SORVANE_SYSTEM_ROOT=" + ShellQuote(root.string()) + " ";
    Result r;
    r.status = RunCommand(command + ShellQuote(kProgram) + " " + arguments + " 2>&1", &r.output);
    return r;
}

std::vector<uint8_t> Slice(const std::vector<uint8_t>& bytes, uint64_t startSector, uint64_t sectors) {
    return {bytes.begin() + static_cast<long>(startSector * 512),
            bytes.begin() + static_cast<long>((startSector + sectors) * 512)};
}

TEST(DiskTargets, ParsesDiskNumbersAndRanges) {
    int drive = -1;
    uint64_t start = 1, count = 1;
    bool range = true;
    ASSERT_TRUE(ParseDiskTarget("disk:2", drive, start, count, range));
    EXPECT_EQ(drive, 2);
    EXPECT_EQ(start, 0u);
    EXPECT_EQ(count, 0u);
    EXPECT_FALSE(range);
    ASSERT_TRUE(ParseDiskTarget("disk:0:2048:4096", drive, start, count, range));
    EXPECT_EQ(start, 2048u);
    EXPECT_EQ(count, 4096u);
    EXPECT_TRUE(range);
    for (const char* bad : {"disk:", "disk:x", "disk:1:2", "disk:1:2:0", "disk:-1", "disk:1:2:3:4",
                            "disk:1: 2:3", "disk:1:99999999999999999999:1", "sdb"})
        EXPECT_FALSE(ParseDiskTarget(bad, drive, start, count, range)) << bad;
}

// A machine with an internal disk and a USB stick whose partition holds FAT32.
class FakeMachine : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!testkit::HaveProgram("sfdisk") || !testkit::HaveProgram("mkfs.fat")) {
            GTEST_SKIP() << "no sfdisk/mkfs.fat";
        }
        Write("sys/block/sda/removable", "0\n");
        Write("sys/block/sda/size", "409600\n");
        Write("sys/block/sda/device_path",
              "/sys/devices/pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0\n");
        Write("sys/block/sdb/removable", "0\n");
        Write("sys/block/sdb/size", "81920\n");
        Write("sys/block/sdb/dev", "8:16\n");
        Write("sys/block/sdb/device_path",
              "/sys/devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/6:0:0:0\n");
        Write("sys/block/sdb/sdb1/partition", "1\n");
        Write("sys/block/sdb/sdb1/start", "2048\n");
        Write("sys/block/sdb/sdb1/size", "77824\n");
        Write("sys/block/sdb/sdb1/dev", "8:17\n");
        Write("proc/self/mountinfo", "");
        std::filesystem::create_directories(root_ / "dev");
        std::filesystem::path sda = root_ / "dev/sda";
        { std::ofstream(sda, std::ios::binary); }
        std::filesystem::resize_file(sda, 409600 * 512);

        std::filesystem::path sdb = root_ / "dev/sdb";
        auto volume = scratch_ / "fat.img";
        ASSERT_EQ(RunCommand("truncate -s 38M " + ShellQuote(volume.string())), 0);
        ASSERT_EQ(RunCommand("mkfs.fat -F 32 -n STICK " + ShellQuote(volume.string()) + " >/dev/null"), 0);
        // Random bytes around the volume make a misplaced copy show.
        std::mt19937 rng(11);
        disk_.resize(81920 * 512);
        for (auto& b : disk_) b = static_cast<uint8_t>(rng());
        auto fat = testkit::ReadFile(volume);
        std::copy(fat.begin(), fat.end(), disk_.begin() + 2048 * 512);
        testkit::WriteFile(sdb, disk_);
        ASSERT_EQ(RunCommand("printf 'label: dos\\nstart=2048, size=77824, type=c\\n' | sfdisk -q " +
                             ShellQuote(sdb.string()) + " >/dev/null 2>&1"),
                  0);
        disk_ = testkit::ReadFile(sdb);
        sha_ = testkit::FileSha256(sdb);
    }
    void TearDown() override {
        if (!sha_.empty()) {
            EXPECT_EQ(testkit::FileSha256(root_ / "dev/sdb"), sha_) << "the source never changes";
        }
    }
    void Write(const std::string& rel, const std::string& text) {
        std::filesystem::create_directories((root_ / rel).parent_path());
        testkit::WriteFile(root_ / rel, std::vector<uint8_t>(text.begin(), text.end()));
    }

    TempDir root_;
    TempDir scratch_;
    std::vector<uint8_t> disk_;
    std::string sha_;
};

TEST_F(FakeMachine, DisksListsExternalDisksUnlessAllAreAsked) {
    Result r = Sorvane("disks", root_.Path());
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("STICK"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("FAT32"), std::string::npos);
    EXPECT_NE(r.output.find("38.00 MB"), std::string::npos) << "size text of the partition";
    EXPECT_EQ(r.output.find("internal"), std::string::npos) << "sda is internal";

    r = Sorvane("disks --all --json", root_.Path());
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("\"name\": \"sda\", "), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("\"kind\": \"disk\", \"number\": 0, \"partition\": 0"), std::string::npos)
        << "sda has no partition: one whole-disk entry";
    EXPECT_NE(r.output.find("\"label\": \"STICK\", \"fileSystem\": \"FAT32\", \"type\": 11"),
              std::string::npos);
    EXPECT_NE(r.output.find("\"start\": 2048, \"length\": 77824"), std::string::npos);

    EXPECT_EQ(Sorvane("disks --bogus", root_.Path()).status, 2);
}

TEST_F(FakeMachine, ImageOfAPartitionNodeIsThatRangeOfTheDisk) {
    auto out = scratch_ / "stick1.img";
    Result r = Sorvane("image /dev/sdb1 " + ShellQuote(out.string()), root_.Path());
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(testkit::ReadFile(out), Slice(disk_, 2048, 77824));

    // An existing image is never replaced unasked.
    r = Sorvane("image --start 10 --count 300 /dev/sdb1 " + ShellQuote(out.string()), root_.Path());
    EXPECT_EQ(r.status, 4) << r.output;
    EXPECT_NE(r.output.find("--force"), std::string::npos) << r.output;
    EXPECT_EQ(testkit::ReadFile(out), Slice(disk_, 2048, 77824))
        << "the refused copy left the image as it was";
    EXPECT_FALSE(std::filesystem::exists(out.string() + ".part"));

    r = Sorvane("image --force --start 10 --count 300 /dev/sdb1 " + ShellQuote(out.string()), root_.Path());
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(testkit::ReadFile(out), Slice(disk_, 2058, 300)) << "--start counts within the partition";

    r = Sorvane("image --force disk:1:5:777 " + ShellQuote(out.string()), root_.Path());
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(testkit::ReadFile(out), Slice(disk_, 5, 777));

    r = Sorvane("image --force /dev/sdb " + ShellQuote(out.string()), root_.Path());
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(testkit::ReadFile(out), disk_);

    // An image file is a source too.
    auto again = scratch_ / "again.img";
    r = Sorvane("image --start 2048 " + ShellQuote(out.string()) + " " + ShellQuote(again.string()));
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(testkit::ReadFile(again), Slice(disk_, 2048, 79872));
}

TEST_F(FakeMachine, ImageRefusesBadRangesAndDestinations) {
    auto out = scratch_ / "x.img";
    EXPECT_EQ(Sorvane("image --count 77825 /dev/sdb1 " + ShellQuote(out.string()), root_.Path()).status, 2);
    EXPECT_EQ(Sorvane("image disk:1:81000:1000 " + ShellQuote(out.string()), root_.Path()).status, 2);
    EXPECT_EQ(Sorvane("image disk:1:5:7 --start 1 " + ShellQuote(out.string()), root_.Path()).status, 2);
    EXPECT_EQ(Sorvane("image /dev/sdb1", root_.Path()).status, 2);
    EXPECT_EQ(Sorvane("image --count x /dev/sdb1 " + ShellQuote(out.string()), root_.Path()).status, 2);
    EXPECT_EQ(Sorvane("image /dev/sdz9 " + ShellQuote(out.string()), root_.Path()).status, 1);
    EXPECT_EQ(Sorvane("image disk:7 " + ShellQuote(out.string()), root_.Path()).status, 1);
    EXPECT_FALSE(std::filesystem::exists(out));

    // The source itself, reached through the fake root.
    Result r = Sorvane("image /dev/sdb " + ShellQuote((root_.Path() / "dev/sdb").string()), root_.Path());
    EXPECT_EQ(r.status, 4) << "the destination cannot be written";
    EXPECT_NE(r.output.find("source itself"), std::string::npos) << r.output;

    // A destination on the partition being imaged: say sdb1 is the scratch folder's device.
    uint64_t device = 0;
    ASSERT_EQ(GetPathDeviceNumber(scratch_.Path(), device), 0);
    uint32_t major = 0, minor = 0;
    SplitDeviceNumber(device, major, minor);
    Write("sys/block/sdb/sdb1/dev", std::to_string(major) + ":" + std::to_string(minor) + "\n");
    r = Sorvane("image /dev/sdb1 " + ShellQuote(out.string()), root_.Path());
    EXPECT_EQ(r.status, 4);
    EXPECT_NE(r.output.find("being imaged"), std::string::npos) << r.output;
    r = Sorvane("image /dev/sdb " + ShellQuote(out.string()), root_.Path());
    EXPECT_EQ(r.status, 4) << "nor on any partition of a disk being imaged";
    EXPECT_FALSE(std::filesystem::exists(out));
}

TEST_F(FakeMachine, AnUnreadableSectorIsNamed) {
    auto out = scratch_ / "bad.img";
    std::string plan =
        "SORVANE_FAULT_PLAN=" + ShellQuote((root_.Path() / "dev/sdb").string() + ":5000:error");
    Result r = Sorvane("image /dev/sdb1 " + ShellQuote(out.string()), root_.Path(), plan);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("cannot read sector 5000"), std::string::npos) << r.output;
    // Every sector before the one that failed is kept, as the message says,
    // and the partial image keeps its ".part" name.
    EXPECT_NE(r.output.find("holds the 2952 sectors copied before it"), std::string::npos) << r.output;
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_EQ(testkit::ReadFile(out.string() + ".part"), Slice(disk_, 2048, 2952));
}

TEST_F(FakeMachine, KeepGoingCopiesPastUnreadableSectorsAndMapsThem) {
    auto out = scratch_ / "dying.img";
    std::string plan =
        "SORVANE_FAULT_PLAN=" + ShellQuote((root_.Path() / "dev/sdb").string() + ":5000:error;" +
                                           (root_.Path() / "dev/sdb").string() + ":7000-7002:error");
    Result r = Sorvane("image --keep-going /dev/sdb1 " + ShellQuote(out.string()), root_.Path(), plan);
    EXPECT_EQ(r.status, 3) << r.output;
    EXPECT_NE(r.output.find("4 sectors unreadable: 2952, 4952-4954"), std::string::npos) << r.output;
    // Every readable sector is in the image, the unreadable ones are zeros.
    std::vector<uint8_t> want = Slice(disk_, 2048, 77824);
    for (uint64_t s : {5000, 7000, 7001, 7002})
        std::fill(want.begin() + (s - 2048) * 512, want.begin() + (s - 2047) * 512, 0);
    EXPECT_EQ(testkit::ReadFile(out), want);
    EXPECT_FALSE(std::filesystem::exists(out.string() + ".part"));
    auto map = testkit::ReadFile(out.string() + ".bad-sectors.txt");
    std::string text(map.begin(), map.end());
    EXPECT_EQ(text.substr(text.find('\n') + 1), "2952 1\n4952 3\n") << text;

    // Without faults and with --force the same name becomes a clean image, and
    // the old map, which would describe another image, goes.
    r = Sorvane("image --keep-going --force /dev/sdb1 " + ShellQuote(out.string()), root_.Path());
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(testkit::ReadFile(out), Slice(disk_, 2048, 77824));
    EXPECT_FALSE(std::filesystem::exists(out.string() + ".bad-sectors.txt"));
}

TEST(ImageCommand, CtrlCLeavesAPartialImageAndExits130) {
    TempDir dir;
    auto source = dir / "big.img";
    { std::ofstream(source, std::ios::binary); }
    const uint64_t sourceBytes = uint64_t{2} << 30;
    std::filesystem::resize_file(source, sourceBytes);  // sparse: quick to read, slower to write
    auto out = dir / "partial.img";
    auto part = dir / "partial.img.part";
    auto pidFile = dir / "pid";
    Result r;
    std::thread copy([&] {
        r.status =
            RunCommand("echo $$ > " + ShellQuote(pidFile.string()) + "; exec " + ShellQuote(kProgram) +
                           " image " + ShellQuote(source.string()) + " " + ShellQuote(out.string()) + " 2>&1",
                       &r.output);
    });
    // Wait until the copy is under way, then interrupt it as Ctrl-C does.
    std::error_code ec;
    auto started = [&] {
        uint64_t size = std::filesystem::file_size(part, ec);
        return !ec && size >= (1u << 20);
    };
    for (int i = 0; i < 1000 && !started(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::string pid;
    {
        std::ifstream in(pidFile);
        in >> pid;
    }
    EXPECT_FALSE(pid.empty());
    if (!pid.empty()) RunCommand("kill -INT " + pid);
    copy.join();
    EXPECT_EQ(r.status, 130) << r.output;
    EXPECT_NE(r.output.find("cancelled"), std::string::npos) << r.output;
    EXPECT_FALSE(std::filesystem::exists(out)) << "an unfinished image keeps its .part name";
    uint64_t size = std::filesystem::file_size(part);
    EXPECT_GT(size, 0u);
    EXPECT_LT(size, sourceBytes);
    EXPECT_EQ(size % 65536, 0u) << "whole chunks only";
}

// A loop device attached with partition scanning, detached again in every case.
class LoopDevice {
  public:
    explicit LoopDevice(const std::filesystem::path& image) {
        std::string out;
        if (RunCommand("losetup -P -f --show " + ShellQuote(image.string()) + " 2>/dev/null", &out) != 0)
            return;
        while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
        node_ = out;
    }
    ~LoopDevice() {
        if (!node_.empty()) RunCommand("losetup -d " + ShellQuote(node_) + " 2>/dev/null");
    }
    const std::string& Node() const { return node_; }
    std::string Name() const { return std::filesystem::path(node_).filename().string(); }
    // Waits for the kernel to show the partitions in sysfs, asking for them once more if needed.
    bool PartitionsVisible(int count) const {
        for (int attempt = 0; attempt < 50; ++attempt) {
            bool all = true;
            for (int i = 1; i <= count; ++i)
                all = all && std::filesystem::exists("/sys/block/" + Name() + "/" + Name() + "p" +
                                                     std::to_string(i));
            if (all) return true;
            if (attempt == 10) RunCommand("partx -a " + ShellQuote(node_) + " >/dev/null 2>&1");
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

  private:
    std::string node_;
};

TEST(LoopDisk, ListedAndImagedLikeARealDisk) {
    if (!testkit::HaveProgram("losetup") || !testkit::HaveProgram("mkntfs") ||
        !testkit::HaveProgram("sfdisk"))
        GTEST_SKIP() << "losetup, mkntfs or sfdisk missing";
    TempDir dir;
    auto disk = dir / "disk.img";
    auto scratch = dir / "volume.img";
    auto run = [](const std::string& command) { return RunCommand(command + " >/dev/null 2>&1") == 0; };
    ASSERT_TRUE(run("truncate -s 96M " + ShellQuote(disk.string())));
    ASSERT_TRUE(
        run("printf 'label: dos\\nstart=2048, size=81920, type=c\\nstart=83968, size=81920, type=7\\n' | "
            "sfdisk -q " +
            ShellQuote(disk.string())));
    ASSERT_TRUE(run("truncate -s 40M " + ShellQuote(scratch.string()) + " && mkfs.fat -F 32 -n LOOPFAT " +
                    ShellQuote(scratch.string()) + " && dd if=" + ShellQuote(scratch.string()) +
                    " of=" + ShellQuote(disk.string()) + " bs=512 seek=2048 conv=notrunc status=none"));
    ASSERT_TRUE(run("rm -f " + ShellQuote(scratch.string()) + " && truncate -s 40M " +
                    ShellQuote(scratch.string()) + " && mkntfs -q -F -Q " + ShellQuote(scratch.string()) +
                    " && dd if=" + ShellQuote(scratch.string()) + " of=" + ShellQuote(disk.string()) +
                    " bs=512 seek=83968 conv=notrunc status=none"));
    const std::string sha = testkit::FileSha256(disk);

    LoopDevice loop(disk);
    if (loop.Node().empty()) GTEST_SKIP() << "this machine does not allow attaching a loop device";
    if (!loop.PartitionsVisible(2)) GTEST_SKIP() << "the loop device's partitions do not show in sysfs";

    Result r = Sorvane("disks --all --json");
    ASSERT_EQ(r.status, 0) << r.output;
    size_t at = r.output.find("\"name\": \"" + loop.Name() + "\"");
    ASSERT_NE(at, std::string::npos) << r.output;
    std::string listing = r.output.substr(at, r.output.find("]}", at) - at);
    EXPECT_NE(listing.find("\"label\": \"LOOPFAT\", \"fileSystem\": \"FAT32\", \"type\": 11"),
              std::string::npos)
        << listing;
    EXPECT_NE(listing.find("\"start\": 2048, \"length\": 81920"), std::string::npos) << listing;
    EXPECT_NE(listing.find("\"fileSystem\": \"NTFS\", \"type\": 7"), std::string::npos) << listing;
    EXPECT_NE(listing.find("\"start\": 83968, \"length\": 81920"), std::string::npos) << listing;
    EXPECT_NE(listing.find("\"kind\": \"unallocated\""), std::string::npos)
        << "the 16 MB after the partitions";

    auto image = dir / "ntfs.img";
    r = Sorvane("image /dev/" + loop.Name() + "p2 " + ShellQuote(image.string()));
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(testkit::ReadFile(image), Slice(testkit::ReadFile(disk), 83968, 81920));
    EXPECT_EQ(testkit::FileSha256(disk), sha);
}

}  // namespace
}  // namespace sorvane::cli
