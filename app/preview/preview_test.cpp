// The preview as the user meets it: a found file's row is previewed through
// its engine into the pane, with pictures, document texts, PDF pages, archive
// listings, raw bytes and media players, and nothing is left behind.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTextBrowser>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <map>

#include "app/gui_test_support.h"
#include "app/preview/helper_process.h"
#include "app/preview/preview_controller.h"
#include "app/process_wnd.h"
#include "app/startup.h"
#include "engines/engine_factory.h"
#include "engines/fast_fat_recovery.h"
#include "platform/text_encoding.h"
#include "results/file_categories.h"
#include "tests/testkit/null_engine.h"
#include "tests/testkit/testkit.h"

namespace sorvane::app {
namespace {

const std::filesystem::path kSamples = SORVANE_PREVIEW_FILES;
const QString kProgramDir = QStringLiteral(SORVANE_BINARY_DIR "/app");

QString Q(const std::filesystem::path& path) { return QString::fromStdString(path.string()); }

// An engine whose found files are sample files: it keeps the extraction
// contract (documents under their own name, pictures as "tmp.jpg", media as
// "tmp.avi" in the preview folder, anything else into the buffer) and reports
// progress in steps, answering the callback's cancel.
class SampleEngine : public testkit::NullEngine {
  public:
    explicit SampleEngine(std::filesystem::path previewDir) : previewDir_(std::move(previewDir)) {}

    EngineStatus PreviewItem(const FoundItemRecord& record, std::filesystem::path& tempPath, uint8_t* buffer,
                             size_t& byteCount, PreviewProgressCallback progress, void* userData) override {
        ++calls;
        tempPath.clear();
        const std::string name = record.Name();
        const std::vector<uint8_t> data = testkit::ReadFile(kSamples / name);
        for (int percent = 0; percent < 100; percent += 20) {
            if (int answer = progress(userData, percent, 0); answer != 0) return answer;
        }
        const std::string ext = LowerExtension(name);
        std::filesystem::path target;
        if (std::string_view(kDocuments).find(ext) != std::string_view::npos)
            target = previewDir_ / name;
        else if (IsPhotoExtension(ext))
            target = previewDir_ / "tmp.jpg";
        else if (kAudioExtensions.find(ext) != std::string_view::npos ||
                 kVideoExtensions.find(ext) != std::string_view::npos)
            target = previewDir_ / "tmp.avi";
        if (!target.empty()) {
            testkit::WriteFile(target, data);
            tempPath = target;
            byteCount = 0;
        } else {
            byteCount = std::min(byteCount, data.size());
            std::copy_n(data.begin(), byteCount, buffer);
        }
        return progress(userData, 100, 0) == kCancelCode ? kCancelCode : 0;
    }

    int calls = 0;

