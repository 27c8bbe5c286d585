#include "engines/fast_ntfs_recovery.h"
#include "engines/engine_factory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "carving/content_check.h"
#include "fs/ntfs_lznt1.h"
#include "platform/drive_table.h"
#include "platform/file_time.h"
#include "platform/result_codes.h"
#include "results/folder_key.h"
#include "tests/testkit/test_images.h"
#include "tests/testkit/testkit.h"

namespace sorvane {
namespace {

using testkit::BuiltImage;
using testkit::FileSha256;
using testkit::ImageKind;
using testkit::RunCommand;
using testkit::ShellQuote;
using testkit::TempDir;
using testkit::TruthEntry;

// Scan logs go to a folder of this test program, never to the user's own.
const auto* const kDataDir = ::testing::AddGlobalTestEnvironment(new testkit::DataDirEnvironment);

// Every record of a scan by its folder path ("Photos/a.jpg"), found by
// browsing from the root as the windows do, with the level of each folder.
struct Listing {
    std::map<std::string, FoundItemRecord> files;
    std::map<std::string, FoundItemRecord> folders;
    std::map<std::string, uint32_t> folderLevels;
};

void Browse(CFastNtfsRecovery& engine, const FoundItemRecord* folder, uint32_t level,
            const std::string& prefix, Listing& out, int depth = 0) {
    ASSERT_LT(depth, 64) << "folder tree deeper than any test image";
    FoundItemList children;
    ASSERT_EQ(engine.ListChildren(folder, level, children), 0);
    for (const FoundItemRecord& child : children) {
        std::string path = prefix + child.Name();
        if (child.IsFolder()) {
            out.folders[path] = child;
            out.folderLevels[path] = level + 1;
            Browse(engine, &child, level + 1, path + "/", out, depth + 1);
        } else {
            out.files[path] = child;
        }
    }
}

Listing BrowseAll(CFastNtfsRecovery& engine) {
    Listing listing;
    Browse(engine, nullptr, 0, "", listing);
    return listing;
}

std::string IcatSha256(const std::filesystem::path& image, uint64_t offset, uint64_t inode) {
    std::string out;
    RunCommand("icat -o " + std::to_string(offset) + " " + ShellQuote(image) + " " + std::to_string(inode) +
                   " 2>/dev/null | sha256sum",
               &out);
    return out.substr(0, 64);
}

// The deleted files of one toolkit volume that icat extracts byte-exact: the
// files a quick scan must bring back.
std::vector<TruthEntry> IcatRecoverable(const BuiltImage& image, int volume) {
    std::vector<TruthEntry> out;
    uint64_t offset = image.volumes[static_cast<size_t>(volume)].startSector;
    for (const TruthEntry& e : image.Deleted(volume)) {
        if (!e.Has("mft")) continue;
        if (IcatSha256(image.image, offset, e.Number("mft")) == e.sha256) out.push_back(e);
    }
    return out;
}

// Recovers every icat-recoverable file into `dir` and compares it with the
// truth; returns how many came back byte-exact under their name and folder.
size_t RecoverAndCompare(CFastNtfsRecovery& engine, const Listing& listing,
                         const std::vector<TruthEntry>& wanted, const std::filesystem::path& dir) {
    size_t good = 0;
    for (const TruthEntry& e : wanted) {
        auto it = listing.files.find(e.path);
        if (it == listing.files.end()) {
            ADD_FAILURE() << "not listed: " << e.path;
            continue;
        }
        EXPECT_EQ(+it->second.size, e.size) << e.path;
        std::filesystem::path target = dir / std::to_string(good + 1000 * 0) / e.Name();
        target = dir / ("f" + std::to_string(&e - wanted.data())) / e.Name();
        int rc = engine.RecoverItem(it->second, target, 0);
        EXPECT_EQ(rc, 0) << e.path;
        if (rc == 0 && FileSha256(target) == e.sha256) {
            ++good;
        } else {
            ADD_FAILURE() << "content differs: " << e.path;
        }
    }
    return good;
}

void CheckVolume(CFastNtfsRecovery& engine, const BuiltImage& image, int volume, const TempDir& dir) {
    ASSERT_EQ(engine.Scan(nullptr), 0);
    Listing listing = BrowseAll(engine);
    std::vector<TruthEntry> wanted = IcatRecoverable(image, volume);
    ASSERT_FALSE(wanted.empty());
    size_t good = RecoverAndCompare(engine, listing, wanted, dir.Path() / ("out" + std::to_string(volume)));
    std::printf("[ NTFS     ] volume %d: %zu of %zu deleted files that icat extracts recovered byte-exact\n",
                volume, good, wanted.size());
    EXPECT_EQ(good, wanted.size());

    // Live files are never listed; every listed file is a deleted one.
    for (const auto& [path, record] : listing.files) {
        const TruthEntry* truth = image.Find(path, volume);
        ASSERT_NE(truth, nullptr) << "listed but unknown: " << path;
        EXPECT_TRUE(truth->deleted) << "live file listed: " << path;
        EXPECT_EQ(+record.engineCode, 0u);
        EXPECT_EQ(+record.key, truth->Number("mft")) << path;
    }
    // A deleted folder tree comes back with its levels: folder, subfolder, files.
    if (image.Find("Old Projects/Archive 2019/a.txt", volume)) {
        EXPECT_EQ(listing.folderLevels["Old Projects"], 1u);
        EXPECT_EQ(listing.folderLevels["Old Projects/Archive 2019"], 2u);
        EXPECT_TRUE(listing.files.count("Old Projects/Archive 2019/a.txt"));
        std::string path;
        EXPECT_EQ(engine.GetFolderPath(listing.files["Old Projects/Archive 2019/a.txt"], path), 0);
        EXPECT_EQ(path, "Old Projects/Archive 2019/");
    }
}

TEST(FastNtfsRecovery, RecoversWhatIcatExtractsFromTheToolkitImage) {
    TempDir dir;
    SORVANE_BUILD_IMAGE_OR_SKIP(image, ImageKind::kNtfs, dir.Path());
    std::string before = FileSha256(image.image);
    CFastNtfsRecovery engine;
    ASSERT_EQ(OpenOnImage(engine, image.image, 7), 0);
    EXPECT_EQ(engine.GetFoundCount(), 0u) << "nothing before the first scan";
    CheckVolume(engine, image, 0, dir);

    // Folders recover with their whole tree, names and contents.
    Listing listing = BrowseAll(engine);
    ASSERT_TRUE(listing.folders.count("Old Projects"));
    auto folderOut = dir.Path() / "tree" / "Old Projects";
    ASSERT_EQ(engine.RecoverItem(listing.folders["Old Projects"], folderOut, 1), 0);
    for (const char* path : {"Old Projects/plan.txt", "Old Projects/Archive 2019/a.txt",
                             "Old Projects/Archive 2019/budget spreadsheet final version.xlsx"}) {
        const TruthEntry* truth = image.Find(path);
        ASSERT_NE(truth, nullptr);
        EXPECT_EQ(FileSha256(dir.Path() / "tree" / path), truth->sha256) << path;
    }

    // Recovered files keep the last-write time of their record.
    const FoundItemRecord& photo = listing.files["Photos/DSC00042.JPG"];
    auto out = dir.Path() / "times.jpg";
    ASSERT_EQ(engine.RecoverItem(photo, out, 0), 0);
    auto written = std::filesystem::last_write_time(out);
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                       std::chrono::file_clock::to_sys(written).time_since_epoch())
                       .count();
    EXPECT_EQ(seconds, UnixFromFileTime(photo.written));
    EXPECT_NE(+photo.written, 0u);

