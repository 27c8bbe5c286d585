// The results page's thumbnail grid on a real card: pictures made by
// ImageMagick, copied to a FAT card with mtools and deleted, one of them
// overwritten afterwards. The thumbnails come from a worker while the window
// keeps handling events, a damaged picture wears its badge, a tick in the grid
// is a tick for recovery, thumbnails are kept in the scan's folder, and a grid
// of 100,000 files asks only for the cells in sight.
#include <gtest/gtest.h>

#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

#include "app/found_files.h"
#include "app/thumbnail_grid.h"
#include "app/thumbnail_maker.h"
#include "app/user_settings.h"
#include "app/window_test_support.h"
#include "platform/data_dirs.h"
#include "results/file_condition.h"
#include "tests/testkit/testkit.h"

namespace sorvane::app {
namespace {

using testkit::RunCommand;
using testkit::ShellQuote;
using testkit::TempDir;

// A FAT16 card whose pictures were deleted; afterwards a text was written
// over the second half of "Beach 01.jpg" (what a card that went on being used
// does to a deleted photo), to the end of its last sector. Fills `pictures`
// with name -> source path.
std::filesystem::path PictureCard(const TempDir& dir,
                                  std::map<std::string, std::filesystem::path>& pictures) {
    for (const char* tool : {"convert", "mkfs.fat", "mcopy", "mdel"})
        if (!testkit::HaveProgram(tool)) return {};
    const std::vector<std::pair<std::string, std::string>> made = {
        {"Beach 01.jpg", "-size 640x480 plasma:fractal -quality 88"},
        {"Beach 02.jpg", "-size 800x600 plasma:red-blue -quality 88"},
        {"Garden.png", "-size 320x240 gradient:green-yellow"},
        {"Lake at dusk.jpg", "-size 1200x900 plasma:orange-purple -quality 85"},
        {"Portrait.jpg", "-size 480x720 plasma:fractal -quality 85"},
        {"Snow.jpg", "-size 640x400 gradient:white-skyblue -quality 90"},
    };
    const std::string image = ShellQuote((dir / "card.img").string());
    std::string script = "truncate -s 24M " + image + " && mkfs.fat -F 16 " + image + " >/dev/null";
    for (const auto& [name, how] : made) {
        const auto source = dir / ("src_" + name);
        pictures[name] = source;
        script += " && convert " + how + " " + ShellQuote(source.string());
        script += " && mcopy -i " + image + " " + ShellQuote(source.string()) + " ::" + ShellQuote(name);
    }
    for (const auto& [name, how] : made) script += " && mdel -i " + image + " ::" + ShellQuote(name);
    if (RunCommand("(" + script + ") >/dev/null 2>&1") != 0) return {};
    // Its clusters are found by its first bytes.
    std::vector<uint8_t> card = testkit::ReadFile(dir / "card.img");
    const std::vector<uint8_t> photo = testkit::ReadFile(pictures["Beach 01.jpg"]);
    const auto at = std::search(card.begin(), card.end(), photo.begin(), photo.begin() + 4096);
    if (at == card.end()) return {};
    const std::string text = "a note about the holiday\n";
    for (size_t i = photo.size() / 2; i < (photo.size() + 511) / 512 * 512; ++i)
        *(at + static_cast<std::ptrdiff_t>(i)) = static_cast<uint8_t>(text[i % text.size()]);
    testkit::WriteFile(dir / "card.img", card);
    return dir / "card.img";
}

class ThumbnailGridTest : public testing::WindowTest {
  protected:
    // Opens the card, quick-scans it and shows its photos.
    void ScanCard() {
        card_ = PictureCard(dir_, pictures_);
        if (card_.empty()) GTEST_SKIP() << "ImageMagick, mkfs.fat or mtools missing";
        Click("BtnDeletedRecovery");
        ASSERT_TRUE(window_->OpenImageFile(card_));
        Click("BtnScan");
        ASSERT_TRUE(testing::WaitFor([this] { return window_->CurrentPage() == CMainWnd::kResultsPage; }));
        grid_ = window_->Find<CThumbnailGridUI>(QStringLiteral("ThumbGrid"));
        ASSERT_NE(grid_, nullptr);
        window_->ShowFilesOf(window_->Find<skin::TreeNode>(QStringLiteral("NodePhoto")));
        ASSERT_EQ(window_->ListedFiles().size(), pictures_.size());
    }
    // The grid's index of the file of that source, told apart by its size.
    int IndexOf(const std::string& name) const {
        const uint64_t size = std::filesystem::file_size(pictures_.at(name));
        for (size_t i = 0; i < grid_->Files().size(); ++i)
            if (grid_->Files()[i]->size == size) return static_cast<int>(i);
        return -1;
    }
    bool AllInSightMade() const {
        const auto [first, end] = grid_->InSight();
        for (int i = first; i < end; ++i)
            if (!grid_->HasThumbnail(CheckedFileKey(*grid_->Files()[static_cast<size_t>(i)]))) return false;
        return true;
    }
    void ClickCell(int index, bool onTick) {
        ASSERT_GE(index, 0);
        const QRect cell = grid_->CellRect(index);
        const QPoint at =
            onTick ? grid_->CheckRect(index).center() : QPoint(cell.center().x(), cell.bottom() - 12);
        ASSERT_TRUE(grid_->rect().contains(at)) << "cell " << index << " is in sight";
        QTest::mouseClick(grid_, Qt::LeftButton, {}, at);
    }

