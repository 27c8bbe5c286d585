// Decoding a found picture for the preview pane, telling apart a picture that
// decodes completely, one that decodes only in part (a carved file cut short,
// clusters reused by another file) and one that cannot be shown at all.
#pragma once

#include <QImage>
#include <QString>

namespace sorvane::app {

struct DecodedPicture {
    QImage image;          // null when nothing could be decoded
    bool damaged = false;  // decoded, but the data is incomplete or corrupt
};

// Decodes the picture at `path` by its content (the preview names every
// picture "tmp.jpg", whatever it is).
DecodedPicture DecodePicture(const QString& path);

// A small picture of the picture in `bytes` (decoded by its content, turned
// upright as its EXIF orientation says), scaled down so that its longer side
// is at most `edge` pixels; a picture already smaller keeps its size. Null
// when the bytes decode to nothing. Safe to call from any thread: large JPEGs
// are decoded at a reduced scale from the start, so a thumbnail of a 20
// megapixel photo costs a fraction of its full decode.
QImage DecodeThumbnail(const QByteArray& bytes, int edge);

// True when a JPEG's bytes do not end in its end-of-image marker (trailing
// zero bytes of a carved file's last sector aside). False for other formats.
bool JpegLacksEnd(const QByteArray& head, const QByteArray& tail);

}  // namespace sorvane::app
