#include "app/process_wnd.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThread>

#include "app/message_box.h"
#include "carving/progress_callbacks.h"
#include "engines/chosen_files.h"
#include "results/file_categories.h"

namespace sorvane::app {

CProcessWnd::CProcessWnd(const QString& skinFile, QString languageSection)
    : CPopUpWnd(FullPath{skinFile}), section_(std::move(languageSection)) {}

CProcessWnd::~CProcessWnd() {
    // Every path through a worker ends with Finish; a window is only destroyed
    // after that, so the join does not wait for work.
    if (worker_.joinable()) worker_.join();
}

int CProcessWnd::Run(CProcessWnd* window, QWidget* parent, int width, int height) {
    if (!window->Create(parent, width, height)) {
        window->Destroy();
        return 3;
    }
    const int code = window->ShowModal();
    window->Destroy();
    return code;
}

bool CProcessWnd::IsCancelled() const {
    std::lock_guard<std::mutex> hold(lock_);
    return cancel_;
}

void CProcessWnd::OnWindowInit() {
    ApplyLanguageSection(section_);
    cancel_ = false;
    finished_ = false;
    if (!worker_.joinable()) worker_ = std::thread([this] { Work(); });
}

void CProcessWnd::Notify(skin::Notification& notification) {
    if (notification.type == u"click" && notification.sender) {
        const QString name = notification.sender->Name();
        if (name == u"closebtn" || name == u"cancelbtn" || name == u"CancelBtn") {
            OnCancelClicked();
            return;
        }
    }
    CPopUpWnd::Notify(notification);
}

void CProcessWnd::OnCancelClicked() {
    if (finished_) return;
    lock_.lock();
    // The worker's next progress call waits on the lock: the work pauses while the user decides.
    const int answer = CMessageBox::Show(CMessageBox::kQuestion, this, Message(CancelQuestionId()));
    if (answer != 1) {
        lock_.unlock();
        return;
    }
    cancel_ = true;
    lock_.unlock();
    while (!finished_) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 50);
        QThread::msleep(50);
    }
    if (ClosesAfterCancel()) Close(2);
}

bool CProcessWnd::EnterCallback() {
    lock_.lock();
    if (cancel_) {
        lock_.unlock();
        return false;
    }
    return true;
}

void CProcessWnd::Post(std::function<void()> change) {
    QMetaObject::invokeMethod(this, std::move(change), Qt::QueuedConnection);
}

void CProcessWnd::PostText(const char* control, const QString& text, bool show) {
    const QString name = QString::fromLatin1(control);
    Post([this, name, text, show] {
        if (skin::Control* c = FindControl(name)) {
            c->SetText(text);
            c->setVisible(show);
        }
    });
}

void CProcessWnd::PostProgress(int percent) {
    Post([this, percent] {
        if (auto* bar = Find<skin::Progress>(QStringLiteral("progress"))) bar->SetValue(percent);
    });
}

void CProcessWnd::Finish(int code) {
    Post([this, code] { Close(code); });
    finished_ = true;
}

void CProcessWnd::PostToParent(QEvent::Type type) {
    if (QWidget* parent = ParentWindow()) QCoreApplication::postEvent(parent, new QEvent(type));
}

int CProcessWnd::AskOnWindowThread(const std::function<int()>& question) {
    int answer = 2;
    QMetaObject::invokeMethod(
        this, [&] { answer = question(); }, Qt::BlockingQueuedConnection);
    return answer;
}

QString CProcessWnd::Message(const char* id) const {
    // Read from the worker too: a plain lookup, never an insertion.
    auto found = messages_.find(QString::fromLatin1(id));
    return found == messages_.end() ? QString() : found->second;
}

// ---- Search ----

CSearchProcessWnd::CSearchProcessWnd(std::vector<ScanTarget*> targets, TypeChoice choice,
                                     std::vector<FoundItemRecord>& results, std::vector<std::string>& folders)
    : CProcessWnd(QStringLiteral("xml/SearchProcessWnd.xml"), QStringLiteral("SearchProcessWnd")),
      targets_(std::move(targets)),
      choice_(std::move(choice)),
      results_(results),
      folders_(folders) {}

int CSearchProcessWnd::Progress(void* window, int percent, int) {
    auto* self = static_cast<CSearchProcessWnd*>(window);
    if (!self->EnterCallback()) return kCancelCode;
    self->PostText("percent", QStringLiteral("%1 %2%").arg(self->Message("MSG1204")).arg(percent));
    self->PostProgress(percent);
    self->LeaveCallback();
    return 0;
}

void CSearchProcessWnd::Work() {
    for (ScanTarget* target : targets_) {
        if (!target->engine) continue;
        if (target->IsImage() && !target->IsImagePartition()) {
            PostText("stage", Message("MSG1203").replace(QStringLiteral("%s"),
                                                         QString::fromStdString(target->imagePath.string())));
        } else {
            PostText("stage", Message("MSG1202").replace(QStringLiteral("%d"),
                                                         QString::number(target->partition->letter)));
        }
        target->engine->SetSearchCallback(&CSearchProcessWnd::Progress, this);
        // The same files the command line lists for the same choice.
        IFileRecoveryParse& engine = *target->engine;
        static_cast<void>(ForEachChosenFile(
            engine, IsDeepEngine(engine),
            [this](const FoundItemRecord& record) { return ChosenByType(choice_, record.Name()); },
            [this, key = target->VolumeKey()](const ChosenFile& file) {
                results_.push_back(file.record);
                folders_.push_back(file.folderPath);
                // A scan kept from an earlier run, or made by the command line, wrote
                // that run's volume key into its records: they belong to this target now.
                results_.back().letter = key;
                return !IsCancelled();
            }));
        if (IsCancelled()) break;
    }
    PostToParent(WM_SEARCH_DONE);
    Finish(1);
}

// ---- Preview ----

CPreviewProcessWnd::CPreviewProcessWnd(IFileRecoveryParse& engine, const FoundItemRecord& record,
                                       CPreviewWnd& holder, const PreviewExtractionEnv& env)
    : CProcessWnd(QStringLiteral("xml/PreviewProcessWnd.xml"), QStringLiteral("PreviewProcessWnd")),
      engine_(engine),
      record_(record),
      holder_(holder),
      env_(env) {}

void CPreviewProcessWnd::OnWindowInit() {
    const QString name = QString::fromStdString(record_.Name());
    if (skin::Control* label = FindControl(QStringLiteral("FileName"))) label->SetText(name);
    if (skin::Control* stage = FindControl(QStringLiteral("stage")))
        stage->SetText(LanguageService::Instance().Message(QStringLiteral("MSG0902")) + u' ' + name);
    CProcessWnd::OnWindowInit();
}

int CPreviewProcessWnd::Progress(void* window, int percent, int /*error*/) {
    auto* self = static_cast<CPreviewProcessWnd*>(window);
    if (!self->EnterCallback()) return kCancelCode;
    self->PostText("percent", QStringLiteral("%1 %2%").arg(self->Message("MSG0901")).arg(percent));
    self->PostProgress(percent);
    self->LeaveCallback();
    return 0;
}

void CPreviewProcessWnd::Work() {
    const int rc = RunPreviewExtraction(engine_, record_, holder_, env_, &CPreviewProcessWnd::Progress, this);
    Finish(rc == kCancelCode ? 2 : 1);
}

}  // namespace sorvane::app
