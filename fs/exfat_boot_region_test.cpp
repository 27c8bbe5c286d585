#include "fs/exfat_boot_region.h"

#include <gtest/gtest.h>

#include <vector>

#include "device/boot_sector.h"
#include "fs/exfat_test_support.h"
#include "tests/testkit/testkit.h"

namespace sorvane {
namespace {

using exfattest::Put32;

// The first 24 sectors of a public exFAT image (both boot regions), or empty.
std::vector<uint8_t> HeadOf(const char* name) {
    std::filesystem::path dir = testkit::RealImagesDir();
    if (dir.empty() || !std::filesystem::exists(dir / name)) return {};
    std::vector<uint8_t> bytes = testkit::ReadFile(dir / name);
    if (bytes.size() < 24 * 512) return {};
    bytes.resize(24 * 512);
    return bytes;
}

// Writes the region's checksum sector again after an edit of its boot sector.
void Reseal(std::vector<uint8_t>& head, size_t regionStart) {
    uint32_t sum = ExfatBootChecksum(head.data() + regionStart, 512);
    for (size_t off = 0; off < 512; off += 4) Put32(head, regionStart + 11 * 512 + off, sum);
}

TEST(ExfatBootRegion, WindowsVolumesGiveTheLayoutTheSleuthKitReports) {
    struct Case {
        const char* image;
        uint32_t clusterBytes, fatOffset, heapOffset, clusterCount, rootCluster, serial;
        ExfatBootChoice choice;
    };
    // Figures from the images' fsstat listings: cluster range 2-12033 and
    // 2-1505, root folders at sectors 271 and 280. The boot code of the
    // second image's main sector was overwritten after formatting, so its
    // checksum fails and the backup region gives the layout.
    for (const Case& c :
         {Case{"exfat_win.raw", 512, 128, 256, 12032, 17, 0x405E4EA6, ExfatBootChoice::kMain},
          Case{"win_exfat_7.raw", 4096, 128, 256, 1504, 5, 0x947889E1, ExfatBootChoice::kBackup}}) {
        std::vector<uint8_t> head = HeadOf(c.image);
        if (head.empty()) GTEST_SKIP() << c.image << " is not available";
        EXPECT_EQ(ClassifyVolume(head.data(), head.size()), VolumeKind::kExfat) << c.image;
        EXPECT_FALSE(IsFatBootSector(head.data(), 512)) << c.image;
        EXPECT_EQ(ExfatBootChecksumHolds(head.data(), head.size(), 512), c.choice == ExfatBootChoice::kMain)
            << c.image;
        EXPECT_TRUE(ExfatBootChecksumHolds(head.data() + 12 * 512, 12 * 512, 512)) << c.image << " backup";
        ExfatGeometry g;
        ASSERT_EQ(ChooseExfatBootRegion(head.data(), head.size(), g), c.choice) << c.image;
        EXPECT_EQ(g.ClusterBytes(), c.clusterBytes);
        EXPECT_EQ(g.fatOffset, c.fatOffset);
        EXPECT_EQ(g.heapOffset, c.heapOffset);
        EXPECT_EQ(g.clusterCount, c.clusterCount);
        EXPECT_EQ(g.rootCluster, c.rootCluster);
        EXPECT_EQ(g.serialNumber, c.serial);
        EXPECT_EQ(g.volumeSectors, 12288u);
        EXPECT_EQ(g.ClusterOffset(c.rootCluster) / 512, c.image[0] == 'e' ? 271u : 280u);
        EXPECT_EQ(g.ClusterAtOffset(g.ClusterOffset(c.rootCluster) + 1), c.rootCluster);
        EXPECT_EQ(g.ClusterAtOffset(0), 0u);
        EXPECT_EQ(g.ClusterAtOffset(uint64_t{12288} * 512), 0u);
    }
}

TEST(ExfatBootRegion, ADamagedMainRegionFallsBackToTheBackupAndBothDamagedAreToldApart) {
    std::vector<uint8_t> head = HeadOf("exfat_win.raw");
    if (head.empty()) GTEST_SKIP() << "exfat_win.raw is not available";
    ExfatGeometry g;

    // A changed serial number breaks the checksum but not the sector's own tests.
    std::vector<uint8_t> bad = head;
    bad[100] ^= 0xFF;
    EXPECT_TRUE(IsExfatBootSector(bad.data(), bad.size()));
    EXPECT_FALSE(ExfatBootChecksumHolds(bad.data(), bad.size(), 512));
    ASSERT_EQ(ChooseExfatBootRegion(bad.data(), bad.size(), g), ExfatBootChoice::kBackup);
    EXPECT_EQ(g.serialNumber, 0x405E4EA6u);

    // The volume flags and percent in use are outside the checksum.
    std::vector<uint8_t> flags = head;
    flags[106] ^= 0x02;
    flags[112] = 77;
    EXPECT_EQ(ChooseExfatBootRegion(flags.data(), flags.size(), g), ExfatBootChoice::kMain);

    // A wiped main boot sector: the backup still classifies the volume.
    std::vector<uint8_t> wiped = head;
    std::fill(wiped.begin(), wiped.begin() + 512, 0);
    EXPECT_EQ(ClassifyVolume(wiped.data(), wiped.size()), VolumeKind::kExfat);
    EXPECT_EQ(ChooseExfatBootRegion(wiped.data(), wiped.size(), g), ExfatBootChoice::kBackup);
    EXPECT_FALSE(HasDamagedExfatBootRegion(wiped.data(), wiped.size()));

    // Both boot sectors broken in their fields: nothing to read the layout
    // from, and the name alone tells that it was exFAT.
    std::vector<uint8_t> both = head;
    both[108] = 3;
    both[12 * 512 + 108] = 3;
    EXPECT_EQ(ChooseExfatBootRegion(both.data(), both.size(), g), ExfatBootChoice::kNone);
    EXPECT_EQ(ClassifyVolume(both.data(), both.size()), VolumeKind::kUnknown);
    EXPECT_TRUE(HasDamagedExfatBootRegion(both.data(), both.size()));

    // The main sector passes, its checksum fails and the backup is gone:
    // the main sector is still used.
    std::vector<uint8_t> noBackup = bad;
    std::fill(noBackup.begin() + 12 * 512, noBackup.end(), 0);
    EXPECT_EQ(ChooseExfatBootRegion(noBackup.data(), noBackup.size(), g), ExfatBootChoice::kMain);
}

TEST(ExfatBootRegion, FieldsOutOfRangeAreRefused) {
    std::vector<uint8_t> head = HeadOf("exfat_win.raw");
    if (head.empty()) GTEST_SKIP() << "exfat_win.raw is not available";
    auto refused = [&](const char* what, auto edit) {
        std::vector<uint8_t> b(head.begin(), head.begin() + 512);
        edit(b);
        EXPECT_FALSE(IsExfatBootSector(b.data(), b.size())) << what;
        ExfatGeometry g;
        EXPECT_FALSE(ParseExfatBootSector(b.data(), b.size(), g)) << what;
    };
    refused("sector shift 8", [](auto& b) { b[108] = 8; });
    refused("sector shift 13", [](auto& b) { b[108] = 13; });
    refused("cluster shift past 32 MiB", [](auto& b) { b[109] = 17; });
    refused("three FATs", [](auto& b) { b[110] = 3; });
    refused("no FAT", [](auto& b) { b[110] = 0; });
    refused("a FAT byte where zeros must be", [](auto& b) { b[13] = 1; });
    refused("FAT inside the boot regions", [](auto& b) { Put32(b, 80, 12); });
    refused("FAT running into the heap", [](auto& b) { Put32(b, 84, 200); });
    refused("heap past the volume", [](auto& b) { Put32(b, 88, 20000); });
    refused("more clusters than the volume holds", [](auto& b) { Put32(b, 92, 12100); });
    refused("a FAT too small for its clusters", [](auto& b) { Put32(b, 84, 10); });
    refused("root cluster 1", [](auto& b) { Put32(b, 96, 1); });
    refused("root cluster past the heap", [](auto& b) { Put32(b, 96, 12034); });
    refused("no boot signature", [](auto& b) { b[510] = 0; });
    refused("another name", [](auto& b) { b[3] = 'F'; });
    refused("a short buffer", [](auto& b) { b.resize(511); });

    // Reseal keeps the checksum sector in step with an edit the tests accept.
    std::vector<uint8_t> edited = head;
    Put32(edited, 100, 0x12345678);
    Reseal(edited, 0);
    ExfatGeometry g;
    ASSERT_EQ(ChooseExfatBootRegion(edited.data(), edited.size(), g), ExfatBootChoice::kMain);
    EXPECT_EQ(g.serialNumber, 0x12345678u);
}

}  // namespace
}  // namespace sorvane
