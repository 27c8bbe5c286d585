// The quick NTFS engine on the large gzipped volumes that Windows wrote:
// 4 KiB and 2 MiB clusters inside an MBR disk, and a mid-volume MFT. Each is
// decompressed (1 GiB apiece), so this test is kept out of the sanitizer run.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>

#include "engines/engine_factory.h"
#include "engines/fast_ntfs_recovery.h"
#include "platform/drive_table.h"
#include "tests/testkit/testkit.h"

namespace sorvane {
namespace {

using testkit::FileSha256;
using testkit::RunCommand;
using testkit::ShellQuote;
using testkit::TempDir;

const auto* const kDataDir = ::testing::AddGlobalTestEnvironment(new testkit::DataDirEnvironment);

std::filesystem::path RealImage(const std::string& name) {
    std::filesystem::path dir = testkit::RealImagesDir();
    return dir.empty() ? std::filesystem::path() : dir / name;
}

void Browse(CFastNtfsRecovery& engine, const FoundItemRecord* folder, uint32_t level,
            const std::string& prefix, std::map<std::string, FoundItemRecord>& files,
            std::map<std::string, FoundItemRecord>& folders) {
    ASSERT_LT(level, 64u);
    FoundItemList children;
    ASSERT_EQ(engine.ListChildren(folder, level, children), 0);
    for (const FoundItemRecord& child : children) {
        std::string path = prefix + child.Name();
        if (child.IsFolder()) {
            folders[path] = child;
            Browse(engine, &child, level + 1, path + "/", files, folders);
        } else {
            files[path] = child;
        }
    }
}

// A gzipped image decompressed into a temporary folder (zero blocks stay holes).
std::filesystem::path Decompress(const std::filesystem::path& gz, const TempDir& dir) {
    auto raw = dir / gz.stem().string();
    EXPECT_EQ(RunCommand("zcat " + ShellQuote(gz) + " | dd of=" + ShellQuote(raw) +
                         " bs=1M conv=sparse status=none"),
              0);
    return raw;
}

struct Volume {
    const char* name;
    uint64_t partitionStart;  // 512-byte sectors; 0: the image is the volume
    uint64_t partitionSectors;
    size_t deletedFiles;  // regular files The Sleuth Kit lists as deleted
};

// Windows 10 volumes with 4 KiB and 2 MiB clusters inside an MBR disk, and a
// Windows 7 volume whose MFT lies mid-volume: each opens, scans to the end and
// lists no more deleted files than there are.
TEST(FastNtfsLargeImages, WindowsVolumesScanToTheEnd) {
    const Volume volumes[] = {
        {"ntfs-lastaccess.raw.gz", 128, 518144, 0},
        {"ntfs-2m.raw.gz", 128, 2091008, 0},
        {"vsstest.raw.gz", 0, 0, 0},
    };
    for (const Volume& v : volumes) {
        SCOPED_TRACE(v.name);
        std::filesystem::path gz = RealImage(v.name);
        if (gz.empty() || !std::filesystem::exists(gz)) GTEST_SKIP() << "public test images are not here";
        TempDir dir;
        auto raw = Decompress(gz, dir);
        const std::string before = FileSha256(raw);
        CFastNtfsRecovery engine;
        if (v.partitionStart == 0) {
            ASSERT_EQ(OpenOnImage(engine, raw, 1), 0);
        } else {
            int drive = DriveTable::Instance().AddImage(raw);
            ASSERT_EQ(OpenOnDrive(engine, drive, v.partitionStart, v.partitionSectors, 2), 0);
        }
        EXPECT_GT(engine.MftRecordCount(), 16u) << "the MFT was mapped";
        ASSERT_EQ(engine.Scan(nullptr), 0);
        std::map<std::string, FoundItemRecord> files, folders;
        Browse(engine, nullptr, 0, "", files, folders);
        for (const auto& [path, record] : files)
            std::printf("  listed: %s (%llu bytes)\n", path.c_str(),
                        static_cast<unsigned long long>(record.size));
        EXPECT_EQ(files.size(), v.deletedFiles);
        ASSERT_EQ(engine.LoadAllocationMap(), 0);
        uint64_t start = 0, length = 0;
        EXPECT_NE(engine.NextFreeExtent(start, length), 0);
        EXPECT_GT(length, 0u) << "a mostly empty volume has free space";
        EXPECT_EQ(FileSha256(raw), before);
    }
}

}  // namespace
}  // namespace sorvane
