#include "app/thumbnail_maker.h"

#include <QFile>
#include <QImageReader>
#include <QPainter>
#include <memory>
#include <string>
#include <string_view>

#include "app/preview/picture_decode.h"
#include "app/preview/preview_wnd.h"
#include "engines/log_engine_base.h"
#include "engines/professional_recovery.h"
#include "platform/path_text.h"
#include "results/file_categories.h"
#include "results/scan_resume_store.h"

namespace sorvane::app {
namespace {

// Picture types the photo list leaves out that an image plugin of the system may decode.
constexpr std::string_view kMorePictures = "*.webp|*.heic|*.heif|*.avif";

// JPEG keeps a thumbnail at a tenth of its PNG size; transparency is laid on
// the white the grid's cells have.
QImage Opaque(const QImage& picture) {
    if (!picture.hasAlphaChannel()) return picture;
    QImage flat(picture.size(), QImage::Format_RGB32);
    flat.fill(Qt::white);
    QPainter painter(&flat);
    painter.drawImage(0, 0, picture);
    return flat;
}

}  // namespace

CThumbnailMaker::CThumbnailMaker(Delivery deliver) : deliver_(std::move(deliver)) {
    worker_ = std::thread([this] { Run(); });
}

CThumbnailMaker::~CThumbnailMaker() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
        queue_.clear();
        cancel_ = true;
    }
    changed_.notify_all();
    worker_.join();
}

bool CThumbnailMaker::IsPictureType(const std::string& fileName) {
    const std::string extension = LowerExtension(fileName);
    return ListHasExtension(kPhotoExtensions, extension) || ListHasExtension(kMorePictures, extension);
}

bool CThumbnailMaker::TriesPicture(const FoundItemRecord& record) {
    if (record.IsFolder() || record.size == 0 || record.size > kMaxPictureBytes) return false;
    const std::string extension = LowerExtension(record.Name());
    if (!IsPictureType(record.Name())) return false;
    static const QList<QByteArray> formats = QImageReader::supportedImageFormats();
    // A camera's ".thm" thumbnail is a JPEG.
    return formats.contains(extension == "thm" ? QByteArray("jpeg") : QByteArray::fromStdString(extension));
}

std::filesystem::path CThumbnailMaker::ScanFolderOf(IFileRecoveryParse& engine) {
    // A deep scan keeps every log of its sub-engines in its own folder; a
    // quick engine's log lies in the folder of its scan.
    CScanLog* log = nullptr;
    if (auto* deep = dynamic_cast<CProfessionalRecovery*>(&engine))
        log = deep->DeepFat().Log();
    else if (auto* quick = dynamic_cast<CLogEngineBase*>(&engine))
        log = quick->Log();
    if (!log || log->RecordPath().empty()) return {};
    const std::filesystem::path folder = log->RecordPath().parent_path();
    // Thumbnails go only where the store deletes them with the scan.
    return CScanResumeStore::Instance().IsOwnScanFolder(folder) ? folder : std::filesystem::path();
}

std::filesystem::path CThumbnailMaker::CacheFileOf(const std::filesystem::path& scanFolder,
                                                   const FoundItemRecord& record) {
    if (scanFolder.empty()) return {};
    // Record numbers count per engine log, and a quick scan of several
    // partitions keeps their logs in one folder: the partition and the engine
    // make the number unique.
    const std::string name = std::to_string(uint64_t{record.partitionStart}) + '-' +
                             std::to_string(uint32_t{record.engineCode}) + '-' +
                             std::to_string(uint32_t{record.recordNumber}) + ".jpg";
    return scanFolder / "thumbnails" / name;
}

void CThumbnailMaker::Want(std::vector<ThumbnailJob> jobs) {
    {
        std::lock_guard lock(mutex_);
        queue_.assign(std::make_move_iterator(jobs.begin()), std::make_move_iterator(jobs.end()));
    }
    changed_.notify_all();
}

void CThumbnailMaker::Forget() {
    std::unique_lock lock(mutex_);
    ++generation_;
    queue_.clear();
    cancel_ = true;
    // The whole job, its thumbnail file too: the scan folder it writes into may go next.
    changed_.wait(lock, [this] { return !running_; });
}

bool CThumbnailMaker::Busy() const {
    std::lock_guard lock(mutex_);
    return running_ || !queue_.empty();
}

CThumbnailMaker::Hold::Hold(CThumbnailMaker* maker) : maker_(maker) {
    if (maker_) maker_->BeginHold();
}

CThumbnailMaker::Hold::~Hold() {
    if (maker_) maker_->EndHold();
}

