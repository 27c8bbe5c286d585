// Copying a stick into an image file from the window: the image holds exactly
// the stick's bytes, the stick is only read, a destination on the stick
// itself is refused and asked for again, and the new image is then scanned.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include "app/create_image_process_wnd.h"
#include "app/fake_sysfs_test_support.h"
#include "app/gui_test_support.h"
#include "app/list_ex.h"
#include "app/main_wnd.h"
#include "app/message_box.h"
#include "results/scan_resume_store.h"
#include "results/size_text.h"
#include "tests/testkit/test_images.h"

namespace sorvane::app {
namespace {

using testkit::TempDir;

class CreateImageTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testing::Application();
        testing::UseShippedTexts();
        setenv("SORVANE_DATA_DIR", (data_ / "data").c_str(), 1);
        CScanResumeStore::ResetInstanceForTests();
        CMessageBox::SetAnswerHook([this](int, const QString& text) {
            shown_.push_back(text);
            return 1;
        });
        machine_ = std::make_unique<testing::FakeSysfs>();
    }
    void TearDown() override {
        window_.reset();
        machine_.reset();
        CMessageBox::SetAnswerHook(nullptr);
        CScanResumeStore::ResetInstanceForTests();
        unsetenv("SORVANE_DATA_DIR");
    }
    void OpenWindow() {
        window_ = std::make_unique<CMainWnd>();
        ASSERT_TRUE(window_->Create());
        window_->show();
        // Never a real dialog: a test that reaches one without an answer gives up.
        window_->SetSaveChooser([](const QString&) { return QString(); });
        QApplication::processEvents();
    }
    void Click(const char* name) {
        skin::Control* control = window_->FindControl(QString::fromLatin1(name));
        ASSERT_NE(control, nullptr) << name;
        QTest::mouseClick(control, Qt::LeftButton, {}, control->rect().center());
    }
    QString Message(const char* id) { return LanguageService::Instance().Message(QString::fromLatin1(id)); }
    bool Shown(const char* id) { return std::count(shown_.begin(), shown_.end(), Message(id)) > 0; }

    TempDir data_;
    TempDir out_;
    std::unique_ptr<testing::FakeSysfs> machine_;
    std::unique_ptr<CMainWnd> window_;
    std::vector<QString> shown_;
};

TEST_F(CreateImageTest, AWholeStickIsCopiedExactlyAndThenScanned) {
    ASSERT_TRUE(machine_->AddStick("sdb", "8:16"));
    const std::string stick = testkit::FileSha256(machine_->Node("sdb"));
    OpenWindow();
    Click("BtnCreateImageMode");
    EXPECT_TRUE(window_->InImageMode());
    EXPECT_FALSE(window_->FindControl(QStringLiteral("BtnCreateImage"))->isHidden());
    EXPECT_TRUE(window_->FindControl(QStringLiteral("BtnScan"))->isHidden());
    window_->SelectDiskRow(0);  // the disk row: the whole stick
    QString proposed;
    window_->SetSaveChooser([&](const QString& name) {
        proposed = name;
        return QString::fromStdString((out_ / "card").string());
    });
    Click("BtnCreateImage");
    EXPECT_EQ(proposed, u"Physical Disk 1.img");
    const auto image = out_ / "card.img";
    ASSERT_TRUE(std::filesystem::exists(image)) << "the .img extension is added";
    EXPECT_EQ(testkit::FileSha256(image), stick) << "a raw copy, sector for sector";
    EXPECT_EQ(testkit::FileSha256(machine_->Node("sdb")), stick) << "the stick is only read";
    EXPECT_TRUE(Shown("MSG0214"));
    // "Yes" to scanning it: the image is listed and scanned deeply.
    QElapsedTimer clock;
    clock.start();
    while (window_->CurrentPage() != CMainWnd::kResultsPage && clock.elapsed() < 60000 &&
           !std::count(shown_.begin(), shown_.end(), Message("MSG0504")))
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_FALSE(window_->InImageMode());
    EXPECT_EQ(window_->ScanMode(), 1);
    auto targets = window_->Targets();
    ASSERT_EQ(targets.size(), 2u);
    EXPECT_EQ(targets[1]->imagePath, image);
    EXPECT_NE(targets[1]->engine, nullptr) << "the new image was scanned";
}

TEST_F(CreateImageTest, TheEntryOfAStickWithoutPartitionTableIsCopiedWithItsOwnLength) {
    ASSERT_TRUE(machine_->AddStick("sdb", "8:16"));
    OpenWindow();
    Click("BtnCreateImageMode");
    window_->SelectDiskRow(1);  // the row below the disk: its one volume fills it
    QString proposed;
    window_->SetSaveChooser([&](const QString& name) {
        proposed = name;
        return QString::fromStdString((out_ / "part.img").string());
    });
    Click("BtnCreateImage");
    EXPECT_EQ(proposed, u"Physical Disk 1 (8.00 MB).img");
    EXPECT_EQ(std::filesystem::file_size(out_ / "part.img"), window_->Targets()[0]->partition->length * 512);
}

