// Disks arriving and leaving while the window is open: a burst of events
// updates the disk list once, after it has settled; scan results of a disk
// that stays are kept; without the event socket the list is polled.
#include "app/device_watcher.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include "app/fake_sysfs_test_support.h"
#include "app/file_tree.h"
#include "app/gui_test_support.h"
#include "app/list_ex.h"
#include "app/main_wnd.h"
#include "app/message_box.h"
#include "app/recover_process_wnd.h"
#include "platform/drive_table.h"
#include "platform/system_root.h"
#include "results/scan_resume_store.h"
#include "tests/testkit/testkit.h"

namespace sorvane::app {
namespace {

using testkit::RunCommand;
using testkit::ShellQuote;
using testkit::TempDir;

DeviceEvent Block(const char* action, const char* name) { return {action, "block", name, "disk"}; }

void Spin(int ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 5);
}

TEST(DeviceWatcher, ABurstUpdatesOnceAfterTheLastEvent) {
    testing::Application();
    EXPECT_EQ(CDeviceWatcher::kSettleMs, 5000) << "the wait a card reader's burst needs";
    int updates = 0;
    QElapsedTimer clock;
    qint64 updatedAt = -1;
    // A settling wait far longer than the gaps between events, so a busy
    // machine that stalls this test for a moment does not end the wait early.
    CDeviceWatcher watcher([&] { ++updates, updatedAt = clock.elapsed(); }, 1500);
    clock.start();
    // A card reader: the disk, its partitions, one after another.
    qint64 lastEvent = 0;
    for (const char* name : {"sdb", "sdb1", "sdb2"}) {
        lastEvent = clock.elapsed();
        watcher.OnEvent(Block("add", name));
        Spin(150);
    }
    EXPECT_EQ(updates, 0) << "events 150 ms apart keep the wait going";
    watcher.OnEvent(DeviceEvent{"add", "usb", "", "usb_device"});  // not a disk: no new wait
    Spin(2500);
    EXPECT_EQ(updates, 1);
    // A coarse timer may fire up to 5 % early, and does: 1424 ms here.
    EXPECT_GE(updatedAt, lastEvent + 1500 * 9 / 10) << "not before the burst has settled";

    watcher.OnEvent(Block("remove", "sdb"));
    Spin(2500);
    EXPECT_EQ(updates, 2) << "a removal is followed too";
    watcher.OnEvent(Block("change", "sdb"));
    Spin(2000);
    EXPECT_EQ(updates, 2) << "a media change of a listed disk is not an arrival";
}

TEST(DeviceWatcher, WithoutTheEventSocketTheDisksArePolled) {
    testing::Application();
    testing::FakeSysfs machine;
    int updates = 0;
    CDeviceWatcher watcher([&] { ++updates; }, 200, 50);
    EXPECT_FALSE(watcher.Start(/*pollOnly=*/true));
    EXPECT_TRUE(watcher.IsPolling());
    Spin(300);
    EXPECT_EQ(updates, 0) << "nothing changed";
    ASSERT_TRUE(machine.AddStick("sdc", "8:32"));
    Spin(600);
    EXPECT_EQ(updates, 1);
}

class ArrivalTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testing::Application();
        testing::UseShippedTexts();
        setenv("SORVANE_DATA_DIR", (data_ / "data").c_str(), 1);
        CScanResumeStore::ResetInstanceForTests();
        CMessageBox::SetAnswerHook([](int, const QString&) { return 1; });
        machine_ = std::make_unique<testing::FakeSysfs>();
        window_ = std::make_unique<CMainWnd>();
        ASSERT_TRUE(window_->Create());
        window_->show();
        // Events are handed in by the test; the settling wait is long enough
        // that a moment's stall of a busy machine does not end it early.
        window_->WatchDevices(1000, /*pollOnly=*/true, 60000);
        QApplication::processEvents();
    }
    void TearDown() override {
        window_.reset();
        machine_.reset();
        CMessageBox::SetAnswerHook(nullptr);
        CScanResumeStore::ResetInstanceForTests();
        unsetenv("SORVANE_DATA_DIR");
    }
    CDiskListUI* List() { return window_->Find<CDiskListUI>(QStringLiteral("DiskList")); }

    TempDir data_;
    std::unique_ptr<testing::FakeSysfs> machine_;
    std::unique_ptr<CMainWnd> window_;
};

TEST_F(ArrivalTest, AStickThatArrivesIsListedAndSelectedAndGoesWhenRemoved) {
    ASSERT_EQ(List()->GetCount(), 0);
    ASSERT_TRUE(machine_->AddStick("sdb", "8:16"));
    window_->DeviceWatcher()->OnEvent(Block("add", "sdb"));
    window_->DeviceWatcher()->OnEvent(Block("add", "sdb1"));
    Spin(100);
    EXPECT_EQ(List()->GetCount(), 0) << "nothing before the burst settles";
    Spin(1600);
    ASSERT_EQ(List()->GetCount(), 2) << "the disk row and its volume row";
    EXPECT_EQ(List()->GetCurSel(), 1) << "the new volume is chosen for the user";
    EXPECT_TRUE(window_->FindControl(QStringLiteral("BtnScan"))->IsEnabled());

    machine_->RemoveStick("sdb");
    window_->DeviceWatcher()->OnEvent(Block("remove", "sdb"));
    Spin(1600);
    EXPECT_EQ(List()->GetCount(), 0);
    EXPECT_TRUE(window_->Targets().empty());
}

