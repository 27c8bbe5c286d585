#include "app/recover_process_wnd.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QScreen>
#include <QUrl>
#include <new>

#include "app/found_files.h"
#include "app/skin_framework/list.h"
#include "carving/content_check.h"
#include "engines/safe_copy.h"
#include "platform/result_codes.h"

namespace sorvane::app {

CRecoverProcessWnd::CRecoverProcessWnd(std::map<uint64_t, FoundItemRecord> checked,
                                       std::vector<ScanTarget*> targets, std::filesystem::path destination)
    : CProcessWnd(QStringLiteral("xml/RecoverProcessWnd.xml"), QStringLiteral("RecoverProcessWnd")),
      checked_(std::move(checked)),
      targets_(std::move(targets)),
      destination_(std::move(destination)) {}

int CRecoverProcessWnd::Progress(void* window, int percent, int scale, int,
                                 const std::filesystem::path& path) {
    auto* self = static_cast<CRecoverProcessWnd*>(window);
    if (!self->EnterCallback()) return kCancelCode;
    const int p = percent * scale / 100;
    const QString current = QString::fromStdString(path.string());
    const QString percentText = QStringLiteral("%1 %2%").arg(self->Message("MSG1101")).arg(p);
    self->UpdatePending([&](Pending& pending) {
        pending.progress = p;
        pending.current = current;
        pending.percent = percentText;
    });
    self->LeaveCallback();
    return 0;
}

void CRecoverProcessWnd::UpdatePending(const std::function<void(Pending&)>& change) {
    const std::lock_guard<std::mutex> hold(pendingLock_);
    change(pending_);
    if (pending_.posted) return;
    pending_.posted = true;
    Post([this] { TakePending(); });
}

void CRecoverProcessWnd::TakePending() {
    Pending taken;
    {
        const std::lock_guard<std::mutex> hold(pendingLock_);
        std::swap(taken, pending_);
    }
    const auto setText = [this](const char* name, const QString& text) {
        if (text.isNull()) return;
        if (skin::Control* control = FindControl(QString::fromLatin1(name))) {
            control->SetText(text);
            control->setVisible(true);
        }
    };
    setText("current", taken.current);
    setText("percent", taken.percent);
    setText("recovered", taken.recovered);
    if (taken.progress >= 0) {
        if (auto* bar = Find<skin::Progress>(QStringLiteral("progress"))) bar->SetValue(taken.progress);
    }
    AddDetailRows(std::move(taken.rows));
}

void CRecoverProcessWnd::AddDetailRows(std::vector<DetailRow> rows) {
    auto* list = Find<skin::List>(QStringLiteral("DetailList"));
    if (!list || rows.empty()) return;
    const skin::List::Batch batch(*list);
    for (DetailRow& detail : rows) {
        auto* row = new skin::ListTextElement;
        row->SetText(0, detail.path);
        row->SetText(1, detail.status);
        row->setToolTip(detail.path);
        if (detail.kind == RowKind::kSuccess) {
            list->Add(row);
            continue;
        }
        // Failures and copies that may not open stand on top, where they are seen.
        row->SetTextColor(detail.kind == RowKind::kFailed ? QColor(0xFFFF0000) : QColor(0xFFC05800));
        list->AddAt(row, 0);
    }
}

void CRecoverProcessWnd::FileDone(const std::filesystem::path& path, int errorCode, const QString& copied,
                                  bool mayNotOpen, uint64_t unreadable) {
    ++processed_;
    if (errorCode != 0) ++failed_;
    if (errorCode == kErrDiskFull) ++didNotFit_;
    const QString shown = QString::fromStdString(path.string());
    // A file kept with zeros where the medium gave nothing is recovered, and says so.
    const QString status = errorCode != 0   ? QString::fromStdString(ResultText(errorCode))
                           : unreadable > 0 ? Message("MSG1228")
                                                  .replace(QStringLiteral("%s"), Message("MSG1104"))
                                                  .replace(QStringLiteral("%d"), QString::number(unreadable))
                                            : copied;
    const RowKind kind = errorCode != 0                 ? RowKind::kFailed
                         : mayNotOpen || unreadable > 0 ? RowKind::kMayNotOpen
                                                        : RowKind::kSuccess;
    QString line = Message("MSG1102");
    for (int value : {processed_.load(), toProcess_, processed_ - failed_, failed_.load()}) {
        const qsizetype at = line.indexOf(QStringLiteral("%d"));
        if (at >= 0) line.replace(at, 2, QString::number(value));
    }
    if (didNotFit_ > 0)
        line += u' ' + Message("MSG2109").replace(QStringLiteral("%d"), QString::number(didNotFit_));
    UpdatePending([&](Pending& pending) {
        pending.rows.push_back({shown, status, kind});
        pending.recovered = line;
    });
}

void CRecoverProcessWnd::Work() {
    processed_ = 0;
    failed_ = 0;
    didNotFit_ = 0;
    toProcess_ = static_cast<int>(checked_.size());
    const uint32_t baseDepth = BaseDepthOf(destination_);
    for (const auto& [key, record] : checked_) {
        ScanTarget* target = TargetOfVolumeKey(targets_, record.letter);
        IFileRecoveryParse* engine = target ? target->engine.get() : nullptr;
        const std::filesystem::path wanted = RecoveryWantedPath(destination_, record);
        if (!engine || wanted.empty()) {
            FileDone(wanted.empty() ? destination_ / record.Name() : wanted,
                     engine ? kErrInvalidName : kErrInvalidParameter);
            continue;
        }
        engine->SetCallbacks(nullptr, &CRecoverProcessWnd::Progress, this, 100);
        int rc = 0;
        std::filesystem::path written;
        try {
            rc = RecoverFileSafely(*engine, record, destination_, wanted, baseDepth, written);
        } catch (const std::bad_alloc&) {
            rc = kErrNotEnoughMemory;
        } catch (...) {
            // No engine should throw; if one does, the file counts as failed and the rest go on.
            rc = kErrReadFault;
        }
        if (rc == kCancelCode) {
            Finish(2);
            return;
        }
        // The safe copy's answer alone, as the command line takes it: an error
        // its callback reported belongs to an attempt the safe copy made again
        // under a name the destination takes. A full destination goes on with
        // the files that may still fit.
        const int result = rc;
        const FileCondition condition = ConditionOf(record, target->VolumeBytes(), target->SectorSize());
        FileDone(written.empty() ? wanted : written, result, RecoveredStatusText(record, condition),
                 MayNotOpen(condition) || record.contentCheck == kContentContradicts,
                 result == 0 ? engine->UnreadableSectorsOfLastCopy() : 0);
    }
    Post([this] {
        if (skin::Control* finish = FindControl(QStringLiteral("FinishBtn"))) finish->setVisible(true);
        if (skin::Control* cancel = FindControl(QStringLiteral("CancelBtn"))) cancel->setVisible(false);
        if (skin::Control* current = FindControl(QStringLiteral("current")))
            current->SetText(QString::fromStdString(destination_.string()));
    });
    // The window stays open until the user closes it.
    MarkFinished();
}

void CRecoverProcessWnd::OnCancelClicked() {
    if (skin::Control* finish = FindControl(QStringLiteral("FinishBtn")); finish && !finish->isHidden()) {
        Close(1);
        return;
    }
    CProcessWnd::OnCancelClicked();
}

void CRecoverProcessWnd::ToggleDetails() {
    auto* list = FindControl(QStringLiteral("DetailList"));
    if (!list) return;
    detailsShown_ = !detailsShown_;
    list->setVisible(detailsShown_);
    // The list takes the room the spacer keeps while it is hidden.
    if (skin::Control* spacer = FindControl(QStringLiteral("DetailSpacer")))
        spacer->setVisible(!detailsShown_);
    const QSize initial = InitialSize().isValid() ? InitialSize() : QSize(kWidth, kHeight);
    resize(detailsShown_ ? QSize(width() + 150, height() + 300) : initial);
    CentreOnParent();
}

void CRecoverProcessWnd::Notify(skin::Notification& notification) {
    if (notification.type == u"click" && notification.sender) {
        const QString name = notification.sender->Name();
        if (name == u"FinishBtn") return Close(1);
        if (name == u"DetailBtn") return ToggleDetails();
        if (name == u"OpenBtn") {
            QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(destination_.string())));
            return;
        }
    }
    CProcessWnd::Notify(notification);
}

}  // namespace sorvane::app
