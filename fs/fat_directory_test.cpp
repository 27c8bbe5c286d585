// Directory-entry parsing: the plausibility rules on single entries, and whole
// directories written by mtools read back with their long and short names.
#include "fs/fat_directory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <vector>

#include "fs/fat_volume.h"
#include "platform/file_time.h"
#include "platform/text_encoding.h"
#include "tests/testkit/testkit.h"

namespace sorvane {
namespace {

using testkit::RunCommand;
using testkit::ShellQuote;

// A short entry as a FAT driver writes it: 11 name bytes, attributes, dates of 2020.
std::vector<uint8_t> ShortEntry(const char* name11, uint8_t attr, uint32_t cluster, uint32_t size) {
    std::vector<uint8_t> e(32, 0);
    std::memcpy(e.data(), name11, 11);
    e[11] = attr;
    const uint16_t date = static_cast<uint16_t>(((2020 - 1980) << 9) | (6 << 5) | 15);
    const uint16_t time = static_cast<uint16_t>((13 << 11) | (45 << 5) | 10);
    PutU16(&e[14], time);
    PutU16(&e[16], date);
    PutU16(&e[18], date);
    PutU16(&e[20], static_cast<uint16_t>(cluster >> 16));
    PutU16(&e[22], time);
    PutU16(&e[24], date);
    PutU16(&e[26], static_cast<uint16_t>(cluster));
    PutU32(&e[28], size);
    return e;
}

bool Plausible(const std::vector<uint8_t>& e) { return IsPlausibleEntry(ByteView(e.data(), e.size()), {}); }

TEST(FatEntryRules, DeletedShortNameKeepsAMarkForItsLostFirstLetter) {
    auto e = ShortEntry("REPORT  TXT", kFatAttrArchive, 10, 100);
    e[0] = kFatDeletedMark;
    EXPECT_TRUE(Plausible(e));
    EXPECT_EQ(ShortEntryName(ByteView(e.data(), 32)), "!eport.txt");
    auto noExt = ShortEntry("README     ", kFatAttrArchive, 10, 100);
    EXPECT_EQ(ShortEntryName(ByteView(noExt.data(), 32)), "readme");
    // 0x05 stands for a first byte of 0xE5 (code page 437 "σ").
    auto kanji = ShortEntry(
        "\x05"
        "BC     DAT",
        kFatAttrArchive, 10, 100);
    EXPECT_EQ(ShortEntryName(ByteView(kanji.data(), 32)),
              "\xCF\x83"
              "bc.dat");
}

TEST(FatEntryRules, RejectsWhatNoDriverWrites) {
    EXPECT_TRUE(Plausible(ShortEntry("FILE    TXT", kFatAttrArchive, 5, 10)));
    EXPECT_FALSE(Plausible(ShortEntry("file    txt", kFatAttrArchive, 5, 10))) << "lower case";
    EXPECT_FALSE(Plausible(ShortEntry("FI*E    TXT", kFatAttrArchive, 5, 10))) << "forbidden character";
    EXPECT_FALSE(Plausible(ShortEntry("FILE    TXT", 0x40, 5, 10))) << "reserved attribute bit";
    EXPECT_FALSE(Plausible(ShortEntry("FILE    TXT", kFatAttrArchive, 5, 0))) << "empty file with a cluster";
    EXPECT_FALSE(Plausible(ShortEntry("LABEL      ", kFatAttrVolumeLabel, 5, 0))) << "label with a cluster";
    EXPECT_TRUE(Plausible(ShortEntry("LABEL      ", kFatAttrVolumeLabel, 0, 0)));
    EXPECT_FALSE(Plausible(ShortEntry("FILE    TXT", kFatAttrVolumeLabel | kFatAttrArchive, 0, 0)));
    EXPECT_FALSE(Plausible(ShortEntry("DIR        ", kFatAttrDirectory, 5, 4096)))
        << "live folder with a size";
    auto badDate = ShortEntry("FILE    TXT", kFatAttrArchive, 5, 10);
    PutU16(&badDate[24], static_cast<uint16_t>((75 << 9) | (1 << 5) | 1));  // 2055
    EXPECT_FALSE(Plausible(badDate));
    badDate[0] = kFatDeletedMark;
    EXPECT_TRUE(Plausible(badDate)) << "dates of deleted entries are not judged";
    // Read-only folders and files without the archive bit are ordinary.
    EXPECT_TRUE(Plausible(ShortEntry("SYSTEM     ", kFatAttrDirectory | kFatAttrReadOnly, 5, 0)));
    EXPECT_TRUE(Plausible(ShortEntry("PLAIN   DOC", 0, 5, 10)));
}

TEST(FatEntryRules, DotPairOpensEveryFolder) {
    auto dot = ShortEntry(".          ", kFatAttrDirectory, 7, 0);
    auto dotdot = ShortEntry("..         ", kFatAttrDirectory, 0, 0);
    EXPECT_TRUE(IsDotPair(ByteView(dot.data(), 32), ByteView(dotdot.data(), 32)));
    EXPECT_TRUE(IsPlausibleEntry(ByteView(dot.data(), 32), ByteView(dotdot.data(), 32)));
    EXPECT_FALSE(IsDotPair(ByteView(dotdot.data(), 32), ByteView(dot.data(), 32)));
    auto file = ShortEntry("X          ", kFatAttrArchive, 7, 1);
    EXPECT_FALSE(IsDotPair(ByteView(dot.data(), 32), ByteView(file.data(), 32)));
    EXPECT_FALSE(IsDotPair(ByteView(dot.data(), 32), {}));
}

TEST(FatEntryRules, TimesAreTheWallClockOnDisk) {
    auto e = ShortEntry("FILE    TXT", kFatAttrArchive, 5, 10);
    e[13] = 150;  // 1.5 s on top of the creation time
    FatEntryTimes t = EntryTimes(ByteView(e.data(), 32));
    EXPECT_EQ(FormatFileTime(t.written), "2020-06-15 13:45:20");
    EXPECT_EQ(FormatFileTime(t.accessed), "2020-06-15 00:00:00");
    EXPECT_EQ(FormatFileTime(t.created), "2020-06-15 13:45:21");
    EXPECT_EQ((t.created - t.written) / 10000, 1500u);
}

TEST(FatEntryRules, LongNameOfTwentyPartsIsTakenAndATwentyFirstEndsTheWalk) {
    std::vector<uint8_t> dir;
    auto shortEntry = ShortEntry("LONGNA~1TXT", kFatAttrArchive, 9, 5);
    uint8_t sum = ShortNameChecksum(ByteView(shortEntry.data(), 32));
    std::u16string name(255, u'a');
    name[0] = u'Z';
    for (int part = 20; part >= 1; --part) {
        std::vector<uint8_t> e(32, 0xFF);
        e[0] = static_cast<uint8_t>(part | (part == 20 ? 0x40 : 0));
        e[11] = kFatAttrLongName;
        e[12] = 0;
        e[13] = sum;
        PutU16(&e[26], 0);
        static const size_t offsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
        for (size_t i = 0; i < 13; ++i) {
            size_t index = static_cast<size_t>(part - 1) * 13 + i;
            uint16_t unit = index < name.size() ? name[index] : (index == name.size() ? 0 : 0xFFFF);
            PutU16(&e[offsets[i]], unit);
        }
        dir.insert(dir.end(), e.begin(), e.end());
    }
    dir.insert(dir.end(), shortEntry.begin(), shortEntry.end());
    LongNameCollector names;
    std::vector<std::string> seen;
    WalkEnd end = WalkDirectoryBuffer(ByteView(dir.data(), dir.size()), names,
                                      [&](const FatEntryInfo& e) { seen.push_back(e.name); });
    EXPECT_EQ(end, WalkEnd::kBufferDone);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], "Z" + std::string(254, 'a'));

