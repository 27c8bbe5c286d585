// Carved files named and dated from their own metadata: the naming rules on
// their own (untrusted texts, clashes), then a card reformatted after real
// files were copied to it, whose files come back under their metadata names
// with their metadata times, byte for byte.
#include "engines/carved_file_names.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "engines/engine_factory.h"
#include "engines/professional_recovery.h"
#include "platform/file_time.h"
#include "results/file_categories.h"
#include "results/scan_resume_store.h"
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

FileMetadata Titled(const std::string& title, const std::string& artist = "") {
    FileMetadata m;
    m.title = title;
    m.artist = artist;
    return m;
}

FoundItemRecord Carved(const std::string& name) {
    FoundItemRecord r;
    r.engineCode = static_cast<uint32_t>(EngineCode::kRawSignature);
    r.SetName(name);
    return r;
}

TEST(CarvedFileNamesTest, EachKindOfFileIsNamedByWhatItSaysOfItself) {
    FileMetadata taken;
    ASSERT_TRUE(SetMetadataTime(Utc(2023, 7, 14, 15, 42, 7), true, 120, taken));
    EXPECT_EQ(MetadataBaseName(taken, "photo"), "2023-07-14 15.42.07");
    EXPECT_EQ(MetadataBaseName(taken, "video"), "2023-07-14 15.42.07");
    EXPECT_EQ(MetadataBaseName(Titled("Feeling Good", "Nina Simone"), "audio"), "Nina Simone - Feeling Good");
    EXPECT_EQ(MetadataBaseName(Titled("Feeling Good"), "audio"), "Feeling Good");
    EXPECT_EQ(MetadataBaseName(Titled("", "Nina Simone"), "audio"), "") << "an artist alone names no song";
    EXPECT_EQ(MetadataBaseName(Titled("Quarterly report"), "document"), "Quarterly report");
    // A title says nothing of a photo's moment, nor a time of a document's title.
    EXPECT_EQ(MetadataBaseName(Titled("Holiday"), "photo"), "");
    EXPECT_EQ(MetadataBaseName(taken, "document"), "");
    EXPECT_EQ(MetadataBaseName(taken, "archive"), "");
}

TEST(CarvedFileNamesTest, TextsFromAFileCannotLeaveTheFolderOrSayNothing) {
    EXPECT_EQ(MetadataBaseName(Titled("../../etc/passwd"), "document").find('/'), std::string::npos);
    EXPECT_EQ(MetadataBaseName(Titled("a\\b"), "document").find('\\'), std::string::npos);
    EXPECT_EQ(MetadataBaseName(Titled("  Two\r\nlines\t here.  "), "document"), "Two lines here");
    for (const char* empty : {"", "   ", "...", "!!! ?? --", "..", "\x01\x02", "/"})
        EXPECT_EQ(MetadataBaseName(Titled(empty), "document"), "") << "'" << empty << "'";
    EXPECT_EQ(MetadataBaseName(Titled("..", "--"), "audio"), "");
    const std::string longTitle(600, 'x');
    const std::string cut = MetadataBaseName(Titled(longTitle + "\xC3\xA9"), "document");
    EXPECT_LE(cut.size(), 200u);
    EXPECT_GT(cut.size(), 100u);

    // A name that says nothing leaves the number; the time is taken all the same.
    CarvedNameBook book;
    FileMetadata punctuation = Titled("???");
    ASSERT_TRUE(SetMetadataTime(Utc(2020, 1, 2, 3, 4, 5), true, 0, punctuation));
    const FoundItemRecord named = NamedFromMetadata(Carved("4096.pdf"), punctuation, book);
    EXPECT_EQ(named.Name(), "4096.pdf");
    EXPECT_EQ(UnixFromFileTime(named.written), Utc(2020, 1, 2, 3, 4, 5));
    EXPECT_EQ(uint64_t{named.created}, uint64_t{named.written});
}

TEST(CarvedFileNamesTest, ASecondFileOfTheSameNameIsNumberedFromTwo) {
    CarvedNameBook book;
    EXPECT_EQ(book.Take("2023-07-14 15.42.07", "jpg"), "2023-07-14 15.42.07.jpg");
    EXPECT_EQ(book.Take("2023-07-14 15.42.07", "jpg"), "2023-07-14 15.42.07 (2).jpg");
    EXPECT_EQ(book.Take("2023-07-14 15.42.07", "JPG"), "2023-07-14 15.42.07 (3).JPG")
        << "case does not tell apart";
    EXPECT_EQ(book.Take("2023-07-14 15.42.07", "mp4"), "2023-07-14 15.42.07.mp4");
    book.Remember("Report.pdf");
    EXPECT_EQ(book.Take("report", "pdf"), "report (2).pdf");
    book.Clear();
    EXPECT_EQ(book.Take("report", "pdf"), "report.pdf");
}

