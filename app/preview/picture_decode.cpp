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

QImage DecodeThumbnail(const QByteArray& bytes, int edge) {
    if (bytes.isEmpty() || edge <= 0) return {};
    QBuffer buffer;
    buffer.setData(bytes);
    if (!buffer.open(QIODevice::ReadOnly)) return {};
    QImageReader reader(&buffer);
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (size.isValid() && (size.width() > edge || size.height() > edge)) {
        // Scaled while it is read (the JPEG decoder reads only the scale it needs);
        // the size is the stored one, so a picture turned by its orientation is
        // turned after scaling and keeps its proportions.
        reader.setScaledSize(size.scaled(edge, edge, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)));
    }
    QImage image;
    {
        // Not while the preview listens for a decoder's complaints: they would
        // be taken for its own picture's.
        std::lock_guard lock(decodeMutex);
        image = reader.read();
    }
    if (image.isNull()) return image;
    // Formats that cannot scale while reading give the whole picture.
    if (image.width() > edge || image.height() > edge)
        image = image.scaled(edge, edge, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return image;
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
