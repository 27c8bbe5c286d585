#include "fs/ntfs_record.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "fs/ntfs_runlist.h"
#include "tests/testkit/testkit.h"

namespace sorvane {
namespace {

using testkit::ReadFile;
using testkit::RunCommand;
using testkit::ShellQuote;
using testkit::TempDir;

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    for (auto& b : v) b = static_cast<uint8_t>(rng());
    return v;
}

// An NTFS image made by mkntfs with files copied in by ntfscp.
struct NtfsImage {
    std::filesystem::path path;
    std::vector<uint8_t> bytes;
    NtfsGeometry geometry;
};

NtfsImage MakeImage(const TempDir& dir, const std::string& name, int sectorSize,
                    const std::vector<std::pair<std::string, std::vector<uint8_t>>>& files) {
    NtfsImage image;
    image.path = dir / name;
    std::string cmd = "truncate -s 16M " + ShellQuote(image.path) + " && mkntfs -F -Q -q -s " +
                      std::to_string(sectorSize) + " " + ShellQuote(image.path) + " >/dev/null 2>&1";
    EXPECT_EQ(RunCommand(cmd), 0) << cmd;
    for (const auto& [fileName, content] : files) {
        auto source = dir / ("src-" + fileName);
        testkit::WriteFile(source, content);
        std::string copy = "ntfscp -q " + ShellQuote(image.path) + " " + ShellQuote(source) + " " +
                           ShellQuote(fileName) + " >/dev/null 2>&1";
        EXPECT_EQ(RunCommand(copy), 0) << copy;
    }
    image.bytes = ReadFile(image.path);
    EXPECT_TRUE(ParseNtfsBootSector(ByteView(image.bytes.data(), image.bytes.size()), image.geometry));
    return image;
}

// A value from fsstat's report, e.g. "Cluster Size: 4096".
uint64_t FsstatValue(const std::filesystem::path& image, const std::string& label) {
    std::string out;
    RunCommand("fsstat " + ShellQuote(image) + " 2>/dev/null", &out);
    size_t at = out.find(label + ": ");
    if (at == std::string::npos) return UINT64_MAX;
    return std::stoull(out.substr(at + label.size() + 2));
}

uint64_t InodeOf(const std::filesystem::path& image, const std::string& name) {
    std::string out;
    RunCommand("ifind -n " + ShellQuote(name) + " " + ShellQuote(image) + " 2>/dev/null", &out);
    return out.empty() ? UINT64_MAX : std::stoull(out);
}

// Record `number` of the image's MFT, fixups applied (the MFT's first extent
// holds the first records on a fresh volume).
std::vector<uint8_t> RecordOf(const NtfsImage& image, uint64_t number) {
    const NtfsGeometry& g = image.geometry;
    size_t offset = g.mftCluster * g.clusterBytes + number * g.recordSize;
    std::vector<uint8_t> record(image.bytes.begin() + offset, image.bytes.begin() + offset + g.recordSize);
    EXPECT_TRUE(ApplyFixups(record.data(), record.size()));
    return record;
}

// The bytes a non-resident attribute describes, read from the image.
std::vector<uint8_t> ReadExtents(const NtfsImage& image, const std::vector<NtfsExtent>& extents,
                                 uint64_t size) {
    std::vector<uint8_t> out;
    for (const NtfsExtent& e : extents) {
        for (uint64_t c = 0; c < e.length && out.size() < size; ++c) {
            size_t take = std::min<uint64_t>(image.geometry.clusterBytes, size - out.size());
            if (e.sparse) {
                out.insert(out.end(), take, 0);
            } else {
                auto at = image.bytes.begin() + (e.lcn + c) * image.geometry.clusterBytes;
                out.insert(out.end(), at, at + take);
            }
        }
    }
    return out;
}

TEST(NtfsBootSector, GeometryAgreesWithTheSleuthKit) {
    TempDir dir;
    for (int sectorSize : {512, 4096}) {
        SCOPED_TRACE(sectorSize);
        NtfsImage image = MakeImage(dir, "g" + std::to_string(sectorSize) + ".img", sectorSize, {});
        EXPECT_EQ(image.geometry.bytesPerSector, FsstatValue(image.path, "Sector Size"));
        EXPECT_EQ(image.geometry.clusterBytes, FsstatValue(image.path, "Cluster Size"));
        EXPECT_EQ(image.geometry.mftCluster, FsstatValue(image.path, "First Cluster of MFT"));
        EXPECT_EQ(image.geometry.recordSize, FsstatValue(image.path, "Size of MFT Entries"));
    }
}

TEST(NtfsBootSector, LargeClusterExponentAndDamagedFields) {
    TempDir dir;
    NtfsImage image = MakeImage(dir, "b.img", 512, {});
    std::vector<uint8_t> boot(image.bytes.begin(), image.bytes.begin() + 512);
    NtfsGeometry g;
    boot[13] = 0xF4;  // 2^12 sectors: 2 MiB clusters
    ASSERT_TRUE(ParseNtfsBootSector(ByteView(boot.data(), boot.size()), g));
    EXPECT_EQ(g.sectorsPerCluster, 4096u);
    EXPECT_EQ(g.clusterBytes, 2u * 1024 * 1024);
    EXPECT_EQ(g.recordSize, 1024u) << "the record size byte (0xF6) stays a byte count";
    boot[13] = 3;  // not a power of two
    EXPECT_FALSE(ParseNtfsBootSector(ByteView(boot.data(), boot.size()), g));
    boot[13] = 8;
    boot[11] = 0;
    boot[12] = 3;  // 768-byte sectors
    EXPECT_FALSE(ParseNtfsBootSector(ByteView(boot.data(), boot.size()), g));
    boot[11] = 0;
    boot[12] = 0;     // 0 means 512
    boot[64] = 0x7F;  // absurd record size falls back to 1024
    ASSERT_TRUE(ParseNtfsBootSector(ByteView(boot.data(), boot.size()), g));
    EXPECT_EQ(g.bytesPerSector, 512u);
    EXPECT_EQ(g.recordSize, 1024u);
    EXPECT_FALSE(ParseNtfsBootSector(ByteView(boot.data(), 100), g)) << "short buffer";
}

TEST(NtfsRecord, MftRecordZeroMapsTheMft) {
    TempDir dir;
    NtfsImage image = MakeImage(dir, "m.img", 512, {});
    auto record = RecordOf(image, 0);
    NtfsFileSummary summary;
    ASSERT_TRUE(SummarizeRecord(ByteView(record.data(), record.size()), summary));
    EXPECT_TRUE(summary.header.InUse());
    ASSERT_TRUE(summary.hasData);
    ASSERT_TRUE(summary.data.nonResident);
    EXPECT_EQ(summary.fileName.name, "$MFT");
    EXPECT_EQ(NtfsReferenceRecord(summary.fileName.parentReference), kNtfsRootRecord);
    std::vector<NtfsRun> runs;
    ASSERT_TRUE(DecodeRuns(summary.data.runList, runs));
    std::vector<NtfsExtent> extents;
    uint64_t clusters = image.bytes.size() / image.geometry.clusterBytes;
    ASSERT_TRUE(PlaceRuns(runs, 0, clusters, extents));
    ASSERT_FALSE(extents.empty());
    EXPECT_EQ(extents[0].lcn, image.geometry.mftCluster);
    EXPECT_GE(TotalRunClusters(extents) * image.geometry.clusterBytes, summary.data.realSize);
}

// Non-resident data read through the decoded runs, and resident data spanning
// several 512-byte protected strides of a 4096-byte record, both come back as
// the bytes ntfscp wrote.
TEST(NtfsRecord, FileDataComesBackExactly) {
    TempDir dir;
    auto big = RandomBytes(150000, 1);
    auto small = RandomBytes(2500, 2);  // resident in a 4096-byte record, crossing 4 stride tails
    for (int sectorSize : {512, 4096}) {
        SCOPED_TRACE(sectorSize);
        NtfsImage image = MakeImage(dir, "f" + std::to_string(sectorSize) + ".img", sectorSize,
                                    {{"big.bin", big}, {"small.bin", small}});
        for (const auto& [name, content] : {std::pair{"big.bin", &big}, std::pair{"small.bin", &small}}) {
            SCOPED_TRACE(name);
            auto record = RecordOf(image, InodeOf(image.path, name));
            NtfsFileSummary summary;
            ASSERT_TRUE(SummarizeRecord(ByteView(record.data(), record.size()), summary));
            EXPECT_EQ(summary.fileName.name, name);
            EXPECT_EQ(NtfsReferenceRecord(summary.fileName.parentReference), kNtfsRootRecord);
            EXPECT_TRUE(summary.hasStandardTimes);
            EXPECT_NE(summary.times.written, 0u);
            ASSERT_TRUE(summary.hasData);
            EXPECT_EQ(SummaryFileSize(summary), content->size());
            std::vector<uint8_t> data;
            if (summary.data.nonResident) {
                std::vector<NtfsRun> runs;
                ASSERT_TRUE(DecodeRuns(summary.data.runList, runs));
                std::vector<NtfsExtent> extents;
                ASSERT_TRUE(PlaceRuns(runs, 0, image.bytes.size() / image.geometry.clusterBytes, extents));
                data = ReadExtents(image, extents, summary.data.realSize);
            } else {
                data.assign(summary.data.value.Data(), summary.data.value.Data() + summary.data.value.Size());
            }
            EXPECT_TRUE(data == *content);
        }
        if (sectorSize == 4096) {
            auto record = RecordOf(image, InodeOf(image.path, "small.bin"));
            NtfsFileSummary summary;
            ASSERT_TRUE(SummarizeRecord(ByteView(record.data(), record.size()), summary));
            EXPECT_FALSE(summary.data.nonResident) << "the small file must be resident to test the strides";
        }
    }
}

// Appends a copy of the record's first $FILE_NAME with another name and name
// space, the way Windows stores a DOS alias beside the long name.
void AddFileName(std::vector<uint8_t>& record, const std::string& asciiName, uint8_t nameSpace,
                 uint8_t oldNameSpace) {
    NtfsRecordHeader header;
    ASSERT_TRUE(ParseRecordHeader(ByteView(record.data(), record.size()), header));
    NtfsAttributeWalker walker(ByteView(record.data(), record.size()), header);
    NtfsAttribute a;
    size_t end = header.firstAttribute;
    std::vector<uint8_t> copy;
    while (walker.Next(a)) {
        if (a.type == kNtfsFileName && copy.empty()) {
            size_t valueAt = static_cast<size_t>(a.value.Data() - record.data());
            record[valueAt + 65] = oldNameSpace;
            copy.assign(a.bytes.Data(), a.value.Data() + 66);
        }
        end = static_cast<size_t>(a.bytes.Data() - record.data()) + a.length;
    }
    ASSERT_FALSE(copy.empty());
    size_t valueOffset = copy.size() - 66;
    copy[valueOffset + 64] = static_cast<uint8_t>(asciiName.size());
    copy[valueOffset + 65] = nameSpace;
    for (char c : asciiName) {
        copy.push_back(static_cast<uint8_t>(c));
        copy.push_back(0);
    }
    PutU32(copy.data() + 16, static_cast<uint32_t>(copy.size() - valueOffset));
    while (copy.size() % 8) copy.push_back(0);
    PutU32(copy.data() + 4, static_cast<uint32_t>(copy.size()));
    std::vector<uint8_t> tail(record.begin() + end, record.begin() + header.bytesInUse);
    std::memcpy(record.data() + end, copy.data(), copy.size());
    std::memcpy(record.data() + end + copy.size(), tail.data(), tail.size());
    PutU32(record.data() + 24, static_cast<uint32_t>(header.bytesInUse + copy.size()));
}

TEST(NtfsRecord, Win32NameWinsOverDosNameInEitherOrder) {
    TempDir dir;
    NtfsImage image = MakeImage(dir, "n.img", 512, {{"Long File Name.txt", RandomBytes(10, 3)}});
    auto original = RecordOf(image, InodeOf(image.path, "Long File Name.txt"));
    {
        auto record = original;  // long name first, DOS alias after it
        AddFileName(record, "LONGFI~1.TXT", kNtfsDosName, kNtfsWin32Name);
        NtfsFileSummary summary;
        ASSERT_TRUE(SummarizeRecord(ByteView(record.data(), record.size()), summary));
        EXPECT_EQ(summary.fileName.name, "Long File Name.txt");
    }
    {
        auto record = original;  // DOS alias first, long name after it
        AddFileName(record, "Win32 Name.txt", kNtfsWin32Name, kNtfsDosName);
        NtfsFileSummary summary;
        ASSERT_TRUE(SummarizeRecord(ByteView(record.data(), record.size()), summary));
        EXPECT_EQ(summary.fileName.name, "Win32 Name.txt");
        EXPECT_EQ(summary.fileName.nameSpace, kNtfsWin32Name);
    }
}

TEST(NtfsRunList, DecodesStoredPairs) {
    std::vector<NtfsRun> runs;
    // 5 clusters at +0x10, 2 sparse clusters, 3 clusters at -0x10 (two-byte offset), end.
    const uint8_t list[] = {0x11, 0x05, 0x10, 0x01, 0x02, 0x21, 0x03, 0xF0, 0xFF, 0x00};
    ASSERT_TRUE(DecodeRuns(ByteView(list, sizeof list), runs));
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs[0].length, 5u);
    EXPECT_EQ(runs[0].offset, 0x10);
    EXPECT_TRUE(runs[1].sparse);
    EXPECT_EQ(runs[2].offset, -0x10);
    std::vector<NtfsExtent> extents;
    ASSERT_TRUE(PlaceRuns(runs, 7, 100, extents));
    ASSERT_EQ(extents.size(), 3u);
    EXPECT_EQ(extents[0].vcn, 7u);
    EXPECT_EQ(extents[0].lcn, 0x10u);
    EXPECT_EQ(extents[1].vcn, 12u);
    EXPECT_TRUE(extents[1].sparse);
    EXPECT_EQ(extents[2].vcn, 14u);
    EXPECT_EQ(extents[2].lcn, 0u) << "a sparse run does not move the start";
}

