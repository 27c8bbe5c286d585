// The preview of the main window's file list: extracts the selected found
// file through its engine, shows it in the pane "PreviewEdit", and starts and
// ends the media players. One preview at a time, on the window thread.
#pragma once

#include <QObject>
#include <QPointer>
#include <QProcess>
#include <QString>
#include <functional>

#include "app/preview/preview_pane.h"
#include "app/preview/preview_wnd.h"

class QTextBrowser;
class QWidget;

namespace sorvane::app {

class CPreviewController : public QObject {
  public:
    // Runs the extraction and returns the progress window's code: 1 done, 2 cancelled.
    using RunExtraction = std::function<int(IFileRecoveryParse&, const FoundItemRecord&, CPreviewWnd&,
                                            const PreviewExtractionEnv&)>;
    // Shows an Information box with a message text.
    using ShowInformation = std::function<void(const QString&)>;

    // `pane` is the window's "PreviewEdit" browser and `window` the parent of
    // the progress window; both must outlive the controller. `programDir` holds
    // the helper programs, `previewDir` is where extracted files go.
    CPreviewController(QTextBrowser* pane, QWidget* window, QString programDir, QString previewDir);
    // Ends the players this controller started.
    ~CPreviewController() override;

    // Previews `record` of `engine` (null for a folder row, which needs none).
    void Preview(const FoundItemRecord& record, IFileRecoveryParse* engine);

    // Ends every running media player: the video player started here and any
    // "Player" or "Player1" of the program folder.
    void EndPlayers();

    // The extraction step, for a caller that runs it some other way than the
    // progress window; and the information box.
    void SetRunExtraction(RunExtraction run) { runExtraction_ = std::move(run); }
    void SetShowInformation(ShowInformation show) { showInformation_ = std::move(show); }
    // How long a video player may take to start playing before the file
    // counts as one it cannot play and the player is ended.
    void SetVideoStartDeadline(int milliseconds) { videoStartDeadlineMs_ = milliseconds; }

    // The video player of the last preview, while it runs (for tests and shutdown).
    QProcess* VideoPlayer() const { return videoPlayer_; }
    // True once the last video player reported that it plays.
    bool VideoPlaying() const { return videoPlaying_; }
    PreviewPane& Pane() { return pane_; }

  private:
    void ShowResult(CPreviewWnd& holder);
    void ShowDocument(CPreviewWnd& holder);
    void ShowRawFileHead(const std::filesystem::path& path);
    void NoteMissingHelper(const QString& helper);
    void StartVideoPlayer(const QString& path);
    void StopWatchingVideo();
    QString Message(const char* id) const;

    PreviewPane pane_;
    QWidget* window_;
    QString programDir_;
    QString previewDir_;
    RunExtraction runExtraction_;
    ShowInformation showInformation_;
    // The path the video player plays; a new preview replaces it.
    QString videoPath_;
    QPointer<QProcess> videoPlayer_;
    QByteArray videoOutput_;
    bool videoPlaying_ = false;
    // A player can stall in its media framework without a word; the user
    // must not wait for ever on a file that will not play.
    int videoStartDeadlineMs_ = 30000;
};

}  // namespace sorvane::app
