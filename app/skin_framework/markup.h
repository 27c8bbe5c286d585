// The small inline markup that list rows and labels may carry:
//   {f n} ... {/f}   text in font n of the window
//   {x n}            n pixels of space
//   {i name [count [index]]}  picture `name`, cut into `count` equal frames side by side, frame `index`
//   {c #RRGGBB} ... {/c}  text colour (#AARRGGBB also accepted)
//   {a} ... {/a}     a link: its area is reported so a click on it can be handled
//   {n}              a line break
// The same tags are accepted in angle brackets (<x 6>, <i expand_flag.png 2 1>, <a>...</a>).
// A closing tag that names no open tag ("{/5}") closes the most recently opened one.
#pragma once

#include <QColor>
#include <QFont>
#include <QPixmap>
#include <QRect>
#include <QString>
#include <QVector>
#include <functional>

class QPainter;

namespace sorvane::skin {

struct MarkupStyle {
    std::function<QFont(int)> font;                  // font by index; must be set
    std::function<QPixmap(const QString&)> picture;  // picture by name; may be empty
    QFont baseFont;
    QColor color = Qt::black;
    Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter;
    bool endEllipsis = false;
};

struct MarkupResult {
    QVector<QRect> links;  // areas of {a} ... {/a}, in painter coordinates
    int width = 0;         // width of the widest line
};

// Lays out and, when `painter` is not null, draws `text` inside `box`.
MarkupResult DrawMarkup(QPainter* painter, const QRect& box, const QString& text, const MarkupStyle& style);
// The text without its tags.
QString StripMarkup(const QString& text);

}  // namespace sorvane::skin
