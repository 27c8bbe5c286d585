// The recovery window with thousands of found files: it must reach Finish
// with a detail row for every file, however fast the worker posts them.
#include "app/skin_framework/list.h"
#include "app/window_test_support.h"
#include "tests/testkit/fat_stick.h"

namespace sorvane::app {
namespace {

using testkit::RunCommand;
using testkit::ShellQuote;
using testkit::TempDir;

// A FAT16 card whose folder "many" held `count` small files, all deleted
// since: the quick scan finds every one.
std::filesystem::path ManyDeletedFilesImage(const TempDir& dir, int count) {
    if (!testkit::HaveProgram("mkfs.fat") || !testkit::HaveProgram("mcopy")) return {};
    const auto source = dir / "many";
    std::filesystem::create_directories(source);
    for (int i = 0; i < count; ++i) {
        const std::string text = "note " + std::to_string(i) + "\n" + std::string(100 + i % 50, 'n');
        testkit::WriteFile(source / ("note" + std::to_string(i) + ".txt"),
                           std::vector<uint8_t>(text.begin(), text.end()));
    }
    const auto image = dir / "card.img";
    const std::string quoted = ShellQuote(image.string());
    const std::string script = "truncate -s 32M " + quoted + " && mkfs.fat -F 16 " + quoted +
                               " && mcopy -s -i " + quoted + " " + ShellQuote(source.string()) +
                               " ::" + " && mdel -i " + quoted + " '::many/*.txt'";
    if (RunCommand("(" + script + ") >/dev/null 2>&1") != 0) return {};
    return image;
}

using RecoverProcessWndTest = testing::WindowTest;

TEST_F(RecoverProcessWndTest, ThousandsOfFilesEndWithFinishAndARowForEach) {
    constexpr int kFiles = 2000;
    TempDir dir;
    const auto image = ManyDeletedFilesImage(dir, kFiles);
    if (image.empty()) GTEST_SKIP() << "mkfs.fat or mtools missing";
    Click("BtnDeletedRecovery");
    ASSERT_TRUE(window_->OpenImageFile(image));
    Click("BtnScan");
    ASSERT_TRUE(testing::WaitFor([this] { return window_->CurrentPage() == CMainWnd::kResultsPage; }));
    ASSERT_EQ(window_->SearchResults().size(), static_cast<size_t>(kFiles));
    CheckEverything();
    ASSERT_EQ(window_->CheckedFiles().size(), static_cast<size_t>(kFiles));

    TempDir out;
    int rows = -1, placedInView = 0, lastRowTop = -1, bodyHeight = 0;
    QString recovered;
    const bool seen = Recover(out.Path(), [&](CRecoverProcessWnd& recovery) {
        recovered = recovery.FindControl(QStringLiteral("recovered"))->Text();
        QTest::mouseClick(recovery.FindControl(QStringLiteral("DetailBtn")), Qt::LeftButton);
        QApplication::processEvents();
        auto* list = recovery.Find<skin::List>(QStringLiteral("DetailList"));
        rows = list->GetCount();
        // Scrolled to the end, the last file's row is in view and no row of
        // the list's start is left drawn over it.
        list->SetScrollPos(list->ScrollRange());
        bodyHeight = list->height();
        for (int i = 0; i < rows; ++i) {
            const QRect box = list->GetItemAt(i)->geometry();
            if (box.bottom() >= 0 && box.top() < bodyHeight) ++placedInView;
        }
        lastRowTop = list->GetItemAt(rows - 1)->geometry().top();
    });
    ASSERT_TRUE(seen) << "the recovery window never showed Finish";
    EXPECT_EQ(rows, kFiles) << "a detail row for every recovered file";
    QString expected = Message("MSG1102");
    for (int n : {kFiles, kFiles, kFiles, 0})
        expected.replace(expected.indexOf(QStringLiteral("%d")), 2, QString::number(n));
    EXPECT_EQ(recovered, expected);
    EXPECT_GT(lastRowTop, 0);
    EXPECT_LT(lastRowTop, bodyHeight);
    EXPECT_GT(placedInView, 0);
    EXPECT_LE(placedInView, bodyHeight / 20 + 2) << "only the rows in view are placed there";
    EXPECT_EQ(testkit::FileShasBelow(out.Path()).size(), static_cast<size_t>(kFiles));
}

// An NTFS volume written on Linux may hold names a FAT stick refuses. Onto
// such a stick the window recovers them under mended names and counts them as
// recovered, as the command line does.
TEST_F(RecoverProcessWndTest, NamesAFatStickRefusesAreRecoveredMendedAndCountedAsRecovered) {
    TempDir dir;
    testkit::FatStick stick(dir);
    if (stick.Mounted().empty()) GTEST_SKIP() << "no FAT file system can be mounted here (fusefat as root)";
    const auto image = dir / "ntfs.img", point = dir / "ntfs";
    std::filesystem::create_directories(point);
    const std::string quoted = ShellQuote(image.string()), at = ShellQuote(point.string());
    const std::string script = "truncate -s 20M " + quoted + " && mkntfs -q -F -f " + quoted +
                               " && ntfs-3g " + quoted + " " + at + " && head -c 5000 /dev/urandom > " + at +
                               "'/Report: Q3?.txt' && head -c 7000 /dev/urandom > " + at +
                               "/plain.txt && sync && rm " + at + "/*.txt && umount " + at;
    if (RunCommand("(" + script + ") >/dev/null 2>&1") != 0) GTEST_SKIP() << "mkntfs or ntfs-3g missing";
    const std::string before = testkit::FileSha256(image);
    Click("BtnDeletedRecovery");
    ASSERT_TRUE(window_->OpenImageFile(image));
    Click("BtnScan");
    ASSERT_TRUE(testing::WaitFor([this] { return window_->CurrentPage() == CMainWnd::kResultsPage; }));
    ASSERT_EQ(window_->SearchResults().size(), 2u);
    CheckEverything();

    QString recovered;
    ASSERT_TRUE(Recover(stick.Mounted(), [&](CRecoverProcessWnd& recovery) {
        recovered = recovery.FindControl(QStringLiteral("recovered"))->Text();
    }));
    QString expected = Message("MSG1102");
    for (int n : {2, 2, 2, 0})
        expected.replace(expected.indexOf(QStringLiteral("%d")), 2, QString::number(n));
    EXPECT_EQ(recovered.toStdString(), expected.toStdString()) << "both recovered, none failed";
    const auto files = testkit::FileShasBelow(stick.Mounted());
    EXPECT_EQ(files.size(), 2u);
    EXPECT_EQ(files.count("document/Report_ Q3_.txt"), 1u);
    EXPECT_EQ(testkit::FileSha256(image), before);
}

}  // namespace
}  // namespace sorvane::app
