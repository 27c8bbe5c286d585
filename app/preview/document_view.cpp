#include "app/preview/document_view.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include "app/preview/helper_process.h"
#include "app/preview/office_text.h"

namespace sorvane::app {
namespace {

constexpr int kInvalid = 87;

constexpr const char* kWordList = "*.doc|*.dot|*.docx|*.dotx|*.docm|*.dotm|*.rtf|*.odt";
constexpr const char* kPowerPointList = "*.ppt|*.pptx|*.pptm|*.pps|*.ppsx|*.ppsm|*.odp";
constexpr const char* kExcelList =
    "*.xls|*.xlsx|*.xlsm|*.csv|*.odc|*.vsd|*.vsdm|*.vsdx|*.pub|*.mpp|*.ics|*.vcf|*.msg";
constexpr const char* kPdfList = "*.pdf";
constexpr const char* kArchiveList =
    "*.zip|*.rar|*.gzip|*.tar|*.7z|*.cab|*.arj|*.lzh|*.ace|*.gz|*.uue|*.bz2|*.jar|*.iso";

// Plain-text tables are read directly; at most this much of one is looked at.
constexpr qint64 kMaxTableTextBytes = 1 << 20;

// What the file is by its first bytes: a zip package (Office Open XML or
// OpenDocument) or anything else, which goes to a legacy converter.
bool IsZipPackage(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.read(4) == QByteArray("PK\x03\x04", 4);
}

QString Extension(const QString& path) { return QFileInfo(path).suffix().toLower(); }

QString ReadTextHead(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(file.read(kMaxTableTextBytes));
}

}  // namespace

bool COfficeView::HaveSuite() const { return !FindSystemProgram(QStringLiteral("soffice")).isEmpty(); }

template <typename Read>
int COfficeView::ThroughSuite(const QString& path, const QString& format, Read read) {
    const QString suite = FindSystemProgram(QStringLiteral("soffice"));
    if (suite.isEmpty()) return kInvalid;
    // The suite keeps its settings and its output below the preview folder, so
    // nothing of a preview lands anywhere else; the output goes right after use.
    QDir preview(folders_.previewDir);
    const QString profile = preview.filePath(QStringLiteral(".office-profile"));
    QDir work(preview.filePath(QStringLiteral("office-convert")));
    work.removeRecursively();
    if (!work.mkpath(QStringLiteral("."))) return kInvalid;
    HelperResult result = RunHelper(
        suite,
        {QStringLiteral("-env:UserInstallation=") + QUrl::fromLocalFile(profile).toString(),
         QStringLiteral("--headless"), QStringLiteral("--norestore"), QStringLiteral("--convert-to"), format,
         QStringLiteral("--outdir"), work.absolutePath(), path},
        kSuiteTimeoutMs);
    const QString converted = work.filePath(QFileInfo(path).completeBaseName() + QLatin1Char('.') + format);
    int rc = result.Succeeded() && QFileInfo::exists(converted) ? read(converted) : kInvalid;
    work.removeRecursively();
    return rc;
}

int COfficeView::ThroughConverter(const QString& program, const QStringList& arguments, const QString& path,
                                  QString& out) {
    const QString executable = FindSystemProgram(program);
    if (executable.isEmpty()) return kInvalid;
    HelperResult result = RunHelper(executable, arguments + QStringList{path}, kOfficeHelperTimeoutMs);
    if (!result.Succeeded()) return kInvalid;
    out = QString::fromUtf8(result.output);
    return 0;
}

int CWord::ConvertForPreview(const QString& path, QString& out) {
    out.clear();
    missingHelper_.clear();
    if (IsZipPackage(path)) return ReadDocumentText(path, kMaxChars, out);
    QString text;
    if (!FindSystemProgram(QStringLiteral("catdoc")).isEmpty()) {
        int rc = ThroughConverter(QStringLiteral("catdoc"),
                                  {QStringLiteral("-w"), QStringLiteral("-d"), QStringLiteral("utf-8")}, path,
                                  text);
        if (rc != 0) return rc;
        out = text.left(kMaxChars);
        return 0;
    }
    if (!HaveSuite()) {
        missingHelper_ = QStringLiteral("catdoc");
        return kInvalid;
    }
    return ThroughSuite(path, QStringLiteral("docx"), [&](const QString& converted) {
        return ReadDocumentText(converted, kMaxChars, out);
    });
}

int CExcel::ConvertForPreview(const QString& path, QString& out) {
    out.clear();
    missingHelper_.clear();
    const QString ext = Extension(path);
    if (IsZipPackage(path)) {
        if (ext != QLatin1String("xlsx") && ext != QLatin1String("xlsm")) return kInvalid;
        return ReadSheetCells(path, kMaxRows, kMaxColumns, out);
    }
    if (ext == QLatin1String("csv") || ext == QLatin1String("ics") || ext == QLatin1String("vcf")) {
        out = CsvCells(ReadTextHead(path), kMaxRows, kMaxColumns);
        return 0;
    }
    if (ext != QLatin1String("xls")) return kInvalid;  // drawings, mail and plans have no table to show
    if (!FindSystemProgram(QStringLiteral("xls2csv")).isEmpty()) {
        QString csv;
        int rc = ThroughConverter(QStringLiteral("xls2csv"), {QStringLiteral("-d"), QStringLiteral("utf-8")},
                                  path, csv);
        if (rc != 0) return rc;
        out = CsvCells(csv, kMaxRows, kMaxColumns);
        return 0;
    }
    if (!HaveSuite()) {
        missingHelper_ = QStringLiteral("xls2csv");
        return kInvalid;
    }
    return ThroughSuite(path, QStringLiteral("xlsx"), [&](const QString& converted) {
        return ReadSheetCells(converted, kMaxRows, kMaxColumns, out);
    });
}

int CPPT::ConvertForPreview(const QString& path, QString& out) {
    out.clear();
    missingHelper_.clear();
    if (IsZipPackage(path)) return ReadSlideTexts(path, kMaxSlides, out);
    // catppt reads the slide texts PowerPoint keeps in its outline; files of
    // other programs keep them only in their shapes, which the suite reads.
    const bool haveCatppt = !FindSystemProgram(QStringLiteral("catppt")).isEmpty();
    if (haveCatppt) {
        int rc = ThroughConverter(QStringLiteral("catppt"), {QStringLiteral("-d"), QStringLiteral("utf-8")},
                                  path, out);
        if (rc == 0 && !out.trimmed().isEmpty()) return 0;
        out.clear();
    }
    if (HaveSuite()) {
        return ThroughSuite(path, QStringLiteral("pptx"), [&](const QString& converted) {
            return ReadSlideTexts(converted, kMaxSlides, out);
        });
    }
    if (!haveCatppt) missingHelper_ = QStringLiteral("catppt");
    return kInvalid;
}

QString CPDF::PicturePath() const { return QDir(folders_.previewDir).filePath(QStringLiteral("tmp.jpg")); }

int CPDF::ConvertForPreview(const QString& path, QString& out) {
    out.clear();
    missingHelper_.clear();
    const QString tool = QDir(folders_.programDir).filePath(QStringLiteral("tool"));
    if (!QFileInfo(tool).isExecutable()) {
        missingHelper_ = QStringLiteral("tool");
        return kInvalid;
    }
    const QString root = QDir(folders_.previewDir).filePath(QStringLiteral("pdf"));
    const QString page = root + QStringLiteral("-000001.png");
    QFile::remove(page);  // a page left by an earlier preview must not pass for this one
    HelperResult result = RunHelper(
        tool,
        {path, QStringLiteral("-f"), QStringLiteral("1"), QStringLiteral("-l"), QStringLiteral("1"), root},
        kToolTimeoutMs);
    if (!result.started) return kInvalid;
    if (!result.finished || result.crashed || !QFileInfo::exists(page)) {
        QFile::remove(page);
        return kInvalid;
    }
    const QString picture = PicturePath();
    QFile::remove(picture);
    if (!QFile::rename(page, picture)) {
        QFile::remove(page);
        return 5;
    }
    return 0;
}

int CZIP::ConvertForPreview(const QString& path, QString& out) {
    out.clear();
    missingHelper_.clear();
    const QString lister = QDir(folders_.programDir).filePath(QStringLiteral("Extract"));
    if (!QFileInfo(lister).isExecutable()) {
        missingHelper_ = QStringLiteral("Extract");
        return kInvalid;
    }
    HelperResult result = RunHelper(lister, {QStringLiteral("l"), path}, kToolTimeoutMs);
    if (!result.started || !result.finished || result.crashed) return kInvalid;
    QString listing = ListingAfterRule(QString::fromUtf8(result.output));
    if (listing.isNull()) return kInvalid;
    out = listing;
    return 0;
}

QString ListingAfterRule(const QString& output) {
    static const QString kRule(19, QLatin1Char('-'));
    qsizetype at = output.indexOf(kRule);
    if (at < 0) return {};
    // From the start of the line that holds the rule.
    qsizetype lineStart = output.lastIndexOf(QLatin1Char('\n'), at);
    return output.mid(lineStart < 0 ? 0 : lineStart + 1);
}

std::unique_ptr<IDocumentView> CreateDocumentView(const QString& pattern, const ConverterFolders& folders) {
    if (pattern.isEmpty()) return nullptr;
    auto in = [&](const char* list) { return QLatin1String(list).contains(pattern); };
    if (in(kWordList)) return std::make_unique<CWord>(folders);
    if (in(kPowerPointList)) return std::make_unique<CPPT>(folders);
    if (in(kExcelList)) return std::make_unique<CExcel>(folders);
    if (in(kPdfList)) return std::make_unique<CPDF>(folders);
    if (in(kArchiveList)) return std::make_unique<CZIP>(folders);
    return nullptr;
}

}  // namespace sorvane::app
