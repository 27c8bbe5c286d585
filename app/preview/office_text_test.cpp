#include "app/preview/office_text.h"

#include <gtest/gtest.h>

#include <QString>
#include <filesystem>

#include "tests/testkit/testkit.h"

namespace sorvane::app {
namespace {

using testkit::ShellQuote;

// Makes a zip package of the given parts (name -> XML text) with the zip tool.
std::filesystem::path MakePackage(const testkit::TempDir& dir, const std::string& name,
                                  const std::vector<std::pair<std::string, std::string>>& parts) {
    std::filesystem::path staging = dir / (name + ".parts");
    for (const auto& [part, text] : parts) {
        std::filesystem::path file = staging / part;
        std::filesystem::create_directories(file.parent_path());
        testkit::WriteFile(file, std::vector<uint8_t>(text.begin(), text.end()));
    }
    std::filesystem::path package = dir / name;
    EXPECT_EQ(testkit::RunCommand("cd " + ShellQuote(staging.string()) + " && zip -qr " +
                                  ShellQuote(package.string()) + " ."),
              0);
    return package;
}

TEST(CsvCells, KeepsTheFirstTenByTenCellsFromTheFirstUsedOne) {
    QString csv;
    for (int r = 1; r <= 12; ++r) {
        for (int c = 1; c <= 12; ++c) csv += QStringLiteral("%1%2,").arg(QChar('a' + c - 1)).arg(r);
        csv += QLatin1Char('\n');
    }
    QString text = CsvCells(csv, 10, 10);
    QStringList rows = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(rows.size(), 10);
    EXPECT_EQ(rows[0].split(QLatin1Char('\t')).size(), 10);
    EXPECT_TRUE(rows[0].startsWith(QStringLiteral("a1\tb1\t")));
    EXPECT_TRUE(rows[9].endsWith(QStringLiteral("j10")));
    EXPECT_FALSE(text.contains(QStringLiteral("k1")));
    EXPECT_FALSE(text.contains(QStringLiteral("a11")));
}

TEST(CsvCells, HonoursQuotesAndStopsAtTheEndOfTheFirstSheet) {
    QString text = CsvCells(QStringLiteral("\"a, b\",\"say \"\"hi\"\"\"\r\nx,y\fsecond,sheet\n"), 10, 10);
    EXPECT_EQ(text, QStringLiteral("a, b\tsay \"hi\"\nx\ty\n"));
    EXPECT_EQ(CsvCells(QString(), 10, 10), QString());
    // Leading empty rows and columns are not part of the used range.
    EXPECT_EQ(CsvCells(QStringLiteral(",,\n,,z\n"), 10, 10), QStringLiteral("z\n"));
}

TEST(OfficePackages, DamagedOrForeignFilesGiveNoText) {
    testkit::TempDir dir;
    QString out = QStringLiteral("unchanged");
    // Not a zip at all.
    testkit::WriteFile(dir / "noise.docx", std::vector<uint8_t>(4000, 0x5a));
    EXPECT_EQ(ReadDocumentText(QString::fromStdString((dir / "noise.docx").string()), 2048, out), 87);
    EXPECT_EQ(ReadSheetCells(QString::fromStdString((dir / "noise.docx").string()), 10, 10, out), 87);
    EXPECT_EQ(ReadSlideTexts(QString::fromStdString((dir / "noise.docx").string()), 20, out), 87);
    EXPECT_EQ(ReadDocumentText(QString::fromStdString((dir / "missing.docx").string()), 2048, out), 87);
    // A zip that is no office package: no relationships, no content part.
    auto plain = MakePackage(dir, "plain.zip", {{"readme.txt", "hello"}});
    EXPECT_EQ(ReadDocumentText(QString::fromStdString(plain.string()), 2048, out), 87);
    // A package whose relationships point at a part that is not there.
    auto dangling = MakePackage(
        dir, "dangling.xlsx",
        {{"_rels/.rels",
          "<Relationships><Relationship Id=\"r1\" Type=\"x/officeDocument\" Target=\"xl/workbook.xml\"/>"
          "</Relationships>"},
         {"xl/workbook.xml",
          "<workbook><sheets><sheet name=\"S\" r:id=\"rId9\" "
          "xmlns:r=\"urn:r\"/></sheets></workbook>"}});
    EXPECT_EQ(ReadSheetCells(QString::fromStdString(dangling.string()), 10, 10, out), 87);
    // Broken XML in the body.
    auto broken = MakePackage(dir, "broken.odt",
                              {{"content.xml", "<office:document><office:body><office:text><text:p>"}});
    EXPECT_EQ(ReadDocumentText(QString::fromStdString(broken.string()), 2048, out), 87);
}

TEST(OfficePackages, ReadsTextOfHandMadeMinimalParts) {
    testkit::TempDir dir;
    const char* ns =
        "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
        "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
        "xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\"";
    auto odt =
        MakePackage(dir, "spaces.odt",
                    {{"content.xml",
                      std::string("<office:document-content ") + ns +
                          "><office:body><office:text><text:h>Title</text:h><text:p>a<text:s text:c=\"3\"/>b"
                          "<text:tab/>c<text:line-break/>d</text:p></office:text></office:body>"
                          "</office:document-content>"}});
    QString out;
    ASSERT_EQ(ReadDocumentText(QString::fromStdString(odt.string()), 2048, out), 0);
    EXPECT_EQ(out, QStringLiteral("Title\na   b\tc\nd\n"));
    ASSERT_EQ(ReadDocumentText(QString::fromStdString(odt.string()), 4, out), 0);
    EXPECT_EQ(out, QStringLiteral("Titl"));

    // Repeated rows and cells as spreadsheet programs write them, with a
    // million empty rows at the end that must not be walked one by one.
    auto ods = MakePackage(
        dir, "repeat.ods",
        {{"content.xml",
          std::string("<office:document-content ") + ns +
              "><office:body><office:spreadsheet><table:table>"
              "<table:table-row table:number-rows-repeated=\"2\"><table:table-cell/></table:table-row>"
              "<table:table-row><table:table-cell table:number-columns-repeated=\"2\"><text:p>x</text:p>"
              "</table:table-cell><table:table-cell><text:p>y</text:p></table:table-cell></table:table-row>"
              "<table:table-row table:number-rows-repeated=\"1048570\"><table:table-cell "
              "table:number-columns-repeated=\"16384\"/></table:table-row>"
              "</table:table></office:spreadsheet></office:body></office:document-content>"}});
    ASSERT_EQ(ReadSheetCells(QString::fromStdString(ods.string()), 10, 10, out), 0);
    EXPECT_EQ(out, QStringLiteral("x\tx\ty\n"));
}

}  // namespace
}  // namespace sorvane::app
