// Proves the test-image toolkit makes what its truth claims: the volumes classify
// as the file systems they are, and The Sleuth Kit, reading the same images, lists
// every deleted and live file of the truth with the same size and content.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

#include "device/boot_sector.h"
#include "device/disk_reader.h"
#include "platform/drive_table.h"
#include "platform/fault_plan.h"
#include "platform/result_codes.h"
#include "tests/testkit/sha256.h"
#include "tests/testkit/test_images.h"
#include "tests/testkit/testkit.h"

namespace sorvane {
namespace {

using testkit::BuiltImage;
using testkit::ImageKind;
using testkit::TruthEntry;

// What fls says about one entry.
struct TskEntry {
    bool deleted = false;
    bool isDir = false;
    std::string inode;
    std::string path;
    uint64_t size = 0;
};

// `fls -r -p -l` of a volume: every entry, deleted or not, keyed by path.
std::vector<TskEntry> ListWithTsk(const BuiltImage& image, const testkit::TruthVolume& volume) {
    std::string out;
    std::string command = "fls -r -p -l -o " + std::to_string(volume.startSector) + " " +
                          testkit::ShellQuote(image.image.string()) + " 2>/dev/null";
    EXPECT_EQ(testkit::RunCommand(command, &out), 0) << command;
    std::vector<TskEntry> entries;
    std::stringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        // "r/r * 2185:\tPhotos/x.jpg\tmtime\tatime\tctime\tcrtime\tSIZE\tuid\tgid"
        std::vector<std::string> f;
        std::stringstream fields(line);
        for (std::string field; std::getline(fields, field, '\t');) f.push_back(field);
        if (f.size() < 7) continue;
        TskEntry e;
        e.isDir = f[0].compare(2, 1, "d") == 0;
        e.deleted = f[0].find(" * ") != std::string::npos;
        size_t inodeStart = f[0].find_last_of(" ") + 1;
        e.inode = f[0].substr(inodeStart, f[0].size() - inodeStart - 1);  // drop the ':'
        e.path = f[1];
        e.size = std::stoull(f[6]);
        entries.push_back(e);
    }
    return entries;
}

// The Sleuth Kit shows a deleted FAT entry that has no long name with '_' in place of
// the first byte the deletion overwrote; any other name must match exactly.
bool SameName(const TruthEntry& truth, const TskEntry& tsk, bool fat) {
    if (truth.path == tsk.path) return true;
    if (!fat || !truth.deleted || truth.path.size() != tsk.path.size()) return false;
    size_t slash = truth.path.rfind('/');
    size_t first = slash == std::string::npos ? 0 : slash + 1;
    return tsk.path[first] == '_' && truth.path.compare(0, first, tsk.path, 0, first) == 0 &&
           truth.path.compare(first + 1, std::string::npos, tsk.path, first + 1, std::string::npos) == 0;
}

std::string IcatSha256(const BuiltImage& image, const testkit::TruthVolume& volume,
                       const std::string& inode) {
    std::string out;
    std::string command = "icat -o " + std::to_string(volume.startSector) + " " +
                          testkit::ShellQuote(image.image.string()) + " " + inode + " | sha256sum";
    if (testkit::RunCommand(command, &out) != 0) return "";
    return out.substr(0, out.find(' '));
}

// Every file of the truth on `volume` must be listed by fls in the same state, with the
// same size; its content read by icat must hash to the truth's SHA-256 whenever TSK can
// know the content (live files, deleted NTFS files that were not overwritten, deleted FAT
// files that were neither split nor overwritten).
void ExpectTskAgrees(const BuiltImage& image, int volumeIndex) {
    const testkit::TruthVolume& volume = image.volumes.at(volumeIndex);
    const bool fat = volume.fileSystem.rfind("fat", 0) == 0;
    std::vector<TskEntry> tsk = ListWithTsk(image, volume);
    ASSERT_FALSE(tsk.empty()) << "fls listed nothing on volume " << volumeIndex;
    int deletedChecked = 0;
    int contentChecked = 0;
    for (const TruthEntry& truth : image.entries) {
        if (truth.volume != volumeIndex || truth.Has("record_reused")) continue;
        SCOPED_TRACE(volume.fileSystem + ": " + (truth.deleted ? "deleted " : "live ") + truth.path);
        auto it = std::find_if(tsk.begin(), tsk.end(), [&](const TskEntry& e) {
            return e.deleted == truth.deleted && e.isDir == truth.isDir && SameName(truth, e, fat);
        });
        ASSERT_NE(it, tsk.end()) << "fls does not list it in that state";
        if (truth.isDir) continue;
        EXPECT_EQ(it->size, truth.size);
        if (truth.deleted) ++deletedChecked;
        // For a deleted FAT file TSK assumes one run from the first cluster.
        if (truth.Has("overwritten") || (fat && truth.deleted && truth.Has("fragmented"))) continue;
        if (truth.Has("padding")) continue;  // tens of MiB that prove nothing more
        EXPECT_EQ(IcatSha256(image, volume, it->inode), truth.sha256) << "inode " << it->inode;
        ++contentChecked;
    }
    EXPECT_GE(deletedChecked, 10) << "the volume should hold many deleted files";
    EXPECT_GT(contentChecked, deletedChecked);
}

// The first 16 KiB of a volume, read the way the engines read it.
std::vector<uint8_t> VolumeStart(DiskReader& reader, uint64_t startSector) {
    std::vector<uint8_t> bytes(16384);
    uint32_t got = 0;
    EXPECT_EQ(ReadSectors(32, reader, bytes.data(), startSector, 512, &got), kSuccess);
    EXPECT_EQ(got, 32u);
    return bytes;
}

int FatBitsOf(const std::string& fileSystem) {
    return fileSystem == "fat12" ? 12 : fileSystem == "fat16" ? 16 : fileSystem == "fat32" ? 32 : 0;
}

void ExpectClassifiedAsTruth(const std::vector<uint8_t>& start, const testkit::TruthVolume& volume) {
    SCOPED_TRACE(volume.fileSystem);
    if (volume.fileSystem == "ntfs") {
        EXPECT_EQ(ClassifyVolume(start.data(), start.size()), VolumeKind::kNtfs);
        EXPECT_TRUE(IsNtfsBootSector(start.data(), 512));
        EXPECT_FALSE(IsFatBootSector(start.data(), 512));
    } else {
        EXPECT_EQ(ClassifyVolume(start.data(), start.size()), VolumeKind::kFat);
        EXPECT_EQ(FatBitsOfBootSector(start.data(), 512), FatBitsOf(volume.fileSystem));
        EXPECT_EQ(IsFat32BootSector(start.data(), 512), volume.fileSystem == "fat32");
        EXPECT_FALSE(IsNtfsBootSector(start.data(), 512));
    }
}

class SingleVolumeImage : public ::testing::TestWithParam<ImageKind> {};

TEST_P(SingleVolumeImage, ClassifiesAsItsFileSystemAndTskAgreesWithTheTruth) {
    SORVANE_SHARED_IMAGE_OR_SKIP(image, GetParam());
    if (!testkit::HaveProgram("fls") || !testkit::HaveProgram("icat"))
        GTEST_SKIP() << "The Sleuth Kit (fls, icat) is not installed";
    const std::string before = testkit::FileSha256(image.image);

    ASSERT_EQ(image.volumes.size(), 1u);
    const testkit::TruthVolume& volume = image.volumes[0];
    EXPECT_EQ(volume.fileSystem, testkit::ImageKindName(GetParam()));
    DiskReader reader;
    ASSERT_EQ(OpenImageReader(image.image, reader), kSuccess);
    EXPECT_EQ(reader.totalSectors, volume.sectorCount);
    ExpectClassifiedAsTruth(VolumeStart(reader, 0), volume);
    reader.Close();

    ExpectTskAgrees(image, 0);
    EXPECT_EQ(testkit::FileSha256(image.image), before) << "reading must not change the image";
}

INSTANTIATE_TEST_SUITE_P(Toolkit, SingleVolumeImage,
                         ::testing::Values(ImageKind::kFat12, ImageKind::kFat16, ImageKind::kFat32,
                                           ImageKind::kNtfs),
                         [](const auto& info) { return std::string(testkit::ImageKindName(info.param)); });

TEST(ToolkitTruth, CoversTheCasesTheEnginesNeed) {
    SORVANE_SHARED_IMAGE_OR_SKIP(fat12, ImageKind::kFat12);
    SORVANE_SHARED_IMAGE_OR_SKIP(fat32, ImageKind::kFat32);
    SORVANE_SHARED_IMAGE_OR_SKIP(ntfs, ImageKind::kNtfs);

    // Sizes around the cluster size, long and non-ASCII names, a deleted folder tree.
    const uint32_t cluster = fat12.volumes[0].clusterBytes;
    auto deletedSizes = fat12.Deleted();
    auto hasSize = [&](uint64_t size) {
        return std::any_of(deletedSizes.begin(), deletedSizes.end(),
                           [&](const TruthEntry& e) { return e.size == size; });
    };
    EXPECT_TRUE(hasSize(0));
    EXPECT_TRUE(hasSize(1));
    EXPECT_TRUE(hasSize(cluster));
    EXPECT_TRUE(std::any_of(deletedSizes.begin(), deletedSizes.end(),
                            [](const TruthEntry& e) { return e.size > 1024 * 1024; }));
    EXPECT_TRUE(std::any_of(deletedSizes.begin(), deletedSizes.end(), [](const TruthEntry& e) {
        return e.Name().size() > 26 && !e.Has("in_deleted_folder");
    }));
    EXPECT_TRUE(std::any_of(deletedSizes.begin(), deletedSizes.end(), [](const TruthEntry& e) {
        return std::any_of(e.path.begin(), e.path.end(),
                           [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
    }));
    const TruthEntry* folder = fat12.Find("Old Projects");
    ASSERT_NE(folder, nullptr);
    EXPECT_TRUE(folder->isDir && folder->deleted);
    ASSERT_NE(fat12.Find("Old Projects/Archive 2019/a.txt"), nullptr);
    EXPECT_TRUE(fat12.Find("Old Projects/Archive 2019/a.txt")->Has("in_deleted_folder"));

    // Deleted pictures and documents that a carver can measure.
    for (const char* format : {"jpeg", "png", "zip"}) {
        EXPECT_TRUE(std::any_of(deletedSizes.begin(), deletedSizes.end(), [&](const TruthEntry& e) {
            auto it = e.flags.find("format");
            return it != e.flags.end() && it->second == format;
        })) << format;
    }

    // First-free allocation on FAT12 splits the file written into the hole.
    const TruthEntry* split = fat12.Find("Frag/split across two places.bin");
    ASSERT_NE(split, nullptr);
    EXPECT_TRUE(split->deleted && split->Has("fragmented"));
    EXPECT_TRUE(fat12.Find("Frag/gap filler.bin")->Has("overwritten"));

    // Short names are known for long-named FAT entries.
    EXPECT_EQ(fat12.Find("Docs/Quarterly financial report for the board.docx")->flags.at("short"),
              "QUARTE~1.DOC");

    // On the FAT32 volume every non-padding file lies beyond cluster 65536.
    int beyond = 0;
    for (const TruthEntry& e : fat32.entries) {
        if (e.Has("padding") || !e.Has("first_cluster")) continue;
        EXPECT_GT(e.Number("first_cluster"), 65536u) << e.path;
        beyond += e.deleted ? 1 : 0;
    }
    EXPECT_GE(beyond, 10);

    // NTFS: resident and non-resident deleted files, all with their file record, and a
    // deleted file that grew after its neighbour was written, so its data lies in two runs.
    auto ntfsDeleted = ntfs.Deleted();
    const TruthEntry* grown = ntfs.Find("Frag/grown in two steps.bin");
    ASSERT_NE(grown, nullptr);
    EXPECT_TRUE(grown->deleted && grown->Has("fragmented") && !grown->Has("overwritten"));
    EXPECT_TRUE(std::any_of(ntfsDeleted.begin(), ntfsDeleted.end(),
                            [](const TruthEntry& e) { return e.Has("resident"); }));
    EXPECT_TRUE(std::any_of(ntfsDeleted.begin(), ntfsDeleted.end(),
                            [](const TruthEntry& e) { return e.Has("nonresident"); }));
    for (const TruthEntry& e : ntfs.entries) EXPECT_GE(e.Number("mft"), 24u) << e.path;
}

TEST(ToolkitMbrImage, EachPartitionClassifiesThroughTheDriveTable) {
    testkit::TempDir dir;
    SORVANE_BUILD_IMAGE_OR_SKIP(image, ImageKind::kMbr, dir.Path());
    const std::string before = testkit::FileSha256(image.image);
    ASSERT_EQ(image.volumes.size(), 2u);
    EXPECT_EQ(image.volumes[0].fileSystem, "fat32");
    EXPECT_EQ(image.volumes[1].fileSystem, "ntfs");

    int drive = DriveTable::Instance().AddImage(image.image);
    ASSERT_GE(drive, DriveTable::kFirstImageIndex);
    DiskReader reader;
    ASSERT_EQ(OpenPhysicalDriveReader(reader, drive), kSuccess);

    // The partition table written by sfdisk names the same ranges as the truth.
    std::vector<uint8_t> mbr = VolumeStart(reader, 0);
    EXPECT_EQ(mbr[510], 0x55);
    EXPECT_EQ(mbr[511], 0xAA);
    EXPECT_EQ(ClassifyVolume(mbr.data(), mbr.size()), VolumeKind::kUnknown) << "an MBR is not a volume";
    for (size_t i = 0; i < image.volumes.size(); ++i) {
        const uint8_t* slot = &mbr[446 + 16 * i];
        auto le32 = [&](size_t off) {
            return uint64_t{slot[off]} | uint64_t{slot[off + 1]} << 8 | uint64_t{slot[off + 2]} << 16 |
                   uint64_t{slot[off + 3]} << 24;
        };
        EXPECT_EQ(le32(8), image.volumes[i].startSector);
        EXPECT_EQ(le32(12), image.volumes[i].sectorCount);
        std::vector<uint8_t> boot = VolumeStart(reader, image.volumes[i].startSector);
        ExpectClassifiedAsTruth(boot, image.volumes[i]);
        // Each boot sector knows where its partition starts (the "hidden sectors").
        const uint64_t hidden = uint64_t{boot[28]} | uint64_t{boot[29]} << 8 | uint64_t{boot[30]} << 16 |
                                uint64_t{boot[31]} << 24;
        EXPECT_EQ(hidden, image.volumes[i].startSector);
    }
    reader.Close();

    if (testkit::HaveProgram("fls") && testkit::HaveProgram("icat")) {
        ExpectTskAgrees(image, 0);
        ExpectTskAgrees(image, 1);
    }
    EXPECT_EQ(testkit::FileSha256(image.image), before) << "reading must not change the image";
}

class ReformattedImage : public ::testing::TestWithParam<ImageKind> {};

// A quick format leaves the files' bytes where they were but takes them out of the file
// system: the truth must still say where they are, and The Sleuth Kit must no longer
// find any of them under its path.
TEST_P(ReformattedImage, LosesEveryPathButKeepsTheFilesBytes) {
    SORVANE_SHARED_IMAGE_OR_SKIP(image, GetParam());
    const std::string before = testkit::FileSha256(image.image);
    ASSERT_EQ(image.volumes.size(), 1u);
    const testkit::TruthVolume& volume = image.volumes[0];
    EXPECT_TRUE(volume.reformatted);

    DiskReader reader;
    ASSERT_EQ(OpenImageReader(image.image, reader), kSuccess);
    ExpectClassifiedAsTruth(VolumeStart(reader, 0), volume);
    reader.Close();

    int files = 0, intact = 0;
    for (const TruthEntry& e : image.entries) {
        if (e.isDir || e.size == 0) continue;
        ++files;
        intact += e.Has("intact") || (e.Has("resident") && e.Has("record_intact")) ? 1 : 0;
    }
    EXPECT_GE(files, 15);
    EXPECT_GE(intact * 10, files * 8) << "a quick format should leave most file data in place";

    if (testkit::HaveProgram("fls")) {
        std::vector<TskEntry> listed = ListWithTsk(image, volume);
        for (const TruthEntry& e : image.entries) {
            if (e.path.find('/') == std::string::npos) continue;  // names in the root may repeat
            EXPECT_TRUE(std::none_of(listed.begin(), listed.end(),
                                     [&](const TskEntry& t) { return t.path == e.path; }))
                << e.path << " is still listed after the format";
        }
    }
    EXPECT_EQ(testkit::FileSha256(image.image), before) << "reading must not change the image";
}

INSTANTIATE_TEST_SUITE_P(Toolkit, ReformattedImage,
                         ::testing::Values(ImageKind::kFat16Reformatted, ImageKind::kNtfsReformatted),
                         [](const auto& info) {
                             std::string name = testkit::ImageKindName(info.param);
                             name.erase(std::remove(name.begin(), name.end(), '-'), name.end());
                             return name;
                         });

class ToolkitFaults : public ::testing::Test {
  protected:
    static constexpr size_t kHeadSectors = 256;  // every fault below lies in these

    void SetUp() override {
        image_ = &testkit::SharedImage(ImageKind::kFat12);
        if (!image_->skipReason.empty()) GTEST_SKIP() << image_->skipReason;
        ASSERT_TRUE(image_->error.empty()) << image_->error;
        hashBefore_ = testkit::FileSha256(image_->image);
        std::ifstream in(image_->image, std::ios::binary);
        head_.resize(kHeadSectors * 512);
        ASSERT_TRUE(
            in.read(reinterpret_cast<char*>(head_.data()), static_cast<std::streamsize>(head_.size())));
        ASSERT_EQ(OpenImageReader(image_->image, reader_), kSuccess);
    }
    void TearDown() override {
        FaultPlan::Instance().Clear();
        if (image_ && image_->Ok()) {
            EXPECT_EQ(testkit::FileSha256(image_->image), hashBefore_) << "reading must not change the image";
        }
    }
    bool SameAsImage(const std::vector<uint8_t>& buffer, uint64_t startSector, uint32_t sectors) const {
        return startSector + sectors <= kHeadSectors &&
               std::equal(buffer.begin(), buffer.begin() + sectors * 512, head_.begin() + startSector * 512);
    }

    const BuiltImage* image_ = nullptr;
    std::string hashBefore_;
    std::vector<uint8_t> head_;
    DiskReader reader_;
};

TEST_F(ToolkitFaults, ShortReadKeepsTheWholeSectorsBeforeTheFault) {
    testkit::ScopedFaults faults;
    faults.Short(image_->image, 40, 41);
    std::vector<uint8_t> buffer(16 * 512);
    uint32_t got = 99;
    EXPECT_EQ(ReadSectors(16, reader_, buffer.data(), 30, 512, &got), kErrReadFault);
    EXPECT_EQ(got, 10u);
    EXPECT_TRUE(SameAsImage(buffer, 30, 10));
    // Sectors after the faulty range read normally.
    EXPECT_EQ(ReadSectors(16, reader_, buffer.data(), 42, 512, &got), kSuccess);
    EXPECT_EQ(got, 16u);
    EXPECT_TRUE(SameAsImage(buffer, 42, 16));
}

TEST_F(ToolkitFaults, ErrorAtAChosenSectorFailsTheReadThatReachesIt) {
    testkit::ScopedFaults faults;
    faults.Error(image_->image, 100, 100);
    std::vector<uint8_t> buffer(8 * 512);
    uint32_t got = 99;
    EXPECT_EQ(ReadSectors(1, reader_, buffer.data(), 100, 512, &got), kErrReadFault);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(ReadSectors(8, reader_, buffer.data(), 96, 512, &got), kErrReadFault);
    EXPECT_EQ(got, 4u);
    EXPECT_TRUE(SameAsImage(buffer, 96, 4));
    EXPECT_EQ(ReadSectors(8, reader_, buffer.data(), 101, 512, &got), kSuccess);
    EXPECT_EQ(got, 8u);
}

TEST_F(ToolkitFaults, PlanTextAndScopeEndLeaveLaterReadsWhole) {
    ASSERT_TRUE(FaultPlan::Instance().Parse(image_->image.string() + ":2-3:error"));
    std::vector<uint8_t> buffer(4 * 512);
    uint32_t got = 0;
    EXPECT_EQ(ReadSectors(4, reader_, buffer.data(), 0, 512, &got), kErrReadFault);
    EXPECT_EQ(got, 2u);
    {
        testkit::ScopedFaults faults;  // empties the plan when the scope ends
    }
    EXPECT_TRUE(FaultPlan::Instance().Empty());
    EXPECT_EQ(ReadSectors(4, reader_, buffer.data(), 0, 512, &got), kSuccess);
    EXPECT_TRUE(SameAsImage(buffer, 0, 4));
}

TEST(ToolkitBuild, MissingToolSkipsInsteadOfFailing) {
    std::string python;
    if (testkit::RunCommand("python3 -c 'import sys; print(sys.executable)'", &python) != 0)
        GTEST_SKIP() << "python3 is not installed";
    python.erase(python.find_last_not_of("\n") + 1);
    testkit::TempDir dir;
    std::filesystem::create_directory(dir / "bin");
    if (!testkit::MakeLink(python, dir / "bin" / "python3")) GTEST_SKIP() << "this system cannot make links";
    // With only python3 on PATH (the script adds sbin) mtools is missing: the build must say so as a
    // reason to skip, not as a failure, and must not leave a truth file behind.
    const char* oldPath = std::getenv("PATH");
    const std::string saved = oldPath ? oldPath : "";
    testkit::SetEnv("PATH", dir / "bin");
    BuiltImage image = testkit::BuildImage(ImageKind::kFat16, dir.Path());
    testkit::SetEnv("PATH", saved);
    EXPECT_NE(image.skipReason.find("missing tool"), std::string::npos) << image.skipReason << image.error;
    EXPECT_TRUE(image.error.empty()) << image.error;
    EXPECT_FALSE(image.Ok());
    EXPECT_FALSE(std::filesystem::exists(image.truthFile));
}

TEST(ToolkitTruthParser, RejectsMalformedTruth) {
    std::vector<testkit::TruthVolume> volumes;
    std::vector<TruthEntry> entries;
    std::string error;
    const std::string header = "#sorvane-image-truth 1\nvolume\t0\tfat12\t0\t16384\t4096\n";
    const std::string sha(64, 'a');
    ASSERT_TRUE(testkit::ParseTruth(
        header + "file\t0\tdeleted\tA/b c.txt\t5\t" + sha + "\tshort=BC~1.TXT,fragmented\n", volumes, entries,
        error))
        << error;
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_TRUE(entries[0].deleted);
    EXPECT_EQ(entries[0].Name(), "b c.txt");
    EXPECT_EQ(entries[0].flags.at("short"), "BC~1.TXT");
    EXPECT_TRUE(entries[0].Has("fragmented"));
    EXPECT_EQ(entries[0].Number("short", 7), 7u) << "a non-number flag gives the fallback";
    EXPECT_FALSE(volumes[0].reformatted);
    ASSERT_TRUE(testkit::ParseTruth("#sorvane-image-truth 1\nvolume\t0\tntfs\t0\t8\t4096\treformatted\n",
                                    volumes, entries, error));
    EXPECT_TRUE(volumes[0].reformatted);

    const std::vector<std::string> broken = {
        "volume\t0\tfat12\t0\t16384\t4096\n",                                 // no header
        header + "file\t1\tlive\tx\t5\t" + sha + "\t-\n",                     // unknown volume
        header + "file\t0\tgone\tx\t5\t" + sha + "\t-\n",                     // unknown state
        header + "file\t0\tlive\tx\t5x\t" + sha + "\t-\n",                    // bad size
        header + "file\t0\tlive\tx\t5\tabc\t-\n",                             // short hash
        header + "file\t0\tlive\tx\t5\t" + sha + "\n",                        // missing field
        header + "volume\t0\tntfs\t0\t1\t4096\n",                             // index out of order
        header + "blob\t0\n",                                                 // unknown record
        "#sorvane-image-truth 1\n",                                           // no volume
        "#sorvane-image-truth 1\nvolume\t0\tfat12\t0\t16384\t4096\tshiny\n",  // unknown volume flag
    };
    for (const std::string& text : broken) {
        EXPECT_FALSE(testkit::ParseTruth(text, volumes, entries, error)) << text;
        EXPECT_FALSE(error.empty());
    }
}

// Every "the source is unchanged" check rests on this digest.
TEST(Sha256, KnownDigestsAndFilesAcrossBlockBoundaries) {
    auto digest = [](const std::string& text) {
        testkit::Sha256 hash;
        hash.Update(text.data(), text.size());
        return hash.HexDigest();
    };
    EXPECT_EQ(digest(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(digest("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // 56 bytes: the length no longer fits in the first block.
    EXPECT_EQ(digest("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    testkit::TempDir dir;
    std::vector<uint8_t> bytes(1000000, 'a');  // the standard million 'a's, read in 1 MiB chunks
    testkit::WriteFile(dir / "a.bin", bytes);
    EXPECT_EQ(testkit::FileSha256(dir / "a.bin"),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    EXPECT_EQ(testkit::FileSha256(dir / "missing.bin"), "");
}

}  // namespace
}  // namespace sorvane
