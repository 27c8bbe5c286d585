// Drives the window program through the recovery of every file of a deep scan
// (recover_window_bench.sh): opens IMAGE, runs the deep scan (an earlier
// finished scan of the same image is shown without searching), ticks every
// file and recovers into OUT. Prints the seconds from the click on Recover to
// Finish shown with a detail row for every file.
//
// usage: recover_window_driver IMAGE OUT   (headless: QT_QPA_PLATFORM=offscreen)
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <cstdio>

#include "app/file_tree.h"
#include "app/gui_test_support.h"
#include "app/main_wnd.h"
#include "app/message_box.h"
#include "app/recover_process_wnd.h"
#include "app/skin_framework/list.h"

using namespace sorvane::app;

namespace {

void Click(CMainWnd& window, const char* name) {
    if (sorvane::skin::Control* control = window.FindControl(QString::fromLatin1(name)))
        QTest::mouseClick(control, Qt::LeftButton, {}, control->rect().center());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s IMAGE OUT\n", argv[0]);
        return 2;
    }
    testing::Application();
    testing::UseShippedTexts();
    CMessageBox::SetAnswerHook([](int, const QString&) { return 1; });
    CMainWnd window;
    if (!window.Create()) return 1;
    window.show();
    Click(window, "BtnStart");
    if (!window.OpenImageFile(argv[1])) {
        std::fprintf(stderr, "cannot open %s\n", argv[1]);
        return 1;
    }
    QElapsedTimer clock;
    clock.start();
    Click(window, "BtnScan");
    while (window.CurrentPage() != CMainWnd::kResultsPage)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    const double toResults = clock.elapsed() / 1000.0;
    auto* tree = window.Find<CFileTreeUI>(QStringLiteral("TypeTree"));
    for (const char* name : {"NodePhoto", "NodeAudio", "NodeVideo", "NodeOffice", "NodeZip", "NodeOther"}) {
        auto* node = window.Find<sorvane::skin::TreeNode>(QString::fromLatin1(name));
        if (node && node->IsShownByUser()) tree->CheckNode(node, true, true);
    }
    const int checked = static_cast<int>(window.CheckedFiles().size());
    window.SetFolderChooser([out = QString::fromLocal8Bit(argv[2])] { return out; });
    double seconds = -1;
    int rows = 0, failed = 0;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        CRecoverProcessWnd* recovery = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* r = dynamic_cast<CRecoverProcessWnd*>(w); r && r->isVisible()) recovery = r;
        sorvane::skin::Control* finish =
            recovery ? recovery->FindControl(QStringLiteral("FinishBtn")) : nullptr;
        if (!finish || finish->isHidden() || seconds >= 0) return;
        auto* list = recovery->Find<sorvane::skin::List>(QStringLiteral("DetailList"));
        rows = list ? list->GetCount() : 0;
        if (rows < recovery->Processed()) return;  // the last rows are still on their way
        seconds = clock.elapsed() / 1000.0;
        failed = recovery->Failed();
        if (failed > 0 && list && list->GetCount() > 0) {
            if (auto* row = dynamic_cast<sorvane::skin::ListTextElement*>(list->GetItemAt(0)))
                std::printf("first failure: %s: %s\n", qUtf8Printable(row->GetText(0)),
                            qUtf8Printable(row->GetText(1)));
        }
        QTest::mouseClick(finish, Qt::LeftButton, {}, finish->rect().center());
    });
    watch.start(10);
    clock.restart();
    window.RecoverCheckedFiles();
    std::printf(
        "window: %d found, %d ticked, %d rows listed, %d failed; results after %.2f s; recovery %.2f s\n",
        static_cast<int>(window.SearchResults().size()), checked, rows, failed, toResults, seconds);
    return seconds >= 0 && rows == checked ? 0 : 1;
}
