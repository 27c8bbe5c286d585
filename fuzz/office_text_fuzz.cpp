// Feeds arbitrary bytes to the office text readers as a found file would
// reach them: as a file on disk named like a document, a sheet and a slide show.
#include <QString>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdio>

#include "app/preview/office_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static QTemporaryDir dir;
    if (!dir.isValid()) return 0;
    const QString path = dir.filePath(QStringLiteral("input"));
    std::FILE* file = std::fopen(path.toLocal8Bit().constData(), "wb");
    if (!file) return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);
    QString out;
    sorvane::app::ReadDocumentText(path, 2048, out);
    sorvane::app::ReadSheetCells(path, 10, 10, out);
    sorvane::app::ReadSlideTexts(path, 20, out);
    sorvane::app::CsvCells(
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)), 10, 10);
    return 0;
}
