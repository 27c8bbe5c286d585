#include "app/preview/preview_controller.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextBrowser>
#include <QTimer>

#include "app/language_service.h"
#include "app/message_box.h"
#include "app/process_wnd.h"
#include "platform/instance_lock.h"

namespace sorvane::app {
namespace {

// Documents that cannot be converted are shown from their first bytes.
constexpr qint64 kDocumentFallbackBytes = 8192;

constexpr const char* kVideoPlayer = "Player";
constexpr const char* kAudioPlayer = "Player1";

QString Q(const std::filesystem::path& path) { return QString::fromStdString(path.string()); }

}  // namespace

CPreviewController::CPreviewController(QTextBrowser* pane, QWidget* window, QString programDir,
                                       QString previewDir)
    : pane_(pane), window_(window), programDir_(std::move(programDir)), previewDir_(std::move(previewDir)) {
    runExtraction_ = [this](IFileRecoveryParse& engine, const FoundItemRecord& record, CPreviewWnd& holder,
                            const PreviewExtractionEnv& env) {
        return CProcessWnd::Run(new CPreviewProcessWnd(engine, record, holder, env), window_,
                                CPreviewProcessWnd::kWidth, CPreviewProcessWnd::kHeight);
    };
    showInformation_ = [this](const QString& text) {
        CMessageBox::Show(CMessageBox::kInformation, window_, text);
    };
}

CPreviewController::~CPreviewController() { EndPlayers(); }

QString CPreviewController::Message(const char* id) const {
    return LanguageService::Instance().Message(QString::fromLatin1(id));
}

void CPreviewController::Preview(const FoundItemRecord& record, IFileRecoveryParse* engine) {
    pane_.Clear();
    if (record.IsFolder()) {
        pane_.AppendText(Message("MSG0904"), PreviewPane::Style::kNotice);
        return;
    }
    if (!engine) return;
    // This window's own player is ended here, on its thread; the worker ends
    // any other by name.
    StopWatchingVideo();
    if (videoPlayer_) {
        videoPlayer_->kill();
        videoPlayer_->waitForFinished(2000);
        delete videoPlayer_;
    }

    CPreviewWnd holder;
    PreviewExtractionEnv env;
    env.folders = {programDir_, previewDir_};
    const QString programDir = programDir_;
    env.endPlayers = [programDir] {
        for (const char* player : {kVideoPlayer, kAudioPlayer})
            TerminateProcessesOf(QDir(programDir).filePath(QString::fromLatin1(player)).toStdString());
    };
    if (runExtraction_(*engine, record, holder, env) != 1) return;
    ShowResult(holder);
}

void CPreviewController::ShowResult(CPreviewWnd& holder) {
    if (holder.media && !holder.tempPath.empty()) {
        const QString path = Q(holder.tempPath);
        // The player opens the file after this returns; it stays until the next
        // preview or the end of the program, which deletes it.
        holder.tempPath.clear();
        if (holder.audio) {
            const QString player = QDir(programDir_).filePath(QString::fromLatin1(kAudioPlayer));
            if (!QFileInfo(player).isExecutable()) {
                NoteMissingHelper(QString::fromLatin1(kAudioPlayer));
                return;
            }
            QProcess::startDetached(player, {path});
        } else {
            StartVideoPlayer(path);
        }
        return;
    }
    if (!holder.tempPath.empty()) {
        if (holder.document && holder.converter) {
            ShowDocument(holder);
        } else {
            pane_.InsertPicture(Q(holder.tempPath), Message("MSG0905"), Message("MSG0906"));
        }
        holder.converter.reset();
        return;
    }
    const size_t count = std::min(holder.byteCount, holder.buffer.size());
    pane_.AppendText(RawByteText(holder.buffer.data(), count));
}

void CPreviewController::ShowDocument(CPreviewWnd& holder) {
    QString text;
    const int rc = holder.converter->ConvertForPreview(Q(holder.tempPath), text);
    if (rc != 0) {
        NoteMissingHelper(holder.converter->MissingHelper());
        ShowRawFileHead(holder.tempPath);
        return;
    }
    if (holder.pdf) {
        const QString picture = QDir(previewDir_).filePath(QStringLiteral("tmp.jpg"));
        pane_.InsertPicture(picture, Message("MSG0905"), Message("MSG0906"));
        // The pane keeps its own copy of the page; the file is not left behind.
        QFile::remove(picture);
        return;
    }
    pane_.AppendText(text);
}

void CPreviewController::ShowRawFileHead(const std::filesystem::path& path) {
    QFile file(Q(path));
    QByteArray head;
    if (file.open(QIODevice::ReadOnly)) head = file.read(kDocumentFallbackBytes);
    pane_.AppendText(RawByteText(reinterpret_cast<const unsigned char*>(head.constData()),
                                 static_cast<size_t>(head.size())));
}

void CPreviewController::NoteMissingHelper(const QString& helper) {
    if (helper.isEmpty()) return;
    QString note = Message("MSG0907");
    note.replace(QLatin1String("%s"), helper);
    if (note.isEmpty()) note = helper;
    pane_.AppendText(note, PreviewPane::Style::kNotice);
}

void CPreviewController::StartVideoPlayer(const QString& path) {
    videoPath_ = path;
    videoOutput_.clear();
    videoPlaying_ = false;
    const QString program = QDir(programDir_).filePath(QString::fromLatin1(kVideoPlayer));
    if (!QFileInfo(program).isExecutable()) {
        NoteMissingHelper(QString::fromLatin1(kVideoPlayer));
        return;
    }
    auto* player = new QProcess(this);
    videoPlayer_ = player;
    player->setProcessChannelMode(QProcess::MergedChannels);
    player->setStandardInputFile(QProcess::nullDevice());
    // The player reports on its output; it plays as soon as a "%" appears. A
    // player that ends or fails to start before that could not play the file.
    connect(player, &QProcess::readyRead, this, [this, player] {
        videoOutput_ += player->readAll();
        if (!videoOutput_.contains('%')) return;
        videoPlaying_ = true;
        StopWatchingVideo();
        player->closeReadChannel(QProcess::StandardOutput);
    });
    auto notPlaying = [this, player] {
        if (videoPlaying_ || player != videoPlayer_) return;
        StopWatchingVideo();
        showInformation_(Message("MSG1207"));
    };
    connect(player, &QProcess::finished, this, notPlaying);
    connect(player, &QProcess::errorOccurred, this, [notPlaying](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) notPlaying();
    });
    // A player still silent at the deadline is ended, and its end says the
    // file does not play. The timer belongs to the player, so it goes with
    // it when a new preview or the end of the window ends the player first.
    QTimer::singleShot(videoStartDeadlineMs_, player, [this, player] {
        if (videoPlaying_ || player != videoPlayer_ || player->state() == QProcess::NotRunning) return;
        player->kill();
    });
    player->start(program,
                  {QStringLiteral("-aspect"), QStringLiteral("16:9"), QStringLiteral("-vo"),
                   QStringLiteral("direct3d"), QStringLiteral("-lavdopts"), QStringLiteral("threads=4"),
                   QStringLiteral("-geometry"), QStringLiteral("845:260"), QStringLiteral("-x"),
                   QStringLiteral("326"), QStringLiteral("-y"), QStringLiteral("189"), path});
}

void CPreviewController::StopWatchingVideo() {
    if (videoPlayer_) disconnect(videoPlayer_, nullptr, this, nullptr);
}

void CPreviewController::EndPlayers() {
    StopWatchingVideo();
    if (videoPlayer_) {
        videoPlayer_->kill();
        videoPlayer_->waitForFinished(2000);
        delete videoPlayer_;
    }
    for (const char* player : {kVideoPlayer, kAudioPlayer})
        TerminateProcessesOf(QDir(programDir_).filePath(QString::fromLatin1(player)).toStdString());
}

}  // namespace sorvane::app
