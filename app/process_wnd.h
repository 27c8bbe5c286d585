// The small modal windows that run a long operation on a worker thread of
// their own: the window starts the worker when its layout is ready, shows the
// progress the worker reports through the engine callbacks, lets the user
// cancel, and closes when the worker ends. The user-interface thread never
// waits for the work.
//
// The worker never touches a control: it hands every change to the window's
// thread. Cancelling holds the window's lock while the question is open, so
// the worker's next progress call waits and the work pauses meanwhile.
#pragma once

#include <QEvent>
#include <atomic>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "app/popup_wnd.h"
#include "app/preview/preview_wnd.h"
#include "app/scan_target.h"
#include "results/file_categories.h"

namespace sorvane::app {

// Posted to the main window by the scan and search workers when they end.
inline constexpr QEvent::Type WM_SCAN_DONE = static_cast<QEvent::Type>(0x401);
inline constexpr QEvent::Type WM_SEARCH_DONE = static_cast<QEvent::Type>(0x402);

// Texts for a time left: hours and minutes, minutes and seconds, seconds
// alone, each with its "%d" values in that order ("%d h %d min").
struct TimeFormats {
    QString hoursMinutes, minutesSeconds, seconds;
};

class CProcessWnd : public CPopUpWnd {
  public:
    ~CProcessWnd() override;

    // Creates the window over `parent`, runs it modally and returns its close
    // code (1 done, 2 cancelled, 3 no engine). The window is destroyed after.
    static int Run(CProcessWnd* window, QWidget* parent, int width, int height);

    bool IsFinished() const { return finished_.load(); }
    bool IsCancelled() const;

  protected:
    CProcessWnd(const QString& skinFile, QString languageSection);

    // The work; runs on the worker thread. It ends by calling Finish.
    virtual void Work() = 0;
    // The message id of the cancel question ("MSG0709").
    virtual const char* CancelQuestionId() const = 0;
    // Whether the window closes itself with code 2 after a confirmed cancel
    // (else the worker closes it).
    virtual bool ClosesAfterCancel() const { return true; }
    // A click on "closebtn", "cancelbtn" or "CancelBtn".
    virtual void OnCancelClicked();

    void OnWindowInit() override;
    void Notify(skin::Notification& notification) override;

    // Enters the window's lock for a progress call; false (lock released) when
    // the user has cancelled, and the callback then answers kCancelCode.
    bool EnterCallback();
    void LeaveCallback() { lock_.unlock(); }

    // Runs `change` on the window's thread, soon; dropped when the window is gone.
    void Post(std::function<void()> change);
    void PostText(const char* control, const QString& text, bool show = true);
    void PostProgress(int percent);
    // Sets the finished flag and asks the window's thread to close with `code`.
    void Finish(int code);
    // Sets the finished flag of a window that stays open when its work is done.
    void MarkFinished() { finished_ = true; }
    // Posts `type` to the main window (the parent).
    void PostToParent(QEvent::Type type);
    // Runs `question` on the window's thread and waits for its answer.
    int AskOnWindowThread(const std::function<int()>& question);

    QString Message(const char* id) const;
    // The language's texts for a time left.
    TimeFormats TimeWords() const { return {Message("MSG0711"), Message("MSG0712"), Message("MSG0713")}; }

  private:
    QString section_;
    mutable std::mutex lock_;
    bool cancel_ = false;  // guarded by lock_
    std::atomic<bool> finished_{false};
    std::thread worker_;
};

// Lists the files of every scanned target that match the file-type pattern,
// appending them to the main window's results.
class CSearchProcessWnd : public CProcessWnd {
  public:
    // `folders` gets each result's folder path ("a/b/", empty when lost), at the same index.
    CSearchProcessWnd(std::vector<ScanTarget*> targets, TypeChoice choice,
                      std::vector<FoundItemRecord>& results, std::vector<std::string>& folders);
    static constexpr int kWidth = 450;
    static constexpr int kHeight = 220;

  protected:
    void Work() override;
    const char* CancelQuestionId() const override { return "MSG1205"; }

  private:
    static int Progress(void* window, int percent, int);
    std::vector<ScanTarget*> targets_;
    TypeChoice choice_;
    std::vector<FoundItemRecord>& results_;
    std::vector<std::string>& folders_;
};

// Extracts one found file for the preview: classifies it, ends the players of
// an earlier preview, makes the document converter, and has the engine write
// the file into the preview folder or the holder's buffer (preview_wnd.h).
class CPreviewProcessWnd : public CProcessWnd {
  public:
    // `engine`, `holder` and `env` must outlive the window.
    CPreviewProcessWnd(IFileRecoveryParse& engine, const FoundItemRecord& record, CPreviewWnd& holder,
                       const PreviewExtractionEnv& env);
    static constexpr int kWidth = 450;
    static constexpr int kHeight = 250;

  protected:
    void OnWindowInit() override;
    void Work() override;
    const char* CancelQuestionId() const override { return "MSG0903"; }
    bool ClosesAfterCancel() const override { return false; }

  private:
    static int Progress(void* window, int percent, int error);
    IFileRecoveryParse& engine_;
    FoundItemRecord record_;
    CPreviewWnd& holder_;
    const PreviewExtractionEnv& env_;
};

}  // namespace sorvane::app
