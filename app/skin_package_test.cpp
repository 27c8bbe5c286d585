// The skin package as built into the program: every layout builds, every
// control, style and picture the windows look up by name is there, and the
// language files, not the package, decide the texts shown.
#include "app/skin_framework/skin_package.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QRegularExpression>

#include "app/gui_test_support.h"
#include "app/main_wnd.h"
#include "app/message_box.h"
#include "app/popup_wnd.h"
#include "app/profile_file.h"
#include "app/screenshot.h"
#include "app/skin_framework/list.h"
#include "tests/testkit/testkit.h"

namespace sorvane::app {
namespace {

using skin::SkinPackage;

class SkinPackageTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testing::Application();
        testing::UseShippedTexts();
        ASSERT_TRUE(SkinPackage::Instance().Ok()) << SkinPackage::Instance().Error();
    }
};

// A pop-up over any layout of the package, built but not shown.
class LayoutProbe : public CPopUpWnd {
  public:
    explicit LayoutProbe(const QString& file) : CPopUpWnd(file) {}
};

// The layouts and the names their windows look controls up by.
struct LayoutNames {
    const char* file;
    std::vector<const char*> controls;
};
const std::vector<LayoutNames> kPopUpLayouts = {
    {"ScanProcessWnd.xml", {"stage", "percent", "time", "progress", "sectors", "totalfile", "cancelbtn"}},
    {"SearchProcessWnd.xml", {"stage", "percent", "progress", "cancelbtn"}},
    {"RecoverProcessWnd.xml",
     {"current", "recovered", "percent", "progress", "OpenBtn", "FinishBtn", "CancelBtn", "DetailBtn",
      "DetailList", "File", "Status", "closebtn"}},
    {"PreviewProcessWnd.xml", {"stage", "percent", "progress", "FileName", "cancelbtn"}},
    {"CreateImageProcessWnd.xml", {"stage", "percent", "time", "progress", "sectors", "cancelbtn"}},
    {"MessageBox_Error.xml", {"title", "message", "okbtn"}},
    {"MessageBox_Confirm.xml", {"title", "message", "okbtn", "cancelbtn"}},
    {"MessageBox_Information.xml", {"title", "message", "okbtn"}},
    {"MessageBox_Question.xml", {"title", "message", "okbtn", "cancelbtn"}},
    {"MessageBox_Warning.xml", {"title", "message", "okbtn"}},
};
const std::vector<const char*> kMainWindowControls = {
    // around the pages
    "LblProductName",
    "BtnAssist",
    "minbtn",
    "maxbtn",
    "restorebtn",
    "closebtn",
    "ToolBar1",
    "SubBar1",
    "MainTitle",
    "SubBar2",
    "TabScan",
    "TabRecover",
    "ToolBar2",
    "ToolBar2Logo",
    "Txt1",
    "Txt2",
    "SelectedFileInfo",
    "ToolBar3",
    "BtnPrev",
    "BtnNext",
    "BtnRecover",
    "BtnScan",
    "TabPage",
    // home page
    "ChkRecoverAll",
    "ChkPhoto",
    "ChkMusic",
    "ChkVideo",
    "ChkOffice",
    "ChkArchive",
    "ChkOther",
    "AllTitle",
    "AllDes",
    "PhotoTitle",
    "PhotoDes",
    "MusicTitle",
    "MusicDes",
    "VideoTitle",
    "VideoDes",
    "DocumentTitle",
    "DocumentDes",
    "ArchiveTitle",
    "ArchiveDes",
    "OthersTitle",
    "OthersDes",
    "BtnStart",
    // disk page
    "DiskList",
    "CreateImageDiskList",
    "ListHeaderName",
    "ListHeaderType",
    "ListHeaderSize",
    "Label1",
    "Label2",
    "Label3",
    "Label4",
    "Label5",
    "Label6",
    "Label7",
    "Label8",
    "Label9",
    "Label10",
    // file-type page
    "FileTypePhoto",
    "FileTypeAudio",
    "FileTypeVideo",
    "FileTypeOffice",
    "FileTypeZip",
    "FileTypeOther",
    "OptPhotoFile",
    "OptAudioFile",
    "OptVideoFile",
    "OptOfficeFile",
    "OptZipFile",
    "OptOtherFile",
    "OptOtherFileItem",
    // results page
    "TypeTree",
    "NodePhoto",
    "NodeAudio",
    "NodeVideo",
    "NodeOffice",
    "NodeZip",
    "NodeOther",
    "FileList",
    "ChkAllListSel",
    "CheckAll",
    "FileName",
    "Size",
    "ModifiedTime",
    "CreatedTime",
    "Path",
    "Type",
    "PreviewEdit",
};
const std::vector<const char*> kStyles = {"treenode",         "filetype",     "CheckBoxStyle", "HeaderItem",
                                          "BtnGreen",         "BtnBlue",      "BtnLightBlue",  "OptFileType",
                                          "CheckBoxFileType", "PaginationTag"};
