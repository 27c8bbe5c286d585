// The progress window of a preview: its worker thread has the engine extract
// the file into the result holder while the window shows how far it got and
// offers to cancel. Closes with 1 when the extraction ended, 2 when cancelled.
#pragma once

#include <atomic>
#include <mutex>
#include <thread>

#include "app/popup_wnd.h"
#include "app/preview/preview_wnd.h"

namespace sorvane::app {

class CPreviewProcessWnd : public CPopUpWnd {
  public:
    static constexpr int kWidth = 450;
    static constexpr int kHeight = 250;

    // `engine`, `record`, `holder` and `env` must outlive the window.
    CPreviewProcessWnd(IFileRecoveryParse& engine, const FoundItemRecord& record, CPreviewWnd& holder,
                       const PreviewExtractionEnv& env);
    ~CPreviewProcessWnd() override;

    // The engine's answer once the window has closed.
    int ExtractionResult() const { return result_; }
    // Asks the worker to stop at its next progress report, as the cancel
    // button does after the user confirmed.
    void RequestCancel();

  protected:
    void OnWindowInit() override;
    void Notify(skin::Notification& notification) override;

  private:
    static int PreviewProgress(void* userData, int percent, int errorCode);
    void Work();
    void ShowPercent(int percent);

    IFileRecoveryParse& engine_;
    FoundItemRecord record_;
    CPreviewWnd& holder_;
    const PreviewExtractionEnv& env_;
    std::thread worker_;
    // Held by a progress report and by the window while it asks whether to
    // cancel, so the work pauses while the question is open.
    std::mutex section_;
    bool cancel_ = false;
    std::atomic<bool> finished_{false};
    std::atomic<int> result_{0};
};

}  // namespace sorvane::app
