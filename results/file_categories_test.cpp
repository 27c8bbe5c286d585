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

// The types of the card: in a category list, but on no option of the window.
TEST(TypeChoices, ACategoryTakesEveryExtensionItMapsToAndOptionsAddOrLeaveOut) {
    TypeChoice photos;
    photos.categories = {"photo"};
    for (const char* name : {"IMG_0001.THM", "PHOTO.JP2", "ICON.ICO", "a.tga", "a.pcx", "a.pgm", "a.psp"})
        EXPECT_TRUE(ChosenByType(photos, name)) << name;
    EXPECT_FALSE(ChosenByType(photos, "clip.mxf"));
    EXPECT_FALSE(ChosenByType(photos, "README")) << "a name without extension is another type";

    TypeChoice video{{"video"}, {}, {}};
    for (const char* name : {"clip.mxf", "tape.dv", "web.f4v", "old.divx", "cam.lrv", "book.m4b"})
        EXPECT_TRUE(ChosenByType(video, name)) << name;
    // "ts" is in no list whole, yet its folder is video ("*.mts"): the search
    // must still reach it, which only the ".other" rule does.
    EXPECT_TRUE(ChosenByType(video, "stream.ts"));
    const std::string pattern = SearchPatternOf(video);
    EXPECT_NE(pattern.find(std::string(kVideoExtensions)), std::string::npos);
    EXPECT_NE(pattern.find(kOtherPattern), std::string::npos);
    EXPECT_EQ(pattern.find("*.jpg"), std::string::npos);

    // An unticked option below a ticked category leaves its extensions out;
    // a ticked option of an unticked category brings its own.
    TypeChoice mixed{{"photo"}, {"mp3"}, {"jpg", "jpeg"}};
    EXPECT_FALSE(ChosenByType(mixed, "a.JPG"));
    EXPECT_TRUE(ChosenByType(mixed, "a.thm"));
    EXPECT_TRUE(ChosenByType(mixed, "song.mp3"));
    EXPECT_FALSE(ChosenByType(mixed, "song.wav"));
    EXPECT_NE(SearchPatternOf(mixed).find("*.mp3"), std::string::npos);

    TypeChoice other{{"other"}, {}, {}};
    EXPECT_TRUE(ChosenByType(other, "README"));
    EXPECT_TRUE(ChosenByType(other, "data.qqq"));
    EXPECT_FALSE(ChosenByType(other, "a.thm"));
    EXPECT_EQ(SearchPatternOf(TypeChoice{}), "") << "nothing chosen, nothing searched";
    for (const char* name : {"a.jpg", "b.mxf", "c.pst", "d.7z", "e.mp3", "README"})
        EXPECT_TRUE(ChosenByType(EveryType(), name)) << name;
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