const std::vector<const char*> kPictures = {
    "removable_drive.png", "physical_drive.png",   "drive.png",          "drive_usb.png",
    "image_files.png",     "image_file.png",       "expand_flag.png",    "checkbox.png",
    "list_header_asc.png", "list_header_desc.png", "list_header_bg.png", "list_header_sep.png",
    "banner_bg.png",       "banner_bg1.png",       "banner_bg2.png",     "scan_files.png",
    "advance_scan.png",    "recover_file.png",     "btn_scan.png",       "btn_create_image.png",
    "point.png",           "buttons_green.png",    "buttons_blue.png",   "buttons_light_blue.png",
    "Icon/treeview_a.png", "Icon/treeview_b.png"};
const std::vector<const char*> kFileIcons = {"folder", "exe",   "image", "music",
                                             "doc",    "video", "zip",   "default"};

TEST_F(SkinPackageTest, EveryLayoutOfThePackageBuilds) {
    int layouts = 0;
    for (const QString& name : SkinPackage::Instance().Names()) {
        if (!name.startsWith(u"xml/") || !name.endsWith(u".xml") || name == u"xml/common.xml") continue;
        ++layouts;
        if (name == u"xml/skin.xml") {
            CMainWnd main;
            EXPECT_TRUE(main.Create()) << main.LayoutError().toStdString();
            continue;
        }
        skin::PopupMenu menu;
        if (name == u"xml/menu_assist.xml") {
            EXPECT_TRUE(menu.Load(name)) << menu.Layout().LayoutError().toStdString();
            continue;
        }
        LayoutProbe probe(name.mid(4));
        EXPECT_TRUE(probe.LoadLayout(probe.SkinFile()))
            << name.toStdString() << ": " << probe.LayoutError().toStdString();
    }
    // skin.xml with its four pages, five progress windows, five message boxes, the menu.
    EXPECT_GE(layouts, 12);
}

TEST_F(SkinPackageTest, MainWindowHasItsControlsPagesSizeAndStyles) {
    CMainWnd main;
    ASSERT_TRUE(main.Create()) << main.LayoutError().toStdString();
    for (const char* name : kMainWindowControls)
        EXPECT_NE(main.FindControl(QString::fromLatin1(name)), nullptr) << name;
    EXPECT_EQ(main.InitialSize(), QSize(1000, 650));
    EXPECT_EQ(main.MinimumSize(), QSize(1000, 650));
    EXPECT_EQ(main.CaptionHeight(), 90);
    EXPECT_EQ(main.SizeBox(), 4);
    auto* tabs = main.Find<skin::TabLayout>(QStringLiteral("TabPage"));
    ASSERT_NE(tabs, nullptr);
    EXPECT_EQ(tabs->Count(), 4);
    for (const char* style : kStyles) EXPECT_NE(main.Style(QString::fromLatin1(style)), nullptr) << style;
    // The custom tags are made by the window's factory.
    EXPECT_TRUE(main.FindControl(QStringLiteral("DiskList"))->HasInterface(QStringLiteral("DiskList")));
    EXPECT_TRUE(main.FindControl(QStringLiteral("TypeTree"))->HasInterface(QStringLiteral("FileTree")));
    // Every file-type option says which extensions it stands for.
    auto* other = main.FindControl(QStringLiteral("OptOtherFileItem"));
    EXPECT_EQ(other->UserData(), QStringLiteral("other"));
    for (const char* group :
         {"FileTypePhoto", "FileTypeAudio", "FileTypeVideo", "FileTypeOffice", "FileTypeZip"}) {
        int options = 0;
        for (QWidget* w : main.FindControl(QString::fromLatin1(group))->findChildren<QWidget*>()) {
            auto* option = dynamic_cast<skin::Option*>(w);
            if (!option || option->UserData().isEmpty()) continue;
            ++options;
            EXPECT_TRUE(QRegularExpression(QStringLiteral("^[a-z0-9]+(\\|[a-z0-9]+)*$"))
                            .match(option->UserData())
                            .hasMatch())
                << option->Name().toStdString();
        }
        EXPECT_GT(options, 0) << group;
    }
}