    // Preview: a photo goes to the temporary picture, anything else into the buffer.
    std::filesystem::path temp;
    uint8_t buffer[64] = {};
    size_t count = sizeof buffer;
    ASSERT_EQ(engine.PreviewItem(photo, temp, buffer, count, nullptr, nullptr), 0);
    EXPECT_EQ(temp.filename(), "tmp.jpg");
    EXPECT_EQ(FileSha256(temp), image.Find("Photos/DSC00042.JPG")->sha256);
    const FoundItemRecord& binary = listing.files["x.bin"];
    count = sizeof buffer;
    ASSERT_EQ(engine.PreviewItem(binary, temp, buffer, count, nullptr, nullptr), 0);
    EXPECT_EQ(count, 1u);

    EXPECT_EQ(FileSha256(image.image), before) << "the source image must never change";
}

TEST(FastNtfsRecovery, RecoversFromTheNtfsPartitionOfADiskImage) {
    TempDir dir;
    SORVANE_BUILD_IMAGE_OR_SKIP(image, ImageKind::kMbr, dir.Path());
    std::string before = FileSha256(image.image);
    int drive = DriveTable::Instance().AddImage(image.image);
    for (const auto& volume : image.volumes) {
        if (volume.fileSystem != "ntfs") continue;
        CFastNtfsRecovery engine;
        ASSERT_EQ(OpenOnDrive(engine, drive, volume.startSector, volume.sectorCount, 3), 0);
        CheckVolume(engine, image, volume.index, dir);
        Listing listing = BrowseAll(engine);
        for (const auto& [path, record] : listing.files)
            EXPECT_EQ(+record.partitionStart, volume.startSector);
    }
    EXPECT_EQ(FileSha256(image.image), before);
}

struct ProgressLog {
    CFastNtfsRecovery* engine = nullptr;
    std::vector<uint64_t> found;
    std::vector<int> percents;
    int cancelAt = -1;  // call number that answers kCancelCode
};

int RecordProgress(void* userData, int percent, int weight, int64_t, uint64_t, uint64_t, uint64_t found) {
    auto* log = static_cast<ProgressLog*>(userData);
    EXPECT_EQ(weight, 100);
    log->percents.push_back(percent);
    log->found.push_back(log->engine->GetFoundCount());
    EXPECT_EQ(found, log->engine->GetFoundCount());
    if (static_cast<int>(log->percents.size()) == log->cancelAt) return kCancelCode;
    return 0;
}

// The toolkit's libntfs-3g editor; tests that need it skip without it.
#define NTFS_EDIT_OR_SKIP()                          \
    if (!std::filesystem::exists(SORVANE_NTFS_EDIT)) \
    GTEST_SKIP() << "ntfs_edit was not built (libntfs-3g missing)"

// An image with thousands of MFT records, many of them deleted, made by
// ntfs_edit (libntfs-3g) on a mkntfs volume.
std::filesystem::path ManyRecordsImage(const TempDir& dir, int files, const std::string& extraScript = "") {
    auto image = dir / "many.img";
    EXPECT_EQ(RunCommand("truncate -s 64M " + ShellQuote(image) + " && mkntfs -F -Q -q " + ShellQuote(image) +
                         " >/dev/null 2>&1"),
              0);
    auto payload = dir / "payload.txt";
    testkit::WriteFile(payload, std::vector<uint8_t>{'h', 'e', 'l', 'l', 'o'});
    std::string script = "mkdir\t/d\n";
    for (int i = 0; i < files; ++i)
        script += "put\t" + payload.string() + "\t/d/f" + std::to_string(i) + ".txt\n";
    for (int i = 0; i < files; i += 2) script += "rm\t/d/f" + std::to_string(i) + ".txt\n";
    script += extraScript;
    testkit::WriteFile(dir / "script", std::vector<uint8_t>(script.begin(), script.end()));
    EXPECT_EQ(RunCommand(ShellQuote(SORVANE_NTFS_EDIT) + " " + ShellQuote(image) + " " +
                         ShellQuote(dir / "script") + " >/dev/null"),
              0);
    return image;
}

// A deleted picture one of whose clusters was reused says so; the deleted
// pictures whose clusters are untouched are whole.
TEST(FastNtfsRecovery, DeletedPictureWhoseClusterWasReusedIsDamaged) {
    TempDir dir;
    SORVANE_BUILD_IMAGE_OR_SKIP(image, ImageKind::kNtfs, dir.Path());
    const std::string before = FileSha256(image.image);
    auto scan = [&](const std::filesystem::path& path) {
        CFastNtfsRecovery engine;
        EXPECT_EQ(OpenOnImage(engine, path, 7), 0);
        EXPECT_EQ(engine.Scan(nullptr), 0);
        return BrowseAll(engine);
    };
    auto isPicture = [](const std::string& path) {
        return path.ends_with(".JPG") || path.ends_with(".jpg") || path.ends_with(".png");
    };
    const std::string victim = "Photos/Screenshot 2023-05-01 at 10.15.42.png";
    Listing listing = scan(image.image);
    ASSERT_TRUE(listing.files.count(victim));
    size_t pictures = 0;
    for (const auto& [path, record] : listing.files) {
        if (!isPicture(path)) continue;
        ++pictures;
        EXPECT_STREQ(ContentCheckWord(record.contentCheck), "whole") << path;
    }
    EXPECT_GE(pictures, 3u);
    EXPECT_EQ(FileSha256(image.image), before) << "the source image must never change";

    // In a copy of the image, the picture (found by its first bytes) gets a
    // cluster of zeros in its middle, as when a new file took that cluster.
    const TruthEntry* truth = image.Find(victim);
    ASSERT_NE(truth, nullptr);
    const auto extracted = dir.Path() / "victim.png";
    ASSERT_EQ(
        RunCommand("icat -o " + std::to_string(image.volumes[0].startSector) + " " + ShellQuote(image.image) +
                   " " + std::to_string(truth->Number("mft")) + " > " + ShellQuote(extracted)),
        0);
    const std::vector<uint8_t> picture = testkit::ReadFile(extracted);
    ASSERT_EQ(picture.size(), truth->size);
    std::vector<uint8_t> disk = testkit::ReadFile(image.image);
    auto at = std::search(disk.begin(), disk.end(), picture.begin(), picture.begin() + 512);
    ASSERT_NE(at, disk.end());
    const uint64_t cluster = listing.files[victim].clusterBytes;
    ASSERT_GT(picture.size(), 2 * cluster);
    std::fill_n(at + static_cast<std::ptrdiff_t>(cluster), cluster, 0);
    const auto reused = dir.Path() / "reused.img";
    testkit::WriteFile(reused, disk);
    listing = scan(reused);
    ASSERT_TRUE(listing.files.count(victim));
    EXPECT_STREQ(ContentCheckWord(listing.files[victim].contentCheck), "damaged");
    for (const auto& [path, record] : listing.files) {
        if (path != victim && isPicture(path)) {
            EXPECT_STREQ(ContentCheckWord(record.contentCheck), "whole") << path;
        }
    }
}

TEST(FastNtfsRecovery, ProgressCountsGrowAndACancelStopsTheScan) {
    NTFS_EDIT_OR_SKIP();
    TempDir dir;
    auto image = ManyRecordsImage(dir, 3000);
    {
        CFastNtfsRecovery engine;
        ASSERT_EQ(OpenOnImage(engine, image, 1), 0);
        ASSERT_GT(engine.MftRecordCount(), 3000u);
        ProgressLog log;
        log.engine = &engine;
        engine.SetCallbacks(RecordProgress, nullptr, &log, 100);
        ASSERT_EQ(engine.Scan(nullptr), 0);
        ASSERT_GE(log.found.size(), 3u) << "one call per 1024 records and a last one";
        EXPECT_TRUE(std::is_sorted(log.found.begin(), log.found.end()));
        EXPECT_LT(log.found.front(), log.found.back()) << "GetFoundCount grows while the scan runs";
        EXPECT_EQ(log.percents.back(), 100);
        EXPECT_EQ(engine.GetFoundCount(), log.found.back()) << "and stays after it";
        EXPECT_EQ(engine.GetFoundCount(), 1500u + 1u) << "1500 deleted files and their folder";
        Listing listing = BrowseAll(engine);
        EXPECT_EQ(listing.files.size(), 1500u);
        EXPECT_TRUE(listing.files.count("d/f0.txt"));
        EXPECT_FALSE(listing.files.count("d/f1.txt")) << "a live file in the same folder is not listed";
    }
    {
        CFastNtfsRecovery engine;
        ASSERT_EQ(OpenOnImage(engine, image, 1), 0);
        ProgressLog log;
        log.engine = &engine;
        log.cancelAt = 2;
        engine.SetCallbacks(RecordProgress, nullptr, &log, 100);
        EXPECT_EQ(engine.Scan(nullptr), kCancelCode);
        EXPECT_EQ(log.percents.size(), 2u) << "no callback after the cancel";
        EXPECT_LT(log.percents.back(), 100);
        // What was found before the cancel can still be browsed under its folder.
        Listing listing = BrowseAll(engine);
        EXPECT_GT(listing.files.size(), 0u);
        EXPECT_LT(listing.files.size(), 1500u);
        for (const auto& [path, record] : listing.files) EXPECT_EQ(path.rfind("d/", 0), 0u) << path;
    }
}

TEST(FastNtfsRecovery, EdgeCasesOfTheInterface) {
    TempDir dir;
    SORVANE_BUILD_IMAGE_OR_SKIP(image, ImageKind::kNtfs, dir.Path());
    CFastNtfsRecovery engine;
    ASSERT_EQ(OpenOnImage(engine, image.image, 1), 0);
    FoundItemList list;
    EXPECT_EQ(engine.ListChildren(nullptr, 5, list), kErrInvalidParameter);
    uint32_t count = 0;
    EXPECT_EQ(engine.CountFiles(nullptr, 5, count), kErrInvalidParameter);
    ASSERT_EQ(engine.Scan(nullptr), 0);

    ASSERT_EQ(engine.ListChildren(nullptr, 0, list), 0);
    ASSERT_FALSE(list.empty());
    bool seenFolder = false;
    for (const FoundItemRecord& r : list) {
        if (r.IsFolder()) seenFolder = true;
        EXPECT_FALSE(seenFolder && !r.IsFolder()) << "files come before folders";
    }
    Listing listing = BrowseAll(engine);
    ASSERT_TRUE(listing.files.count("zero deleted.txt"));
    EXPECT_EQ(+listing.files["zero deleted.txt"].contentCheck, 0u) << "a resident file of 0 bytes";
    EXPECT_EQ(+listing.files["zero deleted.txt"].size, 0u);
    EXPECT_EQ(+listing.files["Photos/DSC00042.JPG"].clusterBytes, 4096u);
    EXPECT_EQ(+listing.folders["Photos"].clusterBytes, kFolderClusterBytes);
    ASSERT_EQ(engine.CountFiles(nullptr, 0, count), 0);
    EXPECT_EQ(count, listing.files.size());

    // FindByExtension sees the same files as browsing.
    FoundItemList photos;
    EXPECT_EQ(engine.FindByExtension("*.jpg", photos), 1);
    size_t jpgs = 0;
    for (const auto& [path, record] : listing.files)
        if (path.size() > 4 && (path.ends_with(".jpg") || path.ends_with(".JPG"))) ++jpgs;
    EXPECT_EQ(photos.size(), jpgs);

    // Reopening the log by its name browses the same results without scanning.
    std::string name = engine.Log()->RecordPath().filename().string();
    CFastNtfsRecovery again;
    ASSERT_EQ(OpenOnImage(again, image.image, 1), 0);
    ASSERT_EQ(again.Scan(&name), 0);
    Listing reopened = BrowseAll(again);
    EXPECT_EQ(reopened.files.size(), listing.files.size());

    // The allocation map: a deleted file's clusters are free, a live file's are not.
    ASSERT_EQ(engine.LoadAllocationMap(), 0);
    const uint64_t perCluster = engine.Geometry().sectorsPerCluster;
    const TruthEntry* live = image.Find("Music/Grüße aus München.mp3");
    ASSERT_NE(live, nullptr);
    uint64_t start = live->Number("first_cluster") * perCluster, length = 0;
    ASSERT_NE(engine.NextFreeExtent(start, length), 0);
    EXPECT_GE(start, (live->Number("first_cluster") + live->Number("clusters")) * perCluster);
    EXPECT_GT(length, 0u);
    start = 1u << 30;
    ASSERT_NE(engine.NextFreeExtent(start, length), 0);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(start, image.volumes[0].sectorCount) << "a start past the end is set to the end";
}

// Deleted files whose folder's record was given to something else go to a
// "LostFolder%d" under the root, never into the new owner's folder.
TEST(FastNtfsRecovery, ReusedParentRecordsGiveLostFolders) {
    NTFS_EDIT_OR_SKIP();
    TempDir dir;
    auto payload = dir / "payload.bin";
    testkit::WriteFile(payload, std::vector<uint8_t>(5000, 0x5A));
    auto image = dir / "reuse.img";
    ASSERT_EQ(RunCommand("truncate -s 16M " + ShellQuote(image) + " && mkntfs -F -Q -q " + ShellQuote(image) +
                         " >/dev/null 2>&1"),
              0);
    // A: its record goes to a file; B: its record goes to a new folder C.
    // Two sessions: libntfs-3g hands out records from the lowest free one again
    // only after the volume was mounted anew.
    std::string first = "mkdir\t/B\nmkdir\t/A\nput\t" + payload.string() + "\t/A/in a.bin\nput\t" +
                        payload.string() +
                        "\t/B/in b.bin\nrm\t/A/in a.bin\nrm\t/B/in b.bin\nrmdir\t/A\nrmdir\t/B\n";
    std::string second = "mkdir\t/C\nput\t" + payload.string() + "\t/new file.bin\n";
    std::string out;
    for (const std::string& script : {first, second}) {
        testkit::WriteFile(dir / "script", std::vector<uint8_t>(script.begin(), script.end()));
        std::string part;
        ASSERT_EQ(RunCommand(ShellQuote(SORVANE_NTFS_EDIT) + " " + ShellQuote(image) + " " +
                                 ShellQuote(dir / "script"),
                             &part),
                  0);
        out += part;
    }
    auto recordOf = [&](const std::string& line) {
        size_t at = out.find(line + "\t");
        EXPECT_NE(at, std::string::npos) << line;
        return std::stoul(out.substr(at + line.size() + 1));
    };
    unsigned long a = recordOf("created\t/A"), b = recordOf("created\t/B");
    ASSERT_EQ(recordOf("created\t/new file.bin"), a) << "libntfs-3g gives the lowest free record";
    ASSERT_EQ(recordOf("created\t/C"), b);

    CFastNtfsRecovery engine;
    ASSERT_EQ(OpenOnImage(engine, image, 1), 0);
    ASSERT_EQ(engine.Scan(nullptr), 0);
    Listing listing = BrowseAll(engine);
    EXPECT_TRUE(listing.files.count("LostFolder" + std::to_string(a) + "/in a.bin"));
    EXPECT_TRUE(listing.files.count("LostFolder" + std::to_string(b) + "/in b.bin"));
    EXPECT_EQ(listing.folderLevels["LostFolder" + std::to_string(a)], 1u);
    EXPECT_FALSE(listing.folders.count("C"));
    EXPECT_FALSE(listing.files.count("new file.bin"));
    auto target = dir / "lost.bin";
    ASSERT_EQ(engine.RecoverItem(listing.files["LostFolder" + std::to_string(b) + "/in b.bin"], target, 0),
              0);
    EXPECT_EQ(testkit::ReadFile(target), std::vector<uint8_t>(5000, 0x5A));
}

// Byte offset of the parent reference in record `number`'s first $FILE_NAME.
uint64_t ParentReferenceOffset(const std::vector<uint8_t>& imageBytes, const NtfsGeometry& g,
                               uint64_t number) {
    uint64_t at = g.mftCluster * g.clusterBytes + number * g.recordSize;
    std::vector<uint8_t> record(imageBytes.begin() + at, imageBytes.begin() + at + g.recordSize);
    EXPECT_TRUE(ApplyFixups(record.data(), record.size()));
    NtfsRecordHeader header;
    EXPECT_TRUE(ParseRecordHeader(ByteView(record.data(), record.size()), header));
    NtfsAttributeWalker walker(ByteView(record.data(), record.size()), header);
    NtfsAttribute a;
    while (walker.Next(a))
        if (a.type == kNtfsFileName) return at + static_cast<uint64_t>(a.value.Data() - record.data());
    ADD_FAILURE() << "no $FILE_NAME";
    return 0;
}

TEST(FastNtfsRecovery, AParentLoopEndsAndItsFilesStayReachable) {
    NTFS_EDIT_OR_SKIP();
    TempDir dir;
    auto payload = dir / "payload.bin";
    testkit::WriteFile(payload, std::vector<uint8_t>(300, 'L'));
    auto image = dir / "loop.img";
    ASSERT_EQ(RunCommand("truncate -s 16M " + ShellQuote(image) + " && mkntfs -F -Q -q " + ShellQuote(image) +
                         " >/dev/null 2>&1"),
              0);
    std::string script = "mkdir\t/X\nmkdir\t/X/Y\nput\t" + payload.string() +
                         "\t/X/Y/deep.txt\nrm\t/X/Y/deep.txt\nrmdir\t/X/Y\nrmdir\t/X\n";
    testkit::WriteFile(dir / "script", std::vector<uint8_t>(script.begin(), script.end()));
    std::string out;
    ASSERT_EQ(
        RunCommand(ShellQuote(SORVANE_NTFS_EDIT) + " " + ShellQuote(image) + " " + ShellQuote(dir / "script"),
                   &out),
        0);
    auto bytes = testkit::ReadFile(image);
    NtfsGeometry g;
    ASSERT_TRUE(ParseNtfsBootSector(ByteView(bytes.data(), bytes.size()), g));
    size_t at = out.find("created\t/X\t");
    uint64_t x = std::stoull(out.substr(at + 11));
    // X's parent becomes Y (its own child), keeping the sequence number X expects of Y.
    uint64_t yAt = out.find("created\t/X/Y\t");
    uint64_t y = std::stoull(out.substr(yAt + 13));
    uint64_t offset = ParentReferenceOffset(bytes, g, x);
    uint64_t ySequenceAt = g.mftCluster * g.clusterBytes + y * g.recordSize + 16;
    uint64_t reference = y | (static_cast<uint64_t>(bytes[ySequenceAt] | (bytes[ySequenceAt + 1] << 8)) - 1)
                                 << 48;
    PutU64(bytes.data() + offset, reference);
    testkit::WriteFile(image, bytes);

    CFastNtfsRecovery engine;
    ASSERT_EQ(OpenOnImage(engine, image, 1), 0);
    ASSERT_EQ(engine.Scan(nullptr), 0);
    Listing listing = BrowseAll(engine);
    ASSERT_EQ(listing.files.size(), 1u);
    EXPECT_EQ(listing.files.begin()->second.Name(), "deep.txt");
    std::string path;
    EXPECT_EQ(engine.GetFolderPath(listing.files.begin()->second, path), 0);
    EXPECT_FALSE(path.empty());
}

// Volumes with 4096-byte sectors keep 4096-byte records with eight protected
// strides; a resident file crossing them must come back intact.
TEST(FastNtfsRecovery, FourKilobyteSectorVolume) {
    NTFS_EDIT_OR_SKIP();
    TempDir dir;
    auto image = dir / "4k.img";
    ASSERT_EQ(RunCommand("truncate -s 32M " + ShellQuote(image) + " && mkntfs -F -Q -q -s 4096 " +
                         ShellQuote(image) + " >/dev/null 2>&1"),
              0);
    std::vector<uint8_t> content(2900);
    std::mt19937 rng(11);
    for (auto& c : content) c = static_cast<uint8_t>(rng());
    testkit::WriteFile(dir / "r.bin", content);
    std::string script = "put\t" + (dir / "r.bin").string() + "\t/resident.bin\nrm\t/resident.bin\n";
    testkit::WriteFile(dir / "script", std::vector<uint8_t>(script.begin(), script.end()));
    std::string out;
    ASSERT_EQ(
        RunCommand(ShellQuote(SORVANE_NTFS_EDIT) + " " + ShellQuote(image) + " " + ShellQuote(dir / "script"),
                   &out),
        0);
    EXPECT_NE(out.find("resident"), std::string::npos);
    CFastNtfsRecovery engine;
    ASSERT_EQ(OpenOnImage(engine, image, 1), 0);
    EXPECT_EQ(engine.Geometry().recordSize, 4096u);
    ASSERT_EQ(engine.Scan(nullptr), 0);
    Listing listing = BrowseAll(engine);
    ASSERT_TRUE(listing.files.count("resident.bin"));
    ASSERT_EQ(engine.RecoverItem(listing.files["resident.bin"], dir / "back.bin", 0), 0);
    EXPECT_EQ(testkit::ReadFile(dir / "back.bin"), content);
}

// Random bytes flipped in the MFT of a real image never crash or hang a scan,
// a listing, or a recovery; read faults in the MFT cost only the records they hit.
TEST(FastNtfsRecovery, DamagedMftAndReadFaultsNeverStopTheEngine) {
    TempDir dir;
    SORVANE_BUILD_IMAGE_OR_SKIP(image, ImageKind::kNtfs, dir.Path());
    const auto pristine = testkit::ReadFile(image.image);
    NtfsGeometry g;
    ASSERT_TRUE(ParseNtfsBootSector(ByteView(pristine.data(), pristine.size()), g));
    const uint64_t mftStart = g.mftCluster * g.clusterBytes;
    const uint64_t mftBytes = 128 * g.recordSize;
    std::mt19937 rng(99);
    auto copy = dir / "damaged.img";
    for (int round = 0; round < 40; ++round) {
        auto bytes = pristine;
        int flips = 1 + static_cast<int>(rng() % 400);
        for (int i = 0; i < flips; ++i) bytes[mftStart + rng() % mftBytes] = static_cast<uint8_t>(rng());
        testkit::WriteFile(copy, bytes);
        CFastNtfsRecovery engine;
        if (OpenOnImage(engine, copy, 1) != 0) continue;
        int rc = engine.Scan(nullptr);
        EXPECT_TRUE(rc == 0 || rc > 0) << rc;
        Listing listing = BrowseAll(engine);
        for (const auto& [path, record] : listing.files)  // damaged: only that nothing breaks counts
            static_cast<void>(engine.RecoverItem(record, dir / "out" / "x", 0));
    }

    // Reads failing over the records of one folder's files: the rest is found.
    testkit::ScopedFaults faults;
    const TruthEntry* photo = image.Find("Photos/DSC00042.JPG");
    ASSERT_NE(photo, nullptr);
    uint64_t badSector = (mftStart + photo->Number("mft") * g.recordSize) / 512;
    faults.Error(image.image, badSector, badSector + 1);
    CFastNtfsRecovery engine;
    ASSERT_EQ(OpenOnImage(engine, image.image, 1), 0);
    ASSERT_EQ(engine.Scan(nullptr), 0);
    Listing listing = BrowseAll(engine);
    EXPECT_FALSE(listing.files.count("Photos/DSC00042.JPG")) << "its record could not be read";
    EXPECT_TRUE(listing.files.count("Old Projects/Archive 2019/a.txt"));
    EXPECT_TRUE(listing.files.count("Photos/tiny note.txt"));
}

// A volume whose first sector or whose MFT record 0 is destroyed is read
// through the copies NTFS keeps (the last sector, the MFT mirror); a volume
// that is no NTFS at all is refused.
TEST(FastNtfsRecovery, DamagedBootSectorOrMftRecordFallBackToTheirCopies) {
    TempDir dir;
    SORVANE_BUILD_IMAGE_OR_SKIP(image, ImageKind::kNtfs, dir.Path());
    std::set<std::string> expected;
    {
        CFastNtfsRecovery engine;
        ASSERT_EQ(OpenOnImage(engine, image.image, 1), 0);
        ASSERT_EQ(engine.Scan(nullptr), 0);
        for (const auto& [path, record] : BrowseAll(engine).files) expected.insert(path);
        ASSERT_FALSE(expected.empty());
    }
    const auto pristine = testkit::ReadFile(image.image);
    NtfsGeometry g;
    ASSERT_TRUE(ParseNtfsBootSector(ByteView(pristine.data(), pristine.size()), g));
    auto copy = dir / "copy.img";
    for (const char* damage : {"boot sector", "MFT record 0"}) {
        SCOPED_TRACE(damage);
        auto bytes = pristine;
        size_t at = std::string(damage) == "boot sector" ? 0 : g.mftCluster * g.clusterBytes;
        size_t length = std::string(damage) == "boot sector" ? 512 : g.recordSize;
        std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                  bytes.begin() + static_cast<std::ptrdiff_t>(at + length), 0);
        testkit::WriteFile(copy, bytes);
        CFastNtfsRecovery engine;
        ASSERT_EQ(OpenOnImage(engine, copy, 1), 0);
        EXPECT_GT(engine.MftRecordCount(), 64u);
        ASSERT_EQ(engine.Scan(nullptr), 0);
        std::set<std::string> found;
        for (const auto& [path, record] : BrowseAll(engine).files) found.insert(path);
        EXPECT_EQ(found, expected);
    }
    std::vector<uint8_t> noise(1 << 20);
    std::mt19937 rng(1);
    for (auto& b : noise) b = static_cast<uint8_t>(rng());
    testkit::WriteFile(copy, noise);
    CFastNtfsRecovery engine;
    EXPECT_EQ(OpenOnImage(engine, copy, 1), kErrInvalidParameter);
    EXPECT_EQ(engine.Scan(nullptr), 0) << "a scan of what could not be opened finds nothing";
    EXPECT_EQ(engine.GetFoundCount(), 0u);
}

