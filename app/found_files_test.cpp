// How found files are grouped, keyed, described and placed on recovery.
#include "app/found_files.h"

#include <gtest/gtest.h>

#include <fstream>

#include "app/gui_test_support.h"
#include "app/language_service.h"
#include "app/skin_framework/markup.h"
#include "platform/file_time.h"
#include "tests/testkit/testkit.h"

namespace sorvane::app {
namespace {

FoundItemRecord Named(const std::string& name, uint32_t contentCheck = 1) {
    FoundItemRecord r;
    r.SetName(name);
    r.contentCheck = contentCheck;
    return r;
}

TEST(FoundFiles, ExtensionsAreFoldedIntoTheirTreeNodes) {
    EXPECT_EQ(GroupingExtension(Named("photo.JPEG")), u"jpg");
    EXPECT_EQ(GroupingExtension(Named("scan.TIFF")), u"tif");
    EXPECT_EQ(GroupingExtension(Named("letter.docx")), u"doc");
    EXPECT_EQ(GroupingExtension(Named("index.htm")), u"html");
    EXPECT_EQ(GroupingExtension(Named("song.m4p")), u"m4a");
    EXPECT_EQ(GroupingExtension(Named("archive.tar.gz")), u"gz") << "the last dot counts";
    EXPECT_EQ(GroupingExtension(Named("README")), u"unknow");
    EXPECT_EQ(GroupingExtension(Named("ends.")), u"unknow");

    std::vector<FoundItemRecord> results = {Named("a.jpg"), Named("b.JPEG"), Named("c"), Named("d.png")};
    ExtensionMap map = BuildExtensionMap(results);
    ASSERT_EQ(map.size(), 3u);
    ASSERT_EQ(map[QStringLiteral("jpg")].size(), 2u);
    EXPECT_EQ(map[QStringLiteral("jpg")][0], &results[0]) << "records stay in search order";
    EXPECT_EQ(map[QStringLiteral("jpg")][1], &results[1]);
    EXPECT_EQ(map[QStringLiteral("unknow")].size(), 1u);
}

TEST(FoundFiles, CheckedKeysOrderByVolumeThenEngineThenRecord) {
    FoundItemRecord a = Named("a"), b = Named("b"), c = Named("c");
    a.letter = 1, a.engineCode = 3, a.recordNumber = 900;
    b.letter = 2, b.engineCode = 0, b.recordNumber = 1;
    c.letter = 1, c.engineCode = 4, c.recordNumber = 2;
    EXPECT_LT(CheckedFileKey(a), CheckedFileKey(c));
    EXPECT_LT(CheckedFileKey(c), CheckedFileKey(b));
    FoundItemRecord same = a;
    same.SetName("other name");
    EXPECT_EQ(CheckedFileKey(a), CheckedFileKey(same)) << "a record is known by where it is, not its name";
    // Image volume keys are above 1000; they must not run into the engine code.
    FoundItemRecord image = a;
    image.letter = 1001;
    EXPECT_EQ(CheckedFileKey(image) >> 32, uint64_t{1001} * 65536 + 3);
    EXPECT_EQ(CheckedFileKey(image) & 0xFFFFFFFFu, 900u);
}

TEST(FoundFiles, RowTextsAndIcons) {
    EXPECT_TRUE(FileTimeText(0).isEmpty()) << "a carved file shows no placeholder";
    const uint64_t t = FileTimeFromUnix(1718719331);  // 2024-06-18 14:02:11
    EXPECT_EQ(FileTimeText(t), u"2024-06-18 14:02") << "zero-padded, so the column lines up";

    FoundItemRecord folder = Named("DCIM");
    folder.isFolder = 1;
    EXPECT_EQ(FileTypeText(folder), u"folder");
    EXPECT_EQ(FileTypeText(Named("IMG.Jpg")), u"Jpg");
    EXPECT_EQ(FileTypeText(Named("NOTES")), u"file");

    EXPECT_EQ(FileIconOf(folder), u"FileIcon/folder.png");
    EXPECT_EQ(FileIconOf(Named("a.JPG")), u"FileIcon/image.png");
    EXPECT_EQ(FileIconOf(Named("a.jpg", 0)), u"FileIcon/image_error.png") << "data contradicts the name";
    EXPECT_EQ(FileIconOf(Named("a.mp3")), u"FileIcon/music.png");
    EXPECT_EQ(FileIconOf(Named("a.pdf")), u"FileIcon/doc.png");
    EXPECT_EQ(FileIconOf(Named("a.mkv")), u"FileIcon/video.png");
    EXPECT_EQ(FileIconOf(Named("a.zip")), u"FileIcon/zip.png");
    EXPECT_EQ(FileIconOf(Named("setup.exe")), u"FileIcon/exe.png");
    EXPECT_EQ(FileIconOf(Named("blob")), u"FileIcon/default.png");
}

TEST(FoundFiles, DatesFollowTheLanguageAndFilterDatesTakeWholeDays) {
    const uint64_t t = FileTimeFromUnix(1733580180);  // 2024-12-07 14:03:00
    testing::UseShippedTexts();
    EXPECT_EQ(FileTimeText(t), u"2024-12-07 14:03");
    LanguageService::Instance().UseLanguageForThisRun(QStringLiteral("Deutsch"));
    EXPECT_EQ(FileTimeText(t), u"07.12.2024 14:03");
    uint64_t from = 0, to = 0;
    ASSERT_TRUE(ParseFilterDate(QStringLiteral("07.12.2024"), false, from)) << "the language's own order";
    ASSERT_TRUE(ParseFilterDate(QStringLiteral("2024-12-07"), true, to)) << "and the ISO order";
    EXPECT_LE(from, t);
    EXPECT_GE(to, t) << "a day's end takes in every hour of it";
    EXPECT_EQ(to - from, 86400ull * 10000000 - 1);
    EXPECT_FALSE(ParseFilterDate(QStringLiteral("31.02.2024"), false, from));
    EXPECT_FALSE(ParseFilterDate(QStringLiteral("yesterday"), false, from));
    testing::UseShippedTexts();
}

TEST(FoundFiles, SizesAndDatesSortAsNumbersInBothDirections) {
    std::vector<FoundItemRecord> files(4);
    const uint64_t day = 86400ull * 10000000;
    const uint64_t dec10 =
        FileTimeFromUnix(1733788800);  // 2024-12-10: as text "2024-12-10" < "2024-12-7" unpadded
    files[0].SetName("b.jpg"), files[0].size = 9, files[0].written = dec10 - 3 * day;  // the 7th
    files[1].SetName("a.jpg"), files[1].size = 10000, files[1].written = dec10;
    files[2].SetName("C.jpg"), files[2].size = 200, files[2].written = 0;  // carved: no date
    files[3].SetName("d.jpg"), files[3].size = 200, files[3].written = dec10 + day;
    std::vector<const FoundItemRecord*> list;
    for (const auto& f : files) list.push_back(&f);
    auto names = [&] {
        std::string out;
        for (const FoundItemRecord* r : list) out += r->Name().substr(0, 1);
        return out;
    };
    auto byName = [](const FoundItemRecord& r) { return QString::fromStdString(r.Name()); };
    SortListedRecords(list, 2, true, byName);
    EXPECT_EQ(names(), "bCda") << "9 < 200 < 10000 bytes; equal sizes keep their order";
    SortListedRecords(list, 2, false, byName);
    EXPECT_EQ(names(), "aCdb");
    SortListedRecords(list, 3, true, byName);
    EXPECT_EQ(names(), "Cbad") << "no date first, then the 7th before the 10th";
    SortListedRecords(list, 3, false, byName);
    EXPECT_EQ(names(), "dabC");
    SortListedRecords(list, 1, true, byName);
    EXPECT_EQ(names(), "abCd") << "names ignore case";
}

TEST(FoundFiles, LabelsFromADiskCannotOpenMarkup) {
    const QString hostile = QStringLiteral("{a http://x}click{/a}<b>{i logo.png}");
    EXPECT_EQ(skin::StripMarkup(MarkupSafe(hostile)).remove(QChar(0x200B)), hostile)
        << "every character shows, no tag is made";
    EXPECT_EQ(MarkupSafe(QStringLiteral("HOLIDAY")), u"HOLIDAY");
}

TEST(FoundFiles, RecoveredFilesAreNumberedAndStayInsideTheDestination) {
    testkit::TempDir dir;
    auto place = [&](const std::string& name) {
        std::filesystem::path path = RecoveryPathOf(dir.Path(), Named(name));
        if (!path.empty()) {
            std::filesystem::create_directories(path.parent_path());
            std::ofstream(path) << name;
        }
        return path;
    };
    EXPECT_EQ(place("a.jpg"), dir / "photo/a.jpg");
    EXPECT_EQ(place("a.jpg"), dir / "photo/a(1).jpg");
    EXPECT_EQ(place("a.jpg"), dir / "photo/a(2).jpg");
    EXPECT_EQ(place("song.rm"), dir / "audio/song.rm") << "rm is found in the audio list first";
    EXPECT_EQ(place("NOTES"), dir / "others/NOTES");
    // Names from a disk are untrusted: separators and dot names cannot climb out.
    for (const char* hostile : {"../../evil.txt", "..", "/etc/passwd", "a\\..\\b.txt"}) {
        std::filesystem::path path = RecoveryPathOf(dir.Path(), Named(hostile));
        ASSERT_FALSE(path.empty()) << hostile;
        EXPECT_EQ(path.parent_path().parent_path(), dir.Path()) << hostile;
    }
    EXPECT_EQ(BaseDepthOf("/home/user/Recovered"), 3u);
    EXPECT_EQ(BaseDepthOf("/home/user/Recovered/"), 3u) << "a trailing separator does not count";
}

}  // namespace
}  // namespace sorvane::app
