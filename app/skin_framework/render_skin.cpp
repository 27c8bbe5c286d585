// Build step: turns skin/ into the folder the skin package is zipped from.
// SVG pictures are rendered to PNG at the size their SVG declares; layouts
// and ready-made PNGs are copied as they are.
//   sorvane_skin_render SKIN_SOURCE_DIR STAGE_DIR
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s SKIN_SOURCE_DIR STAGE_DIR\n", argv[0]);
        return 2;
    }
    const QDir source(QString::fromLocal8Bit(argv[1]));
    const QDir stage(QString::fromLocal8Bit(argv[2]));
    int failures = 0;

    // Pictures: skin/pictures/<path>.svg → <stage>/<path>.png
    const QDir pictures(source.filePath(QStringLiteral("pictures")));
    for (QDirIterator it(pictures.path(), QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
        const QString file = it.next();
        const QString relative = pictures.relativeFilePath(file);
        QString target = stage.filePath(relative);
        QDir().mkpath(QFileInfo(target).path());
        if (file.endsWith(QStringLiteral(".svg"))) {
            target.chop(4);
            target += QStringLiteral(".png");
            QSvgRenderer renderer(file);
            if (!renderer.isValid()) {
                std::fprintf(stderr, "cannot read %s\n", qPrintable(file));
                ++failures;
                continue;
            }
            QImage image(renderer.defaultSize(), QImage::Format_ARGB32_Premultiplied);
            image.fill(Qt::transparent);
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            renderer.render(&painter);
            painter.end();
            if (!image.save(target, "PNG")) {
                std::fprintf(stderr, "cannot write %s\n", qPrintable(target));
                ++failures;
            }
        } else {
            QFile::remove(target);
            if (!QFile::copy(file, target)) ++failures;
        }
    }

    // Layouts: skin/xml/*.xml → <stage>/xml/
    const QDir layouts(source.filePath(QStringLiteral("xml")));
    QDir().mkpath(stage.filePath(QStringLiteral("xml")));
    for (const QString& name : layouts.entryList({QStringLiteral("*.xml")}, QDir::Files)) {
        const QString target = stage.filePath(QStringLiteral("xml/") + name);
        QFile::remove(target);
        if (!QFile::copy(layouts.filePath(name), target)) ++failures;
    }
    return failures == 0 ? 0 : 1;
}