    // A deleted run of 21 parts cannot be a name: the directory is not trusted further.
    std::vector<uint8_t> broken;
    for (int i = 0; i < 21; ++i) {
        std::vector<uint8_t> e(32, 0x41);
        e[0] = kFatDeletedMark;
        e[11] = kFatAttrLongName;
        e[13] = 0x33;
        PutU16(&e[26], 0);
        broken.insert(broken.end(), e.begin(), e.end());
    }
    broken.insert(broken.end(), shortEntry.begin(), shortEntry.end());
    names.Reset();
    seen.clear();
    end = WalkDirectoryBuffer(ByteView(broken.data(), broken.size()), names,
                              [&](const FatEntryInfo& e) { seen.push_back(e.name); });
    EXPECT_EQ(end, WalkEnd::kTooLong);
    EXPECT_TRUE(seen.empty());
}

TEST(FatEntryRules, LongNameOfAnotherEntryIsNotGivenToALiveShortEntry) {
    std::vector<uint8_t> dir;
    std::vector<uint8_t> part(32, 0xFF);
    part[0] = 0x41;
    part[11] = kFatAttrLongName;
    part[13] = 0x12;  // the checksum of some other short name
    PutU16(&part[26], 0);
    PutU16(&part[1], 'x');
    PutU16(&part[3], 0);
    auto shortEntry = ShortEntry("REAL    TXT", kFatAttrArchive, 9, 5);
    if (ShortNameChecksum(ByteView(shortEntry.data(), 32)) == 0x12) part[13] = 0x13;
    dir.insert(dir.end(), part.begin(), part.end());
    dir.insert(dir.end(), shortEntry.begin(), shortEntry.end());
    LongNameCollector names;
    std::vector<std::string> seen;
    WalkDirectoryBuffer(ByteView(dir.data(), dir.size()), names,
                        [&](const FatEntryInfo& e) { seen.push_back(e.name); });
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], "real.txt");
}

