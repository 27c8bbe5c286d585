// A main window on a scratch data folder and an empty fake system (no real
// disk is listed), for the window tests that drive whole scans and recoveries.
#pragma once

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <functional>
#include <map>
#include <memory>

#include "app/file_tree.h"
#include "app/gui_test_support.h"
#include "app/main_wnd.h"
#include "app/message_box.h"
#include "app/recover_process_wnd.h"
#include "platform/drive_table.h"
#include "platform/system_root.h"
#include "results/scan_resume_store.h"
#include "tests/testkit/testkit.h"

namespace sorvane::app::testing {

// Runs the event loop until `done` or `limitMs`.
inline bool WaitFor(const std::function<bool()>& done, int limitMs = 300000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > limitMs) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

inline CRecoverProcessWnd* OpenRecoveryWindow() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* r = dynamic_cast<CRecoverProcessWnd*>(w); r && r->isVisible()) return r;
    return nullptr;
}

class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Application();
        UseShippedTexts();
        setenv("SORVANE_DATA_DIR", (data_ / "data").c_str(), 1);
        CScanResumeStore::ResetInstanceForTests();
        std::filesystem::create_directories(root_ / "sys/block");
        std::filesystem::create_directories(root_ / "proc/self");
        testkit::WriteFile(root_ / "proc/self/mountinfo", {});
        SetSystemRoot(root_.Path());
        DriveTable::Instance().Refresh();
        CMessageBox::SetAnswerHook([this](int kind, const QString& text) {
            questions_.push_back(text);
            return answer_ ? answer_(kind, text) : 1;
        });
        OpenWindow();
    }
    void TearDown() override {
        window_.reset();
        CMessageBox::SetAnswerHook(nullptr);
        SetSystemRoot("/");
        DriveTable::Instance().Refresh();
        CScanResumeStore::ResetInstanceForTests();
        unsetenv("SORVANE_DATA_DIR");
    }
    // A new main window, as when the program starts again.
    void OpenWindow() {
        window_ = std::make_unique<CMainWnd>();
        ASSERT_TRUE(window_->Create());
        window_->show();
        QApplication::processEvents();
    }
    skin::Control* Get(const char* name) { return window_->FindControl(QString::fromLatin1(name)); }
    void Click(skin::Control* control) {
        ASSERT_NE(control, nullptr);
        QTest::mouseClick(control, Qt::LeftButton, {}, control->rect().center());
    }
    void Click(const char* name) {
        skin::Control* control = Get(name);
        ASSERT_NE(control, nullptr) << name;
        Click(control);
    }
    QString Message(const char* id) { return LanguageService::Instance().Message(QString::fromLatin1(id)); }
    void CheckEverything() {
        auto* tree = window_->Find<CFileTreeUI>(QStringLiteral("TypeTree"));
        for (const char* name :
             {"NodePhoto", "NodeAudio", "NodeVideo", "NodeOffice", "NodeZip", "NodeOther"}) {
            auto* node = window_->Find<skin::TreeNode>(QString::fromLatin1(name));
            if (node && node->IsShownByUser()) tree->CheckNode(node, true, true);
        }
    }
    // Recovers the checked files into `destination`; `atFinish` looks at the
    // recovery window once it shows Finish, before Finish is clicked.
    bool Recover(const std::filesystem::path& destination,
                 const std::function<void(CRecoverProcessWnd&)>& atFinish = {}) {
        window_->SetFolderChooser([destination] { return QString::fromStdString(destination.string()); });
        bool seen = false;
        QTimer finisher;
        QObject::connect(&finisher, &QTimer::timeout, [&] {
            CRecoverProcessWnd* recovery = OpenRecoveryWindow();
            skin::Control* finish = recovery ? recovery->FindControl(QStringLiteral("FinishBtn")) : nullptr;
            if (!finish || finish->isHidden() || seen) return;
            seen = true;
            QApplication::processEvents();  // the worker's last changes
            if (atFinish) atFinish(*recovery);
            QTest::mouseClick(finish, Qt::LeftButton, {}, finish->rect().center());
        });
        finisher.start(50);
        Click("BtnRecover");
        return seen;
    }

    testkit::TempDir data_;
    testkit::TempDir root_;
    std::unique_ptr<CMainWnd> window_;
    std::vector<QString> questions_;
    // Answers the questions the window asks (OK when unset).
    std::function<int(int, const QString&)> answer_;
};

}  // namespace sorvane::app::testing