  private:
    static constexpr const char* kDocuments =
        "*.pdf|*.doc|*.docx|*.rtf|*.odt|*.ppt|*.pptx|*.odp|*.xls|*.xlsx|*.csv|*.zip|*.7z|*.gz";
    std::filesystem::path previewDir_;
};

FoundItemRecord Row(const std::string& name, bool folder = false) {
    FoundItemRecord record{};
    record.SetName(name);
    record.isFolder = folder ? 1 : 0;
    record.size = std::filesystem::exists(kSamples / name) ? std::filesystem::file_size(kSamples / name) : 0;
    return record;
}

// Processes of this user running the program at `executable`.
int RunningCopiesOf(const QString& executable) {
    int count = 0;
    const std::filesystem::path wanted = std::filesystem::weakly_canonical(executable.toStdString());
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::error_code error;
        auto exe = std::filesystem::read_symlink(entry.path() / "exe", error);
        if (!error && exe == wanted) ++count;
    }
    return count;
}

class PreviewTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testing::Application();
        testing::UseShippedTexts();
        setenv("SORVANE_DATA_DIR", (data_ / "Sorvane").c_str(), 1);
        std::filesystem::create_directories(previewDir_);
        for (const auto& entry : std::filesystem::directory_iterator(kSamples))
            hashes_[entry.path()] = testkit::FileSha256(entry.path());
        window_ = std::make_unique<QWidget>();
        window_->resize(600, 400);
        browser_ = new QTextBrowser(window_.get());
        browser_->resize(560, 360);
        window_->show();
        controller_ =
            std::make_unique<CPreviewController>(browser_, window_.get(), kProgramDir, Q(previewDir_));
        controller_->SetShowInformation([this](const QString& text) { information_.push_back(text); });
    }
    void TearDown() override {
        controller_.reset();
        window_.reset();
        // The samples are the "disk": never written.
        for (const auto& [path, hash] : hashes_) EXPECT_EQ(testkit::FileSha256(path), hash) << path;
        // Nothing beside Sorvane's folder, and no preview file left in the preview
        // folder but the media file a player may still have had, which the
        // program's exit removes. Scan folders below it belong to the scans.
        for (const auto& entry : std::filesystem::recursive_directory_iterator(data_.Path())) {
            if (entry.is_directory()) continue;
            const auto relative = std::filesystem::relative(entry.path(), data_.Path());
            EXPECT_EQ(*relative.begin(), "Sorvane") << relative;
            if (entry.path().parent_path() == previewDir_) {
                EXPECT_EQ(relative.filename(), "tmp.avi") << "left behind: " << relative;
            }
        }
        unsetenv("SORVANE_DATA_DIR");
    }
    bool Have(const std::string& name) { return std::filesystem::exists(kSamples / name); }
    QString Show(const std::string& name) {
        controller_->Preview(Row(name), &engine_);
        return controller_->Pane().PlainText();
    }
    QString Text(const char* id) { return LanguageService::Instance().Message(QString::fromLatin1(id)); }
    bool WaitFor(const std::function<bool()>& condition, int ms) {
        QElapsedTimer clock;
        clock.start();
        while (!condition() && clock.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 50);
        return condition();
    }

    testkit::TempDir data_;
    std::filesystem::path previewDir_ = data_ / "Sorvane" / "ScanLog";
    std::map<std::filesystem::path, std::string> hashes_;
    std::unique_ptr<QWidget> window_;
    QTextBrowser* browser_ = nullptr;
    SampleEngine engine_{previewDir_};
    std::unique_ptr<CPreviewController> controller_;
    std::vector<QString> information_;
};

#define NEED(name) \
    if (!Have(name)) GTEST_SKIP() << name << " was not made (tool missing)"

TEST_F(PreviewTest, FolderRowShowsItsNoticeAndStartsNoWorker) {
    int runs = 0;
    controller_->SetRunExtraction([&](auto&&...) { return ++runs, 1; });
    controller_->Preview(Row("Holiday", true), &engine_);
    EXPECT_EQ(runs, 0);
    EXPECT_EQ(engine_.calls, 0);
    EXPECT_EQ(controller_->Pane().PlainText().trimmed(), Text("MSG0904"));
}

TEST_F(PreviewTest, PicturesShowInlineOrFallBackToTheUnreadableText) {
    NEED("photo.jpg");
    EXPECT_FALSE(Show("photo.jpg").contains(Text("MSG0905")));
    EXPECT_EQ(controller_->Pane().PictureCount(), 1);
    EXPECT_FALSE(std::filesystem::exists(previewDir_ / "tmp.jpg"));  // the holder deleted it
    for (const char* unreadable : {"tiny.png", "notapicture.jpg"}) {
        SCOPED_TRACE(unreadable);
        if (!Have(unreadable)) continue;
        EXPECT_EQ(Show(unreadable).trimmed(), Text("MSG0905"));
        EXPECT_EQ(controller_->Pane().PictureCount(), 0);
    }
}

