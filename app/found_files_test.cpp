// How found files are grouped, keyed, described and placed on recovery.
#include "app/found_files.h"

#include <gtest/gtest.h>

#include <fstream>

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
    EXPECT_EQ(FileTimeText(t), u"2024-6-18 14:02:11");

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
