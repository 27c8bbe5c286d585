// The data stream reader over a small in-memory volume of 512-byte clusters:
// each cluster is filled with its own number, so every byte read tells where
// it came from.
#include "fs/ntfs_data_stream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/result_codes.h"

namespace sorvane {
namespace {

constexpr uint64_t kCluster = 512;

struct MemoryVolume {
    std::vector<uint8_t> bytes;
    int reads = 0;
    explicit MemoryVolume(size_t clusters) : bytes(clusters * kCluster) {
        for (size_t c = 0; c < clusters; ++c)
            std::memset(bytes.data() + c * kCluster, static_cast<int>(c), kCluster);
    }
    NtfsStreamVolume Volume() {
        NtfsStreamVolume v;
        v.clusterBytes = kCluster;
        v.bytesPerSector = 512;
        v.volumeBytes = bytes.size();
        v.read = [this](uint64_t offset, void* buffer, size_t length) {
            ++reads;
            if (offset > bytes.size() || length > bytes.size() - offset) return kErrReadFault;
            std::memcpy(buffer, bytes.data() + offset, length);
            return kSuccess;
        };
        return v;
    }
};

NtfsExtent Extent(uint64_t vcn, uint64_t lcn, uint64_t length, bool sparse = false) {
    return {vcn, lcn, length, sparse};
}

int Read(const NtfsDataLayout& layout, MemoryVolume& volume, std::vector<uint8_t>& out) {
    out.clear();
    return ReadNtfsData(layout, volume.Volume(), [&](const uint8_t* b, size_t n) {
        out.insert(out.end(), b, b + n);
        return 0;
    });
}

NtfsDataLayout Plain(uint64_t size, std::vector<NtfsExtent> extents) {
    NtfsDataLayout layout;
    layout.size = layout.initializedSize = size;
    layout.extents = std::move(extents);
    return layout;
}

TEST(NtfsDataStream, RunsHolesAndTheInitializedSizeReadInOrder) {
    MemoryVolume volume(16);
    NtfsDataLayout layout =
        Plain(4 * kCluster - 100, {Extent(0, 7, 1), Extent(1, 0, 1, true), Extent(2, 3, 2)});
    layout.initializedSize = 3 * kCluster + 10;
    std::vector<uint8_t> out;
    ASSERT_EQ(Read(layout, volume, out), 0);
    ASSERT_EQ(out.size(), layout.size);
    EXPECT_EQ(out[0], 7);
    EXPECT_EQ(out[kCluster - 1], 7);
    EXPECT_EQ(out[kCluster], 0) << "a hole reads as zeros";
    EXPECT_EQ(out[2 * kCluster], 3);
    EXPECT_EQ(out[3 * kCluster + 9], 4);
    EXPECT_EQ(out[3 * kCluster + 10], 0) << "past the initialized size";
    EXPECT_EQ(out.back(), 0);
}

TEST(NtfsDataStream, DamagedMapsAreReadFaultsNotShortOrEndlessFiles) {
    MemoryVolume volume(16);
    std::vector<uint8_t> out;
    // The runs end before the size.
    EXPECT_EQ(Read(Plain(3 * kCluster, {Extent(0, 2, 2)}), volume, out), kErrReadFault);
    // A stretch no run maps.
    EXPECT_EQ(Read(Plain(3 * kCluster, {Extent(0, 2, 1), Extent(2, 4, 1)}), volume, out), kErrReadFault);
    // More data than the volume holds.
    EXPECT_EQ(Read(Plain(20 * kCluster, {Extent(0, 0, 10), Extent(10, 0, 10)}), volume, out), kErrReadFault);
    // Holes larger than the volume.
    EXPECT_EQ(Read(Plain(40 * kCluster, {Extent(0, 0, 40, true)}), volume, out), kErrReadFault);
    // A run past the volume's end fails with the read's code.
    EXPECT_EQ(Read(Plain(kCluster, {Extent(0, 30, 1)}), volume, out), kErrReadFault);
}

TEST(NtfsDataStream, SinkAnswerEndsTheReadAndResidentBytesStopAtTheSize) {
    MemoryVolume large(300);
    int calls = 0;
    NtfsDataLayout big = Plain(150000, {Extent(0, 0, 300)});
    EXPECT_EQ(ReadNtfsData(big, large.Volume(),
                           [&](const uint8_t*, size_t n) {
                               EXPECT_LE(n, 65536u);
                               return ++calls == 2 ? 1223 : 0;
                           }),
              1223);
    EXPECT_EQ(calls, 2);

    MemoryVolume volume(16);

    NtfsDataLayout resident;
    resident.resident = true;
    resident.residentBytes = {1, 2, 3, 4};
    resident.size = 3;
    std::vector<uint8_t> out;
    ASSERT_EQ(Read(resident, volume, out), 0);
    EXPECT_EQ(out, (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(volume.reads, 0) << "resident data reads nothing from the volume";
}

// Compression units of 4 clusters: one stored whole, one as LZNT1 chunks in
// fewer clusters, one all hole.
TEST(NtfsDataStream, CompressedUnitsAreStoredWholeDecodedOrZero) {
    MemoryVolume volume(16);
    // Cluster 9 holds one uncompressed LZNT1 chunk of 510 bytes (header 0x31FD):
    // it decodes to cluster 9's own bytes after the header.
    volume.bytes[9 * kCluster] = 0xFD;
    volume.bytes[9 * kCluster + 1] = 0x31;
    volume.bytes[10 * kCluster] = 0;  // cluster 10: an end-of-chunks header
    volume.bytes[10 * kCluster + 1] = 0;
    NtfsDataLayout layout = Plain(
        12 * kCluster - 7, {Extent(0, 1, 4), Extent(4, 9, 2), Extent(6, 0, 2, true), Extent(8, 0, 4, true)});
    layout.compressed = true;
    layout.compressionUnitClusters = 4;
    std::vector<uint8_t> out;
    ASSERT_EQ(Read(layout, volume, out), 0);
    ASSERT_EQ(out.size(), layout.size);
    EXPECT_EQ(out[0], 1);
    EXPECT_EQ(out[4 * kCluster - 1], 4) << "a unit that did not shrink is stored as it is";
    EXPECT_EQ(out[4 * kCluster], 9) << "decoded from the chunk";
    EXPECT_EQ(out[4 * kCluster + 509], 9);
    EXPECT_EQ(out[4 * kCluster + 510], 0) << "what no chunk fills is zero";
    EXPECT_EQ(out[8 * kCluster], 0);

    layout.initializedSize = 2 * kCluster;
    ASSERT_EQ(Read(layout, volume, out), 0);
    EXPECT_EQ(out[2 * kCluster - 1], 2);
    EXPECT_EQ(out[2 * kCluster], 0) << "past the initialized size, even in a stored unit";

    layout.compressionUnitClusters = 0;
    EXPECT_EQ(Read(layout, volume, out), kErrReadFault);
}

}  // namespace
}  // namespace sorvane
