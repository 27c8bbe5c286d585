// The sorvane-gui program as a user starts it: once per session (a second
// start raises the first and ends), the screenshot mode, and the process-wide
// steps at start and shutdown.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QThread>
#include <chrono>
#include <thread>

#include "app/single_instance.h"
#include "app/startup.h"
#include "platform/instance_lock.h"
#include "tests/testkit/testkit.h"

namespace sorvane::app {
namespace {

using testkit::TempDir;

QCoreApplication& Core() {
    static int argc = 1;
    static char name[] = "program-test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* core = new QCoreApplication(argc, argv);
    return *core;
}

QProcessEnvironment Environment(const TempDir& dir) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), QString::fromStdString(dir.Path().string()));
    env.insert(QStringLiteral("SORVANE_DATA_DIR"), QString::fromStdString((dir / "data").string()));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString((dir / "config").string()));
    return env;
}

TEST(Program, ASecondStartRaisesTheFirstAndEnds) {
    Core();
    TempDir dir;
    QProcess first;
    first.setProcessEnvironment(Environment(dir));
    first.start(QStringLiteral(SORVANE_GUI_EXE), {});
    ASSERT_TRUE(first.waitForStarted(10000));
    // The first instance listens once its window is up.
    const auto socket = dir / "Sorvane_2015_For_Windows.socket";
    for (int i = 0; i < 300 && !std::filesystem::exists(socket); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_TRUE(std::filesystem::exists(socket)) << first.readAllStandardError().toStdString();
    ASSERT_EQ(first.state(), QProcess::Running);

    QProcess second;
    second.setProcessEnvironment(Environment(dir));
    second.start(QStringLiteral(SORVANE_GUI_EXE), {});
    ASSERT_TRUE(second.waitForFinished(30000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);

    // The first one is still running and was asked to come to the front.
    QByteArray log;
    for (int i = 0; i < 50 && !log.contains("brought to the front"); ++i) {
        first.waitForReadyRead(100);
        log += first.readAllStandardError();
    }
    EXPECT_TRUE(log.contains("brought to the front")) << log.toStdString();
    EXPECT_EQ(first.state(), QProcess::Running);
    first.kill();
    first.waitForFinished(10000);

    // With the first gone, the lock is free again: the kernel dropped it with the process.
    SingleInstance next(QString::fromLatin1(kInstanceMutexName), dir.Path());
    EXPECT_TRUE(next.Acquire());
}

TEST(Program, ScreenshotModeDrawsEveryWindow) {
    Core();
    TempDir dir;
    QProcess program;
    program.setProcessEnvironment(Environment(dir));
    const QString shots = QString::fromStdString((dir / "shots").string());
    program.start(QStringLiteral(SORVANE_GUI_EXE), {QStringLiteral("--screenshot"), shots});
    ASSERT_TRUE(program.waitForFinished(120000));
    ASSERT_EQ(program.exitCode(), 0) << program.readAllStandardError().toStdString();
    const QStringList files = QDir(shots).entryList({QStringLiteral("*.png")}, QDir::Files);
    // Four pages and the results page by folder, searched, filtered and as thumbnails;
    // five progress windows, the finished recovery of the sample card, five message-box
    // kinds and the offer after finding nothing, the folder chooser, the menu and its
    // language entries.
    EXPECT_EQ(files.size(), 23) << files.join(u' ').toStdString();
    EXPECT_TRUE(files.contains(QStringLiteral("RecoverProcessWnd_done.png")))
        << "the sample card made by the build was scanned and its photos recovered";
    EXPECT_TRUE(files.contains(QStringLiteral("main_8_results_thumbnails.png")));
    const QImage home(QDir(shots).filePath(QStringLiteral("main_1_home.png")));
    EXPECT_EQ(home.size(), QSize(1000, 650));
    const QImage box(QDir(shots).filePath(QStringLiteral("messagebox_0_error.png")));
    // A box is 400 x 160, taller only when its text needs more lines.
    EXPECT_EQ(box.width(), 400);
    EXPECT_GE(box.height(), 160);
    // Rounded corners are cut out; the caption band is drawn.
    EXPECT_EQ(home.pixelColor(0, 0).alpha(), 0);
    EXPECT_EQ(home.pixelColor(500, 20).alpha(), 255);
    // Nothing of the sample's scan is left behind in the user's data folder.
    EXPECT_FALSE(std::filesystem::exists(dir / "data" / "ScanLog"));
}

TEST(Program, AnImageOpenedWithASecondStartIsListedByTheFirst) {
    Core();
    TempDir dir;
    const auto image = dir / "card.img";
    testkit::WriteFile(image, std::vector<uint8_t>(65536, 0));
    QProcess first;
    first.setProcessEnvironment(Environment(dir));
    first.start(QStringLiteral(SORVANE_GUI_EXE), {});
    ASSERT_TRUE(first.waitForStarted(10000));
    const auto socket = dir / "Sorvane_2015_For_Windows.socket";
    for (int i = 0; i < 300 && !std::filesystem::exists(socket); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_TRUE(std::filesystem::exists(socket));

    // "Open with" from a file manager, relative to its own folder.
    QProcess second;
    second.setProcessEnvironment(Environment(dir));
    second.setWorkingDirectory(QString::fromStdString(dir.Path().string()));
    second.start(QStringLiteral(SORVANE_GUI_EXE), {QStringLiteral("card.img")});
    ASSERT_TRUE(second.waitForFinished(30000));
    EXPECT_EQ(second.exitCode(), 0);
    QByteArray log;
    const QByteArray expected = "listed the image file " + QByteArray::fromStdString(image.string());
    for (int i = 0; i < 50 && !log.contains(expected); ++i) {
        first.waitForReadyRead(100);
        log += first.readAllStandardError();
    }
    EXPECT_TRUE(log.contains(expected)) << log.toStdString();
    first.kill();
    first.waitForFinished(10000);
}

TEST(Program, HelpAndVersionNeedNoDisplay) {
    const std::string program = testkit::ShellQuote(SORVANE_GUI_EXE);
    std::string out;
    // No display at all, and no fallback platform either.
    const std::string bare = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ";
    ASSERT_EQ(testkit::RunCommand(bare + program + " --version", &out), 0);
    EXPECT_EQ(out, "sorvane-gui " SORVANE_VERSION "\n");
    ASSERT_EQ(testkit::RunCommand(bare + program + " --help", &out), 0);
    EXPECT_NE(out.find("usage: sorvane-gui [IMAGE...]"), std::string::npos);
    EXPECT_NE(out.find("--screenshot DIR"), std::string::npos);
}

TEST(Program, AnImageNamedAtStartThatIsMissingIsReportedAndTheFirstUseMarkerIsWritten) {
    Core();
    TempDir dir;
    QProcess gui;
    gui.setProcessEnvironment(Environment(dir));
    gui.start(QStringLiteral(SORVANE_GUI_EXE), {QStringLiteral("/no/such/card.img")});
    ASSERT_TRUE(gui.waitForStarted(10000));
    const auto marker = dir / "data" / "Used";
    for (int i = 0; i < 300 && !std::filesystem::exists(marker); ++i) QThread::msleep(20);
    EXPECT_TRUE(std::filesystem::exists(marker));
    QByteArray errors;
    for (int i = 0; i < 100 && !errors.contains("card.img"); ++i) {
        gui.waitForReadyRead(50);
        errors += gui.readAllStandardError();
    }
    gui.terminate();
    gui.waitForFinished(5000);
    EXPECT_TRUE(errors.contains("cannot open /no/such/card.img as an image file")) << errors.toStdString();
}

TEST(Program, InstallPutsEverythingInTheUsualPlaces) {
    TempDir prefix;
    std::string out;
    ASSERT_EQ(
        testkit::RunCommand("cmake --install " + testkit::ShellQuote(SORVANE_BINARY_DIR) + " --prefix " +
                            testkit::ShellQuote(prefix.Path().string()) + " >/dev/null 2>&1"),
        0);
    for (const char* file :
         {"bin/sorvane-gui", "bin/sorvane", "share/sorvane/config.ini", "share/sorvane/user-guide.html",
          "share/sorvane/Languages/English.ini", "share/sorvane/Languages/Deutsch.ini",
          "share/applications/sorvane.desktop", "share/icons/hicolor/scalable/apps/sorvane.svg",
          "share/polkit-1/actions/org.sorvane.sorvane-gui.policy"})
        EXPECT_TRUE(std::filesystem::exists(prefix / file)) << file;
    std::string desktop;
    testkit::RunCommand(
        "cat " + testkit::ShellQuote((prefix / "share/applications/sorvane.desktop").string()), &desktop);
    EXPECT_NE(desktop.find("Exec=sorvane-gui %F"), std::string::npos);
    EXPECT_NE(desktop.find("application/x-raw-disk-image"), std::string::npos);
    std::string policy;
    testkit::RunCommand(
        "cat " +
            testkit::ShellQuote((prefix / "share/polkit-1/actions/org.sorvane.sorvane-gui.policy").string()),
        &policy);
    EXPECT_NE(policy.find((prefix / "bin/sorvane-gui").string()), std::string::npos)
        << "pkexec runs the installed program";
    ASSERT_EQ(
        testkit::RunCommand(testkit::ShellQuote((prefix / "bin/sorvane-gui").string()) + " --version", &out),
        0);
}

TEST(SingleInstanceLock, OnlyOneHolderAtATime) {
    Core();
    TempDir dir;
    SingleInstance first(QStringLiteral("Global\\Sorvane_Test"), dir.Path());
    ASSERT_TRUE(first.Acquire());
    EXPECT_EQ(first.LockPath().filename(), "Sorvane_Test.lock");
    SingleInstance second(QStringLiteral("Global\\Sorvane_Test"), dir.Path());
    EXPECT_FALSE(second.Acquire());
    // Another process cannot take it either.
    EXPECT_NE(testkit::RunCommand("flock -n " + testkit::ShellQuote(first.LockPath().string()) + " true"), 0);
}

TEST(Startup, FirstUseMarkerIsMadeOnceAndNeverRewritten) {
    TempDir dir;
    setenv("SORVANE_DATA_DIR", (dir / "deep" / "Sorvane").c_str(), 1);
    const auto marker = FirstUseMarkerPath();
    EXPECT_EQ(marker, dir / "deep" / "Sorvane" / "Used");
    ASSERT_TRUE(EnsureFirstUseMarker());
    EXPECT_TRUE(std::filesystem::exists(marker));
    EXPECT_EQ(std::filesystem::file_size(marker), 0u);
    testkit::WriteFile(marker, {'x'});
    ASSERT_TRUE(EnsureFirstUseMarker());
    EXPECT_EQ(std::filesystem::file_size(marker), 1u);
    unsetenv("SORVANE_DATA_DIR");
}

TEST(Startup, ShutdownEndsOurPlayersOnlyAndRemovesThePreviewMedia) {
    Core();
    TempDir dir;
    setenv("SORVANE_DATA_DIR", (dir / "data").c_str(), 1);
    std::filesystem::create_directories(dir / "data" / "ScanLog");
    testkit::WriteFile(dir / "data" / "ScanLog" / "tmp.avi", {1, 2, 3});
    testkit::WriteFile(dir / "data" / "ScanLog" / "tmp.jpg", {1, 2, 3});
    std::filesystem::create_directories(dir / "data" / "ScanLog" / "office-convert");
    testkit::WriteFile(dir / "data" / "ScanLog" / "office-convert" / "letter.docx", {1, 2, 3});
    testkit::WriteFile(dir / "data" / "ScanLog" / "config", {4});
    // A helper of ours, and an unrelated program that merely runs the same code.
    std::filesystem::copy_file("/bin/sleep", dir / "Player");
    QProcess ours;
    ours.start(QString::fromStdString((dir / "Player").string()), {QStringLiteral("60")});
    QProcess unrelated;
    unrelated.start(QStringLiteral("/bin/sleep"), {QStringLiteral("60")});
    ASSERT_TRUE(ours.waitForStarted(5000));
    ASSERT_TRUE(unrelated.waitForStarted(5000));
    EXPECT_EQ(TerminateProcessesOf(dir / "Player"), 1);
    EXPECT_TRUE(ours.waitForFinished(5000));
    EXPECT_EQ(unrelated.state(), QProcess::Running);
    unrelated.kill();
    unrelated.waitForFinished(5000);

    RunShutdownSteps();
    EXPECT_FALSE(std::filesystem::exists(dir / "data" / "ScanLog" / "tmp.avi"));
    EXPECT_FALSE(std::filesystem::exists(dir / "data" / "ScanLog" / "tmp.jpg"));
    EXPECT_FALSE(std::filesystem::exists(dir / "data" / "ScanLog" / "office-convert"));
    EXPECT_TRUE(std::filesystem::exists(dir / "data" / "ScanLog" / "config"));  // the resume table stays
    unsetenv("SORVANE_DATA_DIR");
}

}  // namespace
}  // namespace sorvane::app