TEST_F(ArrivalTest, AnotherDiskArrivingKeepsTheResultsOfTheScannedOne) {
    ASSERT_TRUE(machine_->AddStick("sdc", "8:32"));
    window_->RefreshDiskList();
    ASSERT_EQ(window_->Targets().size(), 1u);
    ScanTarget* scanned = window_->Targets()[0];
    QTest::mouseClick(window_->FindControl(QStringLiteral("BtnScan")), Qt::LeftButton);
    QElapsedTimer clock;
    clock.start();
    while (window_->CurrentPage() != CMainWnd::kResultsPage && clock.elapsed() < 60000)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    ASSERT_EQ(window_->CurrentPage(), CMainWnd::kResultsPage);
    ASSERT_NE(scanned->engine, nullptr);

    // "sdb" sorts before "sdc": the scanned stick's drive number moves up by one.
    const int before = scanned->partition->diskNumber;
    ASSERT_TRUE(machine_->AddStick("sdb", "8:16"));
    window_->DeviceWatcher()->OnEvent(Block("add", "sdb"));
    Spin(1600);
    ASSERT_EQ(window_->Targets().size(), 2u);
    EXPECT_EQ(window_->Targets()[0], scanned) << "the scanned disk's target stays";
    EXPECT_NE(scanned->engine, nullptr) << "with its engine and results";
    EXPECT_EQ(scanned->partition->diskNumber, before + 1) << "and reads the same disk next time";
    EXPECT_EQ(DriveTable::Instance().Drive(scanned->partition->diskNumber)->name, "sdc");
}

TEST_F(ArrivalTest, ADiskThatLeavesWhileItsFilesAreRecoveredStaysUntilTheWorkEnds) {
    ASSERT_TRUE(machine_->AddStick("sdb", "8:16"));
    TempDir out;
    const auto node = machine_->Node("sdb");
    ASSERT_EQ(
        RunCommand("printf 'Dear Anna' > " + ShellQuote((out / "letter.txt").string()) + " && mcopy -i " +
                   ShellQuote(node.string()) + " " + ShellQuote((out / "letter.txt").string()) +
                   " ::letter.txt && mdel -i " + ShellQuote(node.string()) + " ::letter.txt"),
        0);
    std::filesystem::remove(out / "letter.txt");
    window_->RefreshDiskList();
    QTest::mouseClick(window_->FindControl(QStringLiteral("BtnDeletedRecovery")), Qt::LeftButton);
    window_->SelectDiskRow(1);
    QTest::mouseClick(window_->FindControl(QStringLiteral("BtnScan")), Qt::LeftButton);
    QElapsedTimer clock;
    clock.start();
    while (window_->CurrentPage() != CMainWnd::kResultsPage && clock.elapsed() < 60000)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    ASSERT_EQ(window_->CurrentPage(), CMainWnd::kResultsPage);
    for (const char* name : {"NodeOffice", "NodeOther"}) {
        auto* node = window_->Find<skin::TreeNode>(QString::fromLatin1(name));
        if (node && node->IsShownByUser())
            window_->Find<CFileTreeUI>(QStringLiteral("TypeTree"))->CheckNode(node, true, true);
    }
    ASSERT_FALSE(window_->CheckedFiles().empty());

    // The stick is pulled while the recovery window is still open.
    size_t targetsWhileOpen = 99;
    bool done = false;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* recovery = dynamic_cast<CRecoverProcessWnd*>(w);
            skin::Control* finish = recovery ? recovery->FindControl(QStringLiteral("FinishBtn")) : nullptr;
            if (!finish || finish->isHidden() || done) continue;
            done = true;
            machine_->RemoveStick("sdb");
            window_->DeviceWatcher()->OnEvent(Block("remove", "sdb"));
            Spin(1600);
            targetsWhileOpen = window_->Targets().size();
            QTest::mouseClick(finish, Qt::LeftButton);
        }
    });
    watcher.start(20);
    window_->SetFolderChooser([&] { return QString::fromStdString((out / "rescued").string()); });
    QTest::mouseClick(window_->FindControl(QStringLiteral("BtnRecover")), Qt::LeftButton);
    ASSERT_TRUE(done);
    EXPECT_EQ(targetsWhileOpen, 1u) << "the recovery's engine and target stay while it is shown";
    EXPECT_TRUE(window_->Targets().empty()) << "and go once it is closed";
    EXPECT_EQ(List()->GetCount(), 0);
}

}  // namespace
}  // namespace sorvane::app