TEST(NtfsRunList, DamagedListsEndEarlyAndBadPlacementsAreRefused) {
    std::vector<NtfsRun> runs;
    const uint8_t noEnd[] = {0x11, 0x05, 0x10};
    EXPECT_FALSE(DecodeRuns(ByteView(noEnd, sizeof noEnd), runs));
    EXPECT_EQ(runs.size(), 1u) << "the run before the cut stays";
    runs.clear();
    const uint8_t cutPair[] = {0x31, 0x05, 0x10};
    EXPECT_FALSE(DecodeRuns(ByteView(cutPair, sizeof cutPair), runs));
    EXPECT_TRUE(runs.empty());
    const uint8_t hugeSize[] = {0x19, 0x05, 0x00};
    EXPECT_FALSE(DecodeRuns(ByteView(hugeSize, sizeof hugeSize), runs));
    const uint8_t zeroLength[] = {0x11, 0x00, 0x10, 0x00};
    EXPECT_FALSE(DecodeRuns(ByteView(zeroLength, sizeof zeroLength), runs));
    EXPECT_TRUE(runs.empty());

    std::vector<NtfsExtent> extents;
    EXPECT_FALSE(PlaceRuns({{5, -3, false}}, 0, 100, extents)) << "before cluster 0";
    EXPECT_FALSE(PlaceRuns({{5, 98, false}}, 0, 100, extents)) << "past the end";
    EXPECT_FALSE(PlaceRuns({{UINT64_MAX, 1, false}}, 0, 100, extents));
    EXPECT_FALSE(PlaceRuns({{1, INT64_MIN, false}}, 0, 100, extents));
    EXPECT_TRUE(extents.empty());
}

