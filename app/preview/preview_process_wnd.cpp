#include "app/preview/preview_process_wnd.h"

#include <QCoreApplication>
#include <QThread>

#include "app/message_box.h"
#include "app/skin_framework/controls.h"
#include "carving/progress_callbacks.h"

namespace sorvane::app {

CPreviewProcessWnd::CPreviewProcessWnd(IFileRecoveryParse& engine, const FoundItemRecord& record,
                                       CPreviewWnd& holder, const PreviewExtractionEnv& env)
    : CPopUpWnd(FullPath{QStringLiteral("xml/PreviewProcessWnd.xml")}),
      engine_(engine),
      record_(record),
      holder_(holder),
      env_(env) {}

CPreviewProcessWnd::~CPreviewProcessWnd() {
    if (worker_.joinable()) {
        RequestCancel();
        worker_.join();
    }
}

void CPreviewProcessWnd::OnWindowInit() {
    ApplyLanguageSection(QStringLiteral("PreviewProcessWnd"));
    if (auto* name = FindControl(QStringLiteral("FileName")))
        name->SetText(QString::fromStdString(record_.Name()));
    ShowPercent(0);
    cancel_ = false;
    finished_ = false;
    worker_ = std::thread([this] { Work(); });
}

void CPreviewProcessWnd::Work() {
    int rc =
        RunPreviewExtraction(engine_, record_, holder_, env_, &CPreviewProcessWnd::PreviewProgress, this);
    result_ = rc;
    finished_ = true;
    // Windows are closed on their own thread; the request waits for the modal loop.
    QMetaObject::invokeMethod(
        this, [this, rc] { Close(rc == kCancelCode ? 2 : 1); }, Qt::QueuedConnection);
}

int CPreviewProcessWnd::PreviewProgress(void* userData, int percent, int /*errorCode*/) {
    auto* self = static_cast<CPreviewProcessWnd*>(userData);
    std::lock_guard lock(self->section_);
    if (self->cancel_) return kCancelCode;
    QMetaObject::invokeMethod(
        self, [self, percent] { self->ShowPercent(percent); }, Qt::QueuedConnection);
    return 0;
}

void CPreviewProcessWnd::ShowPercent(int percent) {
    if (auto* label = FindControl(QStringLiteral("percent")))
        label->SetText(QStringLiteral("%1 %2%")
                           .arg(LanguageService::Instance().Message(QStringLiteral("MSG0901")))
                           .arg(percent));
    if (auto* bar = Find<skin::Progress>(QStringLiteral("progress"))) bar->SetValue(percent);
}

void CPreviewProcessWnd::RequestCancel() {
    std::lock_guard lock(section_);
    cancel_ = true;
}

void CPreviewProcessWnd::Notify(skin::Notification& notification) {
    if (notification.type == u"click" && notification.sender &&
        (notification.sender->Name() == u"closebtn" || notification.sender->Name() == u"cancelbtn")) {
        std::unique_lock lock(section_);
        const int answer = CMessageBox::Show(CMessageBox::kQuestion, this,
                                             LanguageService::Instance().Message(QStringLiteral("MSG0903")));
        if (answer != 1) return;  // the work resumes when the lock goes
        cancel_ = true;
        lock.unlock();
        // The worker closes the window once it has stopped.
        while (!finished_) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
            QThread::msleep(50);
        }
        return;
    }
    CPopUpWnd::Notify(notification);
}

}  // namespace sorvane::app
