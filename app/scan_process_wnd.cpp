#include "app/scan_process_wnd.h"

#include <chrono>
#include <system_error>
#include <thread>

#include "app/message_box.h"
#include "engines/professional_recovery.h"
#include "platform/instance_lock.h"
#include "results/scan_resume_store.h"

namespace sorvane::app {

std::atomic<bool> CScanProcessWnd::running_{false};

QString RemainingTimeText(int64_t seconds, const TimeFormats& formats) {
    auto fill = [](QString text, std::initializer_list<int64_t> values) {
        for (int64_t value : values) {
            const qsizetype at = text.indexOf(QStringLiteral("%d"));
            if (at >= 0) text.replace(at, 2, QString::number(value));
        }
        return text;
    };
    if (seconds >= 3600) return fill(formats.hoursMinutes, {seconds / 3600, seconds % 3600 / 60});
    if (seconds >= 60) return fill(formats.minutesSeconds, {seconds / 60, seconds % 60});
    return fill(formats.seconds, {seconds});
}

CScanProcessWnd::CScanProcessWnd(std::vector<ScanTarget*> targets, int mode)
    : CProcessWnd(QStringLiteral("xml/ScanProcessWnd.xml"), QStringLiteral("ScanWnd")),
      targets_(std::move(targets)),
      mode_(mode) {}

int CScanProcessWnd::Progress(void* window, int percent, int weight, int64_t remaining, uint64_t processed,
                              uint64_t total, uint64_t found) {
    auto* self = static_cast<CScanProcessWnd*>(window);
    if (!self->EnterCallback()) return kCancelCode;
    const int shown = percent * weight / 100;
    self->PostText("time", remaining == -1 ? self->Message("MSG0705")
                                           : self->Message("MSG0708") + u' ' +
                                                 RemainingTimeText(remaining, self->TimeWords()));
    self->PostProgress(shown);
    self->PostText("percent", QStringLiteral("%1 %2%").arg(self->Message("MSG0704")).arg(shown));
    if (total != 0) {
        self->PostText("sectors",
                       QStringLiteral("%1 %2 / %3").arg(self->Message("MSG0706")).arg(processed).arg(total));
        self->PostText("totalfile", QStringLiteral("%1 %2").arg(self->Message("MSG0707")).arg(found));
    } else {
        self->PostText("sectors", QString(), false);
        self->PostText("totalfile", QString(), false);
    }
    self->LeaveCallback();
    return 0;
}

void CScanProcessWnd::ScanOne(ScanTarget& target, bool& stop) {
    if (target.IsImage() && !target.IsImagePartition()) {
        PostText("stage", Message("MSG0703") + u' ' + QString::fromStdString(target.imagePath.string()));
    } else {
        PostText("stage",
                 Message("MSG0702").replace(QStringLiteral("%d"), QString::number(target.partition->letter)));
    }
    target.engine.reset();
    std::unique_ptr<IFileRecoveryParse> engine = target.CreateEngine(mode_ == kDeep);
    if (!engine) {
        stop = true;
        Finish(3);
        return;
    }
    CScanResumeStore& store = CScanResumeStore::Instance();
    if (mode_ == kQuick) {
        store.NewScanFolder();
    } else if (auto* deep = dynamic_cast<CProfessionalRecovery*>(engine.get())) {
        // A finished scan is offered for its results, an unfinished one for
        // continuing; the record of another disk of the same layout is never used.
        const bool finished = deep->HasResumeRecord() && deep->SavedScanFinished();
        // Opened from the list of earlier scans, a finished scan's results are what was asked for.
        const char* question = !deep->HasResumeRecord() ? nullptr
                               : finished               ? (showEarlier_ ? nullptr : "MSG2110")
                                                        : "MSG1206";
        const char* notice = deep->ResumeOfOtherTarget() ? "MSG2111" : nullptr;
        if (question || notice) {
            const int answer = AskOnWindowThread([this, question, notice] {
                hide();
                int code = 0;
                if (notice) CMessageBox::Show(CMessageBox::kInformation, ParentWindow(), Message(notice));
                if (question)
                    code = CMessageBox::Show(CMessageBox::kQuestion, ParentWindow(), Message(question));
                show();
                return code;
            });
            if (question && answer != 1) deep->DeclineResume();
        }
    }
    engine->SetCallbacks(&CScanProcessWnd::Progress, nullptr, this, 100);
    IFileRecoveryParse* scanning = engine.get();
    target.engine = std::move(engine);
    if (scanning->Scan(nullptr) == kCancelCode) stop = true;
}

bool CScanProcessWnd::WaitForScanLock(InstanceLock& lock) {
    const std::filesystem::path file = ScanLockFile();
    if (lock.TryAcquire(file)) return true;
    std::error_code ec;
    // A data folder that cannot be written makes the scan itself fail, and say so.
    if (!std::filesystem::exists(file, ec)) return true;
    PostText("stage", Message("MSG0710"));
    while (!lock.TryAcquire(file)) {
        if (IsCancelled()) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return true;
}

void CScanProcessWnd::Work() {
    // One scan at a time writes the data folder, whether started here or on
    // the command line: two would share scan folders and resume records.
    InstanceLock dataLock;
    if (!WaitForScanLock(dataLock)) {
        Finish(2);  // stopped while waiting: nothing was scanned
        return;
    }
    running_ = true;
    bool stop = false;
    bool noEngine = false;
    for (ScanTarget* target : targets_) {
        ScanOne(*target, stop);
        if (stop) {
            noEngine = IsFinished();
            break;
        }
    }
    running_ = false;
    if (noEngine) return;  // closed with code 3; nothing to list from this target
    PostToParent(WM_SCAN_DONE);
    Finish(1);
}

}  // namespace sorvane::app
