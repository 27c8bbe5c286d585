#include "app/preview/document_view.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QThread>
#include <QTimer>
#include <filesystem>

#include "app/preview/helper_process.h"
#include "tests/testkit/testkit.h"

namespace sorvane::app {
namespace {

QCoreApplication& Application() {
    static int argc = 1;
    static char name[] = "document-view-test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* application = new QCoreApplication(argc, argv);
    return *application;
}

const std::filesystem::path kSamples = SORVANE_PREVIEW_FILES;

QString Q(const std::filesystem::path& path) { return QString::fromStdString(path.string()); }

// A preview folder of its own and the program folder where the helpers are built.
class DocumentViewTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Application();
        std::filesystem::create_directories(preview_ / "ScanLog");
        folders_.programDir = QStringLiteral(SORVANE_BINARY_DIR "/app");
        folders_.previewDir = Q(preview_ / "ScanLog");
    }
    // Copies a sample into the preview folder, as the extraction does, and
    // remembers its hash to prove the conversion leaves it alone.
    QString Extracted(const std::string& sample) {
        std::filesystem::path source = kSamples / sample;
        if (!std::filesystem::exists(source)) return {};
        std::filesystem::path copy = preview_ / "ScanLog" / sample;
        std::filesystem::copy_file(source, copy, std::filesystem::copy_options::overwrite_existing);
        hashes_[copy] = testkit::FileSha256(copy);
        return Q(copy);
    }
    void TearDown() override {
        for (const auto& [path, hash] : hashes_) EXPECT_EQ(testkit::FileSha256(path), hash) << path;
        // Nothing lands beside the preview folder.
        for (const auto& entry : std::filesystem::directory_iterator(preview_.Path()))
            EXPECT_EQ(entry.path().filename(), "ScanLog");
    }
    QString Convert(const std::string& sample, int* rc = nullptr) {
        QString path = Extracted(sample);
        if (path.isEmpty()) return QStringLiteral("<sample missing>");
        auto view = CreateDocumentView(QStringLiteral("*.") + QFileInfo(path).suffix().toLower(), folders_);
        EXPECT_NE(view, nullptr) << sample;
        if (!view) return {};
        QString out;
        int code = view->ConvertForPreview(path, out);
        if (rc)
            *rc = code;
        else
            EXPECT_EQ(code, 0) << sample;
        return out;
    }

    testkit::TempDir preview_;
    ConverterFolders folders_;
    std::map<std::filesystem::path, std::string> hashes_;
};

#define NEED_SAMPLE(name) \
    if (!std::filesystem::exists(kSamples / name)) GTEST_SKIP() << name << " was not made (tool missing)"

TEST(CreateDocumentView, ChoosesTheConverterByTheExtensionLists) {
    ConverterFolders folders{QStringLiteral("/p"), QStringLiteral("/v")};
    auto kind = [&](const char* pattern) -> std::string {
        auto view = CreateDocumentView(QString::fromLatin1(pattern), folders);
        if (!view) return "none";
        if (dynamic_cast<CWord*>(view.get())) return "word";
        if (dynamic_cast<CPPT*>(view.get())) return "ppt";
        if (dynamic_cast<CExcel*>(view.get())) return "excel";
        if (dynamic_cast<CPDF*>(view.get())) return "pdf";
        if (dynamic_cast<CZIP*>(view.get())) return "zip";
        return "other";
    };
    EXPECT_EQ(kind("*.docx"), "word");
    EXPECT_EQ(kind("*.rtf"), "word");
    EXPECT_EQ(kind("*.odt"), "word");
    EXPECT_EQ(kind("*.pps"), "ppt");
    EXPECT_EQ(kind("*.odp"), "ppt");
    EXPECT_EQ(kind("*.csv"), "excel");
    EXPECT_EQ(kind("*.vsd"), "excel");
    EXPECT_EQ(kind("*.msg"), "excel");
    EXPECT_EQ(kind("*.pdf"), "pdf");
    EXPECT_EQ(kind("*.7z"), "zip");
    EXPECT_EQ(kind("*.iso"), "zip");
    EXPECT_EQ(kind("*.jpg"), "none");
    EXPECT_EQ(kind(""), "none");
}

TEST_F(DocumentViewTest, WordProcessingDocumentsGiveTheirFirst2048Characters) {
    for (const char* sample : {"letter.docx", "letter.odt", "letter.doc", "letter.rtf"}) {
        SCOPED_TRACE(sample);
        if (!std::filesystem::exists(kSamples / sample)) continue;
        QString text = Convert(sample);
        EXPECT_TRUE(text.trimmed().startsWith(QStringLiteral("Preview letter")))
            << text.left(80).toStdString();
        EXPECT_TRUE(text.contains(QStringLiteral("paragraph 1 of the preview letter")));
        EXPECT_EQ(text.size(), CWord::kMaxChars);  // the letter is longer than that
        EXPECT_FALSE(text.contains(QStringLiteral("paragraph 79")));
    }
}

