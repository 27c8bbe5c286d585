// The disk-image window: copies a whole disk, or one partition of it, sector
// by sector into an image file on its worker thread, with progress, time
// left and a cancel that keeps what was copied.
#pragma once

#include <optional>

#include "app/process_wnd.h"

namespace sorvane::app {

class CCreateImageProcessWnd : public CProcessWnd {
  public:
    // What the copy came to, filled in before the window closes (it deletes
    // itself then): whether the image holds every sector (some perhaps as
    // zeros), how many could not be read, and how much was copied.
    struct Outcome {
        bool completed = false;
        uint64_t unreadableSectors = 0;
        uint64_t bytesCopied = 0;
    };
    // A partition, or (without one) the whole of disk `diskNumber`.
    CCreateImageProcessWnd(std::filesystem::path imagePath, std::optional<VolumeEntry> partition,
                           int diskNumber, Outcome* outcome = nullptr);
    static constexpr int kWidth = 450;
    static constexpr int kHeight = 250;

  protected:
    void Work() override;
    const char* CancelQuestionId() const override { return "MSG0306"; }

  private:
    static int Progress(void* window, int percent, uint64_t done, uint64_t total, int64_t secondsLeft);

    std::filesystem::path imagePath_;
    std::optional<VolumeEntry> partition_;
    int diskNumber_;
    Outcome* outcome_;
};

}  // namespace sorvane::app
