#include "app/preview/office_text.h"

#include <QFile>
#include <QXmlStreamReader>
#include <map>
#include <optional>
#include <vector>

#include "app/skin_framework/zip_reader.h"

namespace sorvane::app {
namespace {

constexpr int kInvalid = 87;
// Office packages are read whole into memory; a larger file is no document we
// can show in a preview pane.
constexpr qint64 kMaxPackageBytes = 512ll << 20;

std::optional<skin::ZipReader> OpenPackage(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxPackageBytes) return std::nullopt;
    QByteArray bytes = file.readAll();
    skin::ZipReader zip;
    if (!zip.Open(std::vector<uint8_t>(bytes.begin(), bytes.end()))) return std::nullopt;
    return zip;
}

std::optional<QByteArray> ReadPart(const skin::ZipReader& zip, const QString& name) {
    auto bytes = zip.Read(name.toStdString());
    if (!bytes) return std::nullopt;
    return QByteArray(reinterpret_cast<const char*>(bytes->data()), static_cast<qsizetype>(bytes->size()));
}

// "word/document.xml" + "../media/a.png" -> "media/a.png"; a target starting
// with "/" is taken from the package root.
QString ResolveTarget(const QString& sourcePart, const QString& target) {
    QStringList parts;
    if (!target.startsWith(QLatin1Char('/'))) {
        parts = sourcePart.split(QLatin1Char('/'));
        parts.removeLast();
    }
    for (const QString& piece : target.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (piece == QLatin1String("..")) {
            if (!parts.isEmpty()) parts.removeLast();
        } else if (piece != QLatin1String(".")) {
            parts.append(piece);
        }
    }
    return parts.join(QLatin1Char('/'));
}

// The relationships of `sourcePart` ("" for the package itself): Id -> part name,
// and the part name of the first relationship whose type ends in `wantedType`.
struct Relationships {
    std::map<QString, QString> byId;
    QString firstOfType;
};

Relationships ReadRelationships(const skin::ZipReader& zip, const QString& sourcePart,
                                const QString& wantedType = {}) {
    Relationships result;
    QString relsName = QStringLiteral("_rels/.rels");
    if (!sourcePart.isEmpty()) {
        int slash = sourcePart.lastIndexOf(QLatin1Char('/'));
        relsName = sourcePart.left(slash + 1) + QStringLiteral("_rels/") + sourcePart.mid(slash + 1) +
                   QStringLiteral(".rels");
    }
    auto xml = ReadPart(zip, relsName);
    if (!xml) return result;
    QXmlStreamReader reader(*xml);
    while (!reader.atEnd()) {
        if (reader.readNext() != QXmlStreamReader::StartElement) continue;
        if (reader.name() != QLatin1String("Relationship")) continue;
        const auto attributes = reader.attributes();
        if (attributes.value(QLatin1String("TargetMode")) == QLatin1String("External")) continue;
        QString part = ResolveTarget(sourcePart, attributes.value(QLatin1String("Target")).toString());
        result.byId[attributes.value(QLatin1String("Id")).toString()] = part;
        if (!wantedType.isEmpty() && result.firstOfType.isEmpty() &&
            attributes.value(QLatin1String("Type")).endsWith(wantedType))
            result.firstOfType = part;
    }
    return result;
}

QString MainPart(const skin::ZipReader& zip) {
    return ReadRelationships(zip, {}, QStringLiteral("/officeDocument")).firstOfType;
}

bool IsOpenDocument(const skin::ZipReader& zip) { return zip.Contains("content.xml"); }

// ---- word-processing text

class TextCollector {
  public:
    explicit TextCollector(int maxChars) : maxChars_(maxChars) {}
    void Add(QStringView text) {
        if (Full()) return;
        text_.append(text.left(maxChars_ - text_.size()));
    }
    bool Full() const { return text_.size() >= maxChars_; }
    QString Take() { return std::move(text_); }

