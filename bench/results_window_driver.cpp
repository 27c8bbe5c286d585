// Drives the window program's results page over the found files of a deep
// scan (results_window_bench.sh): opens IMAGE and runs the deep scan (an
// earlier finished scan of the same image is shown without searching), then
// opens the photo node, sorts by size both ways, types a name into the search
// box, clears it, and switches to the folder view and back. Prints the seconds
// each step took, the longest time the event loop did not turn during it, and
// the window's peak memory.
//
// usage: results_window_driver IMAGE NAME   (headless: QT_QPA_PLATFORM=offscreen)
//   NAME is typed into the search box.
#include <sys/resource.h>

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <functional>

#include "app/gui_test_support.h"
#include "app/main_wnd.h"
#include "app/message_box.h"
#include "app/skin_framework/controls.h"

using namespace sorvane::app;

namespace {

void Click(CMainWnd& window, const char* name) {
    if (sorvane::skin::Control* control = window.FindControl(QString::fromLatin1(name)))
        QTest::mouseClick(control, Qt::LeftButton, {}, control->rect().center());
}

double PeakMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;  // KiB on Linux
}

// Measures how long the event loop goes without turning: a timer asks to run
// every 5 ms, and the longest gap between its runs is the longest block.
class LoopWatch {
  public:
    LoopWatch() {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const qint64 now = clock_.nsecsElapsed();
            longest_ = std::max(longest_, now - last_);
            last_ = now;
        });
        clock_.start();
        timer_.start(5);
    }
    void Reset() {
        longest_ = 0;
        last_ = clock_.nsecsElapsed();
    }
    // The block still running counts too: a step that never returns to the
    // loop is one long block.
    double LongestMs() const { return std::max(longest_, clock_.nsecsElapsed() - last_) / 1e6; }

  private:
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 last_ = 0, longest_ = 0;
};

// Runs `step`, then turns the loop until `done` holds; prints its time and longest block.
void Measure(LoopWatch& watch, const char* name, const std::function<void()>& step,
             const std::function<bool()>& done) {
    watch.Reset();
    QElapsedTimer clock;
    clock.start();
    step();
    while (!done()) QApplication::processEvents(QEventLoop::AllEvents, 5);
    const double seconds = clock.nsecsElapsed() / 1e9;
    const double blocked = watch.LongestMs();
    QApplication::processEvents(QEventLoop::AllEvents, 5);
    std::printf("%-22s %8.3f s   longest block %8.1f ms\n", name, seconds, blocked);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s IMAGE NAME\n", argv[0]);
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
    std::printf("before the scan: peak %.0f MiB\n", PeakMiB());
    LoopWatch watch;
    Measure(
        watch, "scan to results page", [&] { Click(window, "BtnScan"); },
        [&] { return window.CurrentPage() == CMainWnd::kResultsPage; });
    const size_t found = window.SearchResults().size();
    std::printf("found %zu files; peak %.0f MiB\n", found, PeakMiB());

    sorvane::skin::TreeNode* photos = window.Find<sorvane::skin::TreeNode>(QStringLiteral("NodePhoto"));
    if (!photos) return 1;
    Measure(
        watch, "open the photo node", [&] { window.ShowFilesOf(photos); }, [] { return true; });
    const size_t listed = window.ListedFiles().size();
    for (const char* pass : {"sort by size", "sort by size again"}) {
        Measure(
            watch, pass, [&] { Click(window, "Size"); }, [] { return true; });
    }
    sorvane::skin::Control* search = window.FindControl(QStringLiteral("SearchEdit"));
    if (!search) return 1;
    Measure(
        watch, "search for a name", [&] { search->SetText(QString::fromLocal8Bit(argv[2])); },
        [] { return true; });
    const size_t matching = window.ListedFiles().size();
    Measure(
        watch, "clear the search", [&] { search->SetText(QString()); }, [] { return true; });
    Measure(
        watch, "by folder", [&] { window.ShowResultsByFolder(true); }, [] { return true; });
    Measure(
        watch, "by type", [&] { window.ShowResultsByFolder(false); }, [] { return true; });
    std::printf("listed %zu in the photo node, %zu matching the name; peak %.0f MiB\n", listed, matching,
                PeakMiB());
    return found > 0 && listed > 0 ? 0 : 1;
}