TEST_F(PreviewTest, TruncatedJpegShowsWithTheDamagedNote) {
    NEED("truncated.jpg");
    QString text = Show("truncated.jpg");
    EXPECT_TRUE(text.contains(Text("MSG0906")));
    EXPECT_EQ(controller_->Pane().PictureCount(), 1);
    // A whole picture carries no such note.
    EXPECT_FALSE(Show("photo.jpg").contains(Text("MSG0906")));
}

TEST_F(PreviewTest, DocumentsShowTheirText) {
    const std::vector<std::pair<std::string, QString>> expected = {
        {"letter.docx", QStringLiteral("paragraph 1 of the preview letter")},
        {"letter.odt", QStringLiteral("paragraph 1 of the preview letter")},
        {"letter.doc", QStringLiteral("paragraph 1 of the preview letter")},
        {"sheet.xlsx", QStringLiteral("R10C10")},
        {"sheet.xls", QStringLiteral("R10C10")},
        {"sheet.csv", QStringLiteral("R10C10")},
        {"deck.pptx", QStringLiteral("Slide number 20")},
        {"deck.ppt", QStringLiteral("Slide number 20")},
        {"bundle.zip", QStringLiteral("inner/notes.txt")},
        {"bundle.7z", QStringLiteral("inner/notes.txt")},
        {"bundle.tar.gz", QStringLiteral("inner/notes.txt")},
    };
    for (const auto& [sample, needle] : expected) {
        SCOPED_TRACE(sample);
        if (!Have(sample)) continue;
        QString text = Show(sample);
        EXPECT_TRUE(text.contains(needle)) << text.left(200).toStdString();
        EXPECT_FALSE(text.contains(QStringLiteral("R11C1")));
        EXPECT_FALSE(text.contains(QStringLiteral("Slide number 21")));
        EXPECT_FALSE(std::filesystem::exists(previewDir_ / sample));
    }
}

TEST_F(PreviewTest, PdfShowsItsFirstPageAsAPicture) {
    NEED("pages.pdf");
    Show("pages.pdf");
    EXPECT_EQ(controller_->Pane().PictureCount(), 1);
    EXPECT_FALSE(std::filesystem::exists(previewDir_ / "tmp.jpg"));
    EXPECT_FALSE(std::filesystem::exists(previewDir_ / "pages.pdf"));
}

TEST_F(PreviewTest, FilesTheHelpersCannotReadShowTheirFirstBytes) {
    NEED("truncated.pdf");
    QString pdf = Show("truncated.pdf");
    EXPECT_EQ(controller_->Pane().PictureCount(), 0);
    EXPECT_TRUE(pdf.startsWith(QStringLiteral("%PDF")));
    EXPECT_LE(pdf.size(), 8192 + 16);
    if (Have("cut.zip")) {
        // Not a listing: the raw bytes, starting with the zip signature.
        QString zip = Show("cut.zip");
        EXPECT_TRUE(zip.startsWith(QStringLiteral("PK")));
        EXPECT_FALSE(zip.contains(QString(19, QLatin1Char('-'))));
    }
}

TEST_F(PreviewTest, MissingHelperIsNamedAndTheFileStillShows) {
    NEED("bundle.zip");
    testkit::TempDir empty;
    controller_ =
        std::make_unique<CPreviewController>(browser_, window_.get(), Q(empty.Path()), Q(previewDir_));
    QString text = Show("bundle.zip");
    QString note = Text("MSG0907");
    note.replace(QLatin1String("%s"), QStringLiteral("Extract"));
    EXPECT_TRUE(text.startsWith(note)) << text.left(120).toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("PK")));
    // Pictures need no helper.
    Show("photo.jpg");
    EXPECT_EQ(controller_->Pane().PictureCount(), 1);
}

