// The PDF check on documents LibreOffice writes (text, a photo, fonts) and
// on qpdf's rewrites of them (object streams with a cross-reference stream,
// linearised): whole ones check out, a cluster of another document's bytes or
// of noise is found and bounded, and the tables must place every object.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "carving/fragment_check.h"
#include "carving/fragment_check_test_support.h"
#include "tests/testkit/testkit.h"

namespace sorvane {
namespace {

using fragment_testing::Check;
using fragment_testing::kBlock;
using fragment_testing::Noise;
using fragment_testing::SwapBlock;
using testkit::RunCommand;
using testkit::ShellQuote;

class PdfFragmentCheckTest : public ::testing::Test {
  protected:
    // Two reports of one layout with different words and photos, made once for the suite.
    static void SetUpTestSuite() {
        if (!testkit::HaveProgram("soffice") || !testkit::HaveProgram("convert") ||
            !testkit::HaveProgram("qpdf"))
            return;
        dir_ = std::make_unique<testkit::TempDir>();
        const std::string in = "cd " + ShellQuote(dir_->Path().string()) + " && ";
        for (int seed : {1, 2}) {
            const std::string name = "r" + std::to_string(seed);
            std::mt19937 random(static_cast<uint32_t>(seed));
            const char* words[] = {"cluster", "sector", "photo", "archive", "ledger", "invoice", "quarter"};
            std::string html = "<html><body><h1>Report</h1><img src=\"" + name + ".png\">";
            for (int p = 0; p < 60; ++p) {
                html += "<p>";
                for (int w = 0; w < 50; ++w) html += std::string(words[random() % 7]) + " ";
                html += "</p>";
            }
            html += "</body></html>";
            testkit::WriteFile(dir_->Path() / (name + ".html"),
                               std::vector<uint8_t>(html.begin(), html.end()));
            if (RunCommand(in + "convert -seed " + std::to_string(seed) + " -size 300x200 plasma:fractal " +
                           name + ".png 2>/dev/null") != 0)
                return;
        }
        // Lossless pictures, so every byte of the photo's stream is checked
        // (LibreOffice stores photos as progressive JPEG otherwise, whose
        // coded data the JPEG check walks for its markers only).
        const std::string office =
            "soffice -env:UserInstallation=file://" + (dir_->Path() / "profile").string() +
            " --headless --convert-to "
            "'pdf:writer_pdf_Export:{\"UseLosslessCompression\":{\"type\":\"boolean\",\"value\":\"true\"}}'"
            " r1.html r2.html >/dev/null 2>&1";
        if (RunCommand(in + office) != 0 ||
            RunCommand(
                in +
                "qpdf --object-streams=generate r1.pdf streams.pdf && qpdf --linearize r1.pdf lin.pdf") != 0)
            return;
        made_ = true;
    }
    static void TearDownTestSuite() { dir_.reset(); }
    void SetUp() override {
        if (!made_) GTEST_SKIP() << "LibreOffice, ImageMagick or qpdf missing";
    }
    static std::vector<uint8_t> Bytes(const std::string& name) {
        return testkit::ReadFile(dir_->Path() / name);
    }

    static std::unique_ptr<testkit::TempDir> dir_;
    static bool made_;
};

std::unique_ptr<testkit::TempDir> PdfFragmentCheckTest::dir_;
bool PdfFragmentCheckTest::made_ = false;

TEST_F(PdfFragmentCheckTest, WholeDocumentsCheckOutToTheirLastByte) {
    for (const char* name : {"r1.pdf", "r2.pdf", "streams.pdf", "lin.pdf"}) {
        SCOPED_TRACE(name);
        const std::vector<uint8_t> pdf = Bytes(name);
        const FragmentVerdict v = Check("pdf", pdf);
        EXPECT_TRUE(v.Valid()) << int(v.check) << " at " << v.offset << " to " << v.end;
        EXPECT_EQ(v.offset, pdf.size());
        fragment_testing::ExpectCutsInvalid("pdf", pdf);
    }
    EXPECT_TRUE(HasFragmentCheck("pdf"));
}

// Every block after the first (which a file's directory entry gives) swapped
// is found, with every byte before the offset right and the wrong byte before the end.
void ExpectSwapsFound(const char* what, const std::vector<uint8_t>& pdf, const std::vector<uint8_t>& other) {
    std::vector<uint64_t> after;
    for (size_t at = kBlock; at < pdf.size(); at += kBlock) {
        SCOPED_TRACE("block at " + std::to_string(at));
        const std::vector<uint8_t> wrong = SwapBlock(pdf, at, other);
        if (wrong == pdf) continue;
        const FragmentVerdict v = Check("pdf", wrong);
        EXPECT_EQ(v.check, FragmentCheck::kInvalidAt);
        EXPECT_LE(v.offset, at);
        EXPECT_GT(v.end, at);
        after.push_back(v.end > at ? v.end - at : 0);
    }
    std::sort(after.begin(), after.end());
    if (!after.empty())
        std::printf("[ measured ] PDF, %s: %zu swaps, break found after median %llu, worst %llu bytes\n",
                    what, after.size(), static_cast<unsigned long long>(after[after.size() / 2]),
                    static_cast<unsigned long long>(after.back()));
}

TEST_F(PdfFragmentCheckTest, ASwappedClusterIsFoundAndBounded) {
    const std::vector<uint8_t> a = Bytes("r1.pdf"), b = Bytes("r2.pdf");
    ASSERT_GT(a.size(), 8 * kBlock);
    ExpectSwapsFound("other document", a, b);
    ExpectSwapsFound("noise", a, Noise(a.size(), 3));
    ExpectSwapsFound("object streams, other document", Bytes("streams.pdf"), b);
}

TEST_F(PdfFragmentCheckTest, TheTablesMustPlaceEveryObject) {
    const std::vector<uint8_t> pdf = Bytes("r1.pdf");
    const std::string text(pdf.begin(), pdf.end());
    // An entry of the classic table moved by one byte: the object it names is not where it says.
    const size_t xref = text.rfind("\nxref");
    ASSERT_NE(xref, std::string::npos);
    const size_t entry = text.find(" 00000 n", xref) - 10;
    const uint64_t named = std::stoull(text.substr(entry, 10));
    std::vector<uint8_t> moved = pdf;
    std::string shifted = std::to_string(named + 1);
    shifted.insert(0, 10 - shifted.size(), '0');
    std::copy(shifted.begin(), shifted.end(), moved.begin() + static_cast<ptrdiff_t>(entry));
    const FragmentVerdict v = Check("pdf", moved);
    EXPECT_EQ(v.check, FragmentCheck::kInvalidAt);
    EXPECT_LE(v.offset, named + 1);
    EXPECT_GT(v.end, named + 1);
    // startxref pointing elsewhere than a cross-reference section.
    std::vector<uint8_t> pointer = pdf;
    const size_t startxref = text.rfind("startxref") + 10;
    pointer[startxref] = pointer[startxref] == '1' ? '2' : '1';
    EXPECT_EQ(Check("pdf", pointer).check, FragmentCheck::kInvalidAt);
    // Not a PDF.
    EXPECT_EQ(Check("pdf", Noise(100, 2)).check, FragmentCheck::kInvalidAt);
}

}  // namespace
}  // namespace sorvane