TEST(NtfsRecord, DamagedHeadersAndAttributesAreRefused) {
    TempDir dir;
    NtfsImage image = MakeImage(dir, "d.img", 512, {{"x.bin", RandomBytes(5000, 4)}});
    const NtfsGeometry& g = image.geometry;
    size_t at = g.mftCluster * g.clusterBytes + InodeOf(image.path, "x.bin") * g.recordSize;
    const std::vector<uint8_t> raw(image.bytes.begin() + at, image.bytes.begin() + at + g.recordSize);

    auto broken = raw;
    PutU16(broken.data() + 6, 9);  // 8 strides of 128 bytes: not a sector layout
    EXPECT_FALSE(ApplyFixups(broken.data(), broken.size()));
    broken = raw;
    PutU16(broken.data() + 4, 1020);  // array past the record
    EXPECT_FALSE(ApplyFixups(broken.data(), broken.size()));
    broken = raw;
    broken[0] = 'B';
    EXPECT_FALSE(ApplyFixups(broken.data(), broken.size()));
    NtfsFileSummary summary;
    EXPECT_FALSE(SummarizeRecord(ByteView(broken.data(), broken.size()), summary));

    auto record = raw;
    ASSERT_TRUE(ApplyFixups(record.data(), record.size()));
    NtfsRecordHeader header;
    ASSERT_TRUE(ParseRecordHeader(ByteView(record.data(), record.size()), header));
    // An attribute length running past the record ends the walk before it.
    auto bad = record;
    PutU32(bad.data() + header.firstAttribute + 4, 0x7FFFFFF8);
    ASSERT_TRUE(SummarizeRecord(ByteView(bad.data(), bad.size()), summary));
    EXPECT_FALSE(summary.hasName);
    EXPECT_FALSE(summary.hasData);
    // A length of 0 would loop forever on the same attribute.
    bad = record;
    PutU32(bad.data() + header.firstAttribute + 4, 0);
    ASSERT_TRUE(SummarizeRecord(ByteView(bad.data(), bad.size()), summary));
    EXPECT_FALSE(summary.hasName);
    // Bytes in use beyond the buffer are cut to the buffer.
    bad = record;
    PutU32(bad.data() + 24, 0xFFFFFFF0);
    ASSERT_TRUE(SummarizeRecord(ByteView(bad.data(), bad.size()), summary));
    EXPECT_TRUE(summary.hasName);
    // A first attribute offset past the bytes in use is no record.
    bad = record;
    PutU16(bad.data() + 20, 2000);
    EXPECT_FALSE(SummarizeRecord(ByteView(bad.data(), bad.size()), summary));
}

