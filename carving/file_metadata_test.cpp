// The metadata readers on files made by the tools people's files come from
// (exiftool, ImageMagick, ffmpeg, qpdf, LibreOffice), and on the damage a
// disk does to them: cut short, or with lengths that point anywhere.
#include "carving/file_metadata.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "carving/zip_entry_reader.h"
#include "platform/file_time.h"
#include "tests/testkit/testkit.h"

namespace sorvane {
namespace {

using testkit::RunCommand;
using testkit::ShellQuote;

int64_t Utc(int y, int mo, int d, int h, int mi, int s) {
    int64_t t = 0;
    EXPECT_TRUE(CalendarSeconds(y, mo, d, h, mi, s, t));
    return t;
}

bool Read(const std::string& ext, const std::vector<uint8_t>& bytes, FileMetadata& out) {
    MemoryByteSource source(bytes);
    return ReadFileMetadata(ext, source, out);
}

// Every prefix of a file read without fault; the reader may find less, never more.
void ExpectCutsAreSafe(const std::string& ext, const std::vector<uint8_t>& bytes) {
    for (size_t n = 0; n < bytes.size(); n += 1 + n / 8) {
        std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(n));
        FileMetadata m;
        Read(ext, cut, m);
    }
}

class FileMetadataTest : public ::testing::Test {
  protected:
    testkit::TempDir dir_;
    std::string Path(const std::string& name) { return ShellQuote((dir_ / name).string()); }
    std::vector<uint8_t> Bytes(const std::string& name) { return testkit::ReadFile(dir_ / name); }
};

TEST(MetadataTextTest, DatesInTheFormsFilesWriteThem) {
    FileMetadata m;
    ASSERT_TRUE(ParseDateText("2024-05-01T10:20:30Z", m));
    EXPECT_EQ(m.unixTime, Utc(2024, 5, 1, 10, 20, 30));
    EXPECT_TRUE(m.hasOffset);
    FileMetadata zoned;
    ASSERT_TRUE(ParseDateText("2024-05-01T10:20:30.123+02:30", zoned));
    EXPECT_EQ(zoned.wallClock, Utc(2024, 5, 1, 10, 20, 30));
    EXPECT_EQ(zoned.unixTime, Utc(2024, 5, 1, 7, 50, 30));
    FileMetadata exif;
    ASSERT_TRUE(ParseDateText("2019:12:31 23:59:58", exif));
    EXPECT_FALSE(exif.hasOffset);
    EXPECT_EQ(exif.unixTime, UnixFromLocalWallClock(FileTimeFromUnix(Utc(2019, 12, 31, 23, 59, 58))));
    // A camera whose clock was never set, and text that is no date.
    FileMetadata none;
    EXPECT_FALSE(ParseDateText("0000:00:00 00:00:00", none));
    EXPECT_FALSE(ParseDateText("1970:01:01 00:00:00", none));
    EXPECT_FALSE(ParseDateText("2024-13-01", none));
    EXPECT_FALSE(ParseDateText("", none));
    EXPECT_FALSE(none.hasTime);
}

TEST(MetadataTextTest, XmlTextIsDecodedAndTakenFromItsOwnElement) {
    const std::string xml =
        "<a><dc:titles>no</dc:titles><dc:title><rdf:Alt><rdf:li xml:lang=\"x-default\">Tom &amp; Jerry "
        "&#233;&#x4E2D;</rdf:li></rdf:Alt></dc:title><dc:creator/></a>";
    EXPECT_EQ(XmlElementText(xml, "dc:title"), "Tom & Jerry \xC3\xA9\xE4\xB8\xAD");
    EXPECT_EQ(XmlElementText(xml, "dc:creator"), "");
    EXPECT_EQ(XmlElementText("<dc:title>unterminated", "dc:title"), "");
}

TEST_F(FileMetadataTest, ExifOfAJpegAndATiff) {
    if (!testkit::HaveProgram("exiftool") || !testkit::HaveProgram("convert"))
        GTEST_SKIP() << "exiftool missing";
    ASSERT_EQ(RunCommand("convert -size 32x24 xc:red " + Path("a.jpg") + " && cp " + Path("a.jpg") + " " +
                         Path("b.jpg") + " && convert -size 8x8 xc:blue " + Path("c.tif")),
              0);
    ASSERT_EQ(RunCommand("exiftool -q -overwrite_original -DateTimeOriginal='2023:07:14 15:42:07' "
                         "-OffsetTimeOriginal='+02:00' -Make=Canon -Model='Canon EOS 80D' " +
                         Path("a.jpg")),
              0);
    ASSERT_EQ(RunCommand("exiftool -q -overwrite_original -ModifyDate='2011:02:03 04:05:06' "
                         "-DateTimeOriginal='2020:01:02 03:04:05' -Make=NIKON " +
                         Path("c.tif")),
              0);

    FileMetadata jpeg;
    ASSERT_TRUE(Read("jpg", Bytes("a.jpg"), jpeg));
    EXPECT_EQ(jpeg.make, "Canon");
    EXPECT_EQ(jpeg.model, "Canon EOS 80D");
    EXPECT_EQ(jpeg.wallClock, Utc(2023, 7, 14, 15, 42, 7));
    EXPECT_TRUE(jpeg.hasOffset);
    EXPECT_EQ(jpeg.unixTime, Utc(2023, 7, 14, 13, 42, 7));

    // The original moment, not the last change, and local time without an offset.
    FileMetadata tiff;
    ASSERT_TRUE(Read("tif", Bytes("c.tif"), tiff));
    EXPECT_EQ(tiff.make, "NIKON");
    EXPECT_EQ(tiff.wallClock, Utc(2020, 1, 2, 3, 4, 5));
    EXPECT_FALSE(tiff.hasOffset);

    // A picture without EXIF says nothing.
    FileMetadata plain;
    EXPECT_FALSE(Read("jpg", Bytes("b.jpg"), plain));
    EXPECT_FALSE(plain.hasTime);

    ExpectCutsAreSafe("jpg", Bytes("a.jpg"));
    ExpectCutsAreSafe("tif", Bytes("c.tif"));
}

TEST_F(FileMetadataTest, MovieCreationTimeWhereverTheMovieBoxLies) {
    if (!testkit::HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
    const std::string make =
        "ffmpeg -hide_banner -loglevel error -y -f lavfi -i testsrc=size=64x48:rate=5 -t 1 ";
    ASSERT_EQ(RunCommand(make + "-metadata creation_time=2022-12-25T08:30:00Z -c:v mpeg4 " + Path("end.mp4")),
              0);
    ASSERT_EQ(
        RunCommand(make + "-metadata creation_time=2021-06-01T12:00:01Z -movflags +faststart -c:v mpeg4 " +
                   Path("front.mov")),
        0);
    ASSERT_EQ(RunCommand(make + "-c:v mpeg4 " + Path("none.mp4")), 0);

    FileMetadata end, front, none;
    ASSERT_TRUE(Read("mp4", Bytes("end.mp4"), end));
    EXPECT_EQ(end.unixTime, Utc(2022, 12, 25, 8, 30, 0));
    ASSERT_TRUE(Read("mov", Bytes("front.mov"), front));
    EXPECT_EQ(front.unixTime, Utc(2021, 6, 1, 12, 0, 1));
    EXPECT_FALSE(Read("mp4", Bytes("none.mp4"), none)) << "a movie that knows no time gives none";
    ExpectCutsAreSafe("mp4", Bytes("end.mp4"));
}

TEST_F(FileMetadataTest, SongArtistAndTitleInEveryTagVersion) {
    if (!testkit::HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
    const std::string make =
        "ffmpeg -hide_banner -loglevel error -y -f lavfi -i sine=d=1 -c:a libmp3lame "
        "-metadata artist='Nina Simone' -metadata title='Caf\xC3\xA9 \xC3\x89t\xC3\xA9' ";
    ASSERT_EQ(RunCommand(make + Path("v4.mp3")), 0);
    ASSERT_EQ(RunCommand(make + "-id3v2_version 3 " + Path("v3.mp3")), 0);
    // A song whose new tag is lost keeps the old one at its end (which ffmpeg writes in UTF-8).
    ASSERT_EQ(RunCommand(make + "-write_id3v1 1 " + Path("both.mp3")), 0);
    std::vector<uint8_t> both = Bytes("both.mp3");
    ASSERT_GT(both.size(), 10u);
    const size_t tagBytes =
        10 + (size_t{both[6]} << 21 | size_t{both[7]} << 14 | size_t{both[8]} << 7 | both[9]);
    testkit::WriteFile(dir_ / "v1.mp3",
                       std::vector<uint8_t>(both.begin() + static_cast<ptrdiff_t>(tagBytes), both.end()));
    for (const char* name : {"v4.mp3", "v3.mp3", "v1.mp3"}) {
        SCOPED_TRACE(name);
        FileMetadata m;
        ASSERT_TRUE(Read("mp3", Bytes(name), m));
        EXPECT_EQ(m.artist, "Nina Simone");
        EXPECT_EQ(m.title, "Caf\xC3\xA9 \xC3\x89t\xC3\xA9");
        ExpectCutsAreSafe("mp3", Bytes(name));
    }
}

TEST_F(FileMetadataTest, PdfTitleAndDateFromTheInformationDictionary) {
    if (!testkit::HaveProgram("qpdf") || !testkit::HaveProgram("exiftool")) GTEST_SKIP() << "qpdf missing";
    ASSERT_EQ(RunCommand("qpdf --empty " + Path("a.pdf") + " && qpdf --empty " + Path("plain.pdf")), 0);
    ASSERT_EQ(RunCommand("exiftool -q -overwrite_original -Title='Holiday plans (draft)' "
                         "-CreateDate='2021:03:04 05:06:07+01:00' " +
                         Path("a.pdf")),
              0);
    // The same document rewritten with a cross-reference stream: its table is compressed.
    ASSERT_EQ(RunCommand("qpdf --object-streams=generate " + Path("a.pdf") + " " + Path("streams.pdf")), 0);
    for (const char* name : {"a.pdf", "streams.pdf"}) {
        SCOPED_TRACE(name);
        FileMetadata m;
        ASSERT_TRUE(Read("pdf", Bytes(name), m));
        EXPECT_EQ(m.title, "Holiday plans (draft)");
        EXPECT_EQ(m.unixTime, Utc(2021, 3, 4, 4, 6, 7));
        ExpectCutsAreSafe("pdf", Bytes(name));
    }
    FileMetadata plain;
    EXPECT_FALSE(Read("pdf", Bytes("plain.pdf"), plain));
}

TEST_F(FileMetadataTest, OfficeTitlesThroughTheZipDirectory) {
    if (!testkit::HaveProgram("soffice")) GTEST_SKIP() << "LibreOffice missing";
    testkit::WriteFile(dir_ / "t.html", [] {
        const std::string html =
            "<html><head><title>Quarterly report &amp; plan</title></head><body><p>Hello</p></body></html>";
        return std::vector<uint8_t>(html.begin(), html.end());
    }());
    const std::string office =
        "soffice -env:UserInstallation=file://" + (dir_ / "profile").string() + " --headless --convert-to ";
    const std::string to = " --outdir " + Path("") + " " + Path("t.html") + " >/dev/null 2>&1";
    ASSERT_EQ(RunCommand(office + "docx:'MS Word 2007 XML'" + to), 0);
    ASSERT_EQ(RunCommand(office + "odt" + to), 0);
    for (const char* name : {"t.docx", "t.odt"}) {
        SCOPED_TRACE(name);
        FileMetadata m;
        ASSERT_TRUE(Read(name + 2, Bytes(name), m));
        EXPECT_EQ(m.title, "Quarterly report & plan");
        ExpectCutsAreSafe(name + 2, Bytes(name));
    }
    // The zip reader finds an entry by its exact name only.
    const std::vector<uint8_t> docx = Bytes("t.docx");
    MemoryByteSource source(docx);
    std::vector<uint8_t> part;
    EXPECT_TRUE(ReadZipEntry(source, "[Content_Types].xml", 1 << 20, part));
    EXPECT_NE(std::string(part.begin(), part.end()).find("wordprocessingml"), std::string::npos);
    EXPECT_FALSE(ReadZipEntry(source, "docprops/core.xml", 1 << 20, part));
    EXPECT_FALSE(ReadZipEntry(source, "[Content_Types].xml", 16, part)) << "larger than the limit";
}

TEST(FileMetadataDamageTest, LengthsThatPointAnywhereEndOnlyTheirOwnParse) {
    // A JPEG whose EXIF directory claims a huge count and text far away.
    std::vector<uint8_t> jpeg = {0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x30, 'E', 'x', 'i', 'f',  0,
                                 0,    'M',  'M',  0,    42,   0,    0,   0,   8,   0x7F, 0xFF};
    jpeg.resize(0x34, 0xEE);
    FileMetadata m;
    EXPECT_FALSE(Read("jpg", jpeg, m));
    // An ID3 tag whose frame runs past the tag, and a movie box larger than the file.
    std::vector<uint8_t> id3 = {'I', 'D', '3', 3,    0, 0, 0, 0, 0, 20, 'T',
                                'I', 'T', '2', 0x7F, 0, 0, 0, 0, 0, 0,  'x'};
    EXPECT_FALSE(Read("mp3", id3, m));
    std::vector<uint8_t> movie = {0,    0,    0,    16,   'm', 'o', 'o', 'v',
                                  0xFF, 0xFF, 0xFF, 0xFF, 'm', 'v', 'h', 'd'};
    EXPECT_FALSE(Read("mp4", movie, m));
    EXPECT_TRUE(m.title.empty() && m.artist.empty() && !m.hasTime);
}

}  // namespace
}  // namespace sorvane
