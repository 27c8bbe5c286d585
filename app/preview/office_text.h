// Text of office documents that are zip packages of XML parts: Office Open XML
// (docx, xlsx, pptx and their template and macro variants) and OpenDocument
// (odt, ods, odp). Read by Sorvane itself, so no office suite is needed. Every
// reader works on an untrusted file: a damaged package or part yields 87 and
// no text, never a crash, and no part larger than the zip reader's bound is
// inflated.
#pragma once

#include <QString>
#include <QStringList>

namespace sorvane::app {

// The kind of package a file is, judged by its parts rather than its name.
enum class OfficePackage { kNone, kOpenXml, kOpenDocument };

// The first `maxChars` characters of a word-processing document's body:
// paragraphs end in "\n", tabs are "\t". 0, or 87 when the file is not a
// readable document.
int ReadDocumentText(const QString& path, int maxChars, QString& out);

// The cells of the first sheet of a workbook, from the first used row and
// column on, at most `maxRows` x `maxColumns`: cells of a row are separated by
// "\t", rows end in "\n". 0, or 87.
int ReadSheetCells(const QString& path, int maxRows, int maxColumns, QString& out);

// The texts of the shapes that hold text on the first `maxSlides` slides of a
// presentation, one shape after another, each followed by "\n". 0, or 87.
int ReadSlideTexts(const QString& path, int maxSlides, QString& out);

// Splits comma-separated text into rows of fields (double quotes enclose a
// field, "" inside them is one quote) and keeps at most `maxRows` x
// `maxColumns`, formatted as ReadSheetCells does. A form feed ends the text:
// sheet converters put one between sheets.
QString CsvCells(const QString& text, int maxRows, int maxColumns);

}  // namespace sorvane::app