TEST_F(SkinPackageTest, PopUpsHaveTheirControlsSizesAndCaptionBands) {
    for (const LayoutNames& layout : kPopUpLayouts) {
        LayoutProbe probe(QString::fromLatin1(layout.file));
        ASSERT_TRUE(probe.LoadLayout(probe.SkinFile())) << layout.file;
        for (const char* name : layout.controls)
            EXPECT_NE(probe.FindControl(QString::fromLatin1(name)), nullptr) << layout.file << " " << name;
        const bool messageBox = QString::fromLatin1(layout.file).startsWith(u"MessageBox");
        EXPECT_EQ(probe.CaptionHeight(), messageBox ? 36 : 40) << layout.file;
        EXPECT_EQ(probe.SizeBox(), 4) << layout.file;
        EXPECT_FALSE(probe.RoundCorner().isEmpty()) << layout.file;
        if (messageBox) {
            EXPECT_EQ(probe.MinimumSize(), QSize(400, 160)) << layout.file;
        }
    }
    for (const PopUpLayout& layout : kProgressWindows) {
        LayoutProbe probe(QString::fromLatin1(layout.file));
        ASSERT_TRUE(probe.LoadLayout(probe.SkinFile()));
        EXPECT_EQ(probe.InitialSize(), QSize(layout.width, layout.height)) << layout.file;
    }
    // Only the question kinds offer a way to say no.
    LayoutProbe error(QStringLiteral("MessageBox_Error.xml"));
    ASSERT_TRUE(error.LoadLayout(error.SkinFile()));
    EXPECT_EQ(error.FindControl(QStringLiteral("cancelbtn")), nullptr);
}

TEST_F(SkinPackageTest, AssistMenuHasItsEntries) {
    skin::PopupMenu menu;
    ASSERT_TRUE(menu.Load(QStringLiteral("xml/menu_assist.xml")));
    ASSERT_NE(menu.Root(), nullptr);
    EXPECT_EQ(menu.Root()->Name(), QStringLiteral("menu_assist"));
    for (const char* name :
         {"item_help", "item_language", "item_faq", "item_about", "item_support", "item_exit"})
        EXPECT_NE(menu.Layout().FindControl(QString::fromLatin1(name)), nullptr) << name;
}

TEST_F(SkinPackageTest, EveryPictureTheCodeNamesIsInThePackageAndDecodes) {
    std::vector<QString> pictures;
    for (const char* name : kPictures) pictures.push_back(QString::fromLatin1(name));
    for (const char* icon : kFileIcons) {
        pictures.push_back(QStringLiteral("FileIcon/%1.png").arg(QLatin1String(icon)));
        pictures.push_back(QStringLiteral("FileIcon/%1_error.png").arg(QLatin1String(icon)));
    }
    for (const QString& picture : pictures) {
        EXPECT_FALSE(SkinPackage::Instance().Picture(picture).isNull()) << picture.toStdString();
    }
    // The parts the code cuts out of the sprites lie inside them.
    const QPixmap checkbox = SkinPackage::Instance().Picture(QStringLiteral("checkbox.png"));
    EXPECT_TRUE(checkbox.rect().contains(QRect(QPoint(48, 22), QPoint(59, 33))));
    EXPECT_EQ(SkinPackage::Instance().Picture(QStringLiteral("expand_flag.png")).width() % 2, 0);
    EXPECT_TRUE(
        SkinPackage::Instance().Picture(QStringLiteral("point.png")).rect().contains(QRect(0, 0, 16, 16)));
}