// Random damage anywhere in a real record: every parse stays inside the buffer
// (the sanitizer build checks it) and ends.
TEST(NtfsRecord, RandomDamageNeverReadsOutside) {
    TempDir dir;
    NtfsImage image =
        MakeImage(dir, "r.img", 512, {{"y.bin", RandomBytes(300000, 5)}, {"z.txt", RandomBytes(40, 6)}});
    const NtfsGeometry& g = image.geometry;
    std::mt19937 rng(7);
    size_t parsed = 0;
    for (uint64_t number : {uint64_t{0}, InodeOf(image.path, "y.bin"), InodeOf(image.path, "z.txt")}) {
        size_t at = g.mftCluster * g.clusterBytes + number * g.recordSize;
        const std::vector<uint8_t> raw(image.bytes.begin() + at, image.bytes.begin() + at + g.recordSize);
        for (int round = 0; round < 3000; ++round) {
            auto record = raw;
            int flips = 1 + static_cast<int>(rng() % 8);
            for (int i = 0; i < flips; ++i)
                record[rng() % record.size()] ^= static_cast<uint8_t>(1 + rng() % 255);
            // Parse into a heap copy of the exact size so a read past it is caught.
            std::unique_ptr<uint8_t[]> exact(new uint8_t[record.size()]);
            std::memcpy(exact.get(), record.data(), record.size());
            // A record whose fixups do not match is parsed anyway: nothing may crash.
            static_cast<void>(ApplyFixups(exact.get(), record.size()));
            NtfsFileSummary summary;
            if (!SummarizeRecord(ByteView(exact.get(), record.size()), summary)) continue;
            ++parsed;
            if (summary.hasData && summary.data.nonResident) {
                std::vector<NtfsRun> runs;
                DecodeRuns(summary.data.runList, runs);
                std::vector<NtfsExtent> extents;
                PlaceRuns(runs, summary.data.firstVcn, 4096, extents);
                for (const NtfsExtent& e : extents) EXPECT_LE(e.sparse ? 0 : e.lcn + e.length, 4096u);
            }
            if (summary.hasAttributeList && !summary.attributeList.nonResident) {
                std::vector<NtfsAttributeListEntry> entries;
                ParseAttributeList(summary.attributeList.value, entries);
            }
        }
    }
    EXPECT_GT(parsed, 1000u) << "most damaged records still parse as records";
}

}  // namespace
}  // namespace sorvane
