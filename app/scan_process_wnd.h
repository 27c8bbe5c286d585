// The scan window: creates an engine for each chosen target in turn and runs
// its scan on the worker thread. A cancelled scan still hands over what it
// found: the main window lists it exactly like the result of a complete one.
#pragma once

#include <vector>

#include "app/process_wnd.h"

namespace sorvane {
class InstanceLock;
}

namespace sorvane::app {

class CScanProcessWnd : public CProcessWnd {
  public:
    enum Mode { kQuick = 0, kDeep = 1 };
    CScanProcessWnd(std::vector<ScanTarget*> targets, int mode);
    static constexpr int kWidth = 450;
    static constexpr int kHeight = 250;

    // True while a scan worker of any window runs (for tests and the disk list).
    static bool ScanRunning() { return running_.load(); }
    // A finished earlier deep scan of the target is shown without asking: the
    // person opened it from the list of earlier scans.
    void ShowEarlierResults() { showEarlier_ = true; }

  protected:
    void Work() override;
    const char* CancelQuestionId() const override { return "MSG0709"; }
    bool ClosesAfterCancel() const override { return false; }

  private:
    static int Progress(void* window, int percent, int weight, int64_t remaining, uint64_t processed,
                        uint64_t total, uint64_t found);
    void ScanOne(ScanTarget& target, bool& stop);
    // Takes the data folder's scan lock, waiting (and saying so) while another
    // scan holds it. False when the user stopped the wait.
    bool WaitForScanLock(InstanceLock& lock);

    std::vector<ScanTarget*> targets_;
    int mode_;
    bool showEarlier_ = false;
    static std::atomic<bool> running_;
};

// The time left in the words of the language (TimeFormats, process_wnd.h).
QString RemainingTimeText(int64_t seconds, const TimeFormats& formats);

}  // namespace sorvane::app
