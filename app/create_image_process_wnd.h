// The disk-image window: copies a whole disk, or one partition of it, sector
// by sector into an image file on its worker thread, with progress, time
// left and a cancel that keeps what was copied.
#pragma once

#include <optional>

#include "app/process_wnd.h"

namespace sorvane::app {

class CCreateImageProcessWnd : public CProcessWnd {
  public:
    // A partition, or (without one) the whole of disk `diskNumber`.
    CCreateImageProcessWnd(std::filesystem::path imagePath, std::optional<VolumeEntry> partition,
                           int diskNumber);
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
};

}  // namespace sorvane::app