// Names as `fls` prints them for the root of an image, deleted ones marked.
std::multiset<std::string> FlsRootNames(const std::string& image, bool deleted) {
    std::string out;
    RunCommand(std::string("fls ") + (deleted ? "-d " : "-u ") + ShellQuote(image), &out);
    std::multiset<std::string> names;
    size_t pos = 0;
    while (pos < out.size()) {
        size_t end = out.find('\n', pos);
        if (end == std::string::npos) end = out.size();
        std::string line = out.substr(pos, end - pos);
        pos = end + 1;
        size_t tab = line.find('\t');
        if (tab == std::string::npos || line[0] == 'v' || line[0] == 'V') continue;
        names.insert(line.substr(tab + 1));
    }
    return names;
}

TEST(FatDirectoryWalk, RootWrittenByMtoolsReadsBackWithItsNames) {
    if (!testkit::HaveProgram("mcopy") || !testkit::HaveProgram("fls")) GTEST_SKIP() << "tools missing";
    testkit::TempDir dir;
    std::string image = (dir / "names.img").string();
    std::string q = ShellQuote(image);
    const std::vector<std::string> names = {
        "Holiday photo 2019.jpg",       "report.txt",   "UPPER.TXT",   "Ünïcödé ñame.doc",
        std::string(200, 'n') + ".pdf", "a.b.c.tar.gz", "no extension"};
    std::string script = "set -e; export MTOOLS_SKIP_CHECK=1; mkfs.fat -F 16 -C " + q +
                         " 16384 >/dev/null; cd " + ShellQuote(dir.Path().string()) + "; echo data > src;";
    for (const auto& n : names) script += " mcopy -i " + q + " src " + ShellQuote("::/" + n) + ";";
    script += " mdel -i " + q + " ::/report.txt " + ShellQuote("::/Holiday photo 2019.jpg") + ";";
    ASSERT_EQ(RunCommand("bash -c " + ShellQuote(script)), 0);

    DiskReader reader;
    ASSERT_EQ(OpenImageReader(image, reader), 0);
    std::vector<uint8_t> boot(512);
    uint32_t got = 0;
    ASSERT_EQ(ReadSectors(1, reader, boot.data(), 0, 512, &got), 0);
    FatGeometry g;
    ASSERT_TRUE(ParseFatBootSector(ByteView(boot.data(), 512), g));
    std::vector<uint8_t> root(g.rootDirSectors * 512);
    ASSERT_EQ(ReadSectors(g.rootDirSectors, reader, root.data(), g.rootDirStart, 512, &got), 0);

    std::multiset<std::string> live, deleted;
    LongNameCollector collector;
    WalkEnd end =
        WalkDirectoryBuffer(ByteView(root.data(), root.size()), collector, [&](const FatEntryInfo& e) {
            if (e.kind != FatEntryInfo::Kind::kFile) return;
            (e.deleted ? deleted : live).insert(e.name);
        });
    EXPECT_EQ(end, WalkEnd::kEndMark);
    // 8.3-only names read back lower-cased; fls keeps the stored case and cuts
    // names of 200 characters and more, so those are compared with what was written.
    std::multiset<std::string> expectedLive, flsLive, ourShortLive;
    for (const auto& n : names)
        if (n != "report.txt" && n != "Holiday photo 2019.jpg")
            expectedLive.insert(n == "UPPER.TXT" ? "upper.txt" : n);
    EXPECT_EQ(live, expectedLive);
    for (const auto& n : FlsRootNames(image, false))
        if (n.size() < 190) flsLive.insert(AsciiLower(n));
    for (const auto& n : live)
        if (n.size() < 190) ourShortLive.insert(AsciiLower(n));
    EXPECT_EQ(ourShortLive, flsLive);
    // Deleted entries keep their long names; one with only an 8.3 name shows
    // its lost first letter as "!" where fls shows "_".
    EXPECT_EQ(deleted, (std::multiset<std::string>{"Holiday photo 2019.jpg", "!eport.txt"}));
    std::multiset<std::string> flsDeleted;
    for (std::string n : FlsRootNames(image, true)) {
        if (!n.empty() && n[0] == '_') n[0] = '!';
        flsDeleted.insert(AsciiLower(n));
    }
    std::multiset<std::string> ours;
    for (const auto& n : deleted) ours.insert(AsciiLower(n));
    EXPECT_EQ(ours, flsDeleted);
}

}  // namespace
}  // namespace sorvane
