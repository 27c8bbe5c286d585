// The preview pane "PreviewEdit": a read-only rich-text view to which the
// preview appends texts and pictures.
#pragma once

#include <QString>

class QTextBrowser;

namespace sorvane::app {

class PreviewPane {
  public:
    enum class Style { kPlain, kNotice };
    enum class PictureShown { kWhole, kDamaged, kUnreadable };

    // `browser` belongs to the window; it must outlive the pane object.
    explicit PreviewPane(QTextBrowser* browser) : browser_(browser) {}

    void Clear();
    // Appends `text` and a line break in the style given.
    void AppendText(const QString& text, Style style = Style::kPlain);
    // Inserts the picture at `path` scaled to the pane's width. A picture that
    // cannot be decoded, or whose extent is at most 2 x 2, empties the pane and
    // shows `unreadableText` instead; a partly decoded one is shown under the
    // line `damagedNote`.
    PictureShown InsertPicture(const QString& path, const QString& unreadableText,
                               const QString& damagedNote);
    // The whole text of the pane.
    QString PlainText() const;
    // The number of pictures in the pane.
    int PictureCount() const;

  private:
    QTextBrowser* browser_;
    int pictureSerial_ = 0;
};

// The raw-byte text of `count` bytes: every byte becomes the character of the
// same code, byte 0 becomes ".", a line break follows every 1024th byte and
// the text always ends with one.
QString RawByteText(const unsigned char* bytes, size_t count);

}  // namespace sorvane::app
