// Picture strings of the layouts and windows: either a bare file name or
// "file='x.png' source='l,t,r,b' dest='l,t,r,b' corner='l,t,r,b'". `source`
// picks a part of the picture, `dest` places it inside the control (relative
// to the control's top-left corner), `corner` keeps those borders unscaled
// while the middle stretches.
#pragma once

#include <QMargins>
#include <QRect>
#include <QString>

class QPainter;

namespace sorvane::skin {

class SkinPackage;

struct PictureSpec {
    QString file;
    QRect source;  // null: the whole picture
    QRect dest;    // null: the whole control
    QMargins corner;
    int fade = 255;

    bool IsNull() const { return file.isEmpty(); }
};

PictureSpec ParsePicture(const QString& text);
// "l,t,r,b" as a rectangle from (l,t) to (r,b); null when malformed.
QRect ParseRectLTRB(const QString& text);
QMargins ParseMargins(const QString& text);

// Draws the picture into `control` (the control's rectangle in painter
// coordinates). Returns false when the picture is not in the package.
bool DrawPicture(QPainter& painter, const QRect& control, const PictureSpec& picture,
                 const SkinPackage& package);
bool DrawPicture(QPainter& painter, const QRect& control, const QString& picture, const SkinPackage& package);

}  // namespace sorvane::skin