void CThumbnailMaker::BeginHold() {
    std::unique_lock lock(mutex_);
    ++holds_;
    cancel_ = true;
    changed_.wait(lock, [this] { return !engineStep_; });
}

void CThumbnailMaker::EndHold() {
    {
        std::lock_guard lock(mutex_);
        --holds_;
    }
    changed_.notify_all();
}

int CThumbnailMaker::Progress(void* maker, int, int) {
    return static_cast<CThumbnailMaker*>(maker)->cancel_ ? kCancelCode : 0;
}

void CThumbnailMaker::EndEngineStep() {
    {
        std::lock_guard lock(mutex_);
        engineStep_ = false;
    }
    changed_.notify_all();
}

void CThumbnailMaker::Run() {
    std::unique_ptr<CPreviewWnd> holder;
    for (;;) {
        ThumbnailJob job;
        uint64_t generation = 0;
        {
            std::unique_lock lock(mutex_);
            if (running_) {
                running_ = false;
                changed_.notify_all();
            }
            changed_.wait(lock, [this] { return stop_ || (holds_ == 0 && !queue_.empty()); });
            if (stop_) return;
            job = std::move(queue_.front());
            queue_.pop_front();
            generation = generation_;
            cancel_ = false;
            running_ = engineStep_ = true;
        }
        // Made on the first job: its buffer is large, and a file the engine
        // writes to the preview folder is deleted with it.
        if (!holder) holder = std::make_unique<CPreviewWnd>();
        QImage picture;
        const bool made = Make(job, *holder, picture);
        std::lock_guard lock(mutex_);
        if (generation != generation_ || stop_) continue;
        if (!made) {
            // Cancelled by a hold: made again once it ends, before what is waiting.
            queue_.push_front(std::move(job));
            continue;
        }
        QMetaObject::invokeMethod(
            this,
            [this, key = job.key, picture, generation] {
                if (generation == generation_) deliver_(key, picture);
            },
            Qt::QueuedConnection);
    }
}

int CThumbnailMaker::ReadPictureBytes(const ThumbnailJob& job, CPreviewWnd& holder, QByteArray& bytes) {
    const PreviewExtractionEnv env;  // no players to end: media files are never read here
    const int rc =
        RunPreviewExtraction(*job.engine, job.record, holder, env, &CThumbnailMaker::Progress, this);
    if (rc == 0 && !holder.tempPath.empty()) {
        QFile file(QString::fromStdString(Utf8FromPath(holder.tempPath)));
        if (file.open(QIODevice::ReadOnly)) bytes = file.readAll();
    } else if (rc == 0) {
        const size_t count = std::min(holder.byteCount, holder.buffer.size());
        bytes =
            QByteArray(reinterpret_cast<const char*>(holder.buffer.data()), static_cast<qsizetype>(count));
    }
    // The preview pane writes the same file: nothing of a thumbnail's stays behind for it.
    if (!holder.tempPath.empty()) {
        std::error_code ignored;
        std::filesystem::remove(holder.tempPath, ignored);
        holder.tempPath.clear();
    }
    return rc;
}

bool CThumbnailMaker::Make(const ThumbnailJob& job, CPreviewWnd& holder, QImage& picture) {
    const QString cached = QString::fromStdString(Utf8FromPath(job.cacheFile));
    if (!job.cacheFile.empty()) {
        std::error_code ec;
        if (std::filesystem::is_regular_file(job.cacheFile, ec) && picture.load(cached, "JPG")) {
            EndEngineStep();
            ++readFromCache_;
            return true;
        }
    }
    QByteArray bytes;
    int rc = 0;
    if (job.engine && TriesPicture(job.record)) rc = ReadPictureBytes(job, holder, bytes);
    EndEngineStep();
    if (rc == kCancelCode) return false;
    picture = DecodeThumbnail(bytes, kEdge);
    if (picture.isNull()) return true;
    ++madeFromFiles_;
    if (job.cacheFile.empty()) return true;
    // Only inside a scan folder that is there: one deleted meanwhile is not made again by this.
    std::error_code ec;
    const std::filesystem::path folder = job.cacheFile.parent_path();
    if (!std::filesystem::is_directory(folder.parent_path(), ec)) return true;
    std::filesystem::create_directory(folder, ec);
    // Written under a passing name and renamed, so a thumbnail file is always whole.
    const std::filesystem::path part = job.cacheFile.string() + ".part";
    if (Opaque(picture).save(QString::fromStdString(Utf8FromPath(part)), "JPG", 85))
        std::filesystem::rename(part, job.cacheFile, ec);
    if (ec) std::filesystem::remove(part, ec);
    return true;
}

}  // namespace sorvane::app