  private:
    int maxChars_;
    QString text_;
};

int OpenXmlDocumentText(const QByteArray& xml, int maxChars, QString& out) {
    TextCollector text(maxChars);
    QXmlStreamReader reader(xml);
    bool inText = false;
    while (!reader.atEnd() && !text.Full()) {
        switch (reader.readNext()) {
            case QXmlStreamReader::StartElement:
                if (reader.name() == QLatin1String("t"))
                    inText = true;
                else if (reader.name() == QLatin1String("tab"))
                    text.Add(u"\t");
                else if (reader.name() == QLatin1String("br") || reader.name() == QLatin1String("cr"))
                    text.Add(u"\n");
                break;
            case QXmlStreamReader::EndElement:
                if (reader.name() == QLatin1String("t"))
                    inText = false;
                else if (reader.name() == QLatin1String("p"))
                    text.Add(u"\n");
                break;
            case QXmlStreamReader::Characters:
                if (inText) text.Add(reader.text());
                break;
            default:
                break;
        }
    }
    if (reader.hasError() && !text.Full()) return kInvalid;
    out = text.Take();
    return 0;
}

// Text of OpenDocument paragraphs below the element the reader stands on,
// with "text:s" spaces, tabs and line breaks; each paragraph or heading ends
// in "\n". Stops at the end of that element.
void ReadOpenDocumentParagraphs(QXmlStreamReader& reader, TextCollector& text, bool* sawParagraph = nullptr) {
    int depth = 1;
    int paragraphDepth = 0;
    while (!reader.atEnd() && depth > 0 && !text.Full()) {
        switch (reader.readNext()) {
            case QXmlStreamReader::StartElement: {
                ++depth;
                const auto name = reader.name();
                if (name == QLatin1String("p") || name == QLatin1String("h")) {
                    ++paragraphDepth;
                    if (sawParagraph) *sawParagraph = true;
                } else if (name == QLatin1String("s")) {
                    int count = reader.attributes().value(QLatin1String("text:c")).toInt();
                    text.Add(QString(qBound(1, count, 1000), QLatin1Char(' ')));
                } else if (name == QLatin1String("tab")) {
                    text.Add(u"\t");
                } else if (name == QLatin1String("line-break")) {
                    text.Add(u"\n");
                } else if (name == QLatin1String("annotation") || name == QLatin1String("notes")) {
                    reader.skipCurrentElement();
                    --depth;
                }
                break;
            }
            case QXmlStreamReader::EndElement:
                --depth;
                if ((reader.name() == QLatin1String("p") || reader.name() == QLatin1String("h")) &&
                    paragraphDepth > 0) {
                    --paragraphDepth;
                    if (paragraphDepth == 0) text.Add(u"\n");
                }
                break;
            case QXmlStreamReader::Characters:
                if (paragraphDepth > 0) text.Add(reader.text());
                break;
            default:
                break;
        }
    }
}

// Moves the reader to the start of the first element named `name` below the
// document body; false when there is none.
bool FindElement(QXmlStreamReader& reader, QLatin1String name) {
    while (!reader.atEnd()) {
        if (reader.readNext() == QXmlStreamReader::StartElement && reader.name() == name) return true;
    }
    return false;
}

int OpenDocumentText(const QByteArray& xml, int maxChars, QString& out) {
    QXmlStreamReader reader(xml);
    if (!FindElement(reader, QLatin1String("text"))) return kInvalid;
    TextCollector text(maxChars);
    ReadOpenDocumentParagraphs(reader, text);
    if (reader.hasError() && !text.Full()) return kInvalid;
    out = text.Take();
    return 0;
}

// ---- sheets

// Cells by (row, column), both 0-based, kept for the rows near the top of the
// used range only.
class CellGrid {
  public:
    CellGrid(int maxRows, int maxColumns) : maxRows_(maxRows), maxColumns_(maxColumns) {}
    // False once a row below the kept window is reached: the rest can be skipped.
    bool Put(int64_t row, int64_t column, QString text) {
        if (text.isEmpty() || row < 0 || column < 0) return true;
        if (firstRow_ < 0) firstRow_ = row;
        if (row >= firstRow_ + maxRows_) return false;
        firstColumn_ = firstColumn_ < 0 ? column : std::min(firstColumn_, column);
        cells_[{row, column}] = std::move(text);
        return true;
    }
    QString Text() const {
        if (firstRow_ < 0) return {};
        int64_t lastRow = firstRow_, lastColumn = firstColumn_;
        for (const auto& [place, value] : cells_) {
            lastRow = std::max(lastRow, place.first);
            lastColumn = std::max(lastColumn, place.second);
        }
        lastColumn = std::min(lastColumn, firstColumn_ + maxColumns_ - 1);
        QString out;
        for (int64_t row = firstRow_; row <= lastRow; ++row) {
            for (int64_t column = firstColumn_; column <= lastColumn; ++column) {
                if (column != firstColumn_) out += QLatin1Char('\t');
                auto it = cells_.find({row, column});
                if (it != cells_.end()) out += it->second;
            }
            out += QLatin1Char('\n');
        }
        return out;
    }