TEST_F(DocumentViewTest, SheetsOfFiftyByThirtyGiveTenByTenCells) {
    for (const char* sample : {"sheet.xlsx", "sheet.xls", "sheet.csv"}) {
        SCOPED_TRACE(sample);
        if (!std::filesystem::exists(kSamples / sample)) continue;
        QStringList rows = Convert(sample).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        ASSERT_EQ(rows.size(), 10);
        for (int r = 0; r < 10; ++r) {
            QStringList cells = rows[r].split(QLatin1Char('\t'));
            ASSERT_EQ(cells.size(), 10);
            EXPECT_EQ(cells.front(), QStringLiteral("R%1C1").arg(r + 1));
            EXPECT_EQ(cells.back(), QStringLiteral("R%1C10").arg(r + 1));
        }
    }
}

TEST_F(DocumentViewTest, PresentationsOfTwentyFiveSlidesGiveTheFirstTwenty) {
    for (const char* sample : {"deck.pptx", "deck.odp", "deck.ppt"}) {
        SCOPED_TRACE(sample);
        if (!std::filesystem::exists(kSamples / sample)) continue;
        QStringList lines = Convert(sample).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        ASSERT_EQ(lines.size(), 20);
        for (int n = 0; n < 20; ++n)
            EXPECT_EQ(lines[n].trimmed(), QStringLiteral("Slide number %1").arg(n + 1));
    }
}

TEST_F(DocumentViewTest, PdfFirstPageBecomesThePicture) {
    NEED_SAMPLE("pages.pdf");
    CPDF pdf(folders_);
    QString out;
    ASSERT_EQ(pdf.ConvertForPreview(Extracted("pages.pdf"), out), 0);
    EXPECT_TRUE(out.isEmpty());
    EXPECT_EQ(pdf.PicturePath(), Q(preview_ / "ScanLog" / "tmp.jpg"));
    QImage page(pdf.PicturePath());
    ASSERT_FALSE(page.isNull());
    EXPECT_GT(page.width(), 300);
    EXPECT_GT(page.height(), page.width());  // a portrait page
    EXPECT_FALSE(std::filesystem::exists(preview_ / "ScanLog" / "pdf-000001.png"));
}

TEST_F(DocumentViewTest, TruncatedPdfFailsAndLeavesNoPicture) {
    NEED_SAMPLE("truncated.pdf");
    // A picture of an earlier preview must not be taken for this one.
    testkit::WriteFile(preview_ / "ScanLog" / "pdf-000001.png", {1, 2, 3});
    CPDF pdf(folders_);
    QString out;
    EXPECT_EQ(pdf.ConvertForPreview(Extracted("truncated.pdf"), out), 87);
    EXPECT_FALSE(std::filesystem::exists(preview_ / "ScanLog" / "tmp.jpg"));
    EXPECT_FALSE(std::filesystem::exists(preview_ / "ScanLog" / "pdf-000001.png"));
}

TEST_F(DocumentViewTest, ArchivesListTheirEntriesFromTheRuleOn) {
    for (const char* sample : {"bundle.zip", "bundle.7z", "bundle.tar.gz"}) {
        SCOPED_TRACE(sample);
        if (!std::filesystem::exists(kSamples / sample)) continue;
        QString listing = Convert(sample);
        EXPECT_TRUE(listing.startsWith(QString(19, QLatin1Char('-'))));
        EXPECT_TRUE(listing.contains(QStringLiteral("readme.txt")));
        EXPECT_TRUE(listing.contains(QStringLiteral("inner/notes.txt")));
        EXPECT_FALSE(listing.contains(QStringLiteral("Listing archive")));
    }
}

TEST_F(DocumentViewTest, DamagedArchivesEndWithoutHangingAndCutOnesFail) {
    NEED_SAMPLE("cut.zip");
    int rc = -1;
    Convert("cut.zip", &rc);
    EXPECT_EQ(rc, 87);
    // The damaged zip lists what is readable or fails; either way the lister ends.
    QElapsedTimer clock;
    clock.start();
    Convert("damaged.zip", &rc);
    EXPECT_TRUE(rc == 0 || rc == 87);
    EXPECT_LT(clock.elapsed(), kToolTimeoutMs);
}

