#include "results/file_categories.h"

#include <gtest/gtest.h>

#include <fstream>

#include "tests/testkit/testkit.h"

namespace sorvane {
namespace {

TEST(FileCategories, FolderIsTheFirstListHoldingTheExtension) {
    EXPECT_EQ(CategoryFolderName("IMG_0001.JPG"), "photo");
    // Substring tests: "rm" is in the audio list before the video list, and a
    // short extension such as "ps" matches "*.psd".
    EXPECT_EQ(CategoryFolderName("song.rm"), "audio");
    EXPECT_EQ(CategoryFolderName("movie.rmvb"), "video");
    EXPECT_EQ(CategoryFolderName("page.ps"), "photo");
    EXPECT_EQ(CategoryFolderName("letter.docx"), "document");
    EXPECT_EQ(CategoryFolderName("backup.tar.gz"), "archive");
    EXPECT_EQ(CategoryFolderName("data.qqq"), "others");
    // No extension (an empty one is in every list) goes to others.
    EXPECT_EQ(CategoryFolderName("report"), "others");
    EXPECT_EQ(CategoryFolderName("trailing."), "others");
    // Only the first 26 characters of the extension are looked up.
    EXPECT_EQ(CategoryFolderName("x." + std::string(26, 'q') + "jpg"), "others");
}

TEST(FileCategories, KnownTextAndSearchPatternJoinTheListsInTheirOwnOrders) {
    const std::string& known = KnownExtensionText();
    EXPECT_EQ(known.size(), kPhotoExtensions.size() + kAudioExtensions.size() + kDocumentExtensions.size() +
                                kVideoExtensions.size() + kArchiveExtensions.size() + 4);
    EXPECT_LT(known.find(kAudioExtensions), known.find(kDocumentExtensions));
    EXPECT_LT(known.find(kDocumentExtensions), known.find(kVideoExtensions));
    std::string all = AllCategoriesPattern();
    EXPECT_LT(all.find(kVideoExtensions), all.find(kDocumentExtensions));
    EXPECT_EQ(all.find("|*.rmvb|"), kPhotoExtensions.size() + kAudioExtensions.size() + 1);
}

TEST(FileCategories, FastLogNamePadsOnlyTheMinute) {
    EXPECT_EQ(FastLogName(2048, 2026, 12, 7, 9, 5), "Fast_2048_20261279 5");
    EXPECT_EQ(FastLogName(63, 2026, 1, 2, 13, 45), "Fast_63_2026121345");
    std::string now = FastLogNameNow(0);
    EXPECT_EQ(now.rfind("Fast_0_", 0), 0u);
}

TEST(UniqueDestination, NumbersBeforeTheExtensionAndNeverOverwrites) {
    testkit::TempDir dir;
    auto touch = [](const std::filesystem::path& p) { std::ofstream(p) << "x"; };
    std::filesystem::path a = dir / "a.jpg";
    EXPECT_EQ(UniqueDestinationPath(a), a);
    touch(a);
    EXPECT_EQ(UniqueDestinationPath(a), dir / "a(1).jpg");
    touch(dir / "a(1).jpg");
    EXPECT_EQ(UniqueDestinationPath(a), dir / "a(2).jpg");

    touch(dir / "report");
    EXPECT_EQ(UniqueDestinationPath(dir / "report"), dir / "report(1)");
    touch(dir / "x.tar.gz");
    EXPECT_EQ(UniqueDestinationPath(dir / "x.tar.gz"), dir / "x.tar(1).gz");

    // A link left in the destination, even a dangling one, is never written through.
    if (!testkit::MakeLink(dir / "nowhere", dir / "b.png")) GTEST_SKIP() << "this system cannot make links";
    EXPECT_EQ(UniqueDestinationPath(dir / "b.png"), dir / "b(1).png");
    // A folder of that name is taken too.
    std::filesystem::create_directory(dir / "c.txt");
    EXPECT_EQ(UniqueDestinationPath(dir / "c.txt"), dir / "c(1).txt");
}

}  // namespace
}  // namespace sorvane

namespace sorvane {
namespace {

// One rule decides every preview: an extension counts only as a whole entry
// of a list, whatever its case in the name.
TEST(PreviewForms, WholeEntriesOnly) {
    EXPECT_EQ(PreviewFormOf("report.PDF"), PreviewForm::kDocument);
    EXPECT_EQ(PreviewFormOf("backup.tar.gz"), PreviewForm::kDocument);
    EXPECT_EQ(PreviewFormOf("DSC0001.jpg"), PreviewForm::kPicture);
    EXPECT_EQ(PreviewFormOf("song.mp3"), PreviewForm::kMedia);
    EXPECT_EQ(PreviewFormOf("clip.rmvb"), PreviewForm::kMedia);
    // Pieces of longer entries ("*.pdf", "*.psd", "*.docx", "*.rmvb") are not entries.
    EXPECT_EQ(PreviewFormOf("notes.p"), PreviewForm::kFirstBytes);
    EXPECT_EQ(PreviewFormOf("draft.ps"), PreviewForm::kFirstBytes);
    EXPECT_EQ(PreviewFormOf("letter.ocx"), PreviewForm::kFirstBytes);
    EXPECT_EQ(PreviewFormOf("clip.rmv"), PreviewForm::kFirstBytes);
    EXPECT_EQ(PreviewFormOf("README"), PreviewForm::kFirstBytes);
    EXPECT_EQ(PreviewFormOf("trailing."), PreviewForm::kFirstBytes);

    EXPECT_FALSE(ListHasExtension("*.jpg|*.png", ""));
    EXPECT_TRUE(ListHasExtension("*.jpg|*.png", "png"));
    EXPECT_FALSE(ListHasExtension("*.jpg|*.png", "jpg|*.png"));
}

TEST(PreviewForms, FileNamesStayInsideThePreviewFolder) {
    EXPECT_EQ(PreviewFileName(PreviewForm::kPicture, "a.jpg"), "tmp.jpg");
    EXPECT_EQ(PreviewFileName(PreviewForm::kMedia, "a.avi"), "tmp.avi");
    EXPECT_EQ(PreviewFileName(PreviewForm::kFirstBytes, "a.bin"), "");
    const std::string document = PreviewFileName(PreviewForm::kDocument, "../../evil/x.pdf");
    EXPECT_EQ(document.find('/'), std::string::npos);
    EXPECT_NE(document, "..");
    EXPECT_FALSE(document.empty());
}

}  // namespace
}  // namespace sorvane
