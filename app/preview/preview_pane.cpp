#include "app/preview/preview_pane.h"

#include <QScrollBar>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextImageFormat>
#include <QUrl>

#include "app/preview/picture_decode.h"

namespace sorvane::app {
namespace {

constexpr int kMinReadableExtent = 3;  // pictures of at most 2 x 2 are taken as unreadable
constexpr size_t kBytesPerLine = 1024;

QTextCharFormat FormatOf(PreviewPane::Style style) {
    QTextCharFormat format;
    if (style == PreviewPane::Style::kNotice) {
        format.setForeground(QColor(0x0E, 0x5A, 0x8A));
        format.setFontWeight(QFont::DemiBold);
    }
    return format;
}

}  // namespace

void PreviewPane::Clear() {
    browser_->clear();
    browser_->document()->clear();
}

void PreviewPane::AppendText(const QString& text, Style style) {
    QTextCursor cursor(browser_->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text + QLatin1Char('\n'), FormatOf(style));
}

PreviewPane::PictureShown PreviewPane::InsertPicture(const QString& path, const QString& unreadableText,
                                                     const QString& damagedNote) {
    DecodedPicture picture = DecodePicture(path);
    if (picture.image.isNull() || picture.image.width() < kMinReadableExtent ||
        picture.image.height() < kMinReadableExtent) {
        Clear();
        AppendText(unreadableText, Style::kNotice);
        return PictureShown::kUnreadable;
    }
    if (picture.damaged) AppendText(damagedNote, Style::kNotice);
    QImage image = picture.image;
    const int width = std::max(64, browser_->viewport()->width() - 24);
    if (image.width() > width) image = image.scaledToWidth(width, Qt::SmoothTransformation);
    // A new name per picture: the document caches resources by name.
    const QUrl name(QStringLiteral("preview://picture/%1").arg(++pictureSerial_));
    browser_->document()->addResource(QTextDocument::ImageResource, name, image);
    QTextImageFormat format;
    format.setName(name.toString());
    format.setWidth(image.width());
    format.setHeight(image.height());
    QTextCursor cursor(browser_->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertImage(format);
    cursor.insertText(QStringLiteral("\n"));
    return picture.damaged ? PictureShown::kDamaged : PictureShown::kWhole;
}

QString PreviewPane::PlainText() const { return browser_->toPlainText(); }

int PreviewPane::PictureCount() const {
    int count = 0;
    for (QTextBlock block = browser_->document()->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            if (it.fragment().charFormat().isImageFormat()) ++count;
        }
    }
    return count;
}

QString RawByteText(const unsigned char* bytes, size_t count) {
    QString text;
    text.reserve(static_cast<qsizetype>(count + count / kBytesPerLine + 1));
    for (size_t i = 0; i < count; ++i) {
        text += bytes[i] == 0 ? QChar(u'.') : QChar(static_cast<char16_t>(bytes[i]));
        if ((i + 1) % kBytesPerLine == 0) text += QLatin1Char('\n');
    }
    if (!text.endsWith(QLatin1Char('\n'))) text += QLatin1Char('\n');
    return text;
}

}  // namespace sorvane::app
