#include "app/create_image_process_wnd.h"

#include "app/scan_process_wnd.h"
#include "platform/file_owner.h"
#include "platform/result_codes.h"
#include "results/image_copy.h"

namespace sorvane::app {

CCreateImageProcessWnd::CCreateImageProcessWnd(std::filesystem::path imagePath,
                                               std::optional<VolumeEntry> partition, int diskNumber,
                                               Outcome* outcome)
    : CProcessWnd(QStringLiteral("xml/CreateImageProcessWnd.xml"), QStringLiteral("CreateImageWnd")),
      imagePath_(std::move(imagePath)),
      partition_(std::move(partition)),
      diskNumber_(diskNumber),
      outcome_(outcome) {}

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
    // Unreadable sectors do not end the copy: they become zeros, listed beside
    // the image, as the command line's --keep-going does.
    job.keepGoing = true;
    int rc = RunImageCopy(job, disk, start, count, imagePath_, this);
    const std::filesystem::path map = UnreadableMapPath(imagePath_);
    std::error_code ec;
    std::filesystem::remove(map, ec);  // a list from an earlier image of this name
    if (rc == kErrReadFault && !job.unreadable.Empty()) {
        const std::string source = partition_ ? partition_->volumePath : "disk " + std::to_string(disk);
        rc = SaveUnreadableMap(job.unreadable, job.bytesPerSector, source, map);
        if (rc == kSuccess) static_cast<void>(GiveToInvokingUser(map));
    }
    static_cast<void>(GiveToInvokingUser(imagePath_));
    if (outcome_)
        *outcome_ =
            Outcome{rc == kSuccess, job.unreadable.SectorCount(), job.sectorsCopied * job.bytesPerSector};
    Finish(rc == kCancelCode ? 2 : rc != 0 ? 3 : 1);
}

}  // namespace sorvane::app