    TempDir dir_;
    std::filesystem::path card_;
    std::map<std::string, std::filesystem::path> pictures_;
    CThumbnailGridUI* grid_ = nullptr;
};

TEST_F(ThumbnailGridTest, ThumbnailsArriveWhileTheWindowKeepsHandlingEventsAndAreKeptInTheScanFolder) {
    ScanCard();
    if (IsSkipped() || HasFatalFailure()) return;
    EXPECT_FALSE(window_->ThumbnailsShown()) << "the list is the default";
    // A timer that fires whenever the window's loop turns, counting the turns
    // after the first thumbnail arrived and before the last one did.
    int ticks = 0, ticksBetween = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        ++ticks;
        const auto [first, end] = grid_->InSight();
        int made = 0;
        for (int i = first; i < end; ++i)
            made += grid_->ShowsPicture(CheckedFileKey(*grid_->Files()[static_cast<size_t>(i)]));
        ticksBetween += made > 0 && !AllInSightMade();
    });
    ticker.start(0);
    window_->ShowThumbnails(true);
    ASSERT_TRUE(window_->ThumbnailsShown());
    ASSERT_TRUE(testing::WaitFor([this] { return AllInSightMade(); }, 60000));
    ticker.stop();
    std::printf(
        "thumbnails: the loop turned %d times while they were made, %d between the first and the last\n",
        ticks, ticksBetween);
    // Made one by one on the worker while the window went on: thumbnails made
    // on the window's thread would all be there in one turn.
    EXPECT_GT(ticks, 5);
    EXPECT_GE(ticksBetween, 3);
    CThumbnailMaker* maker = window_->ThumbnailMaker();
    ASSERT_NE(maker, nullptr);

    // The five intact pictures show themselves; the overwritten one is no picture any more.
    const auto [first, end] = grid_->InSight();
    std::set<std::string> shown;
    for (const auto& [name, source] : pictures_) {
        const int index = IndexOf(name);
        ASSERT_GE(index, 0) << name;
        if (index < first || index >= end) continue;
        if (grid_->ShowsPicture(CheckedFileKey(*grid_->Files()[static_cast<size_t>(index)])))
            shown.insert(name);
    }
    ASSERT_EQ(end - first, 6) << "the whole card is in sight";
    // Every intact picture shows itself; the damaged one what decodes of it, or its icon.
    EXPECT_EQ(maker->MadeFromFiles(), shown.size());
    shown.erase("Beach 01.jpg");
    EXPECT_EQ(shown.size(), 5u);

