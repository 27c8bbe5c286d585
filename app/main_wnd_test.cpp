// The main window as the user meets it: its pages, the step options and
// buttons that move between them, the categories that enable Start, the
// caption band and borders, and the shadow that follows it.
#include "app/main_wnd.h"

#include <gtest/gtest.h>

#include <QMenu>
#include <QTest>
#include <cstdlib>
#include <map>
#include <set>

#include "app/gui_test_support.h"
#include "app/user_settings.h"
#include "app/wnd_shadow.h"
#include "tests/testkit/testkit.h"

namespace sorvane::app {
namespace {

class MainWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testing::Application();
        testing::UseShippedTexts();
        window_ = std::make_unique<CMainWnd>();
        ASSERT_TRUE(window_->Create()) << window_->LayoutError().toStdString();
        window_->show();
        QApplication::processEvents();
    }
    skin::Control* Get(const char* name) {
        skin::Control* control = window_->FindControl(QString::fromLatin1(name));
        EXPECT_NE(control, nullptr) << name;
        return control;
    }
    void Click(const char* name) {
        skin::Control* control = Get(name);
        QTest::mouseClick(control, Qt::LeftButton, {}, control->rect().center());
        QApplication::processEvents();
    }
    std::unique_ptr<CMainWnd> window_;
};

TEST_F(MainWindowTest, StartsOnTheHomePageWithItsTexts) {
    EXPECT_EQ(window_->CurrentPage(), CMainWnd::kHomePage);
    EXPECT_EQ(window_->windowTitle(), QStringLiteral("Sorvane"));
    EXPECT_EQ(window_->size(), QSize(1000, 650));
    EXPECT_FALSE(Get("SubBar1")->isHidden());
    EXPECT_TRUE(Get("SubBar2")->isHidden());
    EXPECT_EQ(Get("LblProductName")->Text(), LanguageService::Instance().Message(QStringLiteral("MSG1209")));
    EXPECT_EQ(Get("PhotoDes")->Text(), LanguageService::Instance().Message(QStringLiteral("MSG1213")));
    EXPECT_EQ(Get("Label7")->Text(), LanguageService::Instance().Message(QStringLiteral("MSG0211")));
    EXPECT_TRUE(Get("BtnStart")->IsEnabled());
}

TEST_F(MainWindowTest, ButtonsAndStepOptionsMoveBetweenThePages) {
    Click("BtnStart");
    EXPECT_EQ(window_->CurrentPage(), CMainWnd::kDiskPage);
    EXPECT_FALSE(Get("SubBar2")->isHidden());
    EXPECT_EQ(Get("ToolBar2")->BkImage(), QStringLiteral("file='banner_bg.png' corner='0,0,0,70'"));
    EXPECT_EQ(Get("ToolBar2Logo")->BkImage(), QStringLiteral("file='scan_files.png' dest='15,5,65,55'"));
    EXPECT_EQ(Get("Txt1")->TextColor(), QColor(0xFF0089BE));
    EXPECT_EQ(Get("Txt1")->Text(), LanguageService::Instance().Message(QStringLiteral("MSG0501")));
    EXPECT_TRUE(dynamic_cast<skin::Option*>(Get("TabScan"))->IsSelected());

    // The results page, reached through its step option once it is open to the user.
    Get("TabRecover")->SetEnabled(true);
    Click("TabRecover");
    EXPECT_EQ(window_->CurrentPage(), CMainWnd::kResultsPage);
    EXPECT_EQ(Get("ToolBar2")->BkImage(), QStringLiteral("file='banner_bg1.png' corner='0,0,0,70'"));
    EXPECT_EQ(Get("Txt1")->TextColor(), QColor(0xFF316D1E));
    EXPECT_EQ(Get("Txt2")->Text(), LanguageService::Instance().Message(QStringLiteral("MSG0851")))
        << "nothing found yet: no \"found 0 files, tick the ones you want\"";
    EXPECT_FALSE(dynamic_cast<skin::Option*>(Get("TabScan"))->IsSelected());
    Click("TabScan");
    EXPECT_EQ(window_->CurrentPage(), CMainWnd::kDiskPage);

    // Back from the disk page is the home page; the file-type page goes on to the results.
    Click("BtnPrev");
    EXPECT_EQ(window_->CurrentPage(), CMainWnd::kHomePage);
    window_->ShowPage(CMainWnd::kFileTypePage);
    EXPECT_EQ(Get("ToolBar2")->BkImage(), QStringLiteral("file='banner_bg2.png' corner='0,0,0,70'"));
    EXPECT_EQ(Get("Txt1")->TextColor(), QColor(0xFFE47100));
    Click("BtnNext");
    EXPECT_EQ(window_->CurrentPage(), CMainWnd::kResultsPage);
    Click("BtnPrev");
    EXPECT_EQ(window_->CurrentPage(), CMainWnd::kDiskPage);
}