  private:
    int maxRows_;
    int maxColumns_;
    int64_t firstRow_ = -1;
    int64_t firstColumn_ = -1;
    std::map<std::pair<int64_t, int64_t>, QString> cells_;
};

// "BC12" -> row 11, column 54. False for anything else.
bool ParseCellReference(QStringView reference, int64_t& row, int64_t& column) {
    int i = 0;
    int64_t col = 0;
    while (i < reference.size() && reference[i].isLetter() && i < 4) {
        col = col * 26 + (reference[i].toUpper().unicode() - 'A' + 1);
        ++i;
    }
    bool ok = false;
    int64_t r = reference.mid(i).toLongLong(&ok);
    if (i == 0 || !ok || r < 1) return false;
    row = r - 1;
    column = col - 1;
    return true;
}

std::vector<QString> ReadSharedStrings(const QByteArray& xml) {
    std::vector<QString> strings;
    QXmlStreamReader reader(xml);
    QString current;
    bool inText = false;
    int phoneticDepth = 0;
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
            case QXmlStreamReader::StartElement:
                if (reader.name() == QLatin1String("si"))
                    current.clear();
                else if (reader.name() == QLatin1String("rPh"))
                    ++phoneticDepth;
                else if (reader.name() == QLatin1String("t"))
                    inText = phoneticDepth == 0;
                break;
            case QXmlStreamReader::EndElement:
                if (reader.name() == QLatin1String("si"))
                    strings.push_back(current);
                else if (reader.name() == QLatin1String("rPh"))
                    --phoneticDepth;
                else if (reader.name() == QLatin1String("t"))
                    inText = false;
                break;
            case QXmlStreamReader::Characters:
                if (inText) current += reader.text();
                break;
            default:
                break;
        }
    }
    return strings;
}

int OpenXmlSheetCells(const skin::ZipReader& zip, int maxRows, int maxColumns, QString& out) {
    const QString workbook = MainPart(zip);
    if (workbook.isEmpty()) return kInvalid;
    auto workbookXml = ReadPart(zip, workbook);
    if (!workbookXml) return kInvalid;
    QString firstSheetId;
    {
        QXmlStreamReader reader(*workbookXml);
        if (FindElement(reader, QLatin1String("sheet"))) {
            for (const auto& attribute : reader.attributes())
                if (attribute.name() == QLatin1String("id")) firstSheetId = attribute.value().toString();
        }
    }
    Relationships rels = ReadRelationships(zip, workbook, QStringLiteral("/sharedStrings"));
    auto sheetPart = rels.byId.find(firstSheetId);
    if (sheetPart == rels.byId.end()) return kInvalid;
    auto sheetXml = ReadPart(zip, sheetPart->second);
    if (!sheetXml) return kInvalid;
    std::vector<QString> shared;
    if (!rels.firstOfType.isEmpty()) {
        if (auto sharedXml = ReadPart(zip, rels.firstOfType)) shared = ReadSharedStrings(*sharedXml);
    }

    CellGrid grid(maxRows, maxColumns);
    QXmlStreamReader reader(*sheetXml);
    int64_t row = -1, column = -1, nextRow = 0, nextColumn = 0;
    QString type, value;
    bool inValue = false;
    bool more = true;
    while (more && !reader.atEnd()) {
        switch (reader.readNext()) {
            case QXmlStreamReader::StartElement: {
                const auto name = reader.name();
                const auto attributes = reader.attributes();
                if (name == QLatin1String("row")) {
                    bool ok = false;
                    int64_t r = attributes.value(QLatin1String("r")).toLongLong(&ok);
                    row = ok && r >= 1 ? r - 1 : nextRow;
                    nextRow = row + 1;
                    nextColumn = 0;
                } else if (name == QLatin1String("c")) {
                    int64_t r = row, c = nextColumn;
                    if (!ParseCellReference(attributes.value(QLatin1String("r")), r, c)) c = nextColumn;
                    row = r;
                    column = c;
                    nextColumn = c + 1;
                    type = attributes.value(QLatin1String("t")).toString();
                    value.clear();
                } else if (name == QLatin1String("v") || name == QLatin1String("t")) {
                    inValue = true;
                }
                break;
            }
            case QXmlStreamReader::EndElement:
                if (reader.name() == QLatin1String("v") || reader.name() == QLatin1String("t")) {
                    inValue = false;
                } else if (reader.name() == QLatin1String("c")) {
                    QString text = value;
                    if (type == QLatin1String("s")) {
                        bool ok = false;
                        qulonglong index = value.toULongLong(&ok);
                        text = ok && index < shared.size() ? shared[index] : QString();
                    } else if (type == QLatin1String("b")) {
                        text = value == QLatin1String("1") ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
                    }
                    more = grid.Put(row, column, text);
                }
                break;
            case QXmlStreamReader::Characters:
                if (inValue) value += reader.text();
                break;
            default:
                break;
        }
    }
    if (reader.hasError() && more) return kInvalid;
    out = grid.Text();
    return 0;
}