    // Kept as files of the scan's own folder, one per picture.
    const auto folder = CScanResumeStore::Instance().CurrentScanFolder() / "thumbnails";
    size_t kept = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        EXPECT_EQ(entry.path().extension(), ".jpg") << entry.path();
        ++kept;
    }
    EXPECT_EQ(kept, maker->MadeFromFiles()) << "one file per picture made, nothing else";
    EXPECT_FALSE(std::filesystem::exists(ScanLogDir() / "tmp.jpg"))
        << "no picture of the card left for others";

    // Scanning again deletes the quick scan's folder, and its thumbnails with it.
    window_->ShowPage(CMainWnd::kDiskPage);
    Click("BtnScan");
    ASSERT_TRUE(testing::WaitFor([this] { return window_->CurrentPage() == CMainWnd::kResultsPage; }));
    EXPECT_FALSE(std::filesystem::exists(folder));
}

TEST_F(ThumbnailGridTest, ADamagedPictureWearsItsBadgeAndAClickPreviewsIt) {
    ScanCard();
    if (IsSkipped() || HasFatalFailure()) return;
    window_->ShowThumbnails(true);
    ASSERT_TRUE(testing::WaitFor([this] { return AllInSightMade(); }, 60000));
    const ScanTarget* target = window_->Targets().front();
    for (const auto& [name, source] : pictures_) {
        const int index = IndexOf(name);
        const FoundItemRecord& record = *grid_->Files()[static_cast<size_t>(index)];
        const FileCondition condition = ConditionOf(record, target->VolumeBytes(), target->SectorSize());
        const QString badge = grid_->FaceAt(index).badge;
        // The badge is the list's condition word, for exactly the files that may not open.
        EXPECT_EQ(badge, MayNotOpen(condition) ? ConditionText(condition) : QString()) << name;
        if (name == "Beach 01.jpg") {
            EXPECT_EQ(badge, Message("MSG2102")) << "overwritten after it was deleted";
        }
    }

    // A click on a picture shows it in the preview pane, as a click in the list does.
    const int lake = IndexOf("Lake at dusk.jpg");
    grid_->SetScrollPos(grid_->CellRect(lake).top() + grid_->ScrollPos() - 4);
    ClickCell(lake, false);
    ASSERT_TRUE(testing::WaitFor([this] { return window_->Preview().Pane().PictureCount() == 1; }, 60000));
    EXPECT_EQ(grid_->Current(), lake);
    const FoundItemRecord& record = *grid_->Files()[static_cast<size_t>(lake)];
    const QString condition = ConditionText(ConditionOf(record, target->VolumeBytes(), target->SectorSize()));
    EXPECT_TRUE(window_->Preview().Pane().PlainText().contains(condition))
        << "its condition below it: " << window_->Preview().Pane().PlainText().toStdString();
}

