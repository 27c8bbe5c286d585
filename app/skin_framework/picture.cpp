#include "app/skin_framework/picture.h"

#include <QPainter>
#include <QRegularExpression>
#include <QStringList>

#include "app/skin_framework/skin_package.h"

namespace sorvane::skin {
namespace {

bool ParseFour(const QString& text, int out[4]) {
    const QStringList parts = text.split(u',');
    if (parts.size() != 4) return false;
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        out[i] = parts[i].trimmed().toInt(&ok);
        if (!ok) return false;
    }
    return true;
}

}  // namespace

QRect ParseRectLTRB(const QString& text) {
    int v[4];
    if (!ParseFour(text, v) || v[2] < v[0] || v[3] < v[1]) return {};
    return QRect(QPoint(v[0], v[1]), QPoint(v[2] - 1, v[3] - 1));
}

QMargins ParseMargins(const QString& text) {
    int v[4];
    if (!ParseFour(text, v)) return {};
    return QMargins(v[0], v[1], v[2], v[3]);
}

PictureSpec ParsePicture(const QString& text) {
    PictureSpec pic;
    const QString trimmed = text.trimmed();
    if (!trimmed.contains(u'=')) {
        pic.file = trimmed;
        return pic;
    }
    static const QRegularExpression pair(QStringLiteral(R"((\w+)\s*=\s*'([^']*)')"));
    for (auto it = pair.globalMatch(trimmed); it.hasNext();) {
        const auto match = it.next();
        const QString key = match.captured(1);
        const QString value = match.captured(2);
        if (key == u"file") {
            pic.file = value;
        } else if (key == u"source") {
            pic.source = ParseRectLTRB(value);
        } else if (key == u"dest") {
            pic.dest = ParseRectLTRB(value);
        } else if (key == u"corner") {
            pic.corner = ParseMargins(value);
        } else if (key == u"fade") {
            pic.fade = qBound(0, value.toInt(), 255);
        }
    }
    return pic;
}

bool DrawPicture(QPainter& painter, const QRect& control, const PictureSpec& picture,
                 const SkinPackage& package) {
    if (picture.IsNull()) return false;
    const QPixmap pixmap = package.Picture(picture.file);
    if (pixmap.isNull()) return false;
    QRect source = picture.source.isNull() ? pixmap.rect() : picture.source.intersected(pixmap.rect());
    if (source.isEmpty()) return false;
    QRect target = control;
    if (!picture.dest.isNull()) target = picture.dest.translated(control.topLeft()).intersected(control);
    if (target.isEmpty()) return true;

    painter.save();
    if (picture.fade < 255) painter.setOpacity(picture.fade / 255.0);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QMargins c = picture.corner;
    if (c.isNull()) {
        painter.drawPixmap(target, pixmap, source);
    } else {
        // Nine parts: corners keep their size, edges stretch one way, the middle both ways.
        const int sx[4] = {source.left(), source.left() + c.left(), source.right() + 1 - c.right(),
                           source.right() + 1};
        const int sy[4] = {source.top(), source.top() + c.top(), source.bottom() + 1 - c.bottom(),
                           source.bottom() + 1};
        const int dx[4] = {target.left(), target.left() + c.left(), target.right() + 1 - c.right(),
                           target.right() + 1};
        const int dy[4] = {target.top(), target.top() + c.top(), target.bottom() + 1 - c.bottom(),
                           target.bottom() + 1};
        for (int row = 0; row < 3; ++row) {
            for (int col = 0; col < 3; ++col) {
                const QRect s(QPoint(sx[col], sy[row]), QPoint(sx[col + 1] - 1, sy[row + 1] - 1));
                const QRect d(QPoint(dx[col], dy[row]), QPoint(dx[col + 1] - 1, dy[row + 1] - 1));
                if (s.width() > 0 && s.height() > 0 && d.width() > 0 && d.height() > 0)
                    painter.drawPixmap(d, pixmap, s);
            }
        }
    }
    painter.restore();
    return true;
}

bool DrawPicture(QPainter& painter, const QRect& control, const QString& picture,
                 const SkinPackage& package) {
    return DrawPicture(painter, control, ParsePicture(picture), package);
}

}  // namespace sorvane::skin