TEST_F(MainWindowTest, StartNeedsAtLeastOneCategory) {
    auto* all = dynamic_cast<skin::CheckBox*>(Get("ChkRecoverAll"));
    // Clearing "all" clears every category and its file-type group.
    all->Selected(false);
    EXPECT_FALSE(dynamic_cast<skin::CheckBox*>(Get("ChkPhoto"))->IsSelected());
    EXPECT_FALSE(dynamic_cast<skin::Option*>(Get("OptPhotoFile"))->IsSelected());
    EXPECT_FALSE(dynamic_cast<skin::Option*>(Get("OptJpg"))->IsSelected()) << "the file types follow too";
    EXPECT_FALSE(dynamic_cast<skin::Option*>(Get("OptOtherFileItem"))->IsSelected());
    EXPECT_FALSE(Get("BtnStart")->IsEnabled());
    Click("ChkMusic");
    EXPECT_TRUE(Get("BtnStart")->IsEnabled());
    EXPECT_TRUE(dynamic_cast<skin::Option*>(Get("OptAudioFile"))->IsSelected());
    EXPECT_TRUE(dynamic_cast<skin::Option*>(Get("OptMp3"))->IsSelected());
    EXPECT_FALSE(dynamic_cast<skin::Option*>(Get("OptJpg"))->IsSelected());
    EXPECT_FALSE(all->IsSelected());
    Click("ChkMusic");
    EXPECT_FALSE(Get("BtnStart")->IsEnabled());
}

TEST_F(MainWindowTest, CaptionDragsBordersSizeButtonsClick) {
    using Area = skin::Window::HitArea;
    EXPECT_EQ(window_->HitTest(QPoint(400, 20)), Area::Caption);
    EXPECT_EQ(window_->HitTest(QPoint(400, 70)), Area::Caption);
    EXPECT_EQ(window_->HitTest(QPoint(400, 200)), Area::Client);
    skin::Control* close = Get("closebtn");
    EXPECT_EQ(window_->HitTest(close->mapTo(window_.get(), close->rect().center())), Area::Client);
    EXPECT_EQ(window_->HitTest(QPoint(1, 300)), Area::Left);
    EXPECT_EQ(window_->HitTest(QPoint(999, 649)), Area::BottomRight);
    EXPECT_EQ(window_->HitTest(QPoint(500, 1)), Area::Top);
}

TEST_F(MainWindowTest, ShadowFollowsTheWindow) {
    CWndShadow shadow;
    shadow.SetSize(4);
    shadow.Create(window_.get());
    QApplication::processEvents();
    EXPECT_TRUE(shadow.isVisible());
    EXPECT_EQ(shadow.geometry(), window_->frameGeometry().adjusted(-4, -4, 4, 4));
    window_->move(window_->pos() + QPoint(30, 20));
    QApplication::processEvents();
    EXPECT_EQ(shadow.geometry(), window_->frameGeometry().adjusted(-4, -4, 4, 4));
    shadow.SetPosition(2, 3);
    EXPECT_EQ(shadow.geometry(), window_->frameGeometry().translated(2, 3).adjusted(-4, -4, 4, 4));
    window_->hide();
    QApplication::processEvents();
    EXPECT_FALSE(shadow.isVisible());
}

}  // namespace
}  // namespace sorvane::app

