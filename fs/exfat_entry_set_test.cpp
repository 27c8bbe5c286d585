#include "fs/exfat_entry_set.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

#include "fs/exfat_boot_region.h"
#include "fs/exfat_test_support.h"
#include "platform/file_time.h"
#include "platform/text_encoding.h"
#include "tests/testkit/testkit.h"

namespace sorvane {
namespace {

using exfattest::BuildSet;
using exfattest::EntrySetFields;

// exFAT timestamp fields: seconds/2, minute, hour, day, month, year - 1980.
uint32_t Stamp(int year, int month, int day, int hour, int minute, int second) {
    return static_cast<uint32_t>((year - 1980) << 25 | month << 21 | day << 16 | hour << 11 | minute << 5 |
                                 second / 2);
}

struct Seen {
    ExfatEntrySet set;
    uint64_t position;
};

std::vector<Seen> ParseInPieces(const std::vector<uint8_t>& bytes, size_t piece) {
    std::vector<Seen> seen;
    ExfatDirectoryParser parser([&](const ExfatEntrySet& s, uint64_t at) { seen.push_back({s, at}); });
    for (size_t at = 0; at < bytes.size(); at += piece)
        parser.Feed(bytes.data() + at, std::min(piece, bytes.size() - at));
    parser.Finish();
    return seen;
}

TEST(ExfatEntrySet, LiveAndDeletedSetsGiveNameSizesClusterAndFlags) {
    EntrySetFields fields;
    fields.name = u"Отпуск 2024.jpg";
    fields.firstCluster = 1234;
    fields.dataLength = 5000000;
    fields.validDataLength = 4096;
    fields.noFatChain = true;
    for (bool inUse : {true, false}) {
        fields.inUse = inUse;
        std::vector<uint8_t> b = BuildSet(fields);
        ExfatEntrySet s;
        ASSERT_EQ(ParseExfatEntrySet(b.data(), b.size(), s), ExfatSetResult::kSet) << inUse;
        EXPECT_EQ(s.inUse, inUse);
        EXPECT_EQ(s.name, Utf16ToUtf8(fields.name));
        EXPECT_EQ(s.entryCount, 3u);  // fifteen characters fit one name entry
        EXPECT_EQ(s.firstCluster, 1234u);
        EXPECT_EQ(s.dataLength, 5000000u);
        EXPECT_EQ(s.validDataLength, 4096u);
        EXPECT_TRUE(s.noFatChain);
        EXPECT_FALSE(s.IsDirectory());
    }
    fields.attributes = 0x10;
    fields.validDataLength = 9000000;  // above the data length: damage, held to it
    std::vector<uint8_t> dir = BuildSet(fields);
    ExfatEntrySet d;
    ASSERT_EQ(ParseExfatEntrySet(dir.data(), dir.size(), d), ExfatSetResult::kSet);
    EXPECT_TRUE(d.IsDirectory());
    EXPECT_EQ(d.validDataLength, d.dataLength);
}

TEST(ExfatEntrySet, LongestNamesAndExtraSecondariesParseWhole) {
    EntrySetFields fields;
    fields.name.assign(255, u'x');
    fields.name[0] = u'É';
    fields.name[254] = u'z';
    std::vector<uint8_t> b = BuildSet(fields);
    ASSERT_EQ(b.size(), 19u * 32);
    ExfatEntrySet s;
    ASSERT_EQ(ParseExfatEntrySet(b.data(), b.size(), s), ExfatSetResult::kSet);
    EXPECT_EQ(Utf8ToUtf16(s.name).size(), 255u);
    EXPECT_EQ(s.name.back(), 'z');
    fields.name = u"v.bin";
    fields.extraSecondaries = 2;  // vendor entries behind the name
    b = BuildSet(fields);
    ASSERT_EQ(ParseExfatEntrySet(b.data(), b.size(), s), ExfatSetResult::kSet);
    EXPECT_EQ(s.entryCount, 5u);
    EXPECT_EQ(s.name, "v.bin");
}

TEST(ExfatEntrySet, HostileSetsAreRefusedWhole) {
    EntrySetFields fields;
    fields.name = u"hostile.txt";
    const std::vector<uint8_t> good = BuildSet(fields);
    auto result = [](std::vector<uint8_t> b) {
        ExfatEntrySet s;
        return ParseExfatEntrySet(b.data(), b.size(), s);
    };
    ASSERT_EQ(result(good), ExfatSetResult::kSet);

    std::vector<uint8_t> b = good;
    b[1] = 255;  // claims 255 secondaries
    EXPECT_EQ(result(b), ExfatSetResult::kNotASet);
    b = good;
    b[1] = 1;  // too few for a stream and a name
    EXPECT_EQ(result(b), ExfatSetResult::kNotASet);
    b = good;
    b[1] = 18;  // claims more entries than are there: waits for more bytes
    EXPECT_EQ(result(b), ExfatSetResult::kIncomplete);
    b.resize(19 * 32, 0);  // and the bytes that come are no secondaries
    EXPECT_EQ(result(b), ExfatSetResult::kNotASet);
    b = good;
    b[40] ^= 1;  // any byte changed breaks the checksum
    EXPECT_EQ(result(b), ExfatSetResult::kNotASet);
    b = good;
    b[64] &= 0x7F;  // one entry deleted, the others live
    EXPECT_EQ(result(b), ExfatSetResult::kNotASet);
    b = good;
    b[32] = 0xC1;  // a name entry where the stream belongs
    EXPECT_EQ(result(b), ExfatSetResult::kNotASet);
    EXPECT_EQ(result(std::vector<uint8_t>(good.begin(), good.begin() + 31)), ExfatSetResult::kNotASet);
    EXPECT_EQ(result(std::vector<uint8_t>(good.begin(), good.begin() + 40)), ExfatSetResult::kIncomplete);

    fields.name = std::u16string(3, u'\0');  // a name of NULs only
    EXPECT_EQ(result(BuildSet(fields)), ExfatSetResult::kNotASet);
    fields.name = u"ab";
    std::vector<uint8_t> noName = BuildSet(fields);
    noName[35] = 0;  // name length 0
    EXPECT_NE(result(noName), ExfatSetResult::kSet);
    fields.name = std::u16string(16, u'n');
    std::vector<uint8_t> shortNames = BuildSet(fields);
    shortNames[1] = 2;  // 16 characters need two name entries, one is claimed
    EXPECT_EQ(result(shortNames), ExfatSetResult::kNotASet);
}

TEST(ExfatEntrySet, TimesApplyTenMillisecondsAndTheUtcOffset) {
    const uint32_t stamp = Stamp(2024, 2, 29, 13, 45, 58);
    const uint64_t wall =
        FileTimeFromFatDateTime(static_cast<uint16_t>(stamp >> 16), static_cast<uint16_t>(stamp));
    ASSERT_NE(wall, 0u);
    EXPECT_EQ(FormatFileTime(wall), "2024-02-29 13:45:58");
    const uint64_t second = 10000000;
    // No valid offset: the wall clock as stored, with the 10-ms units.
    EXPECT_EQ(FileTimeFromExfatTimestamp(stamp, 150, 0x00), wall + 15 * second / 10);
    // +5:45 (23 quarter hours) east of UTC.
    EXPECT_EQ(FileTimeFromExfatTimestamp(stamp, 0, 0x80 | 23), wall - (5 * 3600 + 45 * 60) * second);
    // -10:00 (-40 quarter hours, seven-bit two's complement 0x58).
    EXPECT_EQ(FileTimeFromExfatTimestamp(stamp, 0, 0x80 | 0x58), wall + 10 * 3600 * second);
    EXPECT_EQ(FileTimeFromExfatTimestamp(0, 0, 0x80), 0u);
    EXPECT_EQ(FileTimeFromExfatTimestamp(Stamp(2020, 13, 1, 0, 0, 0), 0, 0), 0u);

    EntrySetFields fields;
    fields.modified = stamp;
    fields.modified10ms = 199;
    fields.modifiedOffset = 0x80 | 12;  // +3:00
    std::vector<uint8_t> b = BuildSet(fields);
    ExfatEntrySet s;
    ASSERT_EQ(ParseExfatEntrySet(b.data(), b.size(), s), ExfatSetResult::kSet);
    EXPECT_EQ(s.written, wall + 199 * second / 100 - 3 * 3600 * second);
    EXPECT_FALSE(s.wallClockTimes);
    fields.modifiedOffset = 0;
    b = BuildSet(fields);
    ASSERT_EQ(ParseExfatEntrySet(b.data(), b.size(), s), ExfatSetResult::kSet);
    EXPECT_EQ(s.written, wall + 199 * second / 100);
    EXPECT_TRUE(s.wallClockTimes);
}

TEST(ExfatDirectoryParser, SetsCutAtAnyPieceBoundaryAreFoundOnceAtTheirPositions) {
    std::vector<uint8_t> dir(32, 0);
    dir[0] = 0x83;  // label "CARD"
    dir[1] = 4;
    for (int i = 0; i < 4; ++i) dir[2 + 2 * i] = static_cast<uint8_t>("CARD"[i]);
    std::vector<uint8_t> bitmap(32, 0);
    bitmap[0] = 0x81;
    exfattest::Put32(bitmap, 20, 2);
    exfattest::Put64(bitmap, 24, 1500);
    dir.insert(dir.end(), bitmap.begin(), bitmap.end());
    std::map<uint64_t, std::string> expected;
    std::mt19937 rng(7);
    for (int i = 0; i < 40; ++i) {
        EntrySetFields fields;
        fields.name = Utf8ToUtf16("file " + std::to_string(i) + std::string(rng() % 120, 'q'));
        fields.inUse = rng() % 2;
        expected[dir.size()] = Utf16ToUtf8(fields.name);
        std::vector<uint8_t> set = BuildSet(fields);
        dir.insert(dir.end(), set.begin(), set.end());
        if (rng() % 3 == 0) dir.insert(dir.end(), 32, 0);  // an unused entry between
        if (rng() % 5 == 0) {
            std::vector<uint8_t> broken = BuildSet(fields);
            broken[2] ^= 0x55;  // a set whose checksum fails is passed over
            dir.insert(dir.end(), broken.begin(), broken.end());
        }
    }
    for (size_t piece :
         {size_t{1}, size_t{7}, size_t{32}, size_t{97}, size_t{512}, size_t{4096}, dir.size()}) {
        std::vector<Seen> seen = ParseInPieces(dir, piece);
        ASSERT_EQ(seen.size(), expected.size()) << "pieces of " << piece;
        for (const Seen& s : seen) {
            auto it = expected.find(s.position);
            ASSERT_NE(it, expected.end()) << s.position;
            EXPECT_EQ(s.set.name, it->second);
        }
    }
    ExfatDirectoryParser parser([](const ExfatEntrySet&, uint64_t) {});
    parser.Feed(dir.data(), dir.size());
    EXPECT_TRUE(parser.Extras().haveLabel);
    EXPECT_EQ(parser.Extras().label, "CARD");
    EXPECT_TRUE(parser.Extras().haveBitmap);
    EXPECT_EQ(parser.Extras().bitmapCluster, 2u);
    EXPECT_EQ(parser.Extras().bitmapLength, 1500u);
    EXPECT_EQ(parser.Position(), dir.size());
}

TEST(ExfatDirectoryParser, TheWindowsSevenRootHoldsItsLiveAndDeletedEntries) {
    std::filesystem::path dir = testkit::RealImagesDir();
    if (dir.empty() || !std::filesystem::exists(dir / "win_exfat_7.raw")) GTEST_SKIP() << "no public images";
    std::vector<uint8_t> image = testkit::ReadFile(dir / "win_exfat_7.raw");
    ExfatGeometry g;
    ASSERT_TRUE(ParseExfatBootSector(image.data(), image.size(), g));
    const uint64_t at = g.ClusterOffset(g.rootCluster);
    ASSERT_LE(at + g.ClusterBytes(), image.size());
    std::vector<uint8_t> root(image.begin() + static_cast<std::ptrdiff_t>(at),
                              image.begin() + static_cast<std::ptrdiff_t>(at + g.ClusterBytes()));
    std::map<std::string, ExfatEntrySet> sets;
    for (const Seen& s : ParseInPieces(root, 512)) sets[s.set.name] = s.set;
    ASSERT_TRUE(sets.count("тест.txt"));
    EXPECT_TRUE(sets["тест.txt"].inUse);
    ASSERT_TRUE(sets.count("Новый текстовый документ.txt"));
    EXPECT_FALSE(sets["Новый текстовый документ.txt"].inUse);
    EXPECT_EQ(sets["Новый текстовый документ.txt"].dataLength, 0u);
    ASSERT_TRUE(sets.count("1"));
    EXPECT_FALSE(sets["1"].inUse);
    EXPECT_TRUE(sets["1"].IsDirectory());
    EXPECT_TRUE(g.IsHeapCluster(sets["1"].firstCluster));
}

}  // namespace
}  // namespace sorvane
