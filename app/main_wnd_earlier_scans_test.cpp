// The home page's earlier scans: a deep scan outlives the window, opens again
// without scanning, recovers the same files, says plainly when its image (or
// its disk) is gone, and can be deleted.
#include "app/scan_process_wnd.h"
#include "app/skin_framework/list.h"
#include "app/window_test_support.h"
#include "engines/professional_recovery.h"

namespace sorvane::app {
namespace {

using testkit::RunCommand;
using testkit::ShellQuote;
using testkit::TempDir;

// A FAT16 card whose letters and picture were deleted.
std::filesystem::path CardImage(const TempDir& dir) {
    if (!testkit::HaveProgram("mkfs.fat") || !testkit::HaveProgram("mcopy")) return {};
    const auto image = dir / "card.img";
    const std::string quoted = ShellQuote(image.string());
    std::string script = "truncate -s 16M " + quoted + " && mkfs.fat -F 16 " + quoted;
    const std::string jpeg =
        std::string("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00", 11) + std::string(3000, 'j') + "\xFF\xD9";
    testkit::WriteFile(dir / "photo.jpg", std::vector<uint8_t>(jpeg.begin(), jpeg.end()));
    script += " && mcopy -i " + quoted + " " + ShellQuote((dir / "photo.jpg").string()) + " ::photo.jpg";
    for (int i = 0; i < 5; ++i) {
        const auto source = dir / ("letter" + std::to_string(i) + ".txt");
        testkit::WriteFile(source, std::vector<uint8_t>(2000 + 900 * i, static_cast<uint8_t>('a' + i)));
        script +=
            " && mcopy -i " + quoted + " " + ShellQuote(source.string()) + " ::" + source.filename().string();
    }
    script += " && mdel -i " + quoted + " '::*.*'";
    if (RunCommand("(" + script + ") >/dev/null 2>&1") != 0) return {};
    return image;
}

// A USB stick `name` below the test machine's root, holding `card` whole
// (no partition table); `tail` overwrites its last bytes when not empty.
void AddStick(const std::filesystem::path& root, const std::string& name, const std::string& dev,
              const std::filesystem::path& card, const std::string& tail = {}) {
    auto write = [&root](const std::string& rel, const std::string& text) {
        testkit::WriteFile(root / rel, std::vector<uint8_t>(text.begin(), text.end()));
    };
    std::filesystem::create_directories(root / ("sys/block/" + name));
    std::filesystem::create_directories(root / "dev");
    write("sys/block/" + name + "/removable", "1\n");
    write("sys/block/" + name + "/device_path",
          "/sys/devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/6:0:0:" +
              dev.substr(dev.find(':') + 1) + "\n");
    std::vector<uint8_t> bytes = testkit::ReadFile(card);
    std::copy(tail.begin(), tail.end(), bytes.end() - static_cast<std::ptrdiff_t>(tail.size()));
    write("sys/block/" + name + "/size", std::to_string(bytes.size() / 512) + "\n");
    write("sys/block/" + name + "/dev", dev + "\n");
    testkit::WriteFile(root / ("dev/" + name), bytes);
}

using EarlierScansTest = testing::WindowTest;

TEST_F(EarlierScansTest, AScanOfAStickIsFoundUnderItsNewNumberAndNotOnAnotherStick) {
    TempDir dir;
    TempDir strangerDir;
    const auto card = CardImage(dir);
    const auto strangerCard = CardImage(strangerDir);
    if (card.empty() || strangerCard.empty()) GTEST_SKIP() << "mkfs.fat or mtools missing";
    AddStick(root_.Path(), "sdc", "240:32", card);
    const std::string stick = testkit::FileSha256(root_ / "dev/sdc");

    Click("BtnStart");
    window_->RefreshDiskList();
    window_->SelectDiskRow(1);  // the stick's volume, below its disk row
    Click("BtnScan");
    ASSERT_TRUE(testing::WaitFor([this] { return window_->CurrentPage() == CMainWnd::kResultsPage; }));
    const size_t found = window_->SearchResults().size();
    ASSERT_GE(found, 6u);
    CheckEverything();
    TempDir first;
    ASSERT_TRUE(Recover(first.Path()));
    const auto recoveredFirst = testkit::FileShasBelow(first.Path());
    ASSERT_EQ(recoveredFirst.size(), found);

    // The program starts again with another stick of the same layout plugged
    // in, named first: it has the number the scanned stick had.
    window_.reset();
    CScanResumeStore::ResetInstanceForTests();
    AddStick(root_.Path(), "sdb", "240:16", strangerCard, std::string(4096, 'x'));
    DriveTable::Instance().Refresh();
    OpenWindow();
    ASSERT_EQ(window_->EarlierScans().size(), 1u);
    EXPECT_EQ(window_->EarlierScans()[0].driveIndex, 0u);
    questions_.clear();
    Click("BtnOpenScan");
    ASSERT_TRUE(testing::WaitFor([this] { return window_->CurrentPage() == CMainWnd::kResultsPage; }));
    EXPECT_TRUE(questions_.empty()) << questions_.front().toStdString();
    CProfessionalRecovery* deep = nullptr;
    for (ScanTarget* target : window_->Targets())
        if (target->engine) {
            EXPECT_EQ(target->partition->diskNumber, 1) << "the scanned stick, not the other one";
            deep = dynamic_cast<CProfessionalRecovery*>(target->engine.get());
        }
    ASSERT_NE(deep, nullptr);
    EXPECT_TRUE(deep->ResumedFinished()) << "the kept scan's results, without searching";
    EXPECT_EQ(window_->SearchResults().size(), found);
    CheckEverything();
    TempDir second;
    ASSERT_TRUE(Recover(second.Path()));
    EXPECT_EQ(testkit::FileShasBelow(second.Path()), recoveredFirst);

    // The scanned stick unplugged, the other one still there: said plainly, nothing opened.
    window_.reset();
    CScanResumeStore::ResetInstanceForTests();
    std::filesystem::remove_all(root_ / "sys/block/sdc");
    std::filesystem::rename(root_ / "dev/sdc", dir / "sdc.aside");
    OpenWindow();
    ASSERT_EQ(window_->EarlierScans().size(), 1u);
    const QString target = QString::fromStdString(window_->EarlierScans()[0].TargetName());
    questions_.clear();
    Click("BtnOpenScan");
    ASSERT_EQ(questions_.size(), 1u);
    EXPECT_EQ(questions_[0], Message("MSG2370").replace(QStringLiteral("%s"), target));
    EXPECT_EQ(window_->CurrentPage(), CMainWnd::kHomePage);
    EXPECT_EQ(window_->EarlierScans().size(), 1u) << "the scan is kept for when the stick is back";
    EXPECT_EQ(testkit::FileSha256(dir / "sdc.aside"), stick) << "the stick is only read";
}

TEST_F(EarlierScansTest, ADeepScanOutlivesTheWindowAndRecoversTheSameFiles) {
    TempDir dir;
    const auto image = CardImage(dir);
    if (image.empty()) GTEST_SKIP() << "mkfs.fat or mtools missing";
    const std::string before = testkit::FileSha256(image);
    EXPECT_TRUE(Get("EarlierScans")->isHidden()) << "no kept scan: no list";

    Click("BtnStart");
    ASSERT_TRUE(window_->OpenImageFile(image));
    Click("BtnScan");
    ASSERT_TRUE(testing::WaitFor([this] { return window_->CurrentPage() == CMainWnd::kResultsPage; }));
    const size_t found = window_->SearchResults().size();
    ASSERT_GE(found, 6u);
    CheckEverything();
    TempDir first;
    ASSERT_TRUE(Recover(first.Path()));
    const auto recoveredFirst = testkit::FileShasBelow(first.Path());
    ASSERT_EQ(recoveredFirst.size(), found);

    // The program starts again.
    window_.reset();
    CScanResumeStore::ResetInstanceForTests();
    OpenWindow();
    ASSERT_FALSE(Get("EarlierScans")->isHidden());
    // The cards of the kinds of files make room for the list: the scan buttons stay on the page.
    EXPECT_TRUE(Get("PhotoDes")->isHidden());
    EXPECT_LE(Get("ChkPhotoCard")->height(), 48);
    const QRect start = Get("BtnStart")->geometry();
    EXPECT_LE(Get("BtnStart")->mapTo(window_.get(), QPoint(0, start.height())).y(), window_->height());
    auto* list = window_->Find<skin::List>(QStringLiteral("EarlierScanList"));
    ASSERT_EQ(list->GetCount(), 1);
    auto* row = dynamic_cast<skin::ListTextElement*>(list->GetItemAt(0));
    EXPECT_EQ(row->GetText(0), QStringLiteral("card.img"));
    EXPECT_EQ(row->GetText(2), Message("MSG0528"));
    EXPECT_EQ(row->GetText(4), Message("MSG2362"));
    ASSERT_EQ(window_->EarlierScans().size(), 1u);
    EXPECT_EQ(window_->EarlierScans()[0].imagePath, image.string());
    EXPECT_TRUE(window_->EarlierScans()[0].finished);

    // Opened from the list: its results, nothing searched, no question. Another
    // image opened first gives the card another volume key than the scan wrote.
    testkit::WriteFile(dir / "blank.img", std::vector<uint8_t>(1 << 20));
    ASSERT_TRUE(window_->OpenImageFile(dir / "blank.img"));
    questions_.clear();
    Click("BtnOpenScan");
    ASSERT_TRUE(testing::WaitFor([this] { return window_->CurrentPage() == CMainWnd::kResultsPage; }));
    EXPECT_TRUE(questions_.empty()) << questions_.front().toStdString();
    CProfessionalRecovery* deep = nullptr;
    for (ScanTarget* target : window_->Targets())
        if (target->imagePath == image) deep = dynamic_cast<CProfessionalRecovery*>(target->engine.get());
    ASSERT_NE(deep, nullptr);
    EXPECT_TRUE(deep->ResumedFinished()) << "the kept scan's results, without searching";
    EXPECT_EQ(window_->SearchResults().size(), found);
    CheckEverything();
    TempDir second;
    ASSERT_TRUE(Recover(second.Path()));
    EXPECT_EQ(testkit::FileShasBelow(second.Path()), recoveredFirst);

    // Its image gone: said plainly, nothing opened.
    window_.reset();
    CScanResumeStore::ResetInstanceForTests();
    OpenWindow();
    const auto aside = dir / "aside.img";
    std::filesystem::rename(image, aside);
    questions_.clear();
    Click("BtnOpenScan");
    ASSERT_EQ(questions_.size(), 1u);
    EXPECT_EQ(questions_[0],
              Message("MSG2365").replace(QStringLiteral("%s"), QString::fromStdString(image.string())));
    EXPECT_EQ(window_->CurrentPage(), CMainWnd::kHomePage);
    std::filesystem::rename(aside, image);
    EXPECT_EQ(window_->EarlierScans().size(), 1u) << "the scan is kept for when the image is back";

    // Deleted after the question: gone from the list and from the data folder.
    const std::filesystem::path folder = window_->EarlierScans()[0].folder;
    ASSERT_TRUE(std::filesystem::exists(folder));
    Click("BtnDeleteScan");
    EXPECT_TRUE(window_->EarlierScans().empty());
    EXPECT_EQ(window_->Find<skin::List>(QStringLiteral("EarlierScanList"))->GetCount(), 0);
    EXPECT_TRUE(Get("EarlierScans")->isHidden());
    EXPECT_FALSE(std::filesystem::exists(folder));
    EXPECT_EQ(testkit::FileSha256(image), before) << "the image is only read";
}

}  // namespace
}  // namespace sorvane::app
