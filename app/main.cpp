// sorvane-gui: Sorvane's window program.
#include <QApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>

#include "app/main_wnd.h"
#include "app/message_box.h"
#include "app/screenshot.h"
#include "app/single_instance.h"
#include "app/startup.h"

using namespace sorvane::app;

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Sorvane"));

    const QStringList arguments = QApplication::arguments();
    const qsizetype screenshot = arguments.indexOf(QStringLiteral("--screenshot"));
    if (screenshot >= 0) {
        if (screenshot + 1 >= arguments.size()) {
            qWarning("usage: sorvane-gui --screenshot DIR");
            return 2;
        }
        return RunScreenshots(arguments[screenshot + 1]);
    }

    SingleInstance instance;
    if (!instance.Acquire()) {
        if (instance.AskRunningToRaise()) return 0;
        CMessageBox::Show(CMessageBox::kInformation, nullptr, QStringLiteral("Sorvane is running."));
        return 0;
    }

    CMainWnd window;
    if (!window.Create()) return 1;
    if (QScreen* screen = QGuiApplication::primaryScreen())
        window.move(screen->availableGeometry().center() - QPoint(window.width() / 2, window.height() / 2));
    instance.OnRaiseRequest([&window] {
        window.showNormal();
        window.raise();
        window.activateWindow();
        qInfo("Sorvane: brought to the front for a second start");
    });
    window.show();
    window.activateWindow();

    const int code = QApplication::exec();
    RunShutdownSteps();
    return code;
}
