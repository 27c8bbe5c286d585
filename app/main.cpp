// sorvane-gui: Sorvane's window program.
#include <QApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <cstdio>
#include <string>

#include "app/language_service.h"
#include "app/main_wnd.h"
#include "app/message_box.h"
#include "app/screenshot.h"
#include "app/single_instance.h"
#include "app/startup.h"

using namespace sorvane::app;

namespace {

const char kUsage[] =
    "usage: sorvane-gui [IMAGE...]\n"
    "       sorvane-gui --screenshot DIR\n"
    "\n"
    "Finds deleted and lost files on USB sticks, memory cards and external disks,\n"
    "and on raw image files of them, and copies the ones you choose to a folder.\n"
    "The drive being scanned is only ever read.\n"
    "\n"
    "IMAGE            raw image files (.img, .dd, .raw, ...) to list for scanning;\n"
    "                 a whole-disk image shows its partitions\n"
    "--screenshot DIR [--language NAME]\n"
    "                 write pictures of every window into DIR (in that language) and end\n"
    "--help           show this text\n"
    "--version        show the version\n";

}  // namespace

int main(int argc, char** argv) {
    // These answer without a display.
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (argument == "--version") {
            std::printf("sorvane-gui %s\n", SORVANE_VERSION);
            return 0;
        }
    }
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Sorvane"));

    const QStringList arguments = QApplication::arguments();
    const qsizetype screenshot = arguments.indexOf(QStringLiteral("--screenshot"));
    if (screenshot >= 0) {
        if (screenshot + 1 >= arguments.size()) {
            qWarning("usage: sorvane-gui --screenshot DIR");
            return 2;
        }
        const qsizetype language = arguments.indexOf(QStringLiteral("--language"));
        return RunScreenshots(arguments[screenshot + 1], language >= 0 && language + 1 < arguments.size()
                                                             ? arguments[language + 1]
                                                             : QString());
    }

    // Image files named on the command line (a file manager's "Open with").
    QStringList images;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (!arguments[i].startsWith(u'-')) images << QFileInfo(arguments[i]).absoluteFilePath();
    }
    SingleInstance instance;
    if (!instance.Acquire()) {
        // The running window lists them.
        if (instance.AskRunningToRaise(3000, images)) return 0;
        CMessageBox::Show(CMessageBox::kInformation, nullptr, QStringLiteral("Sorvane is running."));
        return 0;
    }

    InstallDialogTranslations();
    if (!EnsureFirstUseMarker()) qWarning("Sorvane: cannot write the first-use marker");
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
    auto openImage = [&window](const QString& path) {
        if (!window.OpenImageFile(path.toStdString()))
            qWarning("Sorvane: cannot open %s as an image file", qPrintable(path));
        else
            qInfo("Sorvane: listed the image file %s", qPrintable(path));
    };
    for (const QString& image : images) openImage(image);
    instance.OnOpenRequest(openImage);
    window.WatchDevices();
    window.show();
    window.activateWindow();

    const int code = QApplication::exec();
    RunShutdownSteps();
    return code;
}