TEST_F(PreviewTest, VideoPlayerSilentPastItsDeadlineIsEndedAndTheFileSaidNotToPlay) {
    NEED("clip.avi");
    // A player stalled in its media framework: it runs and never reports.
    testkit::TempDir programs;
    const std::filesystem::path player = programs.Path() / "Player";
    std::ofstream(player) << "#!/bin/sh\nexec sleep 60\n";
    std::filesystem::permissions(player, std::filesystem::perms::owner_all);
    controller_ =
        std::make_unique<CPreviewController>(browser_, window_.get(), Q(programs.Path()), Q(previewDir_));
    controller_->SetShowInformation([this](const QString& text) { information_.push_back(text); });
    controller_->SetVideoStartDeadline(300);
    Show("clip.avi");
    ASSERT_NE(controller_->VideoPlayer(), nullptr);
    QProcess* stalled = controller_->VideoPlayer();
    ASSERT_TRUE(WaitFor([&] { return !information_.empty(); }, 10000));
    EXPECT_EQ(information_, std::vector<QString>{Text("MSG1207")});
    EXPECT_EQ(stalled->state(), QProcess::NotRunning);
    EXPECT_FALSE(controller_->VideoPlaying());
}

TEST_F(PreviewTest, UnknownFileShowsItsBytesWrappedEvery1024) {
    NEED("unknown.xyz");
    QString text = Show("unknown.xyz");
    EXPECT_TRUE(text.startsWith(QStringLiteral("A.Babcd")));
    QStringList lines = text.split(QLatin1Char('\n'));
    ASSERT_GE(lines.size(), 3);
    EXPECT_EQ(lines[0].size(), 1024);
    EXPECT_EQ(lines[1].size(), 1024);
    EXPECT_EQ(lines[2].size(), 2103 - 2048);
}

TEST(RawByteText, MapsEveryByteAndEndsWithALineBreak) {
    const unsigned char bytes[] = {0x00, 'a', 0xE9, 0x0A};
    EXPECT_EQ(RawByteText(bytes, 4), QString::fromUtf8("\x2E"
                                                       "a\xC3\xA9\n"));
    EXPECT_EQ(RawByteText(bytes, 0), QStringLiteral("\n"));
    std::vector<unsigned char> block(2048, 'x');
    QString text = RawByteText(block.data(), block.size());
    EXPECT_EQ(text.count(QLatin1Char('\n')), 2);
    EXPECT_TRUE(text.endsWith(QLatin1Char('\n')));
}

TEST_F(PreviewTest, CancelledExtractionShowsNothing) {
    NEED("photo.jpg");
    // The extraction runs and is cancelled at its first progress report, as the
    // progress window's cancel does; the window then closes with 2.
    int extraction = 0;
    controller_->SetRunExtraction([&](IFileRecoveryParse& engine, const FoundItemRecord& record,
                                      CPreviewWnd& holder, const PreviewExtractionEnv& env) {
        extraction = RunPreviewExtraction(
            engine, record, holder, env, [](void*, int, int) { return kCancelCode; }, nullptr);
        return extraction == kCancelCode ? 2 : 1;
    });
    EXPECT_TRUE(Show("photo.jpg").trimmed().isEmpty());
    EXPECT_EQ(extraction, kCancelCode);
    EXPECT_EQ(controller_->Pane().PictureCount(), 0);
    EXPECT_FALSE(std::filesystem::exists(previewDir_ / "tmp.jpg"));
}

TEST_F(PreviewTest, ProgressWindowReportsThroughTheEngineAndClosesWithOne) {
    NEED("unknown.xyz");
    // The default extraction: the real progress window, run modally.
    QString text = Show("unknown.xyz");
    EXPECT_EQ(engine_.calls, 1);
    EXPECT_TRUE(text.startsWith(QStringLiteral("A.B")));
}

// Media players run as separate programs; these tests start the real ones.
class PlayerTest : public PreviewTest {
  protected:
    void SetUp() override {
        PreviewTest::SetUp();
        if (!QFileInfo(kProgramDir + QStringLiteral("/Player")).isExecutable())
            GTEST_SKIP() << "no media players";
    }
};

