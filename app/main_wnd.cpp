#include "app/main_wnd.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QIcon>
#include <QUrl>

#include "app/control_factory.h"
#include "app/device_watcher.h"
#include "app/edit_box.h"
#include "app/list_ex.h"
#include "app/message_box.h"
#include "app/popup_wnd.h"
#include "app/profile_file.h"
#include "app/skin_framework/list.h"
#include "app/skin_framework/skin_package.h"
#include "app/thumbnail_grid.h"
#include "app/thumbnail_maker.h"
#include "app/user_settings.h"
#include "app/wnd_shadow.h"
#include "platform/data_dirs.h"

namespace sorvane::app {
namespace {

const char* const kCategoryBoxes[] = {"ChkPhoto",  "ChkMusic",   "ChkVideo",
                                      "ChkOffice", "ChkArchive", "ChkOther"};
const char* const kCategoryGroups[] = {"OptPhotoFile",  "OptAudioFile", "OptVideoFile",
                                       "OptOfficeFile", "OptZipFile",   "OptOtherFile"};
// Title and description controls of the home page with the messages that fill them.
const char* const kCategoryTexts[][3] = {
    {"AllTitle", "MSG1220", nullptr},      {"AllDes", "MSG1212", nullptr},
    {"PhotoTitle", "MSG1221", nullptr},    {"PhotoDes", "MSG1213", nullptr},
    {"MusicTitle", "MSG1222", nullptr},    {"MusicDes", "MSG1214", nullptr},
    {"VideoTitle", "MSG1223", nullptr},    {"VideoDes", "MSG1215", nullptr},
    {"DocumentTitle", "MSG1224", nullptr}, {"DocumentDes", "MSG1216", nullptr},
    {"ArchiveTitle", "MSG1225", nullptr},  {"ArchiveDes", "MSG1217", nullptr},
    {"OthersTitle", "MSG1226", nullptr},   {"OthersDes", "MSG1218", nullptr},
};

}  // namespace

CMainWnd::CMainWnd() {
    setObjectName(QStringLiteral("FileRecoveryWnd"));
    setWindowTitle(QStringLiteral("Sorvane"));
    setWindowIcon(QIcon(skin::SkinPackage::Instance().Picture(QStringLiteral("logo.png"))));
}

CMainWnd::~CMainWnd() = default;

bool CMainWnd::Create() {
    if (!LoadLayout(QStringLiteral("xml/skin.xml"))) {
        qWarning("Sorvane: cannot build the main window: %s", qPrintable(LayoutError()));
        return false;
    }
    menu_.Load(QStringLiteral("xml/menu_assist.xml"));
    SetUpThumbnailGrid();
    shadow_ = std::make_unique<CWndShadow>();
    shadow_->SetSize(4);
    shadow_->SetPosition(0, 0);
    shadow_->SetColor(QColor(0x2D, 0x2D, 0x2D));
    shadow_->Create(this);
    // The size the person last gave the window, never below the layout's minimum.
    const UserSettings settings;
    if (const QSize size = settings.WindowSize(); size.isValid()) resize(size.expandedTo(minimumSize()));
    if (auto* numbers = Find<skin::CheckBox>(QStringLiteral("OptCarvedNumbers")))
        numbers->Selected(settings.CarvedNumbers(), false);
    thumbnailsChosen_ = settings.Thumbnails();
    UpdateFileView();
    return true;
}

skin::Control* CMainWnd::CreateControl(const QString& tag) { return CreateCustomControl(tag); }

QString CMainWnd::Message(const char* id) {
    return LanguageService::Text(messages_, QString::fromLatin1(id));
}

void CMainWnd::ApplyTexts() {
    messages_ = LanguageService::Instance().Section(QStringLiteral("Messages"));
    ApplyLanguageSection(*this, QStringLiteral("MainWnd"));
    if (skin::Control* name = FindControl(QStringLiteral("LblProductName"))) {
        const QString product = Message("MSG1209");
        if (!product.isEmpty()) name->SetText(product);
    }
    for (const auto& entry : kCategoryTexts) {
        const QString text = Message(entry[1]);
        if (skin::Control* control = FindControl(QString::fromLatin1(entry[0])); control && !text.isEmpty())
            control->SetText(text);
    }
    if (skin::Control* info = FindControl(QStringLiteral("SelectedFileInfo")))
        info->SetText(Message("MSG0803"));
    // The results page's search box and filter fields: a grey hint inside, the whole story on hover.
    const char* const fields[][3] = {{"SearchEdit", "MSG2124", "MSG2125"},
                                     {"FilterMinSize", "MSG2126", "MSG2127"},
                                     {"FilterMaxSize", "MSG2128", "MSG2129"},
                                     {"FilterSince", "MSG2131", "MSG2132"},
                                     {"FilterUntil", "MSG2133", "MSG2134"}};
    for (const auto& field : fields) {
        if (auto* edit = Find<CEditUI>(QString::fromLatin1(field[0]))) {
            edit->SetHint(Message(field[1]));
            edit->setToolTip(Message(field[2]));
        }
    }
    if (skin::Control* box = FindControl(QStringLiteral("FilterHideDamaged")))
        box->setToolTip(Message("MSG2135"));
    if (skin::Control* list = FindControl(QStringLiteral("ViewAsList"))) list->setToolTip(Message("MSG2137"));
    if (skin::Control* grid = FindControl(QStringLiteral("ViewAsThumbnails")))
        grid->setToolTip(Message("MSG2136"));
    // The disk page's hints.
    const char* const hints[][2] = {{"Label7", "MSG0211"}, {"Label8", "MSG0212"}, {"Label9", "MSG0213"}};
    for (const auto& hint : hints) {
        if (skin::Control* label = FindControl(QString::fromLatin1(hint[0])))
            label->SetText(Message(hint[1]));
    }
    ShowPage(CurrentPage());
}

int CMainWnd::CurrentPage() const {
    auto* tabs = Find<skin::TabLayout>(QStringLiteral("TabPage"));
    return tabs ? tabs->CurSel() : 0;
}

void CMainWnd::SetBanner(const QString& background, const QString& logo, const QColor& color) {
    if (skin::Control* bar = FindControl(QStringLiteral("ToolBar2"))) bar->SetBkImage(background);
    if (skin::Control* picture = FindControl(QStringLiteral("ToolBar2Logo"))) picture->SetBkImage(logo);
    if (skin::Control* text = FindControl(QStringLiteral("Txt1"))) text->SetTextColor(color);
}

void CMainWnd::ShowPage(int page) {
    auto* tabs = Find<skin::TabLayout>(QStringLiteral("TabPage"));
    if (!tabs || !tabs->SelectItem(page)) return;
    auto show = [this](const char* name, bool visible) {
        if (skin::Control* control = FindControl(QString::fromLatin1(name))) control->setVisible(visible);
    };
    const bool home = page == kHomePage;
    show("SubBar1", home);
    if (home) RefreshEarlierScans();
    show("SubBar2", !home);
    show("ToolBar2", !home);
    show("ToolBar3", !home);
    show("BtnPrev", !home);
    show("BtnLoadImage", page == kDiskPage);
    show("BtnNext", page == kHomePage || page == kFileTypePage);
    show("BtnScan", !imageMode_ && (page == kDiskPage || page == kFileTypePage));
    show("BtnCreateImage", imageMode_ && page == kDiskPage);
    show("BtnRecover", page == kResultsPage);
    show("SelectedFileInfo", page == kResultsPage);

    auto* txt1 = FindControl(QStringLiteral("Txt1"));
    auto* txt2 = FindControl(QStringLiteral("Txt2"));
    // The chosen mode is named where the scan starts: on the button and in the page's words.
    const bool quick = scanMode_ == 0;
    if (skin::Control* scan = FindControl(QStringLiteral("BtnScan")))
        scan->SetText(Message(quick ? "MSG0520" : "MSG0521"));
    if (page == kDiskPage) {
        SetBanner(QStringLiteral("file='banner_bg.png' corner='0,0,0,70'"),
                  QStringLiteral("file='scan_files.png' dest='15,5,65,55'"), QColor(0xFF0089BE));
        if (txt1) txt1->SetText(Message("MSG0501"));
        if (txt2) txt2->SetText(Message(imageMode_ ? "MSG0503" : quick ? "MSG0522" : "MSG0523"));
    } else if (page == kFileTypePage) {
        SetBanner(QStringLiteral("file='banner_bg2.png' corner='0,0,0,70'"),
                  QStringLiteral("file='advance_scan.png' dest='15,5,65,55'"), QColor(0xFFE47100));
        if (txt1) txt1->SetText(Message("MSG0601"));
        if (txt2) txt2->SetText(Message("MSG0602"));
    } else if (page == kResultsPage) {
        SetBanner(QStringLiteral("file='banner_bg1.png' corner='0,0,0,70'"),
                  QStringLiteral("file='recover_file.png' dest='15,5,65,55'"), QColor(0xFF316D1E));
        if (txt1) txt1->SetText(Message("MSG0801"));
        if (txt2) {
            const int found = static_cast<int>(results_.size());
            // "found 0 files, tick the ones you want" would contradict itself.
            txt2->SetText(found == 0 ? Message("MSG0851")
                                     : Message("MSG0802").replace(
                                           QStringLiteral("%s"),
                                           QStringLiteral("{f 7}{c #316D1E}%1{/c}{/f}").arg(found)));
        }
    }
    // The step options follow the page without sending their own notifications.
    if (auto* scan = Find<skin::Option>(QStringLiteral("TabScan"))) scan->Selected(page == kDiskPage, false);
    if (auto* types = Find<skin::Option>(QStringLiteral("TabFileType")))
        types->Selected(page == kFileTypePage, false);
    if (auto* results = Find<skin::Option>(QStringLiteral("TabRecover")))
        results->Selected(page == kResultsPage, false);
}

void CMainWnd::UpdateStartButton() {
    bool any = false;
    for (const char* name : kCategoryBoxes) {
        if (auto* box = Find<skin::CheckBox>(QString::fromLatin1(name)); box && box->IsSelected()) any = true;
    }
    for (const char* name : {"BtnStart", "BtnDeepRecovery", "BtnFormattedRecovery", "BtnDeletedRecovery"}) {
        if (skin::Control* button = FindControl(QString::fromLatin1(name))) button->SetEnabled(any);
    }
}

void CMainWnd::Notify(skin::Notification& notification) {
    const QString& type = notification.type;
    if (type == u"windowinit") {
        ApplyTexts();
        RefreshDiskList();
        if (skin::Control* scan = FindControl(QStringLiteral("BtnScan"))) scan->SetEnabled(false);
        if (skin::Control* recover = FindControl(QStringLiteral("BtnRecover"))) recover->SetEnabled(false);
        ShowPage(kHomePage);
        UpdateStartButton();
        // Images named when the program started are listed now, as "Open image..." lists them.
        ready_ = true;
        bool opened = false;
        for (const std::filesystem::path& image : std::exchange(pendingImages_, {}))
            opened = OpenImageFile(image) || opened;
        if (opened) ShowPage(kDiskPage);
        return;
    }
    if (!notification.sender) return;
    if (type == u"click")
        OnClick(notification.sender);
    else if (type == u"selectchanged")
        OnSelectChanged(notification.sender);
    else if (type == u"textchanged")
        OnTextChanged(notification.sender);
    else if (type == u"itemselect")
        OnItemSelect(notification);
    else if (type == u"list_item_dbclick")
        OnItemDoubleClick(notification);
    else if (type == u"checkboxselectchanged") {
        if (auto* node = dynamic_cast<skin::TreeNode*>(notification.sender)) OnTreeNodeChecked(node);
    } else if (type == u"list_check_click") {
        if (notification.sender->Name() == u"FileList")
            OnListChecked(static_cast<int>(notification.wParam), notification.lParam != 0);
        else if (notification.sender->Name() == u"ThumbGrid")
            OnGridChecked(static_cast<int>(notification.wParam), notification.lParam != 0);
    } else if (type == u"updatepage" && notification.sender->Name() == u"FilePages") {
        page_ = static_cast<int>(notification.wParam);
        ShowListedRows();
    } else if (type == u"headerclick") {
        // Only the file list sorts; its check-box column does not.
        for (QWidget* w = notification.sender; w; w = w->parentWidget()) {
            if (w->objectName() == u"FileList") {
                SortFileList(notification.sender);
                break;
            }
        }
    } else if (type == u"onhot") {
        // Mode buttons describe themselves while the mouse is over them.
        static const char* const modes[][2] = {{"BtnDeletedRecovery", "MSG0101"},
                                               {"BtnFormattedRecovery", "MSG0102"},
                                               {"BtnDeepRecovery", "MSG0103"},
                                               {"BtnStart", "MSG0103"},
                                               {"BtnCreateImageMode", "MSG0104"}};
        for (const auto& mode : modes) {
            if (notification.sender->Name() == QLatin1String(mode[0])) {
                if (skin::Control* info = FindControl(QStringLiteral("TxtMainInfo")))
                    info->SetText(Message(mode[1]));
            }
        }
    }
}

void CMainWnd::OnItemSelect(skin::Notification& notification) {
    const QString name = notification.sender->Name();
    if (name == u"DiskList") {
        auto* list = dynamic_cast<skin::List*>(notification.sender);
        if (list) ShowTargetInfo(list->GetItemAt(static_cast<int>(notification.wParam)));
    } else if (name == u"TypeTree") {
        FillFileList(reinterpret_cast<skin::TreeNode*>(notification.lParam));
    } else if (name == u"FileList") {
        // One click shows a file; the preview before it has ended by then.
        StartPreview(static_cast<int>(notification.wParam));
    } else if (name == u"ThumbGrid") {
        const auto index = static_cast<size_t>(notification.wParam);
        if (index < listed_.size()) PreviewRecord(*listed_[index]);
    }
}

void CMainWnd::OnItemDoubleClick(skin::Notification& notification) {
    const QString name = notification.sender->Name();
    const int index = static_cast<int>(notification.wParam);
    if (name == u"EarlierScanList") return OpenEarlierScan(index);
    if (name == u"FileList") {
        // The click of this double click has just shown the file.
        if (index == lastPreviewRow_ && lastPreview_.isValid() &&
            lastPreview_.elapsed() < 2 * QApplication::doubleClickInterval())
            return;
        return StartPreview(index);
    }
    if (name != u"DiskList") return;
    auto* list = dynamic_cast<CDiskListUI*>(notification.sender);
    skin::ListElement* row = list ? list->GetItemAt(index) : nullptr;
    CListExUI::Node* node = row ? list->NodeOf(row) : nullptr;
    if (!node) return;
    if (!node->children.isEmpty()) {
        list->SetChildVisible(node, !node->expanded);
    } else if (rows_.value(row).target && !imageMode_) {
        ShowTargetInfo(row);
        StartScan();
    }
}

void CMainWnd::FollowCategoryToOptions(int category, bool selected) {
    const char* const groups[] = {"FileTypePhoto",  "FileTypeAudio", "FileTypeVideo",
                                  "FileTypeOffice", "FileTypeZip",   "FileTypeOther"};
    if (auto* group = Find<skin::Option>(QString::fromLatin1(kCategoryGroups[category])))
        group->Selected(selected, false);
    if (skin::Control* box = FindControl(QString::fromLatin1(groups[category]))) {
        // The controls carry no meta-object of their own: findChildren<CheckBox*> would match every widget.
        for (QWidget* child : box->findChildren<QWidget*>()) {
            // The naming tick shares the last group's box but is no file type.
            auto* option = dynamic_cast<skin::CheckBox*>(child);
            if (option && option->Name() != u"OptCarvedNumbers") option->Selected(selected, false);
        }
    }
}

void CMainWnd::OnSelectChanged(skin::Control* sender) {
    const QString name = sender->Name();
    if (name == u"ViewByType" || name == u"ViewByFolder") {
        if (auto* option = dynamic_cast<skin::Option*>(sender); option && option->IsSelected())
            ShowResultsByFolder(name == u"ViewByFolder");
        return;
    }
    if (name == u"ViewAsList" || name == u"ViewAsThumbnails") {
        if (auto* option = dynamic_cast<skin::Option*>(sender); option && option->IsSelected()) {
            ShowThumbnails(name == u"ViewAsThumbnails");
            // The person's choice holds for the next start too.
            UserSettings().SetThumbnails(thumbnailsChosen_);
        }
        return;
    }
    if (name == u"FilterHideDamaged") return ApplyFilters();
    if (name == u"ChkAllListSel") {
        auto* all = dynamic_cast<skin::Option*>(sender);
        auto* list = Find<skin::List>(QStringLiteral("FileList"));
        if (!all || !list) return;
        // Every file of the list, on every page.
        for (const FoundItemRecord* record : listed_) SetRecordChecked(*record, all->IsSelected());
        for (int i = 0; i < list->GetCount(); ++i) {
            if (auto* row = dynamic_cast<skin::ListTextElement*>(list->GetItemAt(i)))
                row->SetChecked(all->IsSelected());
        }
        if (skin::Control* grid = FindControl(QStringLiteral("ThumbGrid"))) grid->update();
        OnFilesChecked();
        return;
    }
    auto* option = dynamic_cast<skin::Option*>(sender);
    if (!option) return;
    if (name == u"TabScan" && option->IsSelected()) return ShowPage(kDiskPage);
    if (name == u"TabFileType" && option->IsSelected()) return ShowPage(kFileTypePage);
    if (name == u"TabRecover" && option->IsSelected()) return ShowPage(kResultsPage);
    if (name == u"OptCarvedNumbers") {
        UserSettings().SetCarvedNumbers(option->IsSelected());
        return;
    }
    if (name == u"ChkRecoverAll") {
        for (const char* box : kCategoryBoxes) {
            if (auto* check = Find<skin::CheckBox>(QString::fromLatin1(box)))
                check->Selected(option->IsSelected(), false);
        }
        for (int i = 0; i < 6; ++i) FollowCategoryToOptions(i, option->IsSelected());
        UpdateStartButton();
        return;
    }
    for (int i = 0; i < 6; ++i) {
        if (name == QLatin1String(kCategoryBoxes[i])) {
            FollowCategoryToOptions(i, option->IsSelected());
            if (auto* all = Find<skin::CheckBox>(QStringLiteral("ChkRecoverAll"))) {
                bool every = true;
                for (const char* box : kCategoryBoxes) {
                    if (auto* check = Find<skin::CheckBox>(QString::fromLatin1(box));
                        check && !check->IsSelected())
                        every = false;
                }
                all->Selected(every, false);
            }
            UpdateStartButton();
            return;
        }
    }
}

void CMainWnd::OnClick(skin::Control* sender) {
    const QString name = sender->Name();
    const int page = CurrentPage();
    if (name == u"closebtn") {
        close();
    } else if (name == u"minbtn") {
        showMinimized();
    } else if (name == u"maxbtn" || name == u"restorebtn") {
        name == u"maxbtn" ? showMaximized() : showNormal();
    } else if (name == u"BtnStart" || name == u"BtnFormattedRecovery" || name == u"BtnDeepRecovery") {
        scanMode_ = 1;
        imageMode_ = false;
        ShowPage(kDiskPage);
    } else if (name == u"BtnDeletedRecovery") {
        scanMode_ = 0;
        imageMode_ = false;
        ShowPage(kDiskPage);
    } else if (name == u"BtnCreateImageMode") {
        imageMode_ = true;
        ShowPage(kDiskPage);
    } else if (name == u"BtnScan") {
        StartScan();
    } else if (name == u"BtnOpenScan") {
        OpenEarlierScan(ChosenEarlierScan());
    } else if (name == u"BtnDeleteScan") {
        DeleteEarlierScan(ChosenEarlierScan());
    } else if (name == u"BtnRecover") {
        StartRecovery();
    } else if (name == u"BtnLoadImage") {
        ChooseImage();
    } else if (name == u"BtnCreateImage") {
        CreateImageCommand();
    } else if (name == u"BtnPrev") {
        if (page == kDiskPage)
            ShowPage(kHomePage);
        else if (page == kFileTypePage || (page == kResultsPage && scanFromDiskPage_))
            ShowPage(kDiskPage);
        else if (page == kResultsPage)
            ShowPage(kFileTypePage);
    } else if (name == u"BtnNext") {
        if (page == kHomePage) {
            ShowPage(kDiskPage);
        } else if (page == kDiskPage) {
            skin::Control* scan = FindControl(QStringLiteral("BtnScan"));
            if (scan && !scan->IsEnabled())
                CMessageBox::Show(CMessageBox::kInformation, this, Message("MSG0529"));
        } else if (page == kFileTypePage) {
            ShowPage(kResultsPage);
        }
    } else if (name == u"BtnAssist") {
        PrepareAssistMenu();
        const QPoint below = sender->mapToGlobal(QPoint(0, sender->height()));
        OnMenuChoice(menu_.Exec(below, this));
    }
}

QString CMainWnd::UserGuidePath() {
    const std::filesystem::path beside = ProgramDir() / "user-guide.html";
    const std::filesystem::path installed =
        ProgramDir().parent_path() / "share" / "sorvane" / "user-guide.html";
    for (const auto& path : {beside, installed}) {
        std::error_code ec;
        if (std::filesystem::is_regular_file(path, ec)) return QString::fromStdString(path.string());
    }
    return {};
}

QString CMainWnd::AboutText() {
    return Message("MSG1210").replace(QStringLiteral("%s"), QStringLiteral(SORVANE_VERSION));
}

void CMainWnd::PrepareAssistMenu() {
    ApplyLanguageSection(menu_.Layout(), QStringLiteral("MenuWnd"));
    // Entries that would lead nowhere are not offered.
    ProfileFile config;
    config.Load(LanguageService::Instance().ConfigPath());
    for (const char* entry : {"item_faq", "item_support"}) {
        if (skin::Control* item = menu_.Layout().FindControl(QString::fromLatin1(entry)))
            item->setVisible(!config.GetString(QStringLiteral("Web"), QString::fromLatin1(entry)).isEmpty());
    }
    if (skin::Control* help = menu_.Layout().FindControl(QStringLiteral("item_help")))
        help->setVisible(!UserGuidePath().isEmpty() ||
                         !config.GetString(QStringLiteral("Web"), QStringLiteral("item_help")).isEmpty());
    LanguageService& languages = LanguageService::Instance();
    QVector<skin::PopupMenu::Entry> entries;
    for (const auto& [language, text] : languages.Languages()) {
        const bool current = language == languages.CurrentLanguage();
        entries.push_back(
            {QStringLiteral("language:") + language, text,
             current ? QStringLiteral("file='point.png' source='0,0,16,16' dest='0,4,16,20'") : QString()});
    }
    menu_.SetSubEntries(QStringLiteral("item_language"), entries);
}

void CMainWnd::OnMenuChoice(const QString& name) {
    if (name.isEmpty()) return;
    if (name.startsWith(u"language:")) {
        LanguageService::Instance().SetLanguage(name.mid(9));
        InstallDialogTranslations();
        QCoreApplication::postEvent(this, new QEvent(WM_LANGUAGE_CHANGED));
        return;
    }
    if (name == u"item_exit") {
        close();
        return;
    }
    if (name == u"item_about") {
        CMessageBox::Show(CMessageBox::kInformation, this, AboutText());
        return;
    }
    if (name == u"item_help") {
        // The guide shipped with the program comes first: it works offline.
        if (const QString guide = UserGuidePath(); !guide.isEmpty()) {
            QDesktopServices::openUrl(QUrl::fromLocalFile(guide));
            return;
        }
    }
    // The help pages are named in config.ini under [Web], one key per menu entry.
    ProfileFile config;
    config.Load(LanguageService::Instance().ConfigPath());
    const QString url = config.GetString(QStringLiteral("Web"), name);
    if (!url.isEmpty()) QDesktopServices::openUrl(QUrl(url));
}

bool CMainWnd::event(QEvent* event) {
    if (event->type() == WM_LANGUAGE_CHANGED) {
        ApplyTexts();
        if (skin::ListElement* row = SelectedDiskRow()) ShowTargetInfo(row);
        // The layout's texts replaced the counts of the type tree and the
        // selection label: they are made again in the new words.
        if (!results_.empty()) {
            ApplyFilters();
            OnFilesChecked();
        }
        return true;
    }
    if (event->type() == WM_SCAN_DONE) {
        OnScanDone();
        return true;
    }
    if (event->type() == WM_SEARCH_DONE) {
        OnSearchDone();
        return true;
    }
    return skin::Window::event(event);
}

void CMainWnd::closeEvent(QCloseEvent* event) {
    UserSettings settings;
    if (!isMaximized() && !isMinimized() && settings.WindowSize() != size()) settings.SetWindowSize(size());
    skin::Window::closeEvent(event);
}

void CMainWnd::changeEvent(QEvent* event) {
    if (event->type() == QEvent::WindowStateChange) {
        if (skin::Control* max = FindControl(QStringLiteral("maxbtn"))) max->setVisible(!isMaximized());
        if (skin::Control* restore = FindControl(QStringLiteral("restorebtn")))
            restore->setVisible(isMaximized());
    }
    skin::Window::changeEvent(event);
}

}  // namespace sorvane::app
