#include "app/preview/picture_decode.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <atomic>
#include <mutex>

namespace sorvane::app {
namespace {

// The image decoders report damage they decode around only as warnings; the
// handler catches them while one picture is decoded.
std::mutex decodeMutex;
std::atomic<bool> decoderComplained{false};
QtMessageHandler previousHandler = nullptr;

void CatchDecoderWarnings(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtWarningMsg &&
        (message.contains(QLatin1String("JPEG")) || message.contains(QLatin1String("libpng")) ||
         message.contains(QLatin1String("Corrupt")) || message.contains(QLatin1String("Premature end")))) {
        decoderComplained = true;
        return;
    }
    if (previousHandler) previousHandler(type, context, message);
}

constexpr qint64 kTailBytes = 4096;

}  // namespace

bool JpegLacksEnd(const QByteArray& head, const QByteArray& tail) {
    if (!head.startsWith(QByteArray("\xFF\xD8", 2))) return false;
    qsizetype end = tail.size();
    while (end > 0 && tail[end - 1] == '\0') --end;
    return end < 2 || tail[end - 2] != '\xFF' || tail[end - 1] != '\xD9';
}

DecodedPicture DecodePicture(const QString& path) {
    DecodedPicture result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return result;
    const QByteArray head = file.read(16);
    file.seek(std::max<qint64>(0, file.size() - kTailBytes));
    const QByteArray tail = file.read(kTailBytes);
    file.seek(0);

    QImageReader reader(&file);
    reader.setDecideFormatFromContent(true);
    {
        std::lock_guard lock(decodeMutex);
        decoderComplained = false;
        previousHandler = qInstallMessageHandler(CatchDecoderWarnings);
        result.image = reader.read();
        qInstallMessageHandler(previousHandler);
    }
    if (result.image.isNull()) return result;
    result.damaged = decoderComplained || JpegLacksEnd(head, tail);
    return result;
}

}  // namespace sorvane::app