TEST_F(ThumbnailGridTest, ATickInTheGridTicksTheFileForRecoveryInTheListAndTheTree) {
    ScanCard();
    if (IsSkipped() || HasFatalFailure()) return;
    window_->ShowThumbnails(true);
    auto* photos = window_->Find<skin::TreeNode>(QStringLiteral("NodePhoto"));
    const int snow = IndexOf("Snow.jpg");
    const int garden = IndexOf("Garden.png");
    for (int index : {snow, garden}) {
        grid_->SetScrollPos(grid_->CellRect(index).top() + grid_->ScrollPos() - 4);
        ClickCell(index, true);
        EXPECT_TRUE(grid_->FaceAt(index).checked);
    }
    ASSERT_EQ(window_->CheckedFiles().size(), 2u);
    EXPECT_TRUE(photos->IsHalfChecked()) << "the tree's tri-state follows";
    EXPECT_FALSE(photos->IsChecked());
    EXPECT_EQ(window_->Preview().Pane().PictureCount(), 0) << "a tick is no click on the picture";

    // Unticked again, and ticked again: the same file, once.
    ClickCell(garden, true);
    EXPECT_EQ(window_->CheckedFiles().size(), 1u);
    ClickCell(garden, true);
    EXPECT_EQ(window_->CheckedFiles().size(), 2u);

    // The list shows the same ticks.
    window_->ShowThumbnails(false);
    auto* list = window_->Find<skin::List>(QStringLiteral("FileList"));
    ASSERT_TRUE(list->IsVisible());
    int ticked = 0;
    for (int i = 0; i < list->GetCount(); ++i)
        ticked += dynamic_cast<skin::ListTextElement*>(list->GetItemAt(i))->IsChecked();
    EXPECT_EQ(ticked, 2);

    // Ticking the whole category in the tree ticks every cell.
    auto* tree = window_->Find<CFileTreeUI>(QStringLiteral("TypeTree"));
    tree->CheckNode(photos, true, true);
    window_->ShowThumbnails(true);
    for (int i = 0; i < static_cast<int>(grid_->Files().size()); ++i)
        EXPECT_TRUE(grid_->FaceAt(i).checked) << i;
    tree->CheckNode(photos, false, true);
    ClickCell(snow, true);
    ClickCell(garden, true);

    // What was ticked in the grid is what is recovered, byte for byte.
    TempDir out;
    ASSERT_TRUE(Recover(out.Path()));
    const auto recovered = testkit::FileShasBelow(out.Path());
    ASSERT_EQ(recovered.size(), 2u);
    std::multiset<std::string> hashes;
    for (const auto& [path, sha] : recovered) hashes.insert(sha);
    EXPECT_EQ(hashes.count(testkit::FileSha256(pictures_.at("Snow.jpg"))), 1u);
    EXPECT_EQ(hashes.count(testkit::FileSha256(pictures_.at("Garden.png"))), 1u);
}

TEST_F(ThumbnailGridTest, DocumentsKeepTheListAndPicturesGetTheGridBack) {
    ScanCard();
    if (IsSkipped() || HasFatalFailure()) return;
    window_->ShowThumbnails(true);
    ASSERT_TRUE(window_->ThumbnailsShown());
    window_->ShowFilesOf(window_->Find<skin::TreeNode>(QStringLiteral("NodeOffice")));
    EXPECT_FALSE(window_->ThumbnailsShown()) << "a text file has no picture to show";
    EXPECT_TRUE(Get("FileList")->IsVisible());
    EXPECT_FALSE(Get("ViewAsThumbnails")->IsEnabled());
    EXPECT_TRUE(window_->ThumbnailsChosen()) << "the choice is kept for the pictures";
    window_->ShowFilesOf(window_->Find<skin::TreeNode>(QStringLiteral("NodePhoto")));
    EXPECT_TRUE(window_->ThumbnailsShown());
    EXPECT_TRUE(window_->Find<skin::Option>(QStringLiteral("ViewAsThumbnails"))->IsSelected());

    // A choice made with the switch is the person's own: the next start keeps it.
    Click("ViewAsList");
    EXPECT_FALSE(window_->ThumbnailsShown());
    Click("ViewAsThumbnails");
    EXPECT_TRUE(window_->ThumbnailsShown());
    EXPECT_TRUE(UserSettings().Thumbnails());
    OpenWindow();
    EXPECT_TRUE(window_->ThumbnailsChosen());
    UserSettings().SetThumbnails(false);  // what the other tests start from
}