// A file in thousands of pieces keeps its name and most of its run list in
// extension records named by its attribute list. libntfs-3g wipes those when
// it deletes a file, so the file is "deleted" here the way Windows does it:
// the in-use flags of its records are cleared and everything else stays.
TEST(FastNtfsRecovery, FileWithAnAttributeListComesBackWhole) {
    NTFS_EDIT_OR_SKIP();
    TempDir dir;
    auto image = dir / "pieces.img";
    ASSERT_EQ(RunCommand("truncate -s 32M " + ShellQuote(image) + " && mkntfs -F -Q -q " + ShellQuote(image) +
                         " >/dev/null 2>&1"),
              0);
    std::mt19937 rng(8);
    std::string script;
    for (int k = 0; k < 4; ++k) {
        std::vector<uint8_t> piece(4096);
        for (auto& b : piece) b = static_cast<uint8_t>(rng());
        testkit::WriteFile(dir / ("p" + std::to_string(k)), piece);
    }
    script +=
        "put\t" + (dir / "p0").string() + "\t/pieces.bin\nput\t" + (dir / "p1").string() + "\t/other.bin\n";
    // Appending to two files in turn gives each of them every second cluster.
    for (int i = 1; i <= 1200; ++i) {
        script += "append\t" + (dir / ("p" + std::to_string(i % 4))).string() + "\t/pieces.bin\n";
        script += "append\t" + (dir / ("p" + std::to_string((i + 1) % 4))).string() + "\t/other.bin\n";
    }
    testkit::WriteFile(dir / "script", std::vector<uint8_t>(script.begin(), script.end()));
    std::string out;
    ASSERT_EQ(
        RunCommand(ShellQuote(SORVANE_NTFS_EDIT) + " " + ShellQuote(image) + " " + ShellQuote(dir / "script"),
                   &out),
        0);
    const std::string mark = "created\t/pieces.bin\t";
    const uint64_t base = std::stoull(out.substr(out.find(mark) + mark.size()));
    const std::string expected = IcatSha256(image, 0, base);

    auto bytes = testkit::ReadFile(image);
    NtfsGeometry g;
    ASSERT_TRUE(ParseNtfsBootSector(ByteView(bytes.data(), bytes.size()), g));
    int cleared = 0;
    bool hasList = false;
    for (uint64_t n = 16; n < 200; ++n) {
        size_t at = g.mftCluster * g.clusterBytes + n * g.recordSize;
        ByteView record(bytes.data() + at, g.recordSize);
        if (record.U32(0) != kNtfsFileMagic) continue;
        if (n != base && NtfsReferenceRecord(record.U64(32)) != base) continue;
        if (n == base) {
            std::vector<uint8_t> copy(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                      bytes.begin() + static_cast<std::ptrdiff_t>(at + g.recordSize));
            ASSERT_TRUE(ApplyFixups(copy.data(), copy.size()));
            NtfsFileSummary summary;
            ASSERT_TRUE(SummarizeRecord(ByteView(copy.data(), copy.size()), summary));
            hasList = summary.hasAttributeList;
        }
        bytes[at + 22] &= static_cast<uint8_t>(~1u);
        ++cleared;
    }
    ASSERT_TRUE(hasList) << "the file must need an attribute list";
    ASSERT_GE(cleared, 2);
    testkit::WriteFile(image, bytes);

    CFastNtfsRecovery engine;
    ASSERT_EQ(OpenOnImage(engine, image, 1), 0);
    ASSERT_EQ(engine.Scan(nullptr), 0);
    Listing listing = BrowseAll(engine);
    ASSERT_TRUE(listing.files.count("pieces.bin"));
    EXPECT_EQ(+listing.files["pieces.bin"].size, 1201u * 4096u);
    ASSERT_EQ(engine.RecoverItem(listing.files["pieces.bin"], dir / "back.bin", 0), 0);
    EXPECT_EQ(FileSha256(dir / "back.bin"), expected);
}

