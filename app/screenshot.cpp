#include "app/screenshot.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QImage>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <filesystem>
#include <functional>

#include "app/edit_box.h"
#include "app/file_tree.h"
#include "app/list_ex.h"
#include "app/main_wnd.h"
#include "app/message_box.h"
#include "app/popup_wnd.h"
#include "app/profile_file.h"
#include "app/recover_process_wnd.h"
#include "app/scan_process_wnd.h"
#include "app/skin_framework/list.h"
#include "app/thumbnail_grid.h"
#include "platform/data_dirs.h"

namespace sorvane::app {
namespace {

void Settle() {
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
}

// The window as the user sees it: its rounded corners cut out.
bool Save(skin::Window& window, const QString& path) {
    Settle();
    QImage image(window.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        const QSize round = window.RoundCorner();
        if (!round.isEmpty()) {
            QPainterPath clip;
            clip.addRoundedRect(QRectF(window.rect()), round.width(), round.height());
            painter.setClipPath(clip);
        }
        painter.drawPixmap(0, 0, window.grab());
    }
    if (!image.save(path)) {
        qWarning("Sorvane: cannot write %s", qPrintable(path));
        return false;
    }
    return true;
}

QString Message(const char* id) { return LanguageService::Instance().Message(QString::fromLatin1(id)); }

// The sample card made by the build, beside the program (or installed with it).
std::filesystem::path SampleCard() {
    for (const auto& path : {ProgramDir() / "sample-card.img",
                             ProgramDir().parent_path() / "share" / "sorvane" / "sample-card.img"}) {
        std::error_code ec;
        if (std::filesystem::is_regular_file(path, ec)) return path;
    }
    return {};
}

// Runs the event loop until `done` or 60 s.
bool WaitFor(const std::function<bool()>& done) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < 60000) QApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

// Opens the sample card, deep-scans it and checks its photos, as a user would.
bool ScanSampleCard(CMainWnd& window, const std::filesystem::path& card) {
    if (!window.OpenImageFile(card)) return false;
    window.ScanChosenTarget();
    if (!WaitFor([&] { return window.CurrentPage() == CMainWnd::kResultsPage; })) return false;
    auto* tree = window.Find<CFileTreeUI>(QStringLiteral("TypeTree"));
    auto* photo = window.Find<skin::TreeNode>(QStringLiteral("NodePhoto"));
    if (!tree || !photo || photo->ChildNodes().isEmpty()) return false;
    tree->CheckNode(photo, true, true);
    window.ShowFilesOf(photo->ChildNodes().front());
    // One click on the first photo shows it in the preview pane.
    if (auto* list = window.Find<skin::List>(QStringLiteral("FileList")); list && list->GetCount() > 0)
        list->OnRowClicked(list->GetItemAt(0));
    return true;
}

void FillSampleProgress(CPopUpWnd& window, const PopUpLayout& layout) {
    auto set = [&](const char* name, const QString& text) {
        if (skin::Control* control = window.FindControl(QString::fromLatin1(name))) {
            control->SetText(text);
            control->setVisible(true);
        }
    };
    if (auto* progress = window.Find<skin::Progress>(QStringLiteral("progress"))) progress->SetValue(42);
    const QString file(QStringLiteral("report-2024.docx"));
    if (QLatin1String(layout.section) == QLatin1String("ScanWnd")) {
        set("stage", Message("MSG0702").replace(QStringLiteral("%d"), QStringLiteral("1")));
        set("percent", Message("MSG0704") + QStringLiteral(" 42%"));
        set("time", Message("MSG0708") + u' ' +
                        RemainingTimeText(192, {Message("MSG0711"), Message("MSG0712"), Message("MSG0713")}));
        set("sectors", Message("MSG0706") + QStringLiteral(" 25165824 / 62333952"));
        set("totalfile", Message("MSG0707") + QStringLiteral(" 1284"));
    } else if (QLatin1String(layout.section) == QLatin1String("SearchProcessWnd")) {
        set("stage", Message("MSG1202").replace(QStringLiteral("%d"), QStringLiteral("1")));
        set("percent", Message("MSG1204") + QStringLiteral(" 42%"));
    } else if (QLatin1String(layout.section) == QLatin1String("RecoverProcessWnd")) {
        set("current", QStringLiteral("/home/user/Recovered/photo/IMG_2041.jpg"));
        set("percent", Message("MSG1101") + QStringLiteral(" 42%"));
        QString recovered = Message("MSG1102");
        for (const char* n : {"5", "12", "5", "0"})
            recovered.replace(recovered.indexOf(QStringLiteral("%d")), 2, QLatin1String(n));
        set("recovered", recovered);
    } else if (QLatin1String(layout.section) == QLatin1String("PreviewProcessWnd")) {
        set("FileName", file);
        set("stage", Message("MSG0902") + u' ' + file);
        set("percent", Message("MSG0901") + QStringLiteral(" 42%"));
    } else {
        set("stage", Message("MSG0302") + QStringLiteral(" /home/user/card.img"));
        set("percent", Message("MSG0301") + QStringLiteral(" 42%"));
        set("time", Message("MSG0305") + u' ' +
                        RemainingTimeText(100, {Message("MSG0711"), Message("MSG0712"), Message("MSG0713")}));
        set("sectors", Message("MSG0303") + QStringLiteral(" 25165824 / 62333952"));
    }
}

class ProgressPreview : public CPopUpWnd {
  public:
    ProgressPreview(const PopUpLayout& layout)
        : CPopUpWnd(QString::fromLatin1(layout.file)), section_(QString::fromLatin1(layout.section)) {}
    void OnWindowInit() override { ApplyLanguageSection(section_); }