TEST_F(PlayerTest, VideoPlaysAndANewPreviewEndsThePlayer) {
    NEED("clip.avi");
    Show("clip.avi");
    ASSERT_NE(controller_->VideoPlayer(), nullptr);
    ASSERT_TRUE(WaitFor([&] { return controller_->VideoPlaying(); }, 40000));
    EXPECT_TRUE(information_.empty());
    EXPECT_EQ(RunningCopiesOf(kProgramDir + QStringLiteral("/Player")), 1);
    // Sound next: the video player is ended before the new file is extracted.
    if (Have("tone.wav")) {
        Show("tone.wav");
        EXPECT_EQ(RunningCopiesOf(kProgramDir + QStringLiteral("/Player")), 0);
        EXPECT_TRUE(
            WaitFor([&] { return RunningCopiesOf(kProgramDir + QStringLiteral("/Player1")) == 1; }, 5000));
    }
    controller_->EndPlayers();
    EXPECT_TRUE(WaitFor(
        [&] {
            return RunningCopiesOf(kProgramDir + QStringLiteral("/Player")) == 0 &&
                   RunningCopiesOf(kProgramDir + QStringLiteral("/Player1")) == 0;
        },
        5000));
}

TEST_F(PlayerTest, VideoThatDoesNotPlayShowsTheInformationBox) {
    NEED("broken.avi");
    Show("broken.avi");
    ASSERT_TRUE(WaitFor([&] { return !information_.empty(); }, 40000));
    EXPECT_EQ(information_.front(), Text("MSG1207"));
    EXPECT_FALSE(controller_->VideoPlaying());
}

// The whole road on a real file system: sample files copied onto a FAT volume
// with mtools and deleted, found by the quick FAT scan, and previewed from the
// image. The image never changes and nothing lands outside the preview folder.
TEST_F(PreviewTest, DeletedFilesOfARealVolumeShowFromTheImage) {
    for (const char* tool : {"mkfs.fat", "mcopy", "mdel"})
        if (!testkit::HaveProgram(tool)) GTEST_SKIP() << tool << " missing";
    NEED("photo.jpg");
    NEED("letter.docx");
    NEED("bundle.zip");
    NEED("pages.pdf");
    testkit::TempDir work;
    const std::filesystem::path image = work / "card.img";
    const std::string img = testkit::ShellQuote(image.string());
    ASSERT_EQ(testkit::RunCommand("mkfs.fat -C -F 16 -n CARD " + img + " 16384 >/dev/null"), 0);
    const std::vector<const char*> names = {"photo.jpg", "letter.docx", "bundle.zip", "pages.pdf",
                                            "unknown.xyz"};
    // All are written before any is deleted, so no copy takes a deleted one's entry.
    for (const char* name : names)
        ASSERT_EQ(testkit::RunCommand("MTOOLS_SKIP_CHECK=1 mcopy -i " + img + " " +
                                      testkit::ShellQuote((kSamples / name).string()) + " ::/" + name),
                  0);
    for (const char* name : names)
        ASSERT_EQ(testkit::RunCommand(std::string("MTOOLS_SKIP_CHECK=1 mdel -i ") + img + " ::/" + name), 0);
    const std::string before = testkit::FileSha256(image);
    CFastFatRecovery engine;
    ASSERT_EQ(OpenOnImage(engine, image, 7), 0);
    ASSERT_EQ(engine.Scan(nullptr), 0);
    FoundItemList found;
    ASSERT_EQ(engine.FindByExtension(AllCategoriesPattern() + "|.other", found), 1);
    // A deleted entry has lost the first letter of its name; the size tells the files apart.
    auto row = [&](const char* name) -> const FoundItemRecord* {
        for (const auto& r : found)
            if (r.size == std::filesystem::file_size(kSamples / name)) return &r;
        std::string names;
        for (const auto& r : found) names += " [" + r.Name() + "]";
        ADD_FAILURE() << name << " not found among" << names;
        return nullptr;
    };

    const FoundItemRecord* photo = row("photo.jpg");
    ASSERT_NE(photo, nullptr);
    controller_->Preview(*photo, &engine);
    EXPECT_EQ(controller_->Pane().PictureCount(), 1);
    EXPECT_FALSE(controller_->Pane().PlainText().contains(Text("MSG0906")));

    controller_->Preview(*row("letter.docx"), &engine);
    EXPECT_TRUE(
        controller_->Pane().PlainText().contains(QStringLiteral("paragraph 1 of the preview letter")));
    controller_->Preview(*row("bundle.zip"), &engine);
    EXPECT_TRUE(controller_->Pane().PlainText().contains(QStringLiteral("inner/notes.txt")));
    controller_->Preview(*row("pages.pdf"), &engine);
    EXPECT_EQ(controller_->Pane().PictureCount(), 1);
    controller_->Preview(*row("unknown.xyz"), &engine);
    EXPECT_TRUE(controller_->Pane().PlainText().startsWith(QStringLiteral("A.Babcd")));

    EXPECT_EQ(testkit::FileSha256(image), before) << "the previewed image must never change";
}