// Files libntfs-3g compressed come back decoded: text that shrinks, random
// bytes whose units are stored as they are, and a mix of both; icat of The
// Sleuth Kit reads the same bytes.
TEST(FastNtfsRecovery, CompressedFilesComeBackDecoded) {
    NTFS_EDIT_OR_SKIP();
    const std::filesystem::path tool =
        std::filesystem::path(SORVANE_BINARY_DIR) / "tests/sorvane_ntfs_put_compressed";
    if (!std::filesystem::exists(tool))
        GTEST_SKIP() << "ntfs_put_compressed was not built (libntfs-3g missing)";
    TempDir dir;
    auto image = dir / "packed.img";
    ASSERT_EQ(RunCommand("truncate -s 32M " + ShellQuote(image) + " && mkntfs -F -Q -q " + ShellQuote(image) +
                         " >/dev/null 2>&1"),
              0);
    std::mt19937 rng(5);
    const char* words[] = {"holiday ", "photo ", "beach ", "sunset ", "family\n", "2023 "};
    std::vector<uint8_t> text, noise(70000), mixed;
    while (text.size() < 300000) {
        const char* w = words[rng() % 6];
        text.insert(text.end(), w, w + std::strlen(w));
    }
    for (auto& b : noise) b = static_cast<uint8_t>(rng());
    mixed = text;
    mixed.resize(100000);
    mixed.insert(mixed.end(), noise.begin(), noise.end());
    mixed.insert(mixed.end(), text.begin(), text.begin() + 50001);
    std::vector<std::pair<std::string, std::vector<uint8_t>>> files = {
        {"words.txt", text}, {"noise.bin", noise}, {"mixed.dat", mixed}};
    std::map<std::string, uint64_t> records;
    std::string script;
    for (const auto& [name, content] : files) {
        testkit::WriteFile(dir / name, content);
        std::string out;
        ASSERT_EQ(RunCommand(ShellQuote(tool) + " " + ShellQuote(image) + " " + ShellQuote(dir / name) + " " +
                                 ShellQuote(name),
                             &out),
                  0);
        ASSERT_NE(out.find("\tcompressed"), std::string::npos) << out;
        records[name] = std::stoull(out.substr(out.find('\t') + 1));
        script += "rm\t/packed/" + name + "\n";
    }
    testkit::WriteFile(dir / "script", std::vector<uint8_t>(script.begin(), script.end()));
    ASSERT_EQ(RunCommand(ShellQuote(SORVANE_NTFS_EDIT) + " " + ShellQuote(image) + " " +
                         ShellQuote(dir / "script") + " >/dev/null"),
              0);
    const std::string before = FileSha256(image);
    CFastNtfsRecovery engine;
    ASSERT_EQ(OpenOnImage(engine, image, 1), 0);
    ASSERT_EQ(engine.Scan(nullptr), 0);
    Listing listing = BrowseAll(engine);
    for (const auto& [name, content] : files) {
        SCOPED_TRACE(name);
        auto it = listing.files.find("packed/" + name);
        ASSERT_NE(it, listing.files.end());
        auto target = dir / "out" / name;
        ASSERT_EQ(engine.RecoverItem(it->second, target, 0), 0);
        EXPECT_TRUE(testkit::ReadFile(target) == content);
        EXPECT_EQ(IcatSha256(image, 0, records[name]), FileSha256(target));
    }
    EXPECT_EQ(FileSha256(image), before);
}