int Repeat(const QXmlStreamAttributes& attributes, QLatin1String name) {
    bool ok = false;
    qint64 count = attributes.value(name).toLongLong(&ok);
    return ok && count > 1 ? static_cast<int>(std::min<qint64>(count, 1 << 20)) : 1;
}

int OpenDocumentSheetCells(const QByteArray& xml, int maxRows, int maxColumns, QString& out) {
    QXmlStreamReader reader(xml);
    if (!FindElement(reader, QLatin1String("table"))) return kInvalid;
    CellGrid grid(maxRows, maxColumns);
    int64_t row = 0;
    int depth = 1;
    bool more = true;
    while (more && depth > 0 && !reader.atEnd()) {
        auto token = reader.readNext();
        if (token == QXmlStreamReader::EndElement) {
            --depth;
            continue;
        }
        if (token != QXmlStreamReader::StartElement) continue;
        ++depth;
        if (reader.name() != QLatin1String("table-row")) continue;
        const int rowRepeat = Repeat(reader.attributes(), QLatin1String("table:number-rows-repeated"));
        // The cells of one row, each with its repeat count.
        std::vector<std::pair<QString, int>> cells;
        int cellDepth = 1;
        while (cellDepth > 0 && !reader.atEnd()) {
            auto t = reader.readNext();
            if (t == QXmlStreamReader::EndElement) {
                --cellDepth;
            } else if (t == QXmlStreamReader::StartElement) {
                if (reader.name() == QLatin1String("table-cell") ||
                    reader.name() == QLatin1String("covered-table-cell")) {
                    int repeat = Repeat(reader.attributes(), QLatin1String("table:number-columns-repeated"));
                    TextCollector text(4096);
                    ReadOpenDocumentParagraphs(reader, text);
                    QString value = text.Take();
                    if (value.endsWith(QLatin1Char('\n'))) value.chop(1);
                    cells.emplace_back(value, repeat);
                } else {
                    ++cellDepth;
                }
            }
        }
        --depth;  // the row's end element was read above
        for (int r = 0; r < rowRepeat && more; ++r) {
            int64_t column = 0;
            for (const auto& [text, repeat] : cells) {
                if (!text.isEmpty()) {
                    for (int c = 0; c < std::min(repeat, maxColumns * 2) && more; ++c)
                        more = grid.Put(row, column + c, text);
                }
                column += repeat;
            }
            ++row;
            // Long runs of repeated empty rows end a sheet; skip them at once.
            if (cells.empty() ||
                std::all_of(cells.begin(), cells.end(), [](auto& c) { return c.first.isEmpty(); })) {
                row += rowRepeat - r - 1;
                break;
            }
        }
    }
    if (reader.hasError() && more) return kInvalid;
    out = grid.Text();
    return 0;
}

// ---- slides

QString ShapeText(QXmlStreamReader& reader) {
    QString text;
    int depth = 1;
    bool inText = false;
    bool firstParagraph = true;
    while (depth > 0 && !reader.atEnd()) {
        switch (reader.readNext()) {
            case QXmlStreamReader::StartElement:
                ++depth;
                if (reader.name() == QLatin1String("p")) {
                    if (!firstParagraph) text += QLatin1Char('\n');
                    firstParagraph = false;
                } else if (reader.name() == QLatin1String("t")) {
                    inText = true;
                } else if (reader.name() == QLatin1String("br")) {
                    text += QLatin1Char('\n');
                }
                break;
            case QXmlStreamReader::EndElement:
                --depth;
                if (reader.name() == QLatin1String("t")) inText = false;
                break;
            case QXmlStreamReader::Characters:
                if (inText) text += reader.text();
                break;
            default:
                break;
        }
    }
    return text;
}

int OpenXmlSlideTexts(const skin::ZipReader& zip, int maxSlides, QString& out) {
    const QString presentation = MainPart(zip);
    if (presentation.isEmpty()) return kInvalid;
    auto presentationXml = ReadPart(zip, presentation);
    if (!presentationXml) return kInvalid;
    Relationships rels = ReadRelationships(zip, presentation);
    QStringList slides;
    QXmlStreamReader list(*presentationXml);
    while (!list.atEnd() && slides.size() < maxSlides) {
        if (list.readNext() != QXmlStreamReader::StartElement || list.name() != QLatin1String("sldId"))
            continue;
        for (const auto& attribute : list.attributes()) {
            if (attribute.name() != QLatin1String("id") || attribute.prefix().isEmpty()) continue;
            auto part = rels.byId.find(attribute.value().toString());
            if (part != rels.byId.end()) slides.append(part->second);
        }
    }
    if (list.hasError()) return kInvalid;
    QString text;
    for (const QString& slide : slides) {
        auto slideXml = ReadPart(zip, slide);
        if (!slideXml) continue;
        QXmlStreamReader reader(*slideXml);
        while (!reader.atEnd()) {
            if (reader.readNext() == QXmlStreamReader::StartElement &&
                reader.name() == QLatin1String("txBody"))
                text += ShapeText(reader) + QLatin1Char('\n');
        }
    }
    out = text;
    return 0;
}

