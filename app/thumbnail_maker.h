// The thumbnails of the results page's picture grid: made one at a time on a
// worker thread from the found file's bytes, read through the engine's preview
// read as the preview pane reads them, scaled down, and kept as small JPEG files
// in a "thumbnails" folder of the scan's own folder, so a scan opened again
// shows its pictures without reading the card a second time.
#pragma once

#include <QImage>
#include <QObject>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engines/file_recovery_parse.h"

namespace sorvane::app {

class CPreviewWnd;

// One thumbnail to make.
struct ThumbnailJob {
    uint64_t key = 0;  // the file's key in the results (CheckedFileKey)
    FoundItemRecord record{};
    IFileRecoveryParse* engine = nullptr;  // must stay until Forget() or the maker's end
    // Where the thumbnail is kept (CacheFileOf); empty keeps it in memory only.
    std::filesystem::path cacheFile;
};

class CThumbnailMaker : public QObject {
  public:
    // Longest side of a thumbnail, in pixels.
    static constexpr int kEdge = 144;
    // Larger pictures are not read for a thumbnail: their type icon stands in.
    static constexpr uint64_t kMaxPictureBytes = 64ull << 20;

    // Told on the window thread, for each job made: the picture, or a null
    // image when the file gave none (not a picture the program can decode, or
    // unreadable), for which the type icon stays.
    using Delivery = std::function<void(uint64_t key, const QImage& picture)>;

    explicit CThumbnailMaker(Delivery deliver);
    // Cancels the running job and ends the worker.
    ~CThumbnailMaker() override;
    CThumbnailMaker(const CThumbnailMaker&) = delete;
    CThumbnailMaker& operator=(const CThumbnailMaker&) = delete;

    // Replaces the waiting jobs by `jobs`, made first to last. The job running
    // goes on.
    void Want(std::vector<ThumbnailJob> jobs);
    // Drops the waiting jobs and ends the running one, returning once the worker
    // has finished with it (its engine and its scan folder); nothing asked for
    // before is delivered after this. For when the engines, the results or a
    // scan folder go.
    void Forget();

    // While a Hold lives, the worker leaves the engines and the preview folder
    // alone: the running job is cancelled (and made again afterwards) and the
    // constructor returns once the worker has let go. Holds nest. For whatever
    // else reads through the engines: a preview, a search, a recovery, a scan.
    class Hold {
      public:
        explicit Hold(CThumbnailMaker* maker);
        ~Hold();
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;

      private:
        CThumbnailMaker* maker_;
    };

    // Thumbnails made from the found file's bytes, and those read back from
    // the cache folder, since the maker started.
    uint64_t MadeFromFiles() const { return madeFromFiles_; }
    uint64_t ReadFromCache() const { return readFromCache_; }
    // True while jobs wait or one runs.
    bool Busy() const;

    // Whether a file of this name is of a picture type: the photo category's
    // types, and those an image plugin of the system may decode (WebP, HEIC).
    static bool IsPictureType(const std::string& fileName);
    // Whether a thumbnail is tried for this found file: a file of a picture
    // type the system's image readers decode, not larger than kMaxPictureBytes.
    // Other pictures (camera raw files, PSD) are not read from the disk for
    // nothing, and videos and everything else show their type icon: a video's
    // first frame would need the whole file extracted and a player started for each.
    static bool TriesPicture(const FoundItemRecord& record);
    // The folder the engine keeps its scan logs in, when that is one of the
    // resume store's own scan folders; else empty (thumbnails then stay in memory).
    static std::filesystem::path ScanFolderOf(IFileRecoveryParse& engine);
    // The thumbnail file of `record` in the scan folder `scanFolder`:
    // thumbnails/PARTITIONSTART-ENGINE-RECORD.jpg, names that stay the same
    // when the scan is opened again; empty for an empty folder.
    static std::filesystem::path CacheFileOf(const std::filesystem::path& scanFolder,
                                             const FoundItemRecord& record);

  private:
    void Run();
    // Makes one thumbnail; false when the job was cancelled before its end.
    bool Make(const ThumbnailJob& job, CPreviewWnd& holder, QImage& picture);
    // Reads the file's bytes through the engine as the preview does, into `bytes`.
    int ReadPictureBytes(const ThumbnailJob& job, CPreviewWnd& holder, QByteArray& bytes);
    void EndEngineStep();
    static int Progress(void* maker, int percent, int error);
    void BeginHold();
    void EndHold();

    Delivery deliver_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<ThumbnailJob> queue_;
    bool stop_ = false;
    bool running_ = false;     // a job is being made
    bool engineStep_ = false;  // the running job reads through its engine
    int holds_ = 0;
    std::atomic<bool> cancel_{false};
    std::atomic<uint64_t> generation_{0};
    std::atomic<uint64_t> madeFromFiles_{0};
    std::atomic<uint64_t> readFromCache_{0};
    std::thread worker_;
};

}  // namespace sorvane::app