// Chunks that end early or point before their start decode as far as they
// go; nothing outside the buffers is touched.
TEST(NtfsLznt1, DamagedChunksStopWithoutOverrun) {
    std::vector<uint8_t> out(16384, 0xEE);
    // One compressed chunk: "abc" literals then a reference 3 back of length 6.
    const uint8_t good[] = {0x05, 0xB0, 0x08, 'a', 'b', 'c', 0x03, 0x20};
    ASSERT_TRUE(DecompressLznt1(ByteView(good, sizeof good), out.data(), out.size()));
    EXPECT_EQ(std::string(out.begin(), out.begin() + 9), "abcabcabc");
    EXPECT_EQ(out[9], 0) << "the rest of the unit is zero";
    EXPECT_EQ(out[16383], 0);
    const uint8_t tooFarBack[] = {0x02, 0xB0, 0x01, 0x00, 0x30};
    EXPECT_FALSE(DecompressLznt1(ByteView(tooFarBack, sizeof tooFarBack), out.data(), out.size()));
    const uint8_t cut[] = {0xFF, 0xBF, 0x00, 'x'};
    EXPECT_FALSE(DecompressLznt1(ByteView(cut, sizeof cut), out.data(), out.size()));
    std::mt19937 rng(3);
    for (int round = 0; round < 2000; ++round) {
        std::vector<uint8_t> junk(1 + rng() % 9000);
        for (auto& b : junk) b = static_cast<uint8_t>(rng());
        std::unique_ptr<uint8_t[]> exact(new uint8_t[4096 * 3]);
        // Junk only has to be survived, not decoded.
        static_cast<void>(DecompressLznt1(ByteView(junk.data(), junk.size()), exact.get(), 4096 * 3));
    }
}

}  // namespace
}  // namespace sorvane
