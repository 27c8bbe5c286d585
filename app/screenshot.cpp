#include "app/screenshot.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QThread>

#include "app/file_tree.h"
#include "app/list_ex.h"
#include "app/main_wnd.h"
#include "app/message_box.h"
#include "app/popup_wnd.h"
#include "app/skin_framework/list.h"

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

// Sample rows so the lists can be judged with content in them.
void FillSampleDisk(CMainWnd& window) {
    auto* list = window.Find<CDiskListUI>(QStringLiteral("DiskList"));
    if (!list) return;
    auto* disk = new CListImageTextNodeUI;
    disk->SetFixedHeight(30);
    disk->SetText(
        0,
        QStringLiteral("{f 5}{x 5}{i removable_drive.png 1 0}{x 2}%1 %2{/5}").arg(Message("MSG0202")).arg(1));
    CListExUI::Node* diskNode = list->AddNode(nullptr, disk);
    const struct {
        const char* label;
        const char* fs;
        const char* size;
    } parts[] = {{"SD CARD", "FAT32", "29.72 GB"}, {"BACKUP", "NTFS", "14.90 GB"}};
    int number = 1;
    for (const auto& part : parts) {
        auto* row = new CListImageTextNodeUI;
        row->SetFixedHeight(30);
        row->SetText(0,
                     QStringLiteral("{f 4}{x 2}%1:\\ %2{/f}").arg(number++).arg(QLatin1String(part.label)));
        row->SetText(1, QStringLiteral("{f 4}%1{/f}").arg(QLatin1String(part.fs)));
        row->SetText(2, QStringLiteral("{f 4}%1{/f}").arg(QLatin1String(part.size)));
        row->SetImage(0, QStringLiteral("file='drive_usb.png' dest='28,0,50,24'"));
        list->AddNode(diskNode, row);
    }
    list->SelectItem(1, false);
    const char* labels[][2] = {{"Label1", "MSG0203"}, {"Label2", "MSG0204"}, {"Label3", "MSG0205"},
                               {"Label4", "MSG0206"}, {"Label5", "MSG0207"}, {"Label6", "MSG0208"}};
    const char* values[] = {"1", "SD CARD", "FAT32", "29.72 GB", "3.18 GB", "26.54 GB"};
    for (int i = 0; i < 6; ++i) {
        if (skin::Control* label = window.FindControl(QString::fromLatin1(labels[i][0])))
            label->SetText(Message(labels[i][1]) + u' ' + QLatin1String(values[i]));
    }
    if (skin::Control* scan = window.FindControl(QStringLiteral("BtnScan"))) scan->SetEnabled(true);
}

void FillSampleResults(CMainWnd& window) {
    auto* tree = window.Find<CFileTreeUI>(QStringLiteral("TypeTree"));
    auto* list = window.Find<skin::List>(QStringLiteral("FileList"));
    if (!tree || !list) return;
    // As after a search: the results page can be chosen.
    if (skin::Control* tab = window.FindControl(QStringLiteral("TabRecover"))) tab->SetEnabled(true);
    const struct {
        const char* node;
        const char* title;
        const char* child;
        const char* icon;
    } categories[] = {{"NodePhoto", "MSG0807", "JPG (12)", "FileIcon/image.png"},
                      {"NodeAudio", "MSG0808", "MP3 (3)", "FileIcon/music.png"},
                      {"NodeOffice", "MSG0810", "DOC (2)", "FileIcon/doc.png"}};
    for (const auto& category : categories) {
        auto* node = window.Find<skin::TreeNode>(QString::fromLatin1(category.node));
        if (!node) continue;
        node->SetText(Message(category.title));
        node->setVisible(true);
        auto* child = new skin::TreeNode;
        if (const skin::AttributeList* style = window.Style(QStringLiteral("filetype"))) {
            for (const auto& [key, value] : *style) child->SetAttribute(key, value);
        }
        child->SetText(QString::fromLatin1(category.child));
        child->SetIcon(QString::fromLatin1(category.icon));
        node->AddChildNode(child);
    }
    const struct {
        const char* name;
        const char* size;
        const char* icon;
        bool checked;
    } files[] = {{"IMG_2041.jpg", "3.42 MB", "FileIcon/image.png", true},
                 {"IMG_2042.jpg", "3.18 MB", "FileIcon/image.png", true},
                 {"IMG_2043.jpg", "2.97 MB", "FileIcon/image_error.png", false},
                 {"holiday.jpg", "812.40 KB", "FileIcon/image.png", false}};
    for (const auto& file : files) {
        auto* row = new skin::ListImageTextElement;
        row->SetCheckPictures(QStringLiteral("file='checkbox.png' source='0,22,12,34' dest='2,0,14,12'"),
                              QStringLiteral("file='checkbox.png' source='48,22,60,34' dest='2,0,14,12'"));
        row->SetChecked(file.checked);
        row->SetImage(1, QStringLiteral("file='%1' dest='4,0,20,16'").arg(QLatin1String(file.icon)));
        row->SetText(1, QLatin1String(file.name));
        row->SetText(2, QLatin1String(file.size));
        row->SetText(3, QStringLiteral("2024-6-18 14:02:11"));
        row->SetText(4, QStringLiteral("2024-6-18 14:02:11"));
        row->SetText(5, QStringLiteral("/DCIM/100MEDIA"));
        row->SetText(6, QStringLiteral("jpg"));
        list->Add(row);
    }
    if (auto* photo = window.Find<skin::TreeNode>(QStringLiteral("NodePhoto"));
        photo && !photo->ChildNodes().isEmpty())
        tree->CheckNode(photo->ChildNodes().front(), false, false);
    tree->SelectItem(1, false);
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
        set("time", Message("MSG0708") + QStringLiteral(" 3 Min 12 Sec"));
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
        set("time", Message("MSG0305") + QStringLiteral(" 1 Min 40 Sec"));
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

int RunScreenshots(const QString& folder) {
    if (!QDir().mkpath(folder)) return 1;
    const QDir dir(folder);
    bool ok = true;

    CMainWnd main;
    if (!main.Create()) return 1;
    main.show();
    Settle();
    FillSampleDisk(main);
    FillSampleResults(main);
    const char* pages[] = {"main_1_home.png", "main_2_disks.png", "main_3_file_types.png",
                           "main_4_results.png"};
    for (int page = 0; page < 4; ++page) {
        main.ShowPage(page);
        ok = Save(main, dir.filePath(QLatin1String(pages[page]))) && ok;
    }

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
