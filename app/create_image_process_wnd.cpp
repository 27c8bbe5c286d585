#include "app/create_image_process_wnd.h"

#include "app/scan_process_wnd.h"
#include "results/image_copy.h"

namespace sorvane::app {

CCreateImageProcessWnd::CCreateImageProcessWnd(std::filesystem::path imagePath,
                                               std::optional<VolumeEntry> partition, int diskNumber)
    : CProcessWnd(QStringLiteral("xml/CreateImageProcessWnd.xml"), QStringLiteral("CreateImageWnd")),
      imagePath_(std::move(imagePath)),
      partition_(std::move(partition)),
      diskNumber_(diskNumber) {}

int CCreateImageProcessWnd::Progress(void* window, int percent, uint64_t done, uint64_t total,
                                     int64_t secondsLeft) {
    auto* self = static_cast<CCreateImageProcessWnd*>(window);
    if (!self->EnterCallback()) return kCancelCode;
    self->PostText("percent", QStringLiteral("%1 %2%").arg(self->Message("MSG0301")).arg(percent));
    self->PostProgress(percent);
    self->PostText("time", secondsLeft == -1 ? self->Message("MSG0304")
                                             : QStringLiteral("%1 %2").arg(
                                                   self->Message("MSG0305"),
                                                   RemainingTimeText(secondsLeft, self->TimeWords())));
    self->PostText("sectors",
                   QStringLiteral("%1 %2 / %3").arg(self->Message("MSG0303")).arg(done).arg(total));
    self->LeaveCallback();
    return 0;
}

void CCreateImageProcessWnd::Work() {
    PostText("stage",
             QStringLiteral("%1 %2").arg(Message("MSG0302"), QString::fromStdString(imagePath_.string())));
    ImageCopyJob job;
    job.progress = &CCreateImageProcessWnd::Progress;
    const int disk = partition_ ? partition_->diskNumber : diskNumber_;
    const uint64_t start = partition_ ? partition_->start : 0;
    const uint64_t count = partition_ ? partition_->length : 0;
    const int rc = RunImageCopy(job, disk, start, count, imagePath_, this);
    Finish(rc == kCancelCode ? 2 : rc != 0 ? 3 : 1);
}

}  // namespace sorvane::app