// An installed copy: `cmake --install` to a fresh prefix puts the helpers in
// PREFIX/libexec/sorvane (not on PATH), and the installed program finds them
// from its own folder and previews a PDF page, an archive listing and a video.
TEST_F(PreviewTest, AnInstalledCopyFindsItsHelpersAndPreviews) {
    const QString cmake = FindSystemProgram(QStringLiteral("cmake"));
    if (cmake.isEmpty()) GTEST_SKIP() << "cmake missing";
    NEED("pages.pdf");
    NEED("bundle.zip");
    testkit::TempDir prefix;
    const HelperResult install = RunHelper(cmake,
                                           {QStringLiteral("--install"), QStringLiteral(SORVANE_BINARY_DIR),
                                            QStringLiteral("--prefix"), Q(prefix.Path())},
                                           300000);
    ASSERT_TRUE(install.Succeeded()) << install.output.toStdString();
    const auto bin = prefix / "bin";
    const auto helpers = prefix / "libexec" / "sorvane";
    ASSERT_TRUE(std::filesystem::exists(bin / "sorvane-gui"));
    for (const char* helper : {"tool", "Extract", "Player", "Player1"}) {
        EXPECT_FALSE(std::filesystem::exists(bin / helper)) << helper << " would be on everyone's PATH";
        if (std::filesystem::exists(std::filesystem::path(SORVANE_BINARY_DIR) / "app" / helper)) {
            EXPECT_TRUE(std::filesystem::exists(helpers / helper)) << helper << " was not installed";
        }
    }
    ASSERT_EQ(HelperProgramDir(bin), helpers);
    controller_ = std::make_unique<CPreviewController>(browser_, window_.get(), Q(HelperProgramDir(bin)),
                                                       Q(previewDir_));
    controller_->SetShowInformation([this](const QString& text) { information_.push_back(text); });
    Show("pages.pdf");
    EXPECT_EQ(controller_->Pane().PictureCount(), 1) << "the first page of the PDF";
    EXPECT_TRUE(Show("bundle.zip").contains(QStringLiteral("inner/notes.txt")));
    if (Have("clip.avi") && std::filesystem::exists(helpers / "Player")) {
        Show("clip.avi");
        ASSERT_NE(controller_->VideoPlayer(), nullptr);
        EXPECT_TRUE(WaitFor([&] { return controller_->VideoPlaying(); }, 40000))
            << "the installed player plays";
        EXPECT_EQ(RunningCopiesOf(Q(helpers / "Player")), 1);
        controller_->EndPlayers();
    }
    EXPECT_TRUE(information_.empty());
}

}  // namespace
}  // namespace sorvane::app