int OpenDocumentSlideTexts(const QByteArray& xml, int maxSlides, QString& out) {
    QXmlStreamReader reader(xml);
    QString text;
    int slides = 0;
    while (slides < maxSlides && FindElement(reader, QLatin1String("page"))) {
        ++slides;
        int depth = 1;
        while (depth > 0 && !reader.atEnd()) {
            auto token = reader.readNext();
            if (token == QXmlStreamReader::EndElement) {
                --depth;
            } else if (token == QXmlStreamReader::StartElement) {
                if (reader.name() == QLatin1String("notes")) {
                    reader.skipCurrentElement();
                    continue;
                }
                // Each shape directly on the page; its paragraphs make its text.
                TextCollector shape(1 << 20);
                bool sawParagraph = false;
                ReadOpenDocumentParagraphs(reader, shape, &sawParagraph);
                if (sawParagraph) {
                    QString value = shape.Take();
                    if (value.endsWith(QLatin1Char('\n'))) value.chop(1);
                    text += value + QLatin1Char('\n');
                }
            }
        }
    }
    if (reader.hasError()) return kInvalid;
    out = text;
    return 0;
}

}  // namespace

int ReadDocumentText(const QString& path, int maxChars, QString& out) {
    auto zip = OpenPackage(path);
    if (!zip) return kInvalid;
    if (IsOpenDocument(*zip)) {
        auto xml = ReadPart(*zip, QStringLiteral("content.xml"));
        return xml ? OpenDocumentText(*xml, maxChars, out) : kInvalid;
    }
    const QString main = MainPart(*zip);
    auto xml = main.isEmpty() ? std::nullopt : ReadPart(*zip, main);
    return xml ? OpenXmlDocumentText(*xml, maxChars, out) : kInvalid;
}

int ReadSheetCells(const QString& path, int maxRows, int maxColumns, QString& out) {
    auto zip = OpenPackage(path);
    if (!zip) return kInvalid;
    if (IsOpenDocument(*zip)) {
        auto xml = ReadPart(*zip, QStringLiteral("content.xml"));
        return xml ? OpenDocumentSheetCells(*xml, maxRows, maxColumns, out) : kInvalid;
    }
    return OpenXmlSheetCells(*zip, maxRows, maxColumns, out);
}

int ReadSlideTexts(const QString& path, int maxSlides, QString& out) {
    auto zip = OpenPackage(path);
    if (!zip) return kInvalid;
    if (IsOpenDocument(*zip)) {
        auto xml = ReadPart(*zip, QStringLiteral("content.xml"));
        return xml ? OpenDocumentSlideTexts(*xml, maxSlides, out) : kInvalid;
    }
    return OpenXmlSlideTexts(*zip, maxSlides, out);
}

QString CsvCells(const QString& text, int maxRows, int maxColumns) {
    CellGrid grid(maxRows, maxColumns);
    int64_t row = 0, column = 0;
    QString field;
    bool quoted = false;
    bool more = true;
    auto endField = [&] {
        more = grid.Put(row, column, field);
        field.clear();
        ++column;
    };
    for (qsizetype i = 0; i < text.size() && more; ++i) {
        const QChar ch = text[i];
        if (quoted) {
            if (ch == QLatin1Char('"')) {
                if (i + 1 < text.size() && text[i + 1] == QLatin1Char('"')) {
                    field += ch;
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                field += ch;
            }
        } else if (ch == QLatin1Char('"')) {
            quoted = true;
        } else if (ch == QLatin1Char(',')) {
            endField();
        } else if (ch == QLatin1Char('\n') || ch == QLatin1Char('\f')) {
            endField();
            ++row;
            column = 0;
            if (ch == QLatin1Char('\f')) break;
        } else if (ch != QLatin1Char('\r')) {
            field += ch;
        }
    }
    if (more && (!field.isEmpty() || column > 0)) endField();
    return grid.Text();
}

}  // namespace sorvane::app