// The same card's files, through a maker of the test's own: the cache, a
// hold and forgetting.
TEST_F(ThumbnailGridTest, TheMakerReadsKeptThumbnailsBackWaitsWhileHeldAndForgets) {
    ScanCard();
    if (IsSkipped() || HasFatalFailure()) return;
    // The window's grid stays a list: only the test's maker reads the engine.
    ScanTarget* target = window_->Targets().front();
    ASSERT_NE(target->engine, nullptr);
    const std::filesystem::path folder = CThumbnailMaker::ScanFolderOf(*target->engine);
    ASSERT_TRUE(std::filesystem::equivalent(folder, CScanResumeStore::Instance().CurrentScanFolder()));
    std::vector<ThumbnailJob> jobs;
    for (const FoundItemRecord* record : window_->ListedFiles())
        jobs.push_back({CheckedFileKey(*record), *record, target->engine.get(),
                        CThumbnailMaker::CacheFileOf(folder, *record)});
    auto makeAll = [&](CThumbnailMaker& maker, std::map<uint64_t, QImage>& got) {
        maker.Want(jobs);
        return testing::WaitFor([&] { return got.size() == jobs.size(); }, 60000);
    };
    std::map<uint64_t, QImage> first;
    {
        CThumbnailMaker maker([&](uint64_t key, const QImage& picture) { first[key] = picture; });
        ASSERT_TRUE(makeAll(maker, first));
        EXPECT_GE(maker.MadeFromFiles(), pictures_.size() - 1) << "the damaged one may decode in part";
        EXPECT_EQ(maker.ReadFromCache(), 0u);
    }
    for (const auto& [key, picture] : first) {
        if (picture.isNull()) continue;
        EXPECT_LE(std::max(picture.width(), picture.height()), CThumbnailMaker::kEdge);
        EXPECT_GE(std::max(picture.width(), picture.height()), CThumbnailMaker::kEdge / 2);
    }
    // Made again: the pictures come from the scan folder, none from the card.
    std::map<uint64_t, QImage> again;
    {
        CThumbnailMaker maker([&](uint64_t key, const QImage& picture) { again[key] = picture; });
        ASSERT_TRUE(makeAll(maker, again));
        EXPECT_EQ(maker.MadeFromFiles(), 0u);
        size_t pictures = 0;
        for (const auto& [key, picture] : first) pictures += !picture.isNull();
        EXPECT_EQ(maker.ReadFromCache(), pictures);
    }
    for (const auto& [key, picture] : first) EXPECT_EQ(again[key].size(), picture.size());

    // While held nothing is made; afterwards everything is. After Forget nothing arrives.
    for (const auto& entry : std::filesystem::directory_iterator(folder / "thumbnails"))
        std::filesystem::remove(entry.path());
    std::map<uint64_t, QImage> held;
    CThumbnailMaker maker([&](uint64_t key, const QImage& picture) { held[key] = picture; });
    {
        const CThumbnailMaker::Hold hold(&maker);
        maker.Want(jobs);
        for (int i = 0; i < 20; ++i) QApplication::processEvents(QEventLoop::AllEvents, 10);
        EXPECT_TRUE(held.empty());
        EXPECT_TRUE(maker.Busy()) << "the jobs wait";
    }
    ASSERT_TRUE(testing::WaitFor([&] { return held.size() == jobs.size(); }, 60000));
    held.clear();
    maker.Want(jobs);
    maker.Forget();
    for (int i = 0; i < 20; ++i) QApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_TRUE(held.empty());
    EXPECT_FALSE(maker.Busy());
}

