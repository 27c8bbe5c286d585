// The recovery window: copies every checked file out of its engine into its
// category folder below the destination, one after another on the worker
// thread, and lists each file's outcome; failures stand in red at the top.
#pragma once

#include <map>
#include <mutex>
#include <vector>

#include "app/process_wnd.h"

namespace sorvane::app {

class CRecoverProcessWnd : public CProcessWnd {
  public:
    // `checked`: the checked files in key order; `targets`: every listed target.
    CRecoverProcessWnd(std::map<uint64_t, FoundItemRecord> checked, std::vector<ScanTarget*> targets,
                       std::filesystem::path destination);
    static constexpr int kWidth = 500;
    static constexpr int kHeight = 250;

    int Processed() const { return processed_; }
    int Failed() const { return failed_; }
    int DidNotFit() const { return didNotFit_; }

  protected:
    void Work() override;
    void OnCancelClicked() override;
    void Notify(skin::Notification& notification) override;
    const char* CancelQuestionId() const override { return "MSG1103"; }
    bool AllowSizing() const override { return true; }

  private:
    static int Progress(void* window, int percent, int scale, int errorCode,
                        const std::filesystem::path& path);
    enum class RowKind { kSuccess, kMayNotOpen, kFailed };
    // Counts one finished file and adds its detail row (the window's thread
    // does the drawing); `copied` is the status of a file copied without error.
    // `unreadable`: sectors of a recovered file written as zeros (it is damaged).
    void FileDone(const std::filesystem::path& path, int errorCode, const QString& copied = QString(),
                  bool mayNotOpen = false, uint64_t unreadable = 0);
    struct DetailRow {
        QString path, status;
        RowKind kind;
    };
    // What the worker reported since the window's thread last looked; the
    // window takes it all in one turn of its event loop, so 100,000 files
    // cost a few hundred layouts, not 100,000.
    struct Pending {
        std::vector<DetailRow> rows;
        QString recovered, current, percent;
        int progress = -1;
        bool posted = false;
    };
    // Runs `change` on the pending state under its lock, and asks the window's
    // thread to take it in when nothing is asked yet.
    void UpdatePending(const std::function<void(Pending&)>& change);
    void TakePending();
    void AddDetailRows(std::vector<DetailRow> rows);
    void ToggleDetails();

    std::map<uint64_t, FoundItemRecord> checked_;
    std::vector<ScanTarget*> targets_;
    std::filesystem::path destination_;
    std::atomic<int> processed_{0}, failed_{0}, didNotFit_{0};
    int toProcess_ = 0;
    bool detailsShown_ = false;
    std::mutex pendingLock_;
    Pending pending_;  // guarded by pendingLock_
};

}  // namespace sorvane::app