TEST_F(CreateImageTest, NothingChosenOrADestinationOnTheStickIsRefused) {
    // The stick claims the device number of the folder the image would go to.
    struct stat folder {};
    ASSERT_EQ(::stat(out_.Path().c_str(), &folder), 0);
    const std::string dev = std::to_string(major(folder.st_dev)) + ":" + std::to_string(minor(folder.st_dev));
    ASSERT_TRUE(machine_->AddStick("sdb", dev));
    OpenWindow();
    Click("BtnCreateImageMode");
    // An image file is chosen: it is not a disk to copy.
    const auto other = out_ / "other.img";
    testkit::WriteFile(other, std::vector<uint8_t>(4096, 0));
    ASSERT_TRUE(window_->OpenImageFile(other));
    Click("BtnCreateImage");
    EXPECT_TRUE(Shown("MSG0216")) << "no disk or partition chosen";

    window_->SelectDiskRow(0);
    int asked = 0;
    window_->SetSaveChooser([&](const QString&) {
        // First a folder on the stick itself, then giving up.
        return ++asked == 1 ? QString::fromStdString((out_ / "self.img").string()) : QString();
    });
    Click("BtnCreateImage");
    EXPECT_TRUE(Shown("MSG0218"));
    EXPECT_EQ(asked, 2) << "the dialog comes back after a refusal";
    EXPECT_FALSE(std::filesystem::exists(out_ / "self.img"));
    EXPECT_FALSE(Shown("MSG0214"));
}

TEST_F(CreateImageTest, UnreadableSectorsBecomeZerosListedBesideTheImageAndCounted) {
    ASSERT_TRUE(machine_->AddStick("sdb", "8:16"));
    const auto node = machine_->Node("sdb");
    testkit::ScopedFaults faults;
    faults.Error(node, 100, 101);
    OpenWindow();
    CMessageBox::SetAnswerHook([this](int, const QString& text) {
        shown_.push_back(text);
        return 2;  // not scanned now
    });
    Click("BtnCreateImageMode");
    window_->SelectDiskRow(0);
    window_->SetSaveChooser(
        [this](const QString&) { return QString::fromStdString((out_ / "card.img").string()); });
    Click("BtnCreateImage");
    // Past the two bad sectors, as the command line's --keep-going: zeros there, the rest exact.
    const auto image = testkit::ReadFile(out_ / "card.img");
    const auto stick = testkit::ReadFile(node);
    ASSERT_EQ(image.size(), stick.size());
    for (size_t at = 0; at < image.size(); ++at) {
        const bool bad = at >= 100 * 512 && at < 102 * 512;
        if (image[at] != (bad ? 0 : stick[at])) {
            ADD_FAILURE() << "byte " << at << (bad ? " of a bad sector is not zero" : " differs");
            break;
        }
    }
    const auto map = testkit::ReadFile(out_ / "card.img.bad-sectors.txt");
    EXPECT_NE(std::string(map.begin(), map.end()).find("100 2"), std::string::npos)
        << "the list beside the image";
    EXPECT_FALSE(Shown("MSG0217"));
    EXPECT_FALSE(Shown("MSG0214"));
    const QString asked = Message("MSG2112")
                              .replace(QStringLiteral("%d"), QStringLiteral("2"))
                              .replace(QStringLiteral("%s"),
                                       QString::fromStdString((out_ / "card.img.bad-sectors.txt").string()));
    EXPECT_TRUE(std::count(shown_.begin(), shown_.end(), asked)) << "the count in the finished question";
}

// A copy stopped halfway keeps what it copied, and the window says how much of
// the drive the file holds instead of offering to scan an image that is not whole.
TEST_F(CreateImageTest, AStoppedCopyIsKeptAndSaysHowMuchOfTheDriveItHolds) {
    constexpr uint64_t kStickMegabytes = 1024;  // sparse: long enough to stop, quick to make
    ASSERT_TRUE(machine_->AddStick("sdb", "8:16", kStickMegabytes));
    OpenWindow();
    const auto image = out_ / "card.img";
    // Stop once the copy has written something: yes to the stop question.
    QTimer stopper;
    bool clicked = false;
    QObject::connect(&stopper, &QTimer::timeout, [&] {
        std::error_code ec;
        if (clicked || std::filesystem::file_size(image, ec) == 0 || ec) return;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* copying = dynamic_cast<CCreateImageProcessWnd*>(w);
            if (!copying || !copying->isVisible()) continue;
            skin::Control* cancel = copying->FindControl(QStringLiteral("cancelbtn"));
            if (!cancel) continue;
            clicked = true;
            QTest::mouseClick(cancel, Qt::LeftButton, {}, cancel->rect().center());
        }
    });
    stopper.start(1);
    Click("BtnCreateImageMode");
    window_->SelectDiskRow(0);
    window_->SetSaveChooser([&image](const QString&) { return QString::fromStdString(image.string()); });
    Click("BtnCreateImage");
    stopper.stop();
    ASSERT_TRUE(clicked) << "the copy ended before it could be stopped";
    EXPECT_TRUE(Shown("MSG0306")) << "asked before stopping";

    const uint64_t kept = std::filesystem::file_size(image);
    EXPECT_GT(kept, 0u);
    EXPECT_LT(kept, kStickMegabytes << 20) << "stopped early";
    QString told = Message("MSG2113");
    for (const QString& value :
         {QString::fromStdString(image.string()), QString::fromStdString(FormatSizeText(kept))})
        told.replace(told.indexOf(QStringLiteral("%s")), 2, value);
    EXPECT_TRUE(std::count(shown_.begin(), shown_.end(), told)) << told.toStdString();
    EXPECT_FALSE(Shown("MSG0214")) << "no offer to scan an image that is not whole";
    EXPECT_FALSE(Shown("MSG0217")) << "a stop is no failure";
}

}  // namespace
}  // namespace sorvane::app
