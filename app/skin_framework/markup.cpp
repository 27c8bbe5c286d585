#include "app/skin_framework/markup.h"

#include <QFontMetrics>
#include <QPainter>

namespace sorvane::skin {
namespace {

enum class TokenKind { Text, Font, X, Image, Color, Link, Close, Newline };

struct Token {
    TokenKind kind = TokenKind::Text;
    QString text;   // Text: the words; Image: the picture name; Close: what it closes
    int value = 0;  // Font: index; X: pixels; Image: frame count
    int index = 0;  // Image: frame index
    QColor color;
};

// A tag is one of the known letters followed by a blank, the closing bracket or "/...".
bool ParseTag(const QString& body, Token& token) {
    if (body.isEmpty()) return false;
    if (body.startsWith(u'/')) {
        token.kind = TokenKind::Close;
        token.text = body.mid(1).trimmed();
        return true;
    }
    const QStringList parts = body.split(u' ', Qt::SkipEmptyParts);
    const QString& tag = parts.front();
    if (tag == u"f" && parts.size() >= 2) {
        token.kind = TokenKind::Font;
        token.value = parts[1].toInt();
        return true;
    }
    if (tag == u"x" && parts.size() >= 2) {
        token.kind = TokenKind::X;
        token.value = parts[1].toInt();
        return true;
    }
    if (tag == u"i" && parts.size() >= 2) {
        token.kind = TokenKind::Image;
        token.text = parts[1];
        token.value = parts.size() >= 3 ? qMax(1, parts[2].toInt()) : 1;
        token.index = parts.size() >= 4 ? qBound(0, parts[3].toInt(), token.value - 1) : 0;
        return true;
    }
    if (tag == u"c" && parts.size() >= 2) {
        QString name = parts[1];
        // #AARRGGBB and #RRGGBB both parse with QColor.
        token.kind = TokenKind::Color;
        token.color = QColor(name);
        return token.color.isValid();
    }
    if (tag == u"a" && parts.size() == 1) {
        token.kind = TokenKind::Link;
        return true;
    }
    if (tag == u"n" && parts.size() == 1) {
        token.kind = TokenKind::Newline;
        return true;
    }
    return false;
}

QVector<Token> Tokenise(const QString& text) {
    QVector<Token> tokens;
    QString pending;
    auto flush = [&] {
        if (!pending.isEmpty()) {
            Token token;
            token.text = pending;
            tokens.push_back(token);
        }
        pending.clear();
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar ch = text[i];
        if (ch == u'{' || ch == u'<') {
            const QChar closer = ch == u'{' ? u'}' : u'>';
            const qsizetype end = text.indexOf(closer, i + 1);
            Token token;
            if (end > i && ParseTag(text.mid(i + 1, end - i - 1).trimmed(), token)) {
                flush();
                tokens.push_back(token);
                i = end;
                continue;
            }
        }
        pending += ch;
    }
    flush();
    return tokens;
}

struct Run {
    enum Kind { Text, Image, Space };
    Kind kind = Text;
    QString text;
    QFont font;
    QColor color;
    QPixmap picture;
    QRect source;
    int width = 0;
    int height = 0;
    int link = -1;
};

}  // namespace

QString StripMarkup(const QString& text) {
    QString plain;
    for (const Token& token : Tokenise(text)) {
        if (token.kind == TokenKind::Text) plain += token.text;
        if (token.kind == TokenKind::Newline) plain += u'\n';
    }
    return plain;
}

MarkupResult DrawMarkup(QPainter* painter, const QRect& box, const QString& text, const MarkupStyle& style) {
    // Build lines of runs first, then place them with the alignment.
    QVector<QVector<Run>> lines(1);
    QVector<QFont> fonts{style.baseFont};
    QVector<QColor> colors{style.color};
    QVector<TokenKind> open;
    int linkCount = 0;
    int currentLink = -1;

    for (const Token& token : Tokenise(text)) {
        switch (token.kind) {
            case TokenKind::Text: {
                Run run;
                run.text = token.text;
                run.font = fonts.back();
                run.color = colors.back();
                const QFontMetrics metrics(run.font);
                run.width = metrics.horizontalAdvance(run.text);
                run.height = metrics.height();
                run.link = currentLink;
                lines.back().push_back(run);
                break;
            }
            case TokenKind::Font:
                fonts.push_back(style.font ? style.font(token.value) : style.baseFont);
                open.push_back(TokenKind::Font);
                break;
            case TokenKind::Color:
                colors.push_back(token.color);
                open.push_back(TokenKind::Color);
                break;
            case TokenKind::Link:
                currentLink = linkCount++;
                open.push_back(TokenKind::Link);
                break;
            case TokenKind::X: {
                Run run;
                run.kind = Run::Space;
                run.width = qMax(0, token.value);
                run.link = currentLink;
                lines.back().push_back(run);
                break;
            }
            case TokenKind::Image: {
                Run run;
                run.kind = Run::Image;
                run.picture = style.picture ? style.picture(token.text) : QPixmap();
                if (!run.picture.isNull()) {
                    const int frameWidth = run.picture.width() / token.value;
                    run.source = QRect(frameWidth * token.index, 0, frameWidth, run.picture.height());
                    run.width = frameWidth;
                    run.height = run.picture.height();
                }
                run.link = currentLink;
                lines.back().push_back(run);
                break;
            }
            case TokenKind::Newline:
                lines.push_back({});
                break;
            case TokenKind::Close: {
                TokenKind kind = open.isEmpty() ? TokenKind::Text : open.back();
                if (token.text == u"f")
                    kind = TokenKind::Font;
                else if (token.text == u"c")
                    kind = TokenKind::Color;
                else if (token.text == u"a")
                    kind = TokenKind::Link;
                const qsizetype at = open.lastIndexOf(kind);
                if (at < 0) break;
                open.remove(at);
                if (kind == TokenKind::Font && fonts.size() > 1) fonts.removeLast();
                if (kind == TokenKind::Color && colors.size() > 1) colors.removeLast();
                if (kind == TokenKind::Link) currentLink = -1;
                break;
            }
        }
    }

    MarkupResult result;
    result.links.resize(linkCount);
    int totalHeight = 0;
    QVector<int> lineHeights;
    for (const auto& line : lines) {
        int height = QFontMetrics(style.baseFont).height();
        for (const Run& run : line) height = qMax(height, run.height);
        lineHeights.push_back(height);
        totalHeight += height;
    }
    int y = box.top();
    if (style.alignment & Qt::AlignVCenter)
        y = box.top() + (box.height() - totalHeight) / 2;
    else if (style.alignment & Qt::AlignBottom)
        y = box.bottom() + 1 - totalHeight;

    for (int l = 0; l < lines.size(); ++l) {
        const auto& line = lines[l];
        int width = 0;
        for (const Run& run : line) width += run.width;
        result.width = qMax(result.width, width);
        int x = box.left();
        if (style.alignment & Qt::AlignHCenter)
            x = box.left() + qMax(0, (box.width() - width) / 2);
        else if (style.alignment & Qt::AlignRight)
            x = box.right() + 1 - width;
        const int lineHeight = lineHeights[l];
        for (const Run& run : line) {
            const int room = box.right() + 1 - x;
            if (room <= 0) break;
            const int runWidth = qMin(run.width, room);
            const QRect area(x, y, runWidth, lineHeight);
            if (run.link >= 0) {
                QRect& link = result.links[run.link];
                link = link.isNull() ? area : link.united(area);
            }
            if (painter) {
                if (run.kind == Run::Text) {
                    painter->setFont(run.font);
                    painter->setPen(run.color);
                    QString shown = run.text;
                    if (run.width > room && style.endEllipsis)
                        shown = QFontMetrics(run.font).elidedText(run.text, Qt::ElideRight, room);
                    painter->drawText(area, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shown);
                } else if (run.kind == Run::Image && !run.picture.isNull()) {
                    const QRect target(x, y + (lineHeight - run.height) / 2, runWidth, run.height);
                    QRect source = run.source;
                    source.setWidth(runWidth);
                    painter->drawPixmap(target, run.picture, source);
                }
            }
            x += run.width;
        }
        y += lineHeight;
    }
    return result;
}

}  // namespace sorvane::skin