// Seconds since 1970 of a file's last-write time.
int64_t WrittenSeconds(const std::filesystem::path& path) {
    const auto stamp = std::filesystem::last_write_time(path);
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::file_clock::to_sys(stamp).time_since_epoch())
        .count();
}

// "YYYY-MM-DD HH.MM.SS" of an instant in this machine's time zone.
std::string LocalName(int64_t unixTime) {
    const std::tm t = LocalTimeOf(static_cast<std::time_t>(unixTime));
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d.%02d.%02d", t.tm_year + 1900, t.tm_mon + 1,
                  t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    return text;
}

class ReformattedCardTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testkit::SetEnv("SORVANE_DATA_DIR", dir_.Path() / "data");
        CScanResumeStore::ResetInstanceForTests();
    }
    void TearDown() override { CScanResumeStore::ResetInstanceForTests(); }
    std::string Path(const std::string& name) { return ShellQuote((dir_ / name).string()); }

    testkit::TempDir dir_;
};

TEST_F(ReformattedCardTest, CarvedFilesComeBackUnderTheirMetadataNamesAndTimes) {
    for (const char* tool : {"mkfs.fat", "mcopy", "exiftool", "convert", "ffmpeg", "qpdf"})
        if (!testkit::HaveProgram(tool)) GTEST_SKIP() << tool << " missing";
    const bool office = testkit::HaveProgram("soffice");
    const std::string quiet = " >/dev/null 2>&1";
    // Two photos taken in the same second (one knows its offset from UTC), one without EXIF.
    ASSERT_EQ(RunCommand("convert -size 320x240 plasma:fractal -seed 7 " + Path("a.jpg") +
                         " && convert -size " + "300x200 gradient:red-blue " + Path("b.jpg") +
                         " && convert -size 200x100 " + "gradient:green-yellow " + Path("plain.jpg") + quiet),
              0);
    ASSERT_EQ(RunCommand("exiftool -q -overwrite_original -DateTimeOriginal='2023:07:14 15:42:07' "
                         "-OffsetTimeOriginal='+02:00' -Make=Canon " +
                         Path("a.jpg")),
              0);
    ASSERT_EQ(RunCommand("exiftool -q -overwrite_original -DateTimeOriginal='2023:07:14 15:42:07' " +
                         Path("b.jpg")),
              0);
    ASSERT_EQ(
        RunCommand("ffmpeg -hide_banner -loglevel error -y -f lavfi -i testsrc=size=160x120:rate=10 -t 2 "
                   "-metadata creation_time=2022-12-25T08:30:00Z -c:v mpeg4 " +
                   Path("clip.mp4")),
        0);
    ASSERT_EQ(RunCommand("ffmpeg -hide_banner -loglevel error -y -f lavfi -i sine=d=2 -c:a libmp3lame "
                         "-metadata artist='Nina Simone' -metadata title='Feeling Good' " +
                         Path("song.mp3")),
              0);
    // The title is written as an update at the end; qpdf then writes the document out whole.
    ASSERT_EQ(RunCommand("qpdf --empty " + Path("e.pdf") +
                         " && exiftool -q -overwrite_original "
                         "-Title='Holiday plans' -CreateDate='2021:03:04 05:06:07Z' " +
                         Path("e.pdf") + " && qpdf " + Path("e.pdf") + " " + Path("plans.pdf")),
              0);
    std::vector<std::string> files = {"a.jpg", "b.jpg", "plain.jpg", "clip.mp4", "song.mp3", "plans.pdf"};
    if (office) {
        const std::string html =
            "<html><head><title>Quarterly report</title></head><body><p>Sales went "
            "up.</p></body></html>";
        testkit::WriteFile(dir_ / "report.html", std::vector<uint8_t>(html.begin(), html.end()));
        ASSERT_EQ(RunCommand("soffice -env:UserInstallation=file://" + (dir_ / "profile").string() +
                             " --headless --convert-to docx:'MS Word 2007 XML' --outdir " + Path("") + " " +
                             Path("report.html") + quiet),
                  0);
        files.push_back("report.docx");
    }

    // Copied to a card, which is then formatted again: its root directory is
    // gone, the files' bytes are still in the data area.
    const std::string card = Path("card.img");
    ASSERT_EQ(RunCommand("mkfs.fat -C -F 16 " + card + " 16384" + quiet), 0);
    for (const std::string& f : files)
        ASSERT_EQ(RunCommand("mcopy -i " + card + " " + Path(f) + " ::/" + quiet), 0);
    ASSERT_EQ(RunCommand("mkfs.fat -F 16 " + card + quiet), 0);
    const std::string before = testkit::FileSha256(dir_ / "card.img");

    std::map<std::string, std::string> shaOf;
    for (const std::string& f : files) shaOf[testkit::FileSha256(dir_ / f)] = f;

    const std::map<std::string, std::pair<std::string, int64_t>> expected = {
        {"a.jpg", {"2023-07-14 15.42.07", Utc(2023, 7, 14, 13, 42, 7)}},
        {"b.jpg",
         {"2023-07-14 15.42.07", UnixFromLocalWallClock(FileTimeFromUnix(Utc(2023, 7, 14, 15, 42, 7)))}},
        {"clip.mp4", {LocalName(Utc(2022, 12, 25, 8, 30, 0)), Utc(2022, 12, 25, 8, 30, 0)}},
        {"song.mp3", {"Nina Simone - Feeling Good", -1}},
        {"plans.pdf", {"Holiday plans", Utc(2021, 3, 4, 5, 6, 7)}},
        {"report.docx", {"Quarterly report", -1}},
    };

    for (const bool named : {true, false}) {
        SCOPED_TRACE(named ? "named from metadata" : "numbered");
        testkit::SetEnv("SORVANE_DATA_DIR", dir_.Path() / (named ? "data-named" : "data-numbered"));
        CScanResumeStore::ResetInstanceForTests();
        CProfessionalRecovery engine;
        ASSERT_EQ(OpenOnImage(engine, dir_ / "card.img", 7), 0);
        engine.Carver().SetNamesFromMetadata(named);
        engine.SetCallbacks(nullptr, nullptr, nullptr, 100);
        ASSERT_EQ(engine.Scan(nullptr), 0);
        FoundItemList all;
        ASSERT_EQ(engine.FindByExtension(AllCategoriesPattern() + "|.other", all), 1);
        std::map<std::string, int> seen;
        std::vector<std::string> namesOfSameSecond;
        for (const FoundItemRecord& r : all) {
            if (r.Engine() != EngineCode::kRawSignature) continue;
            const std::filesystem::path out = dir_ / (named ? "named" : "numbered") / r.Name();
            ASSERT_EQ(engine.RecoverItem(r, out, 0), 0) << r.Name();
            auto original = shaOf.find(testkit::FileSha256(out));
            if (original == shaOf.end()) continue;  // a thumbnail inside a photo, say
            const std::string& source = original->second;
            ++seen[source];
            const std::string name = r.Name();
            const std::string number = std::to_string(uint64_t{r.location}) + "." + LowerExtension(source);
            auto want = expected.find(source);
            if (!named || want == expected.end()) {
                EXPECT_EQ(name, number) << source;
                EXPECT_EQ(uint64_t{r.written}, 0u) << source;
                continue;
            }
            const std::string base = want->second.first;
            if (source == "a.jpg" || source == "b.jpg") {
                namesOfSameSecond.push_back(name);
                EXPECT_TRUE(name == base + ".jpg" || name == base + " (2).jpg") << name;
            } else {
                EXPECT_EQ(name, base + "." + LowerExtension(source));
            }
            if (want->second.second >= 0) {
                EXPECT_EQ(UnixFromFileTime(r.written), want->second.second) << source;
                EXPECT_EQ(WrittenSeconds(out), want->second.second) << source << " recovered with its time";
            }
        }
        for (const std::string& f : files) EXPECT_EQ(seen[f], 1) << f << " recovered byte for byte once";
        if (named) {
            ASSERT_EQ(namesOfSameSecond.size(), 2u);
            EXPECT_NE(namesOfSameSecond[0], namesOfSameSecond[1]);
        }
    }
    EXPECT_EQ(testkit::FileSha256(dir_ / "card.img"), before);
}

}  // namespace
}  // namespace sorvane