TEST_F(SkinPackageTest, EveryPictureALayoutNamesIsInThePackage) {
    static const QRegularExpression file(QStringLiteral(
        R"re((?:file='([^']+)')|(?:(?:image|icon|folderimage|folderexpandedimage|bkimage)="([^"'=]+\.png)"))re"));
    for (const QString& name : SkinPackage::Instance().Names()) {
        if (!name.endsWith(u".xml")) continue;
        const QString text = QString::fromUtf8(SkinPackage::Instance().File(name));
        for (auto it = file.globalMatch(text); it.hasNext();) {
            const auto match = it.next();
            const QString picture = match.captured(1).isEmpty() ? match.captured(2) : match.captured(1);
            EXPECT_TRUE(SkinPackage::Instance().Has(picture))
                << name.toStdString() << " names " << picture.toStdString();
        }
    }
}

// Every control a layout gives a default text to has its text in the window's language section.
TEST_F(SkinPackageTest, LanguageSectionsCoverEveryLayoutText) {
    const std::vector<std::pair<const char*, std::vector<const char*>>> sections = {
        {"MainWnd", {"skin.xml", "ControlPanel.xml", "ScanDisk.xml", "FileType.xml", "RecoverFile.xml"}},
        {"ScanWnd", {"ScanProcessWnd.xml"}},
        {"SearchProcessWnd", {"SearchProcessWnd.xml"}},
        {"RecoverProcessWnd", {"RecoverProcessWnd.xml"}},
        {"PreviewProcessWnd", {"PreviewProcessWnd.xml"}},
        {"CreateImageWnd", {"CreateImageProcessWnd.xml"}},
        {"MessageBox",
         {"MessageBox_Error.xml", "MessageBox_Confirm.xml", "MessageBox_Information.xml",
          "MessageBox_Question.xml", "MessageBox_Warning.xml"}},
        {"MenuWnd", {"menu_assist.xml"}},
    };
    static const QRegularExpression named(
        QStringLiteral(R"re(<\w+\s+name="([^"]+)"[^>]*\btext="([^"]+)")re"));
    for (const char* language : {"English", "Deutsch"}) {
        LanguageService service(testing::ShippedData());
        service.UseLanguageForThisRun(QString::fromLatin1(language));
        for (const auto& [section, files] : sections) {
            auto& texts = service.Section(QString::fromLatin1(section));
            for (const char* file : files) {
                const QString layout = QString::fromUtf8(
                    SkinPackage::Instance().File(QStringLiteral("xml/") + QLatin1String(file)));
                ASSERT_FALSE(layout.isEmpty()) << file;
                for (auto it = named.globalMatch(layout); it.hasNext();) {
                    const QString control = it.next().captured(1);
                    EXPECT_FALSE(texts[control].isEmpty())
                        << language << " [" << section << "] lacks " << control.toStdString();
                }
            }
        }
    }
}

TEST_F(SkinPackageTest, LanguageFileDecidesTheShownTextWithoutTouchingThePackage) {
    const QByteArray before = QCryptographicHash::hash(
        SkinPackage::Instance().File(QStringLiteral("xml/ControlPanel.xml")), QCryptographicHash::Sha256);
    testkit::TempDir copy;
    std::filesystem::copy(testing::ShippedData(), copy.Path(), std::filesystem::copy_options::recursive);
    // Change one control text and one message in the English file.
    ProfileFile english;
    ASSERT_TRUE(english.Load(copy / "Languages" / "English.ini"));
    english.SetString(QStringLiteral("MainWnd"), QStringLiteral("BtnStart"), QStringLiteral("Find my files"));
    english.SetString(QStringLiteral("Messages"), QStringLiteral("MSG1221"), QStringLiteral("Pictures"));
    ASSERT_TRUE(english.Save(copy / "Languages" / "English.ini"));
    testkit::TempDir user;
    LanguageService::ReloadInstance(copy.Path(), user / "sorvane.ini");

    CMainWnd main;
    ASSERT_TRUE(main.Create());
    main.show();
    QApplication::processEvents();
    EXPECT_EQ(main.FindControl(QStringLiteral("BtnStart"))->Text(), QStringLiteral("Find my files"));
    EXPECT_EQ(main.FindControl(QStringLiteral("PhotoTitle"))->Text(), QStringLiteral("Pictures"));
    // The layout in the package still carries its own default.
    const QByteArray layout = SkinPackage::Instance().File(QStringLiteral("xml/ControlPanel.xml"));
    EXPECT_TRUE(layout.contains("name=\"BtnStart\" style=\"BtnGreen\" width=\"200\" text=\"Deep scan\""));
    EXPECT_EQ(QCryptographicHash::hash(layout, QCryptographicHash::Sha256), before);

    // Switching the language re-applies every text at once.
    ASSERT_TRUE(LanguageService::Instance().SetLanguage(QStringLiteral("Deutsch")));
    QCoreApplication::postEvent(&main, new QEvent(WM_LANGUAGE_CHANGED));
    QApplication::processEvents();
    EXPECT_EQ(main.FindControl(QStringLiteral("BtnStart"))->Text(), QStringLiteral("Tiefensuche"));
    EXPECT_EQ(main.FindControl(QStringLiteral("PhotoTitle"))->Text(), QStringLiteral("Fotos"));
    EXPECT_EQ(main.FindControl(QStringLiteral("ListHeaderType"))->Text(), QStringLiteral("Dateisystem"));
    testing::UseShippedTexts();
}

TEST_F(SkinPackageTest, AssistMenuOffersTheConfiguredLanguagesAndMarksTheCurrentOne) {
    CMainWnd main;
    ASSERT_TRUE(main.Create());
    main.PrepareAssistMenu();
    const auto& entries = main.AssistMenu().SubEntries(QStringLiteral("item_language"));
    ASSERT_EQ(entries.size(), 2);
    EXPECT_EQ(entries[0].text, QStringLiteral("English"));
    EXPECT_EQ(entries[0].picture, QStringLiteral("file='point.png' source='0,0,16,16' dest='0,4,16,20'"));
    EXPECT_EQ(entries[1].name, QStringLiteral("language:Deutsch"));
    EXPECT_TRUE(entries[1].picture.isEmpty());
    EXPECT_EQ(main.AssistMenu().Layout().FindControl(QStringLiteral("item_exit"))->Text(),
              QStringLiteral("Exit"));
}

}  // namespace
}  // namespace sorvane::app