namespace sorvane::app {
namespace {

TEST_F(MainWindowTest, TheFileTypeStepIsReachableAndLeadsBack) {
    Click("BtnStart");
    Click("TabFileType");
    EXPECT_EQ(window_->CurrentPage(), CMainWnd::kFileTypePage);
    EXPECT_TRUE(dynamic_cast<skin::Option*>(Get("TabFileType"))->IsSelected());
    EXPECT_FALSE(dynamic_cast<skin::Option*>(Get("TabScan"))->IsSelected());
    EXPECT_EQ(Get("Txt1")->Text(), LanguageService::Instance().Message(QStringLiteral("MSG0601")));
    EXPECT_FALSE(Get("BtnScan")->isHidden()) << "a scan can start from here too";
    Click("TabScan");
    EXPECT_EQ(window_->CurrentPage(), CMainWnd::kDiskPage);
}

TEST_F(MainWindowTest, AssistMenuOffersOnlyWhatLeadsSomewhere) {
    // The shipped config.ini has no web links: questions and support are not offered.
    window_->PrepareAssistMenu();
    std::unique_ptr<QMenu> menu = window_->AssistMenu().Build(window_.get());
    ASSERT_NE(menu, nullptr);
    QStringList names;
    for (QAction* action : menu->actions()) names << action->objectName();
    EXPECT_FALSE(names.contains(QStringLiteral("item_faq")));
    EXPECT_FALSE(names.contains(QStringLiteral("item_support")));
    EXPECT_TRUE(names.contains(QStringLiteral("item_about")));
    EXPECT_TRUE(names.contains(QStringLiteral("item_exit")));
    // Help opens the guide that ships beside the program.
    EXPECT_EQ(names.contains(QStringLiteral("item_help")), !CMainWnd::UserGuidePath().isEmpty());
    const QString about = window_->AboutText();
    EXPECT_TRUE(about.contains(QStringLiteral(SORVANE_VERSION)));
    EXPECT_TRUE(about.contains(u"GPL-3.0-or-later"_qs));
    EXPECT_FALSE(window_->windowIcon().isNull());
}

}  // namespace
}  // namespace sorvane::app

namespace sorvane::app {
namespace {

QString Msg(const char* id) { return LanguageService::Instance().Message(QString::fromLatin1(id)); }

// The mode chosen on the home page is named where the scan starts, so a
// person can tell a quick scan from a deep one before pressing the button.
TEST_F(MainWindowTest, TheDiskPageNamesTheChosenScanMode) {
    Click("BtnDeletedRecovery");
    ASSERT_EQ(window_->CurrentPage(), CMainWnd::kDiskPage);
    EXPECT_EQ(Get("BtnScan")->Text(), Msg("MSG0520"));
    EXPECT_EQ(Get("Txt2")->Text(), Msg("MSG0522"));
    window_->ShowPage(CMainWnd::kFileTypePage);
    EXPECT_EQ(Get("BtnScan")->Text(), Msg("MSG0520")) << "the file-type page starts the same scan";
    Click("BtnPrev");
    Click("BtnPrev");
    ASSERT_EQ(window_->CurrentPage(), CMainWnd::kHomePage);
    Click("BtnStart");
    EXPECT_EQ(Get("BtnScan")->Text(), Msg("MSG0521"));
    EXPECT_EQ(Get("Txt2")->Text(), Msg("MSG0523"));
    EXPECT_NE(Msg("MSG0520"), Msg("MSG0521"));
}

// The language menu changes this person's language only: the choice lands in
// their settings, the config.ini beside the program stays as shipped.
TEST_F(MainWindowTest, TheLanguageChoiceLandsInTheUsersSettingsNotBesideTheProgram) {
    testkit::TempDir program, user;
    std::filesystem::copy(testing::ShippedData(), program.Path(), std::filesystem::copy_options::recursive);
    const auto config = program / "config.ini";
    const std::string shipped = testkit::FileSha256(config);
    const auto settings = user / "Sorvane" / "sorvane.ini";
    LanguageService::ReloadInstance(program.Path(), settings);
    window_->OnMenuChoice(QStringLiteral("language:Deutsch"));
    QApplication::processEvents();
    EXPECT_EQ(UserSettings(settings).Language(), QStringLiteral("Deutsch"));
    EXPECT_EQ(testkit::FileSha256(config), shipped) << "config.ini beside the program is never written";
    // The window speaks German at once, and the next start does too.
    Click("BtnStart");
    EXPECT_EQ(Get("BtnScan")->Text(), QStringLiteral("Tiefensuche starten"));
    EXPECT_EQ(LanguageService(program.Path(), settings).CurrentLanguage(), QStringLiteral("Deutsch"));
    EXPECT_EQ(LanguageService(program.Path()).CurrentLanguage(), QStringLiteral("English"))
        << "another person still gets the shipped default";
    testing::UseShippedTexts();
    InstallDialogTranslations();
}

}  // namespace
}  // namespace sorvane::app