// A grid of 100,000 files asks for the dozen cells in sight, wherever it is scrolled to.
TEST(ThumbnailGrid, AHundredThousandFilesAskOnlyForTheCellsInSight) {
    testing::Application();
    std::vector<FoundItemRecord> records(100000);
    std::vector<const FoundItemRecord*> files;
    for (size_t i = 0; i < records.size(); ++i) {
        records[i].recordNumber = static_cast<uint32_t>(i + 1);
        records[i].size = 1000;
        records[i].SetName("IMG_" + std::to_string(i) + ".JPG");
        files.push_back(&records[i]);
    }
    CThumbnailGridUI grid;
    grid.resize(760, 400);
    std::vector<std::vector<const FoundItemRecord*>> asked;
    grid.SetWanted([&](const std::vector<const FoundItemRecord*>& wanted) { asked.push_back(wanted); });
    grid.show();
    grid.SetFiles(files);
    ASSERT_TRUE(testing::WaitFor([&] { return !asked.empty(); }, 10000));
    const int columns = grid.Columns();
    ASSERT_GE(columns, 4);
    const size_t inSight = static_cast<size_t>(columns) * (400 / CThumbnailGridUI::kCellHeight + 2);
    ASSERT_LE(asked.back().size(), inSight + columns);
    EXPECT_EQ(asked.back().front(), files.front());
    // Answers for the first cells: they are not asked for again.
    for (const FoundItemRecord* record : asked.back()) grid.SetThumbnail(CheckedFileKey(*record), QImage());

    grid.SetScrollPos(1 << 30);  // the end
    ASSERT_TRUE(testing::WaitFor([&] { return asked.back().back() == files.back(); }, 10000));
    EXPECT_LE(asked.back().size(), inSight);
    const auto [first, end] = grid.InSight();
    EXPECT_EQ(end, 100000);
    EXPECT_EQ(grid.IndexAt(grid.CellRect(99999).center()), 99999);
    EXPECT_FALSE(grid.grab().isNull());

    // Pictures far out of sight are let go; those in sight stay.
    QImage picture(64, 48, QImage::Format_RGB32);
    picture.fill(Qt::red);
    for (int i = 0; i < 1000; ++i) grid.SetThumbnail(CheckedFileKey(*files[static_cast<size_t>(i)]), picture);
    for (int i = first; i < end; ++i)
        grid.SetThumbnail(CheckedFileKey(*files[static_cast<size_t>(i)]), picture);
    EXPECT_FALSE(grid.ShowsPicture(CheckedFileKey(*files[0])));
    EXPECT_TRUE(grid.ShowsPicture(CheckedFileKey(*files[99999])));
}

// Only what this system can turn into a picture is read from the disk; the
// grid still shows every picture type, with its icon where there is no picture.
TEST(ThumbnailMaker, ReadsOnlyPicturesItCanDecodeAndNamesTheirFilesStably) {
    testing::Application();
    auto file = [](const char* name, uint64_t size) {
        FoundItemRecord record;
        record.SetName(name);
        record.size = size;
        return record;
    };
    for (const char* name : {"IMG_0001.JPG", "scan.jpeg", "shot.png", "old.bmp", "anim.gif", "IMG_0001.THM"})
        EXPECT_TRUE(CThumbnailMaker::TriesPicture(file(name, 200000))) << name;
    for (const char* name : {"DSC_0001.NEF", "layers.psd", "clip.mp4", "letter.txt", "noextension"})
        EXPECT_FALSE(CThumbnailMaker::TriesPicture(file(name, 200000))) << name;
    EXPECT_TRUE(CThumbnailMaker::IsPictureType("DSC_0001.NEF")) << "a picture, shown with its icon";
    EXPECT_FALSE(CThumbnailMaker::TriesPicture(file("empty.jpg", 0)));
    EXPECT_FALSE(CThumbnailMaker::TriesPicture(file("huge.jpg", CThumbnailMaker::kMaxPictureBytes + 1)));
    FoundItemRecord folder = file("DCIM.jpg", 0);
    folder.isFolder = 1;
    EXPECT_FALSE(CThumbnailMaker::TriesPicture(folder));

    // The file name depends on what identifies the record in its scan, not on this run's volume key.
    FoundItemRecord record = file("IMG_0001.JPG", 1000);
    record.partitionStart = 2048;
    record.engineCode = static_cast<uint32_t>(EngineCode::kDeepFat);
    record.recordNumber = 17;
    record.letter = 1001;
    EXPECT_EQ(CThumbnailMaker::CacheFileOf("/scans/3", record),
              std::filesystem::path("/scans/3/thumbnails/2048-3-17.jpg"));
    record.letter = 1002;
    EXPECT_EQ(CThumbnailMaker::CacheFileOf("/scans/3", record).filename(), "2048-3-17.jpg");
    EXPECT_TRUE(CThumbnailMaker::CacheFileOf({}, record).empty());
}

}  // namespace
}  // namespace sorvane::app