  private:
    QString section_;
};

}  // namespace

int RunScreenshots(const QString& folder, const QString& language) {
    if (!QDir().mkpath(folder)) return 1;
    const QDir dir(folder);
    bool ok = true;

    // Scan folders and recovered files of the sample go to a scratch folder.
    QTemporaryDir work;
    if (!work.isValid()) return 1;
    qputenv("SORVANE_DATA_DIR", (work.path() + QStringLiteral("/data")).toLocal8Bit());
    if (!language.isEmpty()) {
        bool offered = false;
        for (const auto& [name, menuText] : LanguageService::Instance().Languages())
            offered |= name == language;
        if (!offered) {
            QStringList names;
            for (const auto& [name, menuText] : LanguageService::Instance().Languages()) names << name;
            qWarning("Sorvane: no language called %s; there are: %s", qUtf8Printable(language),
                     qUtf8Printable(names.join(QStringLiteral(", "))));
            return 2;
        }
    }
    LanguageService::ResetInstance();
    // The language is used for these pictures only, never kept in anyone's settings.
    if (!language.isEmpty()) LanguageService::Instance().UseLanguageForThisRun(language);
    InstallDialogTranslations();
    CMessageBox::SetAnswerHook([](int, const QString&) { return 1; });

    CMainWnd main;
    if (!main.Create()) return 1;
    main.show();
    Settle();
    const std::filesystem::path card = SampleCard();
    if (card.empty()) {
        qWarning("Sorvane: no sample card beside the program; the lists stay empty");
    } else if (!ScanSampleCard(main, card)) {
        qWarning("Sorvane: the sample card could not be scanned");
        ok = false;
    }
    main.ShowPage(CMainWnd::kDiskPage);
    if (auto* list = main.Find<CDiskListUI>(QStringLiteral("DiskList")); list && list->GetCount() > 0)
        main.SelectDiskRow(list->GetCurSel());
    const char* pages[] = {"main_1_home.png", "main_2_disks.png", "main_3_file_types.png",
                           "main_4_results.png"};
    for (int page = 0; page < 4; ++page) {
        main.ShowPage(page);
        ok = Save(main, dir.filePath(QLatin1String(pages[page]))) && ok;
    }

    // The recovery window at its end, with its detail list open.
    if (!main.CheckedFiles().empty()) {
        const QString destination = work.path() + QStringLiteral("/Recovered");
        main.SetFolderChooser([destination] { return destination; });
        bool saved = false;
        QTimer finisher;
        QObject::connect(&finisher, &QTimer::timeout, [&] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                auto* recovery = dynamic_cast<CRecoverProcessWnd*>(w);
                skin::Control* finish =
                    recovery ? recovery->FindControl(QStringLiteral("FinishBtn")) : nullptr;
                if (!finish || finish->isHidden() || saved) continue;
                saved = true;
                if (skin::Control* details = recovery->FindControl(QStringLiteral("DetailBtn")))
                    details->SendNotify(QStringLiteral("click"));
                ok = Save(*recovery, dir.filePath(QStringLiteral("RecoverProcessWnd_done.png"))) && ok;
                finish->SendNotify(QStringLiteral("click"));
            }
        });
        finisher.start(20);
        main.RecoverCheckedFiles();
        ok = saved && ok;
    }
    CMessageBox::SetAnswerHook(nullptr);
    main.ShowPage(CMainWnd::kResultsPage);

    // The results by folder, narrowed by the search box, then by the filters.
    main.ShowResultsByFolder(true);
    // The engine gives FAT's upper-case short names in lower case.
    if (skin::TreeNode* folder = main.ResultNode(QStringLiteral("folder:dcim/100canon/")))
        main.ShowFilesOf(folder);
    Settle();
    ok = Save(main, dir.filePath(QStringLiteral("main_5_results_by_folder.png"))) && ok;
    auto* search = main.Find<CEditUI>(QStringLiteral("SearchEdit"));
    if (search) search->SetText(QStringLiteral("041"));
    Settle();
    ok = Save(main, dir.filePath(QStringLiteral("main_6_results_search.png"))) && ok;
    if (search) search->SetText(QString());
    if (auto* minSize = main.Find<CEditUI>(QStringLiteral("FilterMinSize")))
        minSize->SetText(QStringLiteral("10 KB"));
    if (auto* hide = main.Find<skin::CheckBox>(QStringLiteral("FilterHideDamaged"))) hide->Selected(true);
    main.ShowResultsByFolder(false);
    Settle();
    ok = Save(main, dir.filePath(QStringLiteral("main_7_results_filtered.png"))) && ok;

    // The photos as thumbnails, the first one clicked and shown in the preview pane.
    if (auto* minSize = main.Find<CEditUI>(QStringLiteral("FilterMinSize"))) minSize->SetText(QString());
    if (auto* hide = main.Find<skin::CheckBox>(QStringLiteral("FilterHideDamaged"))) hide->Selected(false);
    if (skin::TreeNode* photos = main.ResultNode(QStringLiteral("NodePhoto"))) main.ShowFilesOf(photos);
    main.ShowThumbnails(true);
    if (auto* grid = main.Find<CThumbnailGridUI>(QStringLiteral("ThumbGrid"));
        grid && main.ThumbnailsShown()) {
        const auto [first, end] = grid->InSight();
        WaitFor([&, first = first, end = end] {
            for (int i = first; i < end; ++i)
                if (!grid->HasThumbnail(CheckedFileKey(*grid->Files()[static_cast<size_t>(i)]))) return false;
            return true;
        });
        if (!grid->Files().empty()) {
            grid->SetCurrent(0);
            grid->SendNotify(QStringLiteral("itemselect"), 0);
        }
        ok = Save(main, dir.filePath(QStringLiteral("main_8_results_thumbnails.png"))) && ok;
    } else {
        ok = false;
    }
    main.ShowThumbnails(false);

    // The assist menu and its language entries, as they open below the menu button.
    main.ShowPage(CMainWnd::kHomePage);
    main.PrepareAssistMenu();
    if (std::unique_ptr<QMenu> menu = main.AssistMenu().Build(&main)) {
        menu->popup(main.mapToGlobal(QPoint(700, 50)));
        Settle();
        ok = menu->grab().save(dir.filePath(QStringLiteral("menu_assist.png"))) && ok;
        if (auto* languages = menu->findChild<QMenu*>(QStringLiteral("item_language"))) {
            languages->popup(main.mapToGlobal(QPoint(700, 50)));
            Settle();
            ok = languages->grab().save(dir.filePath(QStringLiteral("menu_language.png"))) && ok;
            languages->close();
        }
        menu->close();
    } else {
        ok = false;
    }

    for (const PopUpLayout& layout : kProgressWindows) {
        auto* window = new ProgressPreview(layout);
        if (!window->Create(&main, layout.width, layout.height)) {
            ok = false;
            window->Destroy();
            continue;
        }
        FillSampleProgress(*window, layout);
        ok = Save(*window, dir.filePath(QString::fromLatin1(layout.file)
                                            .replace(QStringLiteral(".xml"), QStringLiteral(".png")))) &&
             ok;
        window->Destroy();
    }

    // The folder chooser of the recovery, in the window's language.
    {
        QFileDialog chooser(&main, Message("MSG0856"), QDir::homePath());
        chooser.setFileMode(QFileDialog::Directory);
        chooser.setOption(QFileDialog::ShowDirsOnly);
        chooser.setOption(QFileDialog::DontUseNativeDialog);  // offscreen there is no native one to picture
        chooser.resize(640, 420);
        chooser.show();
        Settle();
        ok = chooser.grab().save(dir.filePath(QStringLiteral("folder_dialog.png"))) && ok;
        chooser.close();
    }
    // What a quick scan that found nothing offers.
    if (CMessageBox* box =
            CMessageBox::Open(CMessageBox::kQuestion, &main, Message("MSG0852"), Message("MSG0528"))) {
        ok = Save(*box, dir.filePath(QStringLiteral("messagebox_nothing_found.png"))) && ok;
        box->Destroy();
    }

    const char* kinds[] = {"messagebox_0_error.png", "messagebox_1_confirm.png",
                           "messagebox_2_information.png", "messagebox_3_warning.png",
                           "messagebox_4_question.png"};
    const char* texts[] = {"MSG0504", "MSG0805", "MSG0505", "MSG0218", "MSG0709"};
    for (int kind = 0; kind < 5; ++kind) {
        CMessageBox* box = CMessageBox::Open(kind, &main, Message(texts[kind]));
        if (!box) {
            ok = false;
            continue;
        }
        ok = Save(*box, dir.filePath(QLatin1String(kinds[kind]))) && ok;
        box->Destroy();
    }
    return ok ? 0 : 1;
}

}  // namespace sorvane::app