TEST(ListingAfterRule, NeedsALineOfNineteenMinusSigns) {
    EXPECT_TRUE(ListingAfterRule(QStringLiteral("header\n------------------ short\nx\n")).isNull());
    EXPECT_TRUE(ListingAfterRule(QString()).isNull());
    EXPECT_EQ(ListingAfterRule(QStringLiteral("h\n------------------- -----\na.txt\n")),
              QStringLiteral("------------------- -----\na.txt\n"));
}

// Stand-in helpers in a program folder of their own: one that prints no rule,
// one that crashes, one that hangs.
class FaultyHelperTest : public DocumentViewTest {
  protected:
    void SetUp() override {
        DocumentViewTest::SetUp();
        folders_.programDir = Q(programs_.Path());
    }
    void Helper(const std::string& name, const std::string& script) {
        std::filesystem::path file = programs_ / name;
        std::string text = "#!/bin/sh\n" + script + "\n";
        testkit::WriteFile(file, std::vector<uint8_t>(text.begin(), text.end()));
        std::filesystem::permissions(file, std::filesystem::perms::owner_all);
    }
    testkit::TempDir programs_;
};

TEST_F(FaultyHelperTest, ListingWithoutTheRuleFails) {
    NEED_SAMPLE("bundle.zip");
    Helper("Extract", "echo 'Listing'; echo '---- not the rule ----'; echo 'readme.txt'");
    int rc = 0;
    QString out = Convert("bundle.zip", &rc);
    EXPECT_EQ(rc, 87);
    EXPECT_TRUE(out.isEmpty());
}

TEST_F(FaultyHelperTest, CrashingHelpersFailTheConversion) {
    NEED_SAMPLE("pages.pdf");
    // It even writes the page before it dies: a crashed render is not trusted.
    Helper("tool", "touch \"$6-000001.png\"; kill -SEGV $$");
    Helper("Extract", "echo '-------------------'; kill -SEGV $$");
    int rc = 0;
    Convert("pages.pdf", &rc);
    EXPECT_EQ(rc, 87);
    EXPECT_FALSE(std::filesystem::exists(preview_ / "ScanLog" / "tmp.jpg"));
    EXPECT_FALSE(std::filesystem::exists(preview_ / "ScanLog" / "pdf-000001.png"));
    Convert("bundle.zip", &rc);
    EXPECT_EQ(rc, 87);
}

TEST_F(FaultyHelperTest, HangingHelperIsEndedWhileTheEventLoopKeepsTurning) {
    NEED_SAMPLE("bundle.zip");
    std::filesystem::path pidFile = programs_ / "pid";
    // It starts a child of its own, as an office suite's launcher does; both end.
    std::filesystem::path childFile = programs_ / "child";
    Helper("Extract", "sleep 61 & echo $! > '" + childFile.string() + "'; echo $$ > '" + pidFile.string() +
                          "'; exec sleep 60");
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(100);
    QElapsedTimer clock;
    clock.start();
    int rc = 0;
    Convert("bundle.zip", &rc);
    EXPECT_EQ(rc, 87);
    EXPECT_GE(clock.elapsed(), kToolTimeoutMs - 100);
    EXPECT_LT(clock.elapsed(), kToolTimeoutMs + 5000);
    // Timers of the calling thread ran all along: a window would have repainted.
    EXPECT_GT(ticks, kToolTimeoutMs / 100 / 2);
    for (const auto& file : {pidFile, childFile}) {
        auto pidBytes = testkit::ReadFile(file);
        std::string pid(pidBytes.begin(), pidBytes.end());
        while (!pid.empty() && pid.back() == '\n') pid.pop_back();
        ASSERT_FALSE(pid.empty());
        // Gone, or at most a zombie waiting for its parent. A killed process
        // may still be on its way out for a moment, so it gets two seconds.
        std::string state;
        for (int wait = 0; wait < 200; ++wait) {
            auto stat = testkit::ReadFile("/proc/" + pid + "/stat");
            state.assign(stat.begin(), stat.end());
            if (state.empty() || state.find(") Z") != std::string::npos) break;
            QThread::msleep(10);
        }
        EXPECT_TRUE(state.empty() || state.find(") Z") != std::string::npos)
            << file << " still runs: " << state;
    }
}

TEST_F(FaultyHelperTest, MissingHelperIsNamed) {
    NEED_SAMPLE("pages.pdf");
    CPDF pdf(folders_);
    CZIP zip(folders_);
    QString out;
    EXPECT_EQ(pdf.ConvertForPreview(Extracted("pages.pdf"), out), 87);
    EXPECT_EQ(pdf.MissingHelper(), QStringLiteral("tool"));
    EXPECT_EQ(zip.ConvertForPreview(Extracted("bundle.zip"), out), 87);
    EXPECT_EQ(zip.MissingHelper(), QStringLiteral("Extract"));
}

}  // namespace
}  // namespace sorvane::app
