#include "results/target_fingerprint.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tests/testkit/testkit.h"

namespace sorvane {
namespace {

ByteSource Over(const std::vector<uint8_t>& disk) {
    return [&disk](uint64_t offset, uint8_t* buffer, size_t length) {
        if (offset > disk.size() || length > disk.size() - offset) return false;
        std::memcpy(buffer, disk.data() + offset, length);
        return true;
    };
}

// An MBR disk of 8 MiB with one partition at sector 4096.
std::vector<uint8_t> Disk(uint8_t fill) {
    std::vector<uint8_t> disk(8u << 20, fill);
    uint8_t* entry = disk.data() + 446;
    std::memset(disk.data() + 446, 0, 64);
    entry[4] = 0x0C;
    const uint32_t start = 4096, length = 8192;
    std::memcpy(entry + 8, &start, 4);
    std::memcpy(entry + 12, &length, 4);
    disk[510] = 0x55;
    disk[511] = 0xAA;
    return disk;
}

TEST(TargetFingerprint, TellsTargetsOfOneLayoutApartByTheirBytes) {
    const std::vector<uint8_t> a = Disk(0x11);
    const uint64_t fa = TargetFingerprint(Over(a), a.size(), 512);
    EXPECT_EQ(TargetFingerprint(Over(a), a.size(), 512), fa) << "the same bytes, the same fingerprint";

    std::vector<uint8_t> b = a;
    b[4096 * 512 + 3] ^= 1;  // the partition's boot sector, past the first MiB
    EXPECT_NE(TargetFingerprint(Over(b), b.size(), 512), fa);
    std::vector<uint8_t> c = a;
    c[c.size() - 1] ^= 1;  // the last MiB
    EXPECT_NE(TargetFingerprint(Over(c), c.size(), 512), fa);
    std::vector<uint8_t> d = a;
    d[100] ^= 1;  // the first MiB
    EXPECT_NE(TargetFingerprint(Over(d), d.size(), 512), fa);
    EXPECT_NE(TargetFingerprint(Over(a), a.size() - 512, 512), fa) << "another size";

    // A target that cannot be read is not taken for one full of zeros.
    const std::vector<uint8_t> zeros(a.size(), 0);
    const ByteSource unreadable = [](uint64_t, uint8_t*, size_t) { return false; };
    EXPECT_NE(TargetFingerprint(unreadable, zeros.size(), 512),
              TargetFingerprint(Over(zeros), zeros.size(), 512));
}

TEST(TargetFingerprint, IsKeptInTheScanFolder) {
    testkit::TempDir dir;
    uint64_t read = 0;
    EXPECT_FALSE(LoadTargetFingerprint(dir.Path(), read)) << "a folder from before fingerprints were kept";
    ASSERT_EQ(SaveTargetFingerprint(dir.Path(), 0xF00DCAFE12345678ull), 0);
    ASSERT_TRUE(LoadTargetFingerprint(dir.Path(), read));
    EXPECT_EQ(read, 0xF00DCAFE12345678ull);
    testkit::WriteFile(dir / "target.id", {'z', 'z'});
    EXPECT_FALSE(LoadTargetFingerprint(dir.Path(), read)) << "a damaged file proves nothing";
}

}  // namespace
}  // namespace sorvane
