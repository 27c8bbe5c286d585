// Converters that turn an extracted document into what the preview pane can
// show: text for word-processing documents, sheets, presentations and
// archives, and a picture of the first page for PDF files. A converter is made
// for one file by CreateDocumentView and used once.
#pragma once

#include <QString>
#include <QStringList>
#include <memory>

namespace sorvane::app {

class IDocumentView {
  public:
    virtual ~IDocumentView() = default;
    // Converts the file at `path`; returns 0 with the text in `out` (empty for
    // a PDF, whose picture is left as "tmp.jpg" in the preview folder), or a
    // result code (87 when the file cannot be converted).
    virtual int ConvertForPreview(const QString& path, QString& out) = 0;
    // The helper program the last conversion needed and could not find, or
    // empty: the pane says which one is missing.
    const QString& MissingHelper() const { return missingHelper_; }

  protected:
    QString missingHelper_;
};

// Folders the converters work with: the program folder (where "tool" and
// "Extract" are) and the preview folder (where the page picture goes).
struct ConverterFolders {
    QString programDir;
    QString previewDir;
};

// Time limits: the legacy text converters have the watchdog of about six
// seconds; the page renderer and archive lister get a little more, and the
// office suite, whose start alone takes seconds on a busy machine, the most.
inline constexpr int kOfficeHelperTimeoutMs = 6100;
inline constexpr int kToolTimeoutMs = 10000;
inline constexpr int kSuiteTimeoutMs = 20000;

// Base of the office converters: legacy binary files go through an office
// suite installed on the system, or catdoc's converters.
class COfficeView : public IDocumentView {
  public:
    explicit COfficeView(ConverterFolders folders) : folders_(std::move(folders)) {}

  protected:
    // Converts the legacy file at `path` with the office suite into `format`
    // ("docx", "xlsx", "pptx") in a work folder below the preview folder and
    // reads the result with `read`; 87 when the suite is missing or fails.
    template <typename Read>
    int ThroughSuite(const QString& path, const QString& format, Read read);
    // Runs a catdoc-family converter and gives its text.
    int ThroughConverter(const QString& program, const QStringList& arguments, const QString& path,
                         QString& out);
    bool HaveSuite() const;

    ConverterFolders folders_;
};

// First 2048 characters of a document's text.
class CWord : public COfficeView {
  public:
    using COfficeView::COfficeView;
    int ConvertForPreview(const QString& path, QString& out) override;
    static constexpr int kMaxChars = 2048;
};

// The first 10 x 10 cells of the first sheet.
class CExcel : public COfficeView {
  public:
    using COfficeView::COfficeView;
    int ConvertForPreview(const QString& path, QString& out) override;
    static constexpr int kMaxRows = 10;
    static constexpr int kMaxColumns = 10;
};

// Shape texts of the first 20 slides.
class CPPT : public COfficeView {
  public:
    using COfficeView::COfficeView;
    int ConvertForPreview(const QString& path, QString& out) override;
    static constexpr int kMaxSlides = 20;
};

// Page 1 of a PDF, drawn by the "tool" helper into the preview folder's "tmp.jpg".
class CPDF : public IDocumentView {
  public:
    explicit CPDF(ConverterFolders folders) : folders_(std::move(folders)) {}
    int ConvertForPreview(const QString& path, QString& out) override;
    // The picture a successful conversion leaves.
    QString PicturePath() const;

  private:
    ConverterFolders folders_;
};

// The listing of an archive by the "Extract" helper, from its rule of minus signs on.
class CZIP : public IDocumentView {
  public:
    explicit CZIP(ConverterFolders folders) : folders_(std::move(folders)) {}
    int ConvertForPreview(const QString& path, QString& out) override;

  private:
    ConverterFolders folders_;
};

// The converter for an extension pattern such as "*.docx", found as a
// substring of each converter's list in turn; null when none converts it.
std::unique_ptr<IDocumentView> CreateDocumentView(const QString& pattern, const ConverterFolders& folders);

// The listing that follows the first line of 19 minus signs in an archive
// lister's output, or a null string when there is no such line.
QString ListingAfterRule(const QString& output);

}  // namespace sorvane::app
