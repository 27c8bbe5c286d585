// Player and Player1: the media players the preview starts beside the program.
//
//   Player [-aspect W:H] [-vo DRIVER] [-lavdopts OPTS] [-geometry X:Y] [-x WIDTH] [-y HEIGHT] "FILE"
//   Player1 "FILE"
//
// Player shows a video in a window of its own at the place and size given;
// Player1 (built with SORVANE_AUDIO_ONLY) plays sound without a window. Both
// print one status line containing "%" as soon as playback runs, which is how
// the preview knows the file plays, and end when the media ends. A file that
// cannot be played ends the program with status 2 and a line on standard error.
#include <QAudioOutput>
#include <QCoreApplication>
#include <QMediaPlayer>
#include <QStringList>
#include <QTimer>
#include <QUrl>
#include <csignal>
#include <cstdio>

#ifndef SORVANE_AUDIO_ONLY
#include <QApplication>
#include <QVideoWidget>
#endif

namespace {

struct Options {
    QString file;
    int left = -1;
    int top = -1;
    int width = 0;
    int height = 0;
    bool valid = true;
};

Options ParseOptions(const QStringList& args) {
    Options options;
    for (int i = 1; i < args.size(); ++i) {
        const QString& arg = args[i];
        auto next = [&]() -> QString { return i + 1 < args.size() ? args[++i] : QString(); };
        if (arg == QLatin1String("-geometry")) {
            const QStringList place = next().split(QLatin1Char(':'));
            if (place.size() == 2) {
                options.left = place[0].toInt();
                options.top = place[1].toInt();
            }
        } else if (arg == QLatin1String("-x")) {
            options.width = next().toInt();
        } else if (arg == QLatin1String("-y")) {
            options.height = next().toInt();
        } else if (arg == QLatin1String("-aspect") || arg == QLatin1String("-vo") ||
                   arg == QLatin1String("-lavdopts")) {
            next();  // the decoder picks its own output and threads
        } else if (options.file.isEmpty()) {
            options.file = arg;
        } else {
            options.valid = false;
        }
    }
    if (options.file.isEmpty()) options.valid = false;
    return options;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef SIGPIPE
    // The preview stops reading once it has seen the status line; later output
    // must not end the player.
    std::signal(SIGPIPE, SIG_IGN);
#endif
#ifdef SORVANE_AUDIO_ONLY
    QCoreApplication application(argc, argv);
#else
    QApplication application(argc, argv);
#endif
    const Options options = ParseOptions(application.arguments());
    if (!options.valid) {
        std::fprintf(stderr, "usage: %s [options] FILE\n", argv[0]);
        return 1;
    }

    QMediaPlayer player;
    QAudioOutput audio;
    player.setAudioOutput(&audio);
#ifndef SORVANE_AUDIO_ONLY
    QVideoWidget video;
    video.setWindowTitle(QStringLiteral("Sorvane"));
    if (options.width > 0 && options.height > 0) video.resize(options.width, options.height);
    if (options.left >= 0 && options.top >= 0) video.move(options.left, options.top);
    player.setVideoOutput(&video);
    video.show();
#endif

    bool announced = false;
    auto announce = [&](qint64 position) {
        if (announced || player.playbackState() != QMediaPlayer::PlayingState) return;
        announced = true;
        const qint64 duration = player.duration();
        const int percent = duration > 0 ? static_cast<int>(position * 100 / duration) : 0;
        std::printf("Playing %s: %.1f of %.1f s (%d%%)\n", qPrintable(options.file), position / 1000.0,
                    duration / 1000.0, percent);
        std::fflush(stdout);
    };
    QObject::connect(&player, &QMediaPlayer::positionChanged, announce);
    QObject::connect(&player, &QMediaPlayer::errorOccurred, [&](QMediaPlayer::Error, const QString& text) {
        std::fprintf(stderr, "%s: cannot play %s: %s\n", argv[0], qPrintable(options.file), qPrintable(text));
        QCoreApplication::exit(2);
    });
    QObject::connect(&player, &QMediaPlayer::mediaStatusChanged, [&](QMediaPlayer::MediaStatus status) {
        if (status == QMediaPlayer::InvalidMedia) {
            std::fprintf(stderr, "%s: cannot play %s\n", argv[0], qPrintable(options.file));
            QCoreApplication::exit(2);
        } else if (status == QMediaPlayer::EndOfMedia) {
            announce(player.position());
            QCoreApplication::exit(announced ? 0 : 2);
        }
    });
    // Started from the event loop: a failure reported at once must be able to
    // end it, which an exit() before exec() would not.
    QTimer::singleShot(0, &player, [&] {
        player.setSource(QUrl::fromLocalFile(options.file));
        player.play();
    });
    return application.exec();
}
