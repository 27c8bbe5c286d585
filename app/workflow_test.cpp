// The window program doing the whole job on real disk images, driven the way
// a user drives it: open an image, scan, look at the type tree, check files,
// recover them into a folder; and the edge cases of scanning, listing and
// recovering that would cost a user their files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <QElapsedTimer>
#include <QLineEdit>
#include <QTest>
#include <QTextBrowser>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <functional>
#include <map>
#include <set>
#include <sstream>

#include "app/edit_box.h"
#include "app/fake_sysfs_test_support.h"
#include "app/file_tree.h"
#include "app/gui_test_support.h"
#include "app/list_ex.h"
#include "app/main_wnd.h"
#include "app/message_box.h"
#include "app/pagination.h"
#include "app/recover_process_wnd.h"
#include "app/scan_process_wnd.h"
#include "app/user_settings.h"
#include "app/window_test_support.h"
#include "engines/professional_recovery.h"
#include "platform/drive_table.h"
#include "platform/fault_plan.h"
#include "platform/instance_lock.h"
#include "platform/system_root.h"
#include "results/file_categories.h"
#include "results/scan_resume_store.h"
#include "tests/testkit/test_images.h"
#include "tests/testkit/testkit.h"

namespace sorvane::app {
namespace {

using testkit::ImageKind;
using testkit::RunCommand;
using testkit::ShellQuote;
using testkit::TempDir;

const char* const kCategoryNodes[] = {"NodePhoto",  "NodeAudio", "NodeVideo",
                                      "NodeOffice", "NodeZip",   "NodeOther"};

// Waits, running the event loop, until `done` or 120 s.
bool WaitFor(const std::function<bool()>& done) { return testing::WaitFor(done, 120000); }

template <typename T>
T* OpenWindowOf() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* window = dynamic_cast<T*>(w); window && window->isVisible()) return window;
    }
    return nullptr;
}

// What the recovery window showed when it was done.
struct RecoveryOutcome {
    QString recovered;
    QStringList statuses;  // detail rows, top to bottom
    QList<QColor> colours;
    bool seen = false;
};

class WorkflowTest : public testing::WindowTest {
  protected:
    // Scans the selected row and waits for the results page.
    bool ScanToResults() {
        Click("BtnScan");
        return WaitFor([this] { return window_->CurrentPage() == CMainWnd::kResultsPage; });
    }

    // Type-tree texts by category node ("Photos (12)") and their children's texts.
    std::map<std::string, std::vector<std::string>> Tree() {
        std::map<std::string, std::vector<std::string>> tree;
        for (const char* name : kCategoryNodes) {
            auto* node = window_->Find<skin::TreeNode>(QString::fromLatin1(name));
            if (!node || !node->IsShownByUser()) continue;
            auto& children = tree[node->Text().toStdString()];
            for (skin::TreeNode* child : node->ChildNodes()) children.push_back(child->Text().toStdString());
        }
        return tree;
    }

    // Recovers the checked files into `destination`, closing the window when done.
    RecoveryOutcome Recover(const std::filesystem::path& destination) {
        RecoveryOutcome outcome;
        outcome.seen = WindowTest::Recover(destination, [&outcome](CRecoverProcessWnd& recovery) {
            outcome.recovered = recovery.FindControl(QStringLiteral("recovered"))->Text();
            auto* list = recovery.Find<skin::List>(QStringLiteral("DetailList"));
            for (int i = 0; list && i < list->GetCount(); ++i) {
                auto* row = dynamic_cast<skin::ListTextElement*>(list->GetItemAt(i));
                outcome.statuses.push_back(row->GetText(1));
                outcome.colours.push_back(row->TextColor());
            }
        });
        return outcome;
    }

    // The whole flow on one image: open, scan in `mode`, the tree, check all, recover.
    void RunFlow(const testkit::BuiltImage& image, const char* modeButton, size_t expectedTargets);
};

void WorkflowTest::RunFlow(const testkit::BuiltImage& image, const char* modeButton, size_t expectedTargets) {
    const std::string before = testkit::FileSha256(image.image);
    Click(modeButton);
    ASSERT_EQ(window_->CurrentPage(), CMainWnd::kDiskPage);
    ASSERT_TRUE(window_->OpenImageFile(image.image));
    ASSERT_EQ(window_->Targets().size(), expectedTargets);
    ASSERT_TRUE(Get("BtnScan")->IsEnabled());
    ASSERT_TRUE(ScanToResults()) << "the search never ended";
    size_t scanned = 0;
    for (ScanTarget* target : window_->Targets()) scanned += target->engine != nullptr;
    EXPECT_EQ(scanned, image.volumes.size()) << "every partition of the image is scanned, nothing else";

    // The tree: each category node counts the files whose extension the core files under it.
    const auto& results = window_->SearchResults();
    ASSERT_FALSE(results.empty());
    std::map<std::string, int> byCategory;
    for (const FoundItemRecord& r : results) byCategory[CategoryFolderName(r.Name())]++;
    const std::map<std::string, const char*> titles = {{"photo", "MSG0807"},   {"audio", "MSG0808"},
                                                       {"video", "MSG0809"},   {"document", "MSG0810"},
                                                       {"archive", "MSG0811"}, {"others", "MSG0812"}};
    const auto tree = Tree();
    int listed = 0;
    for (const auto& [title, children] : tree) {
        EXPECT_FALSE(children.empty()) << title << ": a shown category has types";
        listed += std::stoi(title.substr(title.rfind('(') + 1));
    }
    EXPECT_EQ(listed, static_cast<int>(results.size())) << "every found file is under one node";
    for (const char* category : {"photo", "document"}) {
        const std::string expected =
            Message(titles.at(category)).toStdString() + " (" + std::to_string(byCategory[category]) + ")";
        EXPECT_TRUE(byCategory[category] == 0 || tree.count(expected)) << expected;
    }
    EXPECT_EQ(Get("Txt2")->Text(),
              Message("MSG0802").replace(QStringLiteral("%s"),
                                         QStringLiteral("{f 7}{c #316D1E}%1{/c}{/f}").arg(results.size())));

    CheckEverything();
    EXPECT_EQ(window_->CheckedFiles().size(), results.size());
    EXPECT_TRUE(Get("BtnRecover")->IsEnabled());

    TempDir out;
    RecoveryOutcome outcome = Recover(out.Path());
    ASSERT_TRUE(outcome.seen) << "the recovery window never finished";
    const auto files = testkit::FileShasBelow(out.Path());
    EXPECT_EQ(files.size(), results.size()) << "one file per checked record; none overwritten";

    // Every deleted file whose clusters are still its own comes back byte-exact, in its category folder.
    std::multiset<std::string> names;
    for (const auto& [path, sha] : files) names.insert(std::filesystem::path(path).filename().string());
    int expected = 0, exact = 0;
    for (const auto& volume : image.volumes) {
        for (const auto& t : image.Deleted(volume.index)) {
            if (t.size == 0 || t.Has("overwritten") || t.Has("fragmented") || t.Has("record_reused"))
                continue;
            ++expected;
            const std::string folder = CategoryFolderName(t.Name());
            for (const auto& [path, sha] : files) {
                if (sha == t.sha256 && std::filesystem::path(path).parent_path() == folder) {
                    ++exact;
                    break;
                }
            }
        }
    }
    std::printf("%s, %s: %zu found, %zu recovered files, %d of %d deleted files byte-exact\n",
                image.image.filename().c_str(), modeButton, results.size(), files.size(), exact, expected);
    EXPECT_GT(expected, 5);
    EXPECT_EQ(exact, expected) << "deleted files recovered byte-exact into their category folders";
    // Files of the same name in one category folder are numbered, never overwritten.
    std::map<std::string, int> sameName;
    for (const FoundItemRecord& r : results) sameName[CategoryFolderName(r.Name()) + "/" + r.Name()]++;
    for (const auto& [name, count] : sameName) {
        if (count < 2) continue;
        std::filesystem::path p(name);
        const std::string numbered =
            (p.parent_path() / (p.stem().string() + "(1)" + p.extension().string())).string();
        EXPECT_TRUE(files.count(numbered)) << numbered;
    }
    EXPECT_EQ(testkit::FileSha256(image.image), before) << "the scanned image is never written";
}

TEST_F(WorkflowTest, DeepScanOfFat32RecoversByteExactIntoCategoryFolders) {
    SORVANE_SHARED_IMAGE_OR_SKIP(image, ImageKind::kFat32);
    RunFlow(image, "BtnStart", 1);
}

TEST_F(WorkflowTest, QuickScanOfFat32RecoversTheDeletedFiles) {
    SORVANE_SHARED_IMAGE_OR_SKIP(image, ImageKind::kFat32);
    RunFlow(image, "BtnDeletedRecovery", 1);
    for (const FoundItemRecord& r : window_->SearchResults()) EXPECT_EQ(r.Engine(), EngineCode::kQuickFat);
}

TEST_F(WorkflowTest, DeepAndQuickScansOfNtfs) {
    SORVANE_SHARED_IMAGE_OR_SKIP(image, ImageKind::kNtfs);
    RunFlow(image, "BtnStart", 1);
    window_->ShowPage(CMainWnd::kHomePage);
    RunFlow(image, "BtnDeletedRecovery", 2);  // the image is listed a second time
}

TEST_F(WorkflowTest, WholeDiskImageScansBothPartitions) {
    SORVANE_SHARED_IMAGE_OR_SKIP(image, ImageKind::kMbr);
    RunFlow(image, "BtnStart", 2);
    // Both partitions' files are listed, each under its own volume key.
    std::set<uint16_t> keys;
    for (const FoundItemRecord& r : window_->SearchResults()) keys.insert(r.letter);
    EXPECT_EQ(keys.size(), 2u);
    auto targets = window_->Targets();
    ASSERT_EQ(targets.size(), 2u);
    EXPECT_EQ(targets[0]->partition->start, image.volumes[0].startSector);
    EXPECT_EQ(targets[0]->partition->fileSystemName, "FAT32");
    EXPECT_EQ(targets[1]->partition->start, image.volumes[1].startSector);
    EXPECT_EQ(targets[1]->partition->fileSystemName, "NTFS");
}

TEST_F(WorkflowTest, QuickScanOfWholeDiskImage) {
    SORVANE_SHARED_IMAGE_OR_SKIP(image, ImageKind::kMbr);
    RunFlow(image, "BtnDeletedRecovery", 2);
}

// A FAT16 volume image made by the real tools, holding `files` (name -> bytes)
// that are then deleted, so the quick scan lists them.
std::filesystem::path DeletedFilesImage(const TempDir& dir, const std::map<std::string, std::string>& files) {
    if (!testkit::HaveProgram("mkfs.fat") || !testkit::HaveProgram("mcopy")) return {};
    const auto image = dir / "card.img";
    std::string script = "truncate -s 16M " + ShellQuote(image.string()) + " && mkfs.fat -F 16 " +
                         ShellQuote(image.string()) + " >/dev/null";
    for (const auto& [name, bytes] : files) {
        const auto source = dir / ("src_" + name);
        testkit::WriteFile(source, std::vector<uint8_t>(bytes.begin(), bytes.end()));
        script += " && mcopy -i " + ShellQuote(image.string()) + " " + ShellQuote(source.string()) +
                  " ::" + ShellQuote(name);
    }
    for (const auto& [name, bytes] : files)
        script += " && mdel -i " + ShellQuote(image.string()) + " ::" + ShellQuote(name);
    if (RunCommand("(" + script + ") >/dev/null 2>&1") != 0) return {};
    return image;
}

// A copy of `source` whose boot sector is gone, followed by random bytes: no
// file system is recognised, so the deep scan reads all of it, finding the
// earlier volume's folders and pictures at the start of a long pass.
// A copy of `source` whose boot sector is gone, with `megabytes` of random
// data after it, and whose every read waits a millisecond for as long as
// `slow` lives: the tests that stop or watch a deep scan midway need one that
// cannot end first, whatever the pass's speed.
std::filesystem::path LongImage(const TempDir& dir, const std::filesystem::path& source, int megabytes,
                                testkit::ScopedFaults& slow) {
    const auto image = dir / "long.img";
    std::filesystem::copy_file(source, image);
    RunCommand("dd if=/dev/zero of=" + ShellQuote(image.string()) +
               " bs=512 count=1 conv=notrunc status=none");
    RunCommand("head -c " + std::to_string(megabytes) + "M /dev/urandom >> " + ShellQuote(image.string()));
    slow.Slow(image, 1);
    return image;
}

CProfessionalRecovery* DeepEngine(CMainWnd& window) {
    auto targets = window.Targets();
    return targets.empty() ? nullptr : dynamic_cast<CProfessionalRecovery*>(targets.front()->engine.get());
}

TEST_F(WorkflowTest, TheEventLoopRunsWhileAScanIsInProgress) {
    SORVANE_SHARED_IMAGE_OR_SKIP(fat, ImageKind::kFat32);
    TempDir dir;
    testkit::ScopedFaults slow;
    const auto image = LongImage(dir, fat.image, 96, slow);
    ASSERT_TRUE(window_->OpenImageFile(image));
    int ticksDuringScan = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ticksDuringScan += CScanProcessWnd::ScanRunning(); });
    ticker.start(1);
    ASSERT_TRUE(ScanToResults());
    EXPECT_GT(ticksDuringScan, 5) << "the window thread kept handling events while the worker scanned";
}

TEST_F(WorkflowTest, CancellingAScanStillListsWhatWasFound) {
    SORVANE_SHARED_IMAGE_OR_SKIP(fat, ImageKind::kFat32);
    TempDir dir;
    testkit::ScopedFaults slow;
    const auto image = LongImage(dir, fat.image, 256, slow);
    ASSERT_TRUE(window_->OpenImageFile(image));
    answer_ = [this](int kind, const QString& text) {
        EXPECT_EQ(kind, CMessageBox::kQuestion);
        EXPECT_EQ(text, Message("MSG0709"));
        return 1;
    };
    // Cancel as soon as the quick part has found files and the pass over the rest runs.
    bool clicked = false;
    QTimer canceller;
    QObject::connect(&canceller, &QTimer::timeout, [&] {
        auto* scan = OpenWindowOf<CScanProcessWnd>();
        CProfessionalRecovery* deep = DeepEngine(*window_);
        // On a busy machine the quick part alone may find five files before the
        // pass has started and knows its length: wait for the pass itself.
        if (clicked || !scan || !deep || deep->GetFoundCount() < 5 || deep->TotalSectors() == 0 ||
            deep->SectorsDone() == 0)
            return;
        clicked = true;
        Click(scan->FindControl(QStringLiteral("cancelbtn")));
    });
    canceller.start(1);
    ASSERT_TRUE(ScanToResults()) << "a cancelled scan goes on to list its files";
    ASSERT_TRUE(clicked);
    CProfessionalRecovery* deep = DeepEngine(*window_);
    ASSERT_NE(deep, nullptr);
    EXPECT_LT(deep->SectorsDone(), deep->TotalSectors()) << "the scan stopped early";
    EXPECT_FALSE(window_->SearchResults().empty()) << "the files found before the cancel are listed";
    EXPECT_FALSE(Tree().empty());
}

TEST_F(WorkflowTest, NoToTheCancelQuestionPausesThenResumesTheScan) {
    SORVANE_SHARED_IMAGE_OR_SKIP(fat, ImageKind::kFat32);
    TempDir dir;
    testkit::ScopedFaults slow;
    const auto image = LongImage(dir, fat.image, 128, slow);
    ASSERT_TRUE(window_->OpenImageFile(image));
    uint64_t whenAsked = 0, afterWaiting = 0;
    answer_ = [&](int, const QString& text) {
        EXPECT_EQ(text, Message("MSG0709"));
        CProfessionalRecovery* deep = DeepEngine(*window_);
        // The chunk in hand is finished; the next progress call then waits.
        QThread::msleep(150);
        whenAsked = deep->SectorsDone();
        QThread::msleep(300);
        afterWaiting = deep->SectorsDone();
        return 2;
    };
    bool clicked = false;
    QTimer canceller;
    QObject::connect(&canceller, &QTimer::timeout, [&] {
        auto* scan = OpenWindowOf<CScanProcessWnd>();
        CProfessionalRecovery* deep = DeepEngine(*window_);
        if (clicked || !scan || !deep || deep->SectorsDone() == 0) return;
        clicked = true;
        Click(scan->FindControl(QStringLiteral("cancelbtn")));
    });
    canceller.start(1);
    ASSERT_TRUE(ScanToResults());
    ASSERT_TRUE(clicked);
    EXPECT_GT(whenAsked, 0u);
    EXPECT_EQ(afterWaiting, whenAsked) << "the work pauses while the question is open";
    CProfessionalRecovery* deep = DeepEngine(*window_);
    EXPECT_EQ(deep->SectorsDone(), deep->TotalSectors()) << "after No the scan went on to its end";
}

// A scan started while another one holds the data folder (a command-line
// scan; here the test holds its lock) says so and waits without scanning,
// then runs once the other has ended.
TEST_F(WorkflowTest, AScanWaitsWhileAnotherScanHoldsTheDataFolder) {
    SORVANE_SHARED_IMAGE_OR_SKIP(fat, ImageKind::kFat32);
    ASSERT_TRUE(window_->OpenImageFile(fat.image));
    auto other = std::make_unique<InstanceLock>();
    ASSERT_TRUE(other->TryAcquire(ScanLockFile()));
    bool sawWaiting = false, scannedWhileWaiting = false;
    int ticksWaiting = 0;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        auto* scan = OpenWindowOf<CScanProcessWnd>();
        if (!scan || !other) return;
        skin::Control* stage = scan->FindControl(QStringLiteral("stage"));
        if (stage && stage->Text() == Message("MSG0710")) sawWaiting = true;
        if (!sawWaiting) return;
        scannedWhileWaiting = scannedWhileWaiting || CScanProcessWnd::ScanRunning() || DeepEngine(*window_);
        if (++ticksWaiting >= 30) other.reset();  // the other scan ends
    });
    watcher.start(10);
    ASSERT_TRUE(ScanToResults());
    EXPECT_TRUE(sawWaiting) << "the scan window said another scan is running";
    EXPECT_FALSE(scannedWhileWaiting);
    EXPECT_EQ(other, nullptr);
    EXPECT_FALSE(window_->SearchResults().empty()) << "and scanned once it could";
}

// A quick scan that cannot read the volume, or finds nothing, is no dead end:
// it says what happened and its button starts the deep scan of the same target.
TEST_F(WorkflowTest, AQuickScanThatCannotReadTheVolumeOffersTheDeepScan) {
    TempDir dir;
    const auto image = dir / "noise.img";
    ASSERT_EQ(RunCommand("head -c 1M /dev/urandom > " + ShellQuote(image.string())), 0);
    Click("BtnDeletedRecovery");  // a quick scan needs a file system
    ASSERT_TRUE(window_->OpenImageFile(image));
    // Declined: the window stays on the disk page with nothing listed.
    answer_ = [](int, const QString&) { return 2; };
    Click("BtnScan");
    QApplication::processEvents();
    ASSERT_FALSE(questions_.empty());
    EXPECT_EQ(questions_.back(), Message("MSG0527"));
    EXPECT_EQ(window_->CurrentPage(), CMainWnd::kDiskPage);
    EXPECT_TRUE(window_->SearchResults().empty());
    // Accepted: the deep scan of the same image runs to the results.
    answer_ = nullptr;
    ASSERT_TRUE(ScanToResults());
    EXPECT_EQ(window_->ScanMode(), CScanProcessWnd::kDeep);
    EXPECT_NE(DeepEngine(*window_), nullptr) << "the deep engine read the image the quick one could not";
    EXPECT_EQ(Get("BtnScan")->Text(), Message("MSG0521")) << "and the disk page now names the deep scan";
}

TEST_F(WorkflowTest, AQuickScanThatFindsNothingSaysSoAndItsButtonStartsTheDeepScan) {
    TempDir dir;
    const auto image = DeletedFilesImage(dir, {});
    if (image.empty()) GTEST_SKIP() << "mkfs.fat or mtools missing";
    // The card once held a photo that the file system has forgotten: only the deep scan finds it.
    const std::string jpeg =
        std::string("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00", 11) + std::string(3000, 'j') + "\xFF\xD9";
    testkit::WriteFile(dir / "photo.bin", std::vector<uint8_t>(jpeg.begin(), jpeg.end()));
    ASSERT_EQ(RunCommand("dd if=" + ShellQuote((dir / "photo.bin").string()) +
                         " of=" + ShellQuote(image.string()) + " bs=512 seek=20000 conv=notrunc status=none"),
              0);
    Click("BtnDeletedRecovery");
    ASSERT_TRUE(window_->OpenImageFile(image));
    std::vector<int> kinds;
    answer_ = [&](int kind, const QString&) {
        kinds.push_back(kind);
        return 1;
    };
    Click("BtnScan");
    ASSERT_TRUE(WaitFor([this] { return window_->ScanMode() == CScanProcessWnd::kDeep && !Tree().empty(); }));
    ASSERT_FALSE(questions_.empty());
    EXPECT_EQ(questions_.front(), Message("MSG0852")) << "the first scan found nothing and said so";
    EXPECT_EQ(kinds.front(), CMessageBox::kQuestion);
    EXPECT_NE(DeepEngine(*window_), nullptr) << "its button started the deep scan of the same card";
    EXPECT_FALSE(window_->SearchResults().empty());

    // A deep scan that finds nothing has no deeper scan to offer: it says what else to try.
    questions_.clear();
    kinds.clear();
    window_->ShowPage(CMainWnd::kHomePage);
    window_->Find<skin::CheckBox>(QStringLiteral("ChkRecoverAll"))->Selected(false);
    window_->Find<skin::CheckBox>(QStringLiteral("ChkMusic"))->Selected(true);
    Click("BtnStart");
    Click("BtnScan");
    // (A deep scan of the same card offers its earlier, finished scan first; either answer finds no song.)
    ASSERT_TRUE(WaitFor([this] {
        return !questions_.empty() && questions_.back() != Message("MSG1206") &&
               questions_.back() != Message("MSG2110");
    }));
    EXPECT_EQ(questions_.back(), Message("MSG0853"));
    EXPECT_EQ(kinds.back(), CMessageBox::kInformation);
    EXPECT_EQ(Get("Txt2")->Text(), Message("MSG0851")) << "not \"found 0 files, tick the ones you want\"";
}

TEST_F(WorkflowTest, TheTypeTreeFoldsAliasesAndListsUnknownTypesOnlyWhenAskedTo) {
    TempDir dir;
    // Real JPEG markers: a picture whose bytes contradict its name is not listed.
    const std::string jpeg =
        std::string("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00", 11) + std::string(3000, 'j') + "\xFF\xD9";
    const auto image = DeletedFilesImage(
        dir, {{"photo.JPEG", jpeg}, {"other.jpg", jpeg + "k"}, {"NOTES", std::string(700, 'n')}});
    if (image.empty()) GTEST_SKIP() << "mkfs.fat or mtools missing";
    Click("BtnDeletedRecovery");
    ASSERT_TRUE(window_->OpenImageFile(image));
    ASSERT_TRUE(ScanToResults());
    auto tree = Tree();

    const std::string photos = Message("MSG0807").toStdString() + " (2)";
    ASSERT_TRUE(tree.count(photos)) << "photo.JPEG and other.jpg are both photos";
    EXPECT_EQ(tree[photos], std::vector<std::string>{"JPG (2)"});
    const std::string others = Message("MSG0812").toStdString() + " (1)";
    ASSERT_TRUE(tree.count(others));
    const std::string unknown = Message("MSG0855")
                                    .replace(QStringLiteral("%s"), Message("MSG0854"))
                                    .replace(QStringLiteral("%d"), QStringLiteral("1"))
                                    .toStdString();
    EXPECT_EQ(tree[others], std::vector<std::string>{unknown});

    // Without "Unknown type" ticked the file without an extension is not shown.
    window_->ShowPage(CMainWnd::kFileTypePage);
    window_->Find<skin::CheckBox>(QStringLiteral("OptOtherFileItem"))->Selected(false);
    window_->ShowPage(CMainWnd::kDiskPage);
    window_->SelectDiskRow(1);
    ASSERT_TRUE(WaitFor([] { return true; }));
    Click("BtnScan");
    ASSERT_TRUE(WaitFor([this] { return !Tree().empty(); }));
    tree = Tree();
    EXPECT_TRUE(tree.count(photos));
    EXPECT_FALSE(tree.count(others));
    EXPECT_TRUE(window_->Find<skin::TreeNode>(QStringLiteral("NodeOther"))->isHidden());
}

TEST_F(WorkflowTest, TwoDamagedOfTenAreKeptAndStandOnTop) {
    TempDir dir;
    std::map<std::string, std::string> files;
    for (int i = 0; i < 10; ++i)
        files["file" + std::to_string(i) + ".txt"] = std::string(5000 + i, char('a' + i));
    const auto image = DeletedFilesImage(dir, files);
    if (image.empty()) GTEST_SKIP() << "mkfs.fat or mtools missing";
    Click("BtnDeletedRecovery");
    ASSERT_TRUE(window_->OpenImageFile(image));
    ASSERT_TRUE(ScanToResults());
    ASSERT_EQ(window_->SearchResults().size(), 10u);
    CheckEverything();
    ASSERT_EQ(window_->CheckedFiles().size(), 10u);
    // One sector of two files cannot be read any more: those files are kept
    // with zeros there, counted as recovered, and their rows say they are damaged.
    testkit::ScopedFaults faults;
    int broken = 0;
    for (const FoundItemRecord& r : window_->SearchResults()) {
        // A deleted short name has lost its first letter; the long name may keep it.
        const std::string name = r.Name();
        if (name.size() < 8 || (name.substr(1) != "ile3.txt" && name.substr(1) != "ile7.txt")) continue;
        const uint64_t sector = r.partitionStart + r.dataStart + (uint64_t{r.key} - 2) * r.clusterBytes / 512;
        faults.Error(image, sector, sector);
        ++broken;
    }
    ASSERT_EQ(broken, 2);
    TempDir out;
    RecoveryOutcome outcome = Recover(out.Path());
    ASSERT_TRUE(outcome.seen);
    QString expected = Message("MSG1102");
    for (const char* n : {"10", "10", "10", "0"})
        expected.replace(expected.indexOf(QStringLiteral("%d")), 2, QLatin1String(n));
    EXPECT_EQ(outcome.recovered, expected);
    ASSERT_EQ(outcome.statuses.size(), 10);
    for (int i = 0; i < 10; ++i) {
        const bool damaged = i < 2;
        EXPECT_EQ(outcome.statuses[i] == Message("MSG1104"), !damaged) << outcome.statuses[i].toStdString();
        EXPECT_TRUE(outcome.statuses[i].startsWith(Message("MSG1104"))) << i;
        EXPECT_NE(outcome.colours[i], QColor(0xFFFF0000)) << "no row failed: " << i;
        if (damaged) {
            EXPECT_NE(outcome.colours[i], outcome.colours[9]) << "a damaged row stands out";
        }
    }
    int intact = 0;
    int zeroed = 0;
    for (const auto& [path, sha] : testkit::FileShasBelow(out.Path())) {
        bool exact = false;
        for (const auto& [name, bytes] : files)
            exact = exact || sha == testkit::FileSha256(dir / ("src_" + name));
        if (exact) {
            ++intact;
            continue;
        }
        // A damaged copy: its unreadable first sector is zeros, the rest is the file's own bytes.
        const std::vector<uint8_t> got = testkit::ReadFile(out.Path() / path);
        ASSERT_GE(got.size(), 5000u);
        const bool zeros = std::all_of(got.begin(), got.begin() + 512, [](uint8_t b) { return b == 0; });
        const char fill = static_cast<char>(got[512]);
        const bool rest =
            std::all_of(got.begin() + 512, got.end(), [fill](uint8_t b) { return b == uint8_t(fill); });
        if (zeros && rest && (fill == 'd' || fill == 'h')) ++zeroed;
    }
    EXPECT_EQ(intact, 8) << "the eight readable files are byte-exact";
    EXPECT_EQ(zeroed, 2) << "the two damaged files keep every byte that could be read";
}

TEST_F(WorkflowTest, OnlyExternalDisksAreListed) {
    // One internal SATA disk and one USB stick, each with a FAT volume and no partition table.
    auto addDisk = [this](const std::string& name, bool usb, const std::string& dev) {
        const std::string path = usb ? "/sys/devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/6:0:0:0"
                                     : "/sys/devices/pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0";
        auto write = [this](const std::string& rel, const std::string& text) {
            std::filesystem::create_directories((root_ / rel).parent_path());
            testkit::WriteFile(root_ / rel, std::vector<uint8_t>(text.begin(), text.end()));
        };
        write("sys/block/" + name + "/removable", "0\n");
        write("sys/block/" + name + "/device_path", path + "\n");
        write("sys/block/" + name + "/size", "16384\n");
        write("sys/block/" + name + "/dev", dev + "\n");
        std::filesystem::create_directories(root_ / "dev");
        const auto node = root_ / ("dev/" + name);
        RunCommand("truncate -s 8M " + ShellQuote(node.string()) + " && mkfs.fat " +
                   ShellQuote(node.string()) + " >/dev/null 2>&1");
    };
    addDisk("sda", false, "8:0");
    addDisk("sdb", true, "8:16");
    window_->RefreshDiskList();
    auto* list = window_->Find<CDiskListUI>(QStringLiteral("DiskList"));
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->Root()->children.size(), 1) << "only the USB disk";
    const auto targets = window_->Targets();
    ASSERT_EQ(targets.size(), 1u);
    EXPECT_EQ(DriveTable::Instance().Drive(targets[0]->partition->diskNumber)->name, "sdb");
}

TEST_F(WorkflowTest, OneClickOnAFilePreviewsItsContents) {
    TempDir dir;
    const auto image = DeletedFilesImage(dir, {{"letter.txt", "Dear Anna,\nthe photos from the lake.\n"}});
    if (image.empty()) GTEST_SKIP() << "mkfs.fat or mtools missing";
    Click("BtnDeletedRecovery");
    ASSERT_TRUE(window_->OpenImageFile(image));
    ASSERT_TRUE(ScanToResults());
    auto* office = window_->Find<skin::TreeNode>(QStringLiteral("NodeOffice"));
    ASSERT_FALSE(office->ChildNodes().isEmpty());
    window_->ShowFilesOf(office->ChildNodes().front());
    auto* list = window_->Find<skin::List>(QStringLiteral("FileList"));
    ASSERT_EQ(list->GetCount(), 1);
    ASSERT_TRUE(window_->Preview().Pane().PlainText().isEmpty());
    list->OnRowClicked(list->GetItemAt(0));
    ASSERT_TRUE(WaitFor([this] { return !window_->Preview().Pane().PlainText().isEmpty(); }));
    // The file's own bytes, read by the worker, shown as text, and below them its condition.
    const QString shown = window_->Preview().Pane().PlainText().trimmed();
    EXPECT_TRUE(shown.startsWith(u"Dear Anna,\nthe photos from the lake.")) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith(Message("MSG2105").replace(QStringLiteral("%s"), Message("MSG2103"))))
        << shown.toStdString();
    auto* pane = window_->Find<skin::RichEdit>(QStringLiteral("PreviewEdit"));
    ASSERT_NE(pane, nullptr);
    EXPECT_TRUE(pane->Browser()->toPlainText().contains(u"Dear Anna,")) << "shown in the window's own pane";
}

TEST_F(WorkflowTest, ChecksDriveTheSelectionLabelAndSortingKeepsThemPaired) {
    TempDir dir;
    const auto image = DeletedFilesImage(dir, {{"b.txt", std::string(3000, 'b')},
                                               {"a.txt", std::string(1000, 'a')},
                                               {"c.txt", std::string(2000, 'c')}});
    if (image.empty()) GTEST_SKIP() << "mkfs.fat or mtools missing";
    Click("BtnDeletedRecovery");
    ASSERT_TRUE(window_->OpenImageFile(image));
    ASSERT_TRUE(ScanToResults());
    EXPECT_EQ(Get("SelectedFileInfo")->Text(), Message("MSG0803"));
    EXPECT_FALSE(Get("BtnRecover")->IsEnabled());
    auto* office = window_->Find<skin::TreeNode>(QStringLiteral("NodeOffice"));
    ASSERT_EQ(office->ChildNodes().size(), 1);
    skin::TreeNode* text = office->ChildNodes().front();
    window_->ShowFilesOf(text);
    auto* list = window_->Find<skin::List>(QStringLiteral("FileList"));
    ASSERT_EQ(list->GetCount(), 3);
    auto row = [&](int i) { return dynamic_cast<skin::ListTextElement*>(list->GetItemAt(i)); };

    // Sorting by size, largest first, then checking the top row checks the largest file.
    Click(Get("Size"));
    EXPECT_EQ(row(0)->GetText(2), u"2.93 KB");
    EXPECT_EQ(row(2)->GetText(2), u"1000 Bytes");
    list->OnRowCheckClicked(row(0), true);
    ASSERT_EQ(window_->CheckedFiles().size(), 1u);
    EXPECT_EQ(window_->CheckedFiles().begin()->second.size, 3000u);
    EXPECT_EQ(Get("SelectedFileInfo")->Text(), Message("MSG0804")
                                                   .replace(QStringLiteral("%s"), QStringLiteral("2.93 KB"))
                                                   .replace(QStringLiteral("%d"), QStringLiteral("1")));
    EXPECT_TRUE(Get("BtnRecover")->IsEnabled());
    EXPECT_TRUE(text->IsHalfChecked()) << "one of three: the node is half checked";
    EXPECT_TRUE(office->IsHalfChecked());
    // Clicking again reverses the order; the check stays with its file.
    Click(Get("Size"));
    EXPECT_EQ(row(0)->GetText(2), u"1000 Bytes");
    EXPECT_TRUE(row(2)->IsChecked());
    EXPECT_FALSE(row(0)->IsChecked());
    // The header box checks the whole list; the node follows.
    auto* all = window_->Find<skin::CheckBox>(QStringLiteral("ChkAllListSel"));
    all->Selected(true);
    EXPECT_EQ(window_->CheckedFiles().size(), 3u);
    EXPECT_TRUE(text->IsChecked());
    EXPECT_TRUE(office->IsChecked());
}

TEST_F(WorkflowTest, ScanningAgainAfterAQuickScanDeletesItsScanFolder) {
    SORVANE_SHARED_IMAGE_OR_SKIP(fat, ImageKind::kFat32);
    Click("BtnDeletedRecovery");
    ASSERT_TRUE(window_->OpenImageFile(fat.image));
    ASSERT_TRUE(ScanToResults());
    const std::filesystem::path first = CScanResumeStore::Instance().CurrentScanFolder();
    ASSERT_TRUE(std::filesystem::exists(first)) << first;
    window_->ShowPage(CMainWnd::kDiskPage);
    ASSERT_TRUE(ScanToResults());
    EXPECT_FALSE(std::filesystem::exists(first)) << "the earlier quick scan's logs are of no further use";
    EXPECT_TRUE(std::filesystem::exists(CScanResumeStore::Instance().CurrentScanFolder()));
}

TEST_F(WorkflowTest, AnUnfinishedDeepScanIsOfferedAgainAndNoStartsAfresh) {
    SORVANE_SHARED_IMAGE_OR_SKIP(fat, ImageKind::kFat32);
    TempDir dir;
    testkit::ScopedFaults slow;
    const auto image = LongImage(dir, fat.image, 128, slow);
    ASSERT_TRUE(window_->OpenImageFile(image));
    // First scan: cancelled early.
    bool clicked = false;
    QTimer canceller;
    QObject::connect(&canceller, &QTimer::timeout, [&] {
        auto* scan = OpenWindowOf<CScanProcessWnd>();
        CProfessionalRecovery* deep = DeepEngine(*window_);
        if (clicked || !scan || !deep || deep->SectorsDone() == 0) return;
        clicked = true;
        Click(scan->FindControl(QStringLiteral("cancelbtn")));
    });
    canceller.start(1);
    ASSERT_TRUE(ScanToResults());
    canceller.stop();
    ASSERT_TRUE(clicked);
    ASSERT_LT(DeepEngine(*window_)->SectorsDone(), DeepEngine(*window_)->TotalSectors());

    // Second scan of the same image: asked once whether to go on; "No" starts from the beginning.
    questions_.clear();
    answer_ = [this](int, const QString& text) { return text == Message("MSG1206") ? 2 : 1; };
    window_->ShowPage(CMainWnd::kDiskPage);
    ASSERT_TRUE(ScanToResults());
    EXPECT_EQ(std::count(questions_.begin(), questions_.end(), Message("MSG1206")), 1);
    CProfessionalRecovery* deep = DeepEngine(*window_);
    EXPECT_FALSE(deep->HasResumeRecord());
    EXPECT_EQ(deep->SectorsDone(), deep->TotalSectors()) << "the whole image read afresh";
}

TEST_F(WorkflowTest, ADestinationOnTheScannedDiskIsQuestionedFirst) {
    // A stick whose device number is the one of the folder recovery would write to.
    testing::FakeSysfs machine;
    TempDir out;
    struct stat folder {};
    ASSERT_EQ(::stat(out.Path().c_str(), &folder), 0);
    ASSERT_TRUE(machine.AddStick(
        "sdb", std::to_string(major(folder.st_dev)) + ":" + std::to_string(minor(folder.st_dev))));
    const auto node = machine.Node("sdb");
    ASSERT_EQ(
        RunCommand("printf 'Dear Anna' > " + ShellQuote((out / "letter.txt").string()) + " && mcopy -i " +
                   ShellQuote(node.string()) + " " + ShellQuote((out / "letter.txt").string()) +
                   " ::letter.txt && mdel -i " + ShellQuote(node.string()) + " ::letter.txt"),
        0);
    std::filesystem::remove(out / "letter.txt");
    window_->RefreshDiskList();
    ASSERT_EQ(window_->Targets().size(), 1u);
    Click("BtnDeletedRecovery");
    window_->SelectDiskRow(1);
    ASSERT_TRUE(ScanToResults());
    CheckEverything();
    ASSERT_FALSE(window_->CheckedFiles().empty());
    answer_ = [this](int kind, const QString& text) {
        EXPECT_EQ(kind, CMessageBox::kConfirm);
        EXPECT_EQ(text, Message("MSG0805"));
        return 2;  // No
    };
    RecoveryOutcome outcome = Recover(out.Path());
    EXPECT_FALSE(outcome.seen) << "no recovery after No";
    EXPECT_TRUE(std::filesystem::is_empty(out.Path()));
    ASSERT_FALSE(questions_.empty());
    EXPECT_EQ(questions_.back(), Message("MSG0805"));
}

TEST_F(WorkflowTest, DoubleClickFoldsADiskAndScansAPartition) {
    SORVANE_SHARED_IMAGE_OR_SKIP(image, ImageKind::kMbr);
    ASSERT_TRUE(window_->OpenImageFile(image.image));
    auto* list = window_->Find<CDiskListUI>(QStringLiteral("DiskList"));
    ASSERT_EQ(list->GetCount(), 4) << "heading, the image, its two partitions";
    // The image row holds partitions: a double click folds and unfolds it, and scans nothing.
    list->OnRowDoubleClicked(list->GetItemAt(1));
    QApplication::processEvents();
    EXPECT_TRUE(list->GetItemAt(2)->isHidden());
    EXPECT_TRUE(list->GetItemAt(3)->isHidden());
    list->OnRowDoubleClicked(list->GetItemAt(1));
    EXPECT_FALSE(list->GetItemAt(3)->isHidden());
    EXPECT_EQ(window_->CurrentPage(), CMainWnd::kHomePage) << "no scan started";
    for (ScanTarget* target : window_->Targets()) EXPECT_EQ(target->engine, nullptr);
    // A partition row: a double click scans that partition alone.
    list->SelectItem(3, false);
    list->OnRowDoubleClicked(list->GetItemAt(3));
    ASSERT_TRUE(WaitFor([this] { return window_->CurrentPage() == CMainWnd::kResultsPage; }));
    auto targets = window_->Targets();
    EXPECT_EQ(targets[0]->engine, nullptr);
    ASSERT_NE(targets[1]->engine, nullptr);
    for (const FoundItemRecord& r : window_->SearchResults()) EXPECT_EQ(r.letter, targets[1]->VolumeKey());
}

TEST_F(WorkflowTest, ThousandsOfFilesArePagedAndChecksReachEveryPage) {
    if (!testkit::HaveProgram("mkfs.fat") || !testkit::HaveProgram("mcopy")) GTEST_SKIP() << "mtools missing";
    TempDir dir;
    const auto folder = dir / "many";
    std::filesystem::create_directories(folder);
    for (int i = 0; i < 1203; ++i) {
        const std::string text = "note " + std::to_string(i) + "\n";
        testkit::WriteFile(folder / ("n" + std::to_string(i) + ".txt"),
                           std::vector<uint8_t>(text.begin(), text.end()));
    }
    const auto image = dir / "card.img";
    const std::string q = ShellQuote(image.string());
    ASSERT_EQ(RunCommand("(truncate -s 32M " + q + " && mkfs.fat -F 16 " + q + " && mcopy -s -i " + q + " " +
                         ShellQuote(folder.string()) + " ::/ && mdel -i " + q +
                         " '::/many/*.txt') >/dev/null 2>&1"),
              0);
    Click("BtnDeletedRecovery");
    ASSERT_TRUE(window_->OpenImageFile(image));
    ASSERT_TRUE(ScanToResults());
    ASSERT_EQ(window_->SearchResults().size(), 1203u);
    auto* office = window_->Find<skin::TreeNode>(QStringLiteral("NodeOffice"));
    QElapsedTimer clock;
    clock.start();
    window_->ShowFilesOf(office->ChildNodes().front());
    std::printf("listing the first page of 1203 files took %lld ms\n",
                static_cast<long long>(clock.elapsed()));
    auto* list = window_->Find<skin::List>(QStringLiteral("FileList"));
    auto* pages = window_->Find<CPaginationUI>(QStringLiteral("FilePages"));
    ASSERT_NE(pages, nullptr);
    EXPECT_EQ(list->GetCount(), CMainWnd::kPageRows);
    EXPECT_EQ(pages->PageCount(), 3);
    EXPECT_FALSE(pages->isHidden());
    pages->SetCurrentPage(2);
    ASSERT_EQ(list->GetCount(), 1203 - 2 * CMainWnd::kPageRows);
    // A check on the last page checks that row's file, not the one at the same place on page 1.
    auto* first = dynamic_cast<skin::ListTextElement*>(list->GetItemAt(0));
    list->OnRowCheckClicked(first, true);
    ASSERT_EQ(window_->CheckedFiles().size(), 1u);
    EXPECT_EQ(QString::fromStdString(window_->CheckedFiles().begin()->second.Name()), first->GetText(1));
    pages->SetCurrentPage(0);
    for (int i = 0; i < list->GetCount(); ++i)
        EXPECT_FALSE(dynamic_cast<skin::ListTextElement*>(list->GetItemAt(i))->IsChecked()) << i;
    // The header box means every file of the list, on every page.
    window_->Find<skin::CheckBox>(QStringLiteral("ChkAllListSel"))->Selected(true);
    EXPECT_EQ(window_->CheckedFiles().size(), 1203u);
    EXPECT_TRUE(office->IsChecked());
}

// ---- One truth for both front ends ----

// The command line's JSON lines: category -> "name size content" of each file.
std::map<std::string, std::multiset<std::string>> CliFoundSet(const std::filesystem::path& data,
                                                              const std::filesystem::path& image, bool deep,
                                                              const std::string& options = {}) {
    std::string out;
    RunCommand("SORVANE_DATA_DIR=" + ShellQuote(data.string()) + " " + ShellQuote(SORVANE_CLI) + " scan " +
                   (deep ? "--deep --fresh" : "--quick") + " --json " + options + " " +
                   ShellQuote(image.string()) + " </dev/null 2>/dev/null",
               &out);
    auto field = [](const std::string& line, const std::string& key) {
        const size_t at = line.find("\"" + key + "\":");
        if (at == std::string::npos) return std::string();
        size_t from = at + key.size() + 3;
        if (line[from] == '"') {
            ++from;
            return line.substr(from, line.find('"', from) - from);
        }
        return line.substr(from, line.find_first_of(",}", from) - from);
    };
    std::map<std::string, std::multiset<std::string>> set;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        if (line.find("\"name\":") == std::string::npos) continue;
        set[field(line, "category")].insert(field(line, "name") + " " + field(line, "size") + " " +
                                            field(line, "content"));
    }
    return set;
}

// The card of the report: types that sit in a category list but on no
// option of the file-type page, made by the real tools, a "PDF" that holds
// text, and OLD.PDF, deleted, whose first cluster a later PDF took: its copy
// runs on into OTHER.TXT's data. `files` gets name -> bytes of the deleted
// files; the image is empty when a tool is missing.
std::filesystem::path MixedTypeCard(const TempDir& dir, std::map<std::string, std::string>& files) {
    for (const char* tool : {"convert", "ffmpeg", "mkfs.fat", "mcopy"})
        if (!testkit::HaveProgram(tool)) return {};
    const std::string d = ShellQuote(dir.Path().string());
    const std::string make =
        "cd " + d +
        " && convert -size 64x48 gradient:red-blue thm.jpg && convert thm.jpg a.jp2"
        " && convert -size 32x32 plasma:fractal a.ico && convert thm.jpg a.tga && convert thm.jpg a.pcx"
        " && convert thm.jpg a.pgm"
        " && ffmpeg -loglevel error -f lavfi -i testsrc=size=128x96:rate=25 -t 0.4 -c:v mpeg2video a.mxf"
        " && ffmpeg -loglevel error -f lavfi -i testsrc=size=720x576:rate=25 -t 0.2 -pix_fmt yuv420p"
        " -c:v dvvideo a.dv"
        " && ffmpeg -loglevel error -f lavfi -i testsrc=size=128x96:rate=25 -t 0.4 -f f4v a.f4v";
    if (RunCommand("(" + make + ") >/dev/null 2>&1") != 0) return {};
    auto bytes = [&dir](const char* name) {
        const auto data = testkit::ReadFile(dir / name);
        return std::string(data.begin(), data.end());
    };
    std::string other;
    for (int i = 0; other.size() < 9000; ++i) other += "line " + std::to_string(i * 7919) + " of the notes\n";
    other.resize(9000);
    files = {{"OLD.PDF", "%PDF-1.4\n" + std::string(20000, 'a')},
             {"OTHER.TXT", other},
             {"IMG_0001.THM", bytes("thm.jpg")},
             {"PHOTO.JP2", bytes("a.jp2")},
             {"ICON.ICO", bytes("a.ico")},
             {"PIC.TGA", bytes("a.tga")},
             {"PIC.PCX", bytes("a.pcx")},
             {"PIC.PGM", bytes("a.pgm")},
             {"CLIP.MXF", bytes("a.mxf")},
             {"TAPE.DV", bytes("a.dv")},
             {"WEB.F4V", bytes("a.f4v")},
             {"NOTES.PDF", std::string(3000, 'x')}};
    const auto image = dir / "card.img";
    const std::string img = ShellQuote(image.string());
    std::string script =
        "truncate -s 16M " + img + " && mkfs.fat -F 16 " + img + " >/dev/null && mmd -i " + img + " ::SUB";
    // OLD.PDF and OTHER.TXT first, so that OLD.PDF holds the first free cluster once all are deleted.
    std::vector<std::string> order = {"OLD.PDF", "OTHER.TXT"};
    for (const auto& [name, content] : files)
        if (name != "OLD.PDF" && name != "OTHER.TXT") order.push_back(name);
    for (const std::string& name : order) {
        const auto source = dir / ("src_" + name);
        testkit::WriteFile(source, std::vector<uint8_t>(files[name].begin(), files[name].end()));
        script += " && mcopy -i " + img + " " + ShellQuote(source.string()) + " ::" + name;
    }
    for (const std::string& name : order) script += " && mdel -i " + img + " ::" + name;
    const auto later = dir / "later.pdf";
    testkit::WriteFile(later, std::vector<uint8_t>(6000, 'b'));
    script += " && (printf '%%PDF-1.4\\n'; cat " + ShellQuote(later.string()) + ") > " +
              ShellQuote(later.string() + ".pdf") + " && mcopy -i " + img + " " +
              ShellQuote(later.string() + ".pdf") + " ::SUB/LATER.PDF";
    if (RunCommand("(" + script + ") >/dev/null 2>&1") != 0) return {};
    return image;
}

TEST_F(WorkflowTest, TheWindowListsWhatTheCommandLineListsAndSaysWhichFilesAreDamaged) {
    TempDir dir;
    std::map<std::string, std::string> files;
    const auto image = MixedTypeCard(dir, files);
    if (image.empty()) GTEST_SKIP() << "ImageMagick, ffmpeg, mkfs.fat or mtools missing";
    const std::string before = testkit::FileSha256(image);
    static const std::map<std::string, const char*> kWords = {
        {"whole", "MSG2101"}, {"damaged", "MSG2102"}, {"not checked", "MSG2103"}, {"impossible", "MSG2104"}};
    for (const bool deep : {false, true}) {
        SCOPED_TRACE(deep ? "deep scan" : "quick scan");
        window_->ShowPage(CMainWnd::kHomePage);
        Click(deep ? "BtnStart" : "BtnDeletedRecovery");
        ASSERT_TRUE(window_->OpenImageFile(image));
        ASSERT_TRUE(ScanToResults());

        // The same files, category by category, with the same condition.
        std::map<std::string, std::multiset<std::string>> shown;
        for (const FoundItemRecord& r : window_->SearchResults()) {
            const QString condition = ConditionText(ConditionOf(r, window_->Targets().back()->VolumeBytes(),
                                                                window_->Targets().back()->SectorSize()));
            std::string word;
            for (const auto& [text, id] : kWords)
                if (Message(id) == condition) word = text;
            shown[CategoryFolderName(r.Name())].insert(r.Name() + " " + std::to_string(uint64_t{r.size}) +
                                                       " " + word);
        }
        const auto cli = CliFoundSet(data_ / "cli", image, deep);
        EXPECT_EQ(shown, cli);
        // Deleted short names lose their first letter; the rest is the file's own name, not a carved number.
        std::multiset<std::string> names;
        for (const FoundItemRecord& r : window_->SearchResults())
            names.insert(QString::fromStdString(r.Name().substr(1)).toLower().toStdString());
        for (const char* name : {"mg_0001.thm", "hoto.jp2", "con.ico", "ic.tga", "ic.pcx", "ic.pgm",
                                 "lip.mxf", "ape.dv", "eb.f4v"})
            EXPECT_EQ(names.count(name), 1u) << name << " is listed under its own name";
        size_t cliFiles = 0;
        for (const auto& [category, entries] : cli) cliFiles += entries.size();
        std::printf("mixed-type card, %s: window %zu files, command line %zu files\n",
                    deep ? "deep" : "quick", window_->SearchResults().size(), cliFiles);
    }

    // The quick scan's list: the overwritten PDF wears the error icon and says "damaged".
    window_->ShowPage(CMainWnd::kHomePage);
    Click("BtnDeletedRecovery");
    ASSERT_TRUE(window_->OpenImageFile(image));
    ASSERT_TRUE(ScanToResults());
    window_->ShowFilesOf(window_->Find<skin::TreeNode>(QStringLiteral("NodeOffice")));
    auto* list = window_->Find<skin::List>(QStringLiteral("FileList"));
    bool sawOld = false;
    for (int i = 0; i < list->GetCount(); ++i) {
        auto* row = dynamic_cast<skin::ListImageTextElement*>(list->GetItemAt(i));
        ASSERT_NE(row, nullptr);
        const bool damaged = row->GetText(7) == Message("MSG2102");
        EXPECT_EQ(row->GetImage(1).contains(QStringLiteral("_error")), damaged)
            << row->GetText(1).toStdString();
        if (row->GetText(1).endsWith(QStringLiteral("LD.PDF"), Qt::CaseInsensitive)) {
            sawOld = true;
            EXPECT_TRUE(damaged) << "its copy runs into another file's data";
        }
    }
    EXPECT_TRUE(sawOld);

    // Everything comes back byte-exact; the rows of the files that may not open say so.
    CheckEverything();
    TempDir out;
    RecoveryOutcome outcome = Recover(out.Path());
    ASSERT_TRUE(outcome.seen);
    EXPECT_TRUE(outcome.statuses.contains(Message("MSG2106"))) << "the overwritten PDF's row";
    EXPECT_TRUE(outcome.statuses.contains(Message("MSG2108"))) << "the text named .pdf";
    EXPECT_FALSE(outcome.statuses.isEmpty());
    const auto recovered = testkit::FileShasBelow(out.Path());
    for (const auto& [name, bytes] : files) {
        if (name == "OLD.PDF") continue;  // damaged: its copy is not the file
        const std::string sha = testkit::FileSha256(dir / ("src_" + name));
        bool found = false;
        for (const auto& [path, hash] : recovered) found = found || hash == sha;
        EXPECT_TRUE(found) << name << " recovered byte-exact";
    }
    for (const auto& [path, hash] : recovered) EXPECT_EQ(path.find(".part"), std::string::npos) << path;
    EXPECT_EQ(testkit::FileSha256(image), before) << "the card is never written";
}

// Two cards of one layout, the second written over the first's file with the
// first's time: the record of the first scan matches the second by path and
// time, but continuing it would list the first card's files.
TEST_F(WorkflowTest, AScanOfAnotherCardWithTheSameLayoutIsNeverContinued) {
    TempDir a, b;
    const auto first = DeletedFilesImage(a, {{"ONLY_A.TXT", std::string(9000, 'a')}});
    const auto second = DeletedFilesImage(b, {{"ONLY_B.TXT", std::string(9000, 'b')}});
    if (first.empty() || second.empty()) GTEST_SKIP() << "mkfs.fat or mtools missing";
    TempDir place;
    const auto card = place / "card.img";
    std::filesystem::copy_file(first, card);
    const auto time = std::filesystem::last_write_time(card);

    auto names = [this] {
        std::set<std::string> found;
        for (const FoundItemRecord& r : window_->SearchResults())
            found.insert(QString::fromStdString(r.Name().substr(1)).toUpper().toStdString());
        return found;
    };
    // A finished deep scan of the first card: the next scan of it offers its results.
    Click("BtnStart");
    ASSERT_TRUE(window_->OpenImageFile(card));
    ASSERT_TRUE(ScanToResults());
    EXPECT_TRUE(names().count("NLY_A.TXT"));
    questions_.clear();
    window_->ShowPage(CMainWnd::kDiskPage);
    ASSERT_TRUE(ScanToResults());
    EXPECT_EQ(std::count(questions_.begin(), questions_.end(), Message("MSG2110")), 1);
    EXPECT_EQ(std::count(questions_.begin(), questions_.end(), Message("MSG1206")), 0)
        << "a finished scan is not called unfinished";
    EXPECT_TRUE(DeepEngine(*window_)->ResumedFinished());

    // The second card under the same name and time: said, and scanned afresh.
    std::filesystem::copy_file(second, card, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::last_write_time(card, time);
    questions_.clear();
    window_->ShowPage(CMainWnd::kDiskPage);
    ASSERT_TRUE(ScanToResults());
    EXPECT_EQ(std::count(questions_.begin(), questions_.end(), Message("MSG2111")), 1);
    EXPECT_FALSE(DeepEngine(*window_)->ResumedFinished());
    EXPECT_TRUE(names().count("NLY_B.TXT"));
    EXPECT_FALSE(names().count("NLY_A.TXT")) << "the first card's files are never listed for the second";

    // The command line's --resume alike.
    std::filesystem::copy_file(first, card, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::last_write_time(card, time);
    std::string out;
    RunCommand("SORVANE_DATA_DIR=" + ShellQuote((data_ / "data").string()) + " " + ShellQuote(SORVANE_CLI) +
                   " scan --resume --json " + ShellQuote(card.string()) + " </dev/null 2>&1",
               &out);
    const std::string upper = QString::fromStdString(out).toUpper().toStdString();
    EXPECT_NE(upper.find("NLY_A.TXT"), std::string::npos) << out;
    EXPECT_EQ(upper.find("NLY_B.TXT"), std::string::npos) << out;
    EXPECT_NE(out.find("same layout"), std::string::npos) << out;
}

// Run by the next test in a child process, which it kills with SIGKILL
// while the recovery writes: the real main window recovering a card.
TEST_F(WorkflowTest, RecoveryThatTheNextTestKills) {
    const char* image = std::getenv("SORVANE_KILLED_RECOVERY_IMAGE");
    const char* destination = std::getenv("SORVANE_KILLED_RECOVERY_TO");
    if (!image || !destination) GTEST_SKIP() << "run by KillingTheWindowDuringARecoveryLeavesNoPartialFile";
    Click("BtnDeletedRecovery");
    ASSERT_TRUE(window_->OpenImageFile(image));
    ASSERT_TRUE(ScanToResults());
    CheckEverything();
    Recover(destination);
}

TEST_F(WorkflowTest, KillingTheWindowDuringARecoveryLeavesNoPartialFile) {
    TempDir dir;
    std::map<std::string, std::string> files;
    for (int i = 0; i < 8; ++i) {
        std::string bytes(6 << 20, '\0');
        for (size_t at = 0; at < bytes.size(); ++at) bytes[at] = static_cast<char>((at * 7919 + i * 31) >> 3);
        files["movie" + std::to_string(i) + ".avi"] = bytes;
    }
    if (!testkit::HaveProgram("mkfs.fat") || !testkit::HaveProgram("mcopy")) GTEST_SKIP();
    const auto image = dir / "big.img";
    std::string script = "truncate -s 128M " + ShellQuote(image.string()) + " && mkfs.fat -F 32 " +
                         ShellQuote(image.string()) + " >/dev/null";
    for (const auto& [name, bytes] : files) {
        testkit::WriteFile(dir / ("src_" + name), std::vector<uint8_t>(bytes.begin(), bytes.end()));
        script += " && mcopy -i " + ShellQuote(image.string()) + " " +
                  ShellQuote((dir / ("src_" + name)).string()) + " ::" + name + " && mdel -i " +
                  ShellQuote(image.string()) + " ::" + name;
    }
    ASSERT_EQ(RunCommand("(" + script + ") >/dev/null 2>&1"), 0);
    std::set<std::string> truths;
    for (const auto& [name, bytes] : files) truths.insert(testkit::FileSha256(dir / ("src_" + name)));

    TempDir out;
    // The child is killed as soon as a .part file has bytes in it.
    const std::string child =
        "SORVANE_KILLED_RECOVERY_IMAGE=" + ShellQuote(image.string()) +
        " SORVANE_KILLED_RECOVERY_TO=" + ShellQuote(out.Path().string()) + " " +
        ShellQuote(std::filesystem::read_symlink("/proc/self/exe").string()) +
        " --gtest_filter=WorkflowTest.RecoveryThatTheNextTestKills >/dev/null 2>&1 & echo $!";
    std::string pidText;
    ASSERT_EQ(RunCommand(child, &pidText), 0);
    const std::string pid = std::to_string(std::stoi(pidText));
    bool killedWhileWriting = false;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 120000 && !killedWhileWriting) {
        std::error_code ec;
        for (auto it = std::filesystem::recursive_directory_iterator(out.Path(), ec);
             !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
            if (it->path().extension() == ".part" && it->file_size(ec) > 0) {
                RunCommand("kill -9 " + pid);
                killedWhileWriting = true;
                break;
            }
        }
        if (RunCommand("kill -0 " + pid + " 2>/dev/null") != 0) break;
        QThread::msleep(2);
    }
    RunCommand("kill -9 " + pid + " 2>/dev/null; while kill -0 " + pid + " 2>/dev/null; do sleep 0.05; done");
    if (!killedWhileWriting) GTEST_SKIP() << "the recovery ended before it could be killed";

    size_t parts = 0;
    std::string stale;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(out.Path())) {
        if (!entry.is_regular_file()) continue;
        if (entry.path().extension() == ".part") {
            ++parts;
            stale = entry.path().stem().string();
            continue;
        }
        EXPECT_TRUE(truths.count(testkit::FileSha256(entry.path())))
            << entry.path() << ": a file under its final name is whole";
    }
    EXPECT_EQ(parts, 1u);
    // Recovering again into the same folder replaces the leftover instead of keeping it beside a "(1)".
    std::string cli;
    ASSERT_EQ(
        RunCommand("SORVANE_DATA_DIR=" + ShellQuote((data_ / "cli").string()) + " " +
                       ShellQuote(SORVANE_CLI) + " recover --quick --to " + ShellQuote(out.Path().string()) +
                       " " + ShellQuote(image.string()) + " </dev/null 2>&1",
                   &cli),
        0)
        << cli;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(out.Path())) {
        EXPECT_NE(entry.path().extension(), ".part") << entry.path();
        if (entry.is_regular_file()) {
            EXPECT_TRUE(truths.count(testkit::FileSha256(entry.path()))) << entry.path();
        }
    }
    EXPECT_TRUE(std::filesystem::exists(out / "video" / stale)) << stale << " under its own name";
}

// The public images made by other systems: the window lists what the command line lists, scan by scan.
TEST_F(WorkflowTest, OnThePublicImagesTheWindowFindsWhatTheCommandLineFinds) {
    const auto folder = testkit::RealImagesDir();
    std::vector<std::filesystem::path> images;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        const std::string ext = entry.path().extension().string();
        if (ext == ".dd" || ext == ".raw") images.push_back(entry.path());
    }
    if (images.empty()) GTEST_SKIP() << "no public images in " << folder;
    std::sort(images.begin(), images.end());
    // The offer of a deep scan after an empty quick one is declined: each mode is compared on its own.
    answer_ = [this](int, const QString& text) {
        return text == Message("MSG0852") || text == Message("MSG0527") ? 2 : 1;
    };
    for (const auto& image : images) {
        for (const bool deep : {false, true}) {
            SCOPED_TRACE(image.filename().string() + (deep ? ", deep" : ", quick"));
            window_->ShowPage(CMainWnd::kHomePage);
            Click(deep ? "BtnStart" : "BtnDeletedRecovery");
            const size_t before = window_->Targets().size();
            ASSERT_TRUE(window_->OpenImageFile(image));
            if (window_->Targets().size() != before + 1) continue;  // a partitioned disk: compared elsewhere
            Click("BtnScan");
            // A quick scan of a volume it cannot read ends with a warning and no list.
            if (!WaitFor([this] {
                    return window_->CurrentPage() == CMainWnd::kResultsPage || !questions_.empty();
                }) ||
                window_->CurrentPage() != CMainWnd::kResultsPage) {
                questions_.clear();
                continue;
            }
            std::map<std::string, std::multiset<std::string>> shown;
            size_t windowFiles = 0;
            for (const FoundItemRecord& r : window_->SearchResults()) {
                shown[CategoryFolderName(r.Name())].insert(r.Name() + " " + std::to_string(uint64_t{r.size}));
                ++windowFiles;
            }
            auto cli = CliFoundSet(data_ / "cli", image, deep);
            size_t cliFiles = 0;
            for (auto& [category, entries] : cli) {
                std::multiset<std::string> plain;
                for (std::string entry : entries) {
                    for (const char* word : {" whole", " damaged", " not checked", " impossible"}) {
                        const std::string tail(word);
                        if (entry.size() > tail.size() && entry.ends_with(tail))
                            entry.resize(entry.size() - tail.size());
                    }
                    plain.insert(entry);
                }
                entries = plain;
                cliFiles += entries.size();
            }
            std::printf("%s, %s: window %zu files, command line %zu files\n", image.filename().c_str(),
                        deep ? "deep" : "quick", windowFiles, cliFiles);
            EXPECT_EQ(shown, cli);
        }
    }
}

// What a file manager's "Open with" does: the image is named before the window
// shows. It gets the rows, selection, details and enabled Scan that "Open
// image..." gives, and the scan runs.
TEST_F(WorkflowTest, AnImageNamedAtStartIsListedAsOpenImageListsItAndScans) {
    SORVANE_SHARED_IMAGE_OR_SKIP(image, ImageKind::kMbr);
    window_ = std::make_unique<CMainWnd>();
    ASSERT_TRUE(window_->Create());
    ASSERT_TRUE(window_->OpenImageFile(image.image));
    window_->show();
    QApplication::processEvents();
    EXPECT_EQ(window_->CurrentPage(), CMainWnd::kDiskPage);
    EXPECT_TRUE(Get("BtnScan")->IsEnabled());
    auto* list = window_->Find<CDiskListUI>(QStringLiteral("DiskList"));
    ASSERT_EQ(list->GetCount(), 4) << "heading, the image, its two partitions";
    auto text = [&](int row) {
        return dynamic_cast<skin::ListTextElement*>(list->GetItemAt(row))->GetText(0);
    };
    EXPECT_TRUE(text(0).contains(Message("MSG0215"))) << text(0).toStdString();
    EXPECT_EQ(list->GetCurSel(), 1);
    // The row shows the file's name; the details panel its whole path, with captions.
    const QString path = QString::fromStdString(std::filesystem::absolute(image.image).string());
    EXPECT_TRUE(text(1).contains(QString::fromStdString(image.image.filename().string())));
    EXPECT_FALSE(text(1).contains(QString::fromStdString(image.image.parent_path().string())));
    EXPECT_EQ(QString(Get("Label1")->Text()).remove(QChar(0x200B)), Message("MSG0209") + u' ' + path);
    EXPECT_TRUE(Get("Label2")->Text().startsWith(Message("MSG0210") + u' '));
    // Partition rows are named by number, file system, label and size, not by drive letters.
    const auto targets = window_->Targets();
    ASSERT_EQ(targets.size(), 2u);
    const char* const labels[] = {"SORVANE32", "SORVANE"};
    for (int i = 0; i < 2; ++i) {
        const VolumeEntry& entry = *targets[i]->partition;
        const QString expected = Message("MSG0524").replace(QStringLiteral("%d"), QString::number(i + 1)) +
                                 QStringLiteral(" \u00B7 %1 \u00B7 %2 \u00B7 %3")
                                     .arg(QString::fromStdString(entry.fileSystemName),
                                          QLatin1String(labels[i]), SizeText(entry.totalBytes));
        EXPECT_TRUE(text(2 + i).contains(expected)) << text(2 + i).toStdString();
        EXPECT_FALSE(text(2 + i).contains(QStringLiteral(":\\")));
    }
    ASSERT_TRUE(ScanToResults());
    EXPECT_FALSE(window_->SearchResults().empty());
}

// The results page opens with files listed, and a ticked category shows its
// files; "Text" is one entry for all the types it stands for.
TEST_F(WorkflowTest, TheResultsOpenWithFilesListedAndATickedCategoryShowsItsFiles) {
    TempDir dir;
    const std::string jpeg =
        std::string("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00", 11) + std::string(3000, 'j') + "\xFF\xD9";
    const auto image = DeletedFilesImage(dir, {{"lake.jpg", jpeg},
                                               {"notes.txt", std::string(900, 'n')},
                                               {"page.html", "<p>" + std::string(900, 'h') + "</p>"},
                                               {"data.xml", "<a>" + std::string(900, 'x') + "</a>"}});
    if (image.empty()) GTEST_SKIP() << "mkfs.fat or mtools missing";
    Click("BtnDeletedRecovery");
    ASSERT_TRUE(window_->OpenImageFile(image));
    ASSERT_TRUE(ScanToResults());
    ASSERT_EQ(window_->SearchResults().size(), 4u);
    auto* list = window_->Find<skin::List>(QStringLiteral("FileList"));
    ASSERT_EQ(list->GetCount(), 1) << "the first category's files are listed without a click";
    EXPECT_TRUE(dynamic_cast<skin::ListTextElement*>(list->GetItemAt(0))->GetText(1).endsWith(u"ake.jpg"));
    auto* office = window_->Find<skin::TreeNode>(QStringLiteral("NodeOffice"));
    ASSERT_EQ(office->ChildNodes().size(), 1) << "txt, html and xml are one \"Text\" entry";
    EXPECT_TRUE(office->ChildNodes().front()->Text().endsWith(u" (3)"));
    window_->Find<CFileTreeUI>(QStringLiteral("TypeTree"))->CheckNode(office, true, true);
    ASSERT_EQ(list->GetCount(), 3) << "ticking a category shows what was ticked";
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(dynamic_cast<skin::ListTextElement*>(list->GetItemAt(i))->IsChecked());
    EXPECT_EQ(window_->CheckedFiles().size(), 3u);

    // Another language: the counts and the selection stay, in the new words.
    window_->OnMenuChoice(QStringLiteral("language:Deutsch"));
    QApplication::processEvents();
    ASSERT_EQ(LanguageService::Instance().CurrentLanguage(), QStringLiteral("Deutsch"));
    EXPECT_EQ(office->Text(), Message("MSG0810") + QStringLiteral(" (3)"));
    EXPECT_TRUE(office->IsChecked());
    uint64_t bytes = 0;
    for (const auto& [key, record] : window_->CheckedFiles()) bytes += record.size;
    EXPECT_EQ(Get("SelectedFileInfo")->Text(), Message("MSG0804")
                                                   .replace(QStringLiteral("%s"), SizeText(bytes))
                                                   .replace(QStringLiteral("%d"), QStringLiteral("3")));
    testing::UseShippedTexts();
    InstallDialogTranslations();
}

// The file-type page's tick keeps a carved photo's number, as the command
// line's --carved-names number does; without it the photo is named from its
// EXIF date. The tick is the person's setting: a new window shows it again.
TEST_F(WorkflowTest, TheNumberedNamesTickKeepsACarvedPhotosNumberAndIsRemembered) {
    for (const char* tool : {"mkfs.fat", "mcopy", "exiftool", "convert"})
        if (!testkit::HaveProgram(tool)) GTEST_SKIP() << tool << " missing";
    TempDir dir;
    const std::string photo = ShellQuote((dir / "photo.jpg").string());
    const std::string card = ShellQuote((dir / "card.img").string());
    // Copied to a card that is then formatted again: only the carver finds the photo.
    ASSERT_EQ(RunCommand("(convert -size 240x160 plasma:fractal -seed 3 " + photo +
                         " && exiftool -q -overwrite_original -DateTimeOriginal='2024:05:01 09:15:30' " +
                         photo + " && mkfs.fat -C -F 16 " + card + " 16384 && mcopy -i " + card + " " +
                         photo + " ::/ && mkfs.fat -F 16 " + card + ") >/dev/null 2>&1"),
              0);
    const std::string photoSha = testkit::FileSha256(dir / "photo.jpg");
    const std::string before = testkit::FileSha256(dir / "card.img");
    // The second scan starts afresh rather than showing the first one's names again.
    answer_ = [this](int, const QString& text) { return text == Message("MSG2110") ? 0 : 1; };

    for (const bool numbers : {true, false}) {
        SCOPED_TRACE(numbers ? "ticked" : "not ticked");
        window_->ShowPage(CMainWnd::kHomePage);
        Click("BtnStart");
        ASSERT_TRUE(window_->OpenImageFile(dir / "card.img"));
        window_->ShowPage(CMainWnd::kFileTypePage);
        auto* tick = window_->Find<skin::CheckBox>(QStringLiteral("OptCarvedNumbers"));
        ASSERT_NE(tick, nullptr);
        if (tick->IsSelected() != numbers) Click(tick);
        ASSERT_EQ(tick->IsSelected(), numbers);
        EXPECT_EQ(UserSettings().CarvedNumbers(), numbers);
        // It shares the "Other files" box, yet that category's tick leaves it alone.
        Click("OptOtherFile");
        Click("OptOtherFile");
        EXPECT_EQ(tick->IsSelected(), numbers);
        EXPECT_TRUE(window_->Find<skin::CheckBox>(QStringLiteral("OptOtherFileItem"))->IsSelected());
        {
            CMainWnd another;
            ASSERT_TRUE(another.Create());
            EXPECT_EQ(another.Find<skin::CheckBox>(QStringLiteral("OptCarvedNumbers"))->IsSelected(), numbers)
                << "a new window shows the remembered tick";
        }
        ASSERT_TRUE(ScanToResults());

        std::vector<std::string> photos;
        for (const FoundItemRecord& r : window_->SearchResults()) {
            if (r.Engine() != EngineCode::kRawSignature || LowerExtension(r.Name()) != "jpg") continue;
            TempDir out;
            IFileRecoveryParse* engine = nullptr;
            for (ScanTarget* target : window_->Targets())
                if (target->engine) engine = target->engine.get();
            ASSERT_NE(engine, nullptr);
            ASSERT_EQ(engine->RecoverItem(r, out / "copy", 0), 0);
            if (testkit::FileSha256(out / "copy") == photoSha)
                photos.push_back(r.Name() + " " + std::to_string(uint64_t{r.location}));
        }
        ASSERT_EQ(photos.size(), 1u) << "the photo is carved once, byte-exact";
        const std::string location = photos[0].substr(photos[0].rfind(' ') + 1);
        EXPECT_EQ(photos[0],
                  (numbers ? location + ".jpg" : std::string("2024-05-01 09.15.30.jpg")) + " " + location);
    }
    EXPECT_EQ(testkit::FileSha256(dir / "card.img"), before) << "the card is never written";
}

// A photo with a sector the card no longer gives back is recovered all the
// same, zeros in that sector, and its row says it is damaged and how much.
TEST_F(WorkflowTest, AFileWithAnUnreadableSectorIsListedAsRecoveredButDamaged) {
    TempDir dir;
    std::string jpeg = std::string("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00", 11);
    for (int i = 0; jpeg.size() < 6000; ++i) jpeg.push_back(static_cast<char>('a' + i % 26));
    jpeg += "\xFF\xD9";
    const auto image = DeletedFilesImage(dir, {{"lake.jpg", jpeg}});
    if (image.empty()) GTEST_SKIP() << "mkfs.fat or mtools missing";
    Click("BtnDeletedRecovery");
    ASSERT_TRUE(window_->OpenImageFile(image));
    ASSERT_TRUE(ScanToResults());
    ASSERT_EQ(window_->SearchResults().size(), 1u);
    const FoundItemRecord& photo = window_->SearchResults().front();
    // The photo's second sector fails from now on.
    const uint64_t bad = photo.dataStart + (uint64_t{photo.key} - 2) * photo.clusterBytes / 512 + 1;
    FaultPlan::Instance().Add(image, bad, bad, FaultKind::kError);
    CheckEverything();
    TempDir out;
    RecoveryOutcome outcome = Recover(out.Path());
    FaultPlan::Instance().Clear();
    ASSERT_TRUE(outcome.seen);
    ASSERT_EQ(outcome.statuses.size(), 1);
    EXPECT_EQ(outcome.statuses[0], Message("MSG1228")
                                       .replace(QStringLiteral("%s"), Message("MSG1104"))
                                       .replace(QStringLiteral("%d"), QStringLiteral("1")));
    EXPECT_EQ(outcome.colours[0], QColor(0xFFC05800)) << "a copy that may not open stands out";
    std::string expected = jpeg;
    std::fill_n(expected.begin() + 512, 512, '\0');
    std::vector<uint8_t> got;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(out.Path()))
        if (entry.is_regular_file()) got = testkit::ReadFile(entry.path());
    EXPECT_EQ(std::string(got.begin(), got.end()), expected) << "kept whole, zeros where the card failed";
}

// A camera card whose deleted photos kept only their short names: either
// scan lists IMG_0412.JPG, and its row says the first letter is a guess.
TEST_F(WorkflowTest, AGuessedFirstLetterIsShownAsGuessedAfterEitherScan) {
    for (const char* tool : {"mkfs.fat", "mcopy", "mmd", "mdel"})
        if (!testkit::HaveProgram(tool)) GTEST_SKIP() << tool << " missing";
    TempDir dir;
    std::string jpeg =
        std::string("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00", 11) + std::string(3000, 'p') + "\xFF\xD9";
    testkit::WriteFile(dir / "photo.jpg", std::vector<uint8_t>(jpeg.begin(), jpeg.end()));
    const std::string card = ShellQuote((dir / "card.img").string());
    const std::string photo = ShellQuote((dir / "photo.jpg").string());
    // Upper-case 8.3 names need no long name, so mtools writes none.
    ASSERT_EQ(
        RunCommand("(mkfs.fat -C -F 16 " + card + " 16384 && mmd -i " + card + " ::DCIM ::DCIM/100CANON" +
                   " && mcopy -i " + card + " " + photo + " ::DCIM/100CANON/IMG_0412.JPG && mcopy -i " +
                   card + " " + photo + " ::DCIM/100CANON/IMG_0414.JPG && mdel -i " + card +
                   " ::DCIM/100CANON/IMG_0412.JPG) >/dev/null 2>&1"),
        0);
    for (const bool deep : {false, true}) {
        SCOPED_TRACE(deep ? "deep scan" : "quick scan");
        window_->ShowPage(CMainWnd::kHomePage);
        Click(deep ? "BtnStart" : "BtnDeletedRecovery");
        ASSERT_TRUE(window_->OpenImageFile(dir / "card.img"));
        ASSERT_TRUE(ScanToResults());
        // Short names are shown in either case; the letters are what count.
        const QString name = QStringLiteral("IMG_0412.JPG");
        size_t guessed = 0;
        for (const FoundItemRecord& r : window_->SearchResults())
            if (QString::fromStdString(r.Name()).compare(name, Qt::CaseInsensitive) == 0)
                guessed += r.NameGuessed();
        EXPECT_EQ(guessed, 1u) << "listed once, marked guessed";
        window_->ShowFilesOf(window_->Find<skin::TreeNode>(QStringLiteral("NodePhoto")));
        auto* list = window_->Find<skin::List>(QStringLiteral("FileList"));
        QStringList names;
        bool shown = false;
        for (int i = 0; list && i < list->GetCount(); ++i) {
            names << dynamic_cast<skin::ListTextElement*>(list->GetItemAt(i))->GetText(1);
            shown = shown || names.back().compare(name + u' ' + Message("MSG1227"), Qt::CaseInsensitive) == 0;
        }
        EXPECT_TRUE(shown) << names.join(u'|').toStdString();
    }
}

}  // namespace
}  // namespace sorvane::app

// ---- Finding files among many: folders, the search box, the filters ----

namespace sorvane::app {
namespace {

// A camera card with folders, made by mkfs.fat and mtools: photos in
// DCIM/100CANON and its THUMBS folder, letters in DOCS, a TRIP folder deleted
// whole, and OLD.PDF at the root, overwritten (damaged). Every file is
// deleted, OLD.PDF first, so that LATER.PDF, written after the deletions, takes
// its first cluster: its copy would be another file's bytes. LATER.PDF goes
// into DCIM, whose folder holds no deleted entry it could take the place of. `folders` gets each folder's
// files: "DCIM/100CANON/" -> sha256s of everything below it. Empty when a tool is missing.
std::filesystem::path FolderCard(const TempDir& dir,
                                 std::map<std::string, std::multiset<std::string>>& folders) {
    for (const char* tool : {"convert", "mkfs.fat", "mcopy", "mdeltree"})
        if (!testkit::HaveProgram(tool)) return {};
    struct Made {
        const char* path;  // on the card
        const char* make;  // ImageMagick arguments, or null for text
        size_t textBytes;
    };
    const Made made[] = {
        {"OLD.PDF", nullptr, 20000},
        {"DCIM/100CANON/img_0412.jpg", "-size 240x180 plasma:fractal", 0},
        {"DCIM/100CANON/img_0413.jpg", "-size 240x180 plasma:fractal", 0},
        {"DCIM/100CANON/THUMBS/t_0412.jpg", "-size 24x18 gradient:red-blue", 0},
        {"DOCS/letter.txt", nullptr, 14000},
        {"DOCS/notes.txt", nullptr, 900},
        {"TRIP/beach.jpg", "-size 200x150 plasma:fractal", 0},
        {"TRIP/sea.jpg", "-size 200x150 plasma:fractal", 0},
    };
    const auto image = dir / "folders.img";
    const std::string img = ShellQuote(image.string());
    std::string script = "truncate -s 16M " + img + " && mkfs.fat -F 16 " + img + " >/dev/null";
    for (const char* folder : {"DCIM", "DCIM/100CANON", "DCIM/100CANON/THUMBS", "DOCS", "TRIP"})
        script += " && mmd -i " + img + " ::" + folder;
    int n = 0;
    for (const Made& m : made) {
        const auto source = dir / ("src" + std::to_string(n++) + (m.make ? ".jpg" : ".txt"));
        if (m.make) {
            if (RunCommand("convert " + std::string(m.make) + " " + ShellQuote(source.string()) +
                           " 2>/dev/null") != 0)
                return {};
        } else {
            std::string text = std::string(m.path) == "OLD.PDF" ? "%PDF-1.4\n" : "";
            for (int i = 0; text.size() < m.textBytes; ++i)
                text += "line " + std::to_string(i) + " of the letter\n";
            text.resize(m.textBytes);
            testkit::WriteFile(source, std::vector<uint8_t>(text.begin(), text.end()));
        }
        const std::string sha = testkit::FileSha256(source);
        const std::string path = m.path;
        for (size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1))
            folders[path.substr(0, slash + 1)].insert(sha);
        script += " && mcopy -i " + img + " " + ShellQuote(source.string()) + " ::" + path;
    }
    for (const Made& m : made)
        if (std::string(m.path).rfind("TRIP/", 0) != 0) script += " && mdel -i " + img + " ::" + m.path;
    const auto later = dir / "later.pdf";
    const std::string laterText = "%PDF-1.4\n" + std::string(6000, 'b');
    testkit::WriteFile(later, std::vector<uint8_t>(laterText.begin(), laterText.end()));
    script += " && mcopy -i " + img + " " + ShellQuote(later.string()) + " ::DCIM/LATER.PDF";
    script += " && mdeltree -i " + img + " ::TRIP";
    if (RunCommand("(" + script + ") >/dev/null 2>&1") != 0) return {};
    return image;
}

size_t CliFileCount(const std::filesystem::path& data, const std::filesystem::path& image,
                    const std::string& options) {
    size_t count = 0;
    for (const auto& [category, entries] : CliFoundSet(data, image, false, options)) count += entries.size();
    return count;
}

TEST_F(WorkflowTest, ByFolderSearchAndFiltersFindFilesAsTheCommandLineDoes) {
    TempDir dir;
    std::map<std::string, std::multiset<std::string>> folders;
    const auto image = FolderCard(dir, folders);
    if (image.empty()) GTEST_SKIP() << "ImageMagick, mkfs.fat or mtools missing";
    const std::string before = testkit::FileSha256(image);
    Click("BtnDeletedRecovery");
    ASSERT_TRUE(window_->OpenImageFile(image));
    ASSERT_TRUE(ScanToResults());
    const size_t all = window_->SearchResults().size();
    std::string listed;
    for (const FoundItemRecord& r : window_->SearchResults()) listed += r.Name() + " ";
    ASSERT_EQ(all, 8u) << "every deleted file of the card: " << listed;

    // "By folder": the card's folders, the deleted trip folder among them.
    // The engine gives FAT's upper-case short names in lower case.
    Click("ViewByFolder");
    ASSERT_TRUE(window_->ResultsByFolder());
    auto node = [this](const QString& key) -> skin::TreeNode* {
        auto* tree = window_->Find<CFileTreeUI>(QStringLiteral("TypeTree"));
        for (int i = 0; i < tree->GetCount(); ++i) {
            auto* n = dynamic_cast<skin::TreeNode*>(tree->GetItemAt(i));
            if (n && n->IsShownByUser() && n->UserData().compare(key, Qt::CaseInsensitive) == 0) return n;
        }
        return nullptr;
    };
    skin::TreeNode* canon = node(QStringLiteral("folder:DCIM/100CANON/"));
    ASSERT_NE(canon, nullptr);
    EXPECT_TRUE(canon->Text().startsWith(QStringLiteral("100CANON (3)"), Qt::CaseInsensitive))
        << canon->Text().toStdString();
    ASSERT_NE(node(QStringLiteral("folder:DCIM/100CANON/THUMBS/")), nullptr);
    ASSERT_NE(node(QStringLiteral("folder:DOCS/")), nullptr);
    bool trip = false;
    auto* tree = window_->Find<CFileTreeUI>(QStringLiteral("TypeTree"));
    for (int i = 0; i < tree->GetCount(); ++i) {
        auto* node = dynamic_cast<skin::TreeNode*>(tree->GetItemAt(i));
        if (node && node->IsShownByUser() &&
            node->UserData().endsWith(QStringLiteral("rip/"), Qt::CaseInsensitive)) {
            trip = true;
            EXPECT_EQ(window_->FilesBelow(node), 2u) << "the deleted folder keeps its two photos";
        }
    }
    EXPECT_TRUE(trip) << "a folder deleted whole is listed with its files";

    // Ticking a folder ticks everything below it, and recovering gives exactly those files.
    tree->CheckNode(canon, true, true);
    EXPECT_EQ(window_->CheckedFiles().size(), 3u);
    EXPECT_TRUE(node(QStringLiteral("folder:DCIM/100CANON/THUMBS/"))->IsChecked());
    EXPECT_TRUE(node(QStringLiteral("folder:DCIM/"))->IsChecked());
    EXPECT_FALSE(node(QStringLiteral("folder:DOCS/"))->IsChecked());
    TempDir out;
    RecoveryOutcome outcome = Recover(out.Path());
    ASSERT_TRUE(outcome.seen);
    std::multiset<std::string> recovered;
    for (const auto& [path, sha] : testkit::FileShasBelow(out.Path())) recovered.insert(sha);
    EXPECT_EQ(recovered, folders["DCIM/100CANON/"]);

    // The search box narrows the list to a typed name, over the whole node.
    window_->ShowFilesOf(node(QStringLiteral("folder:")));
    EXPECT_EQ(window_->ListedFiles().size(), all) << "the deleted folder keeps its place among the others";
    auto* search = window_->Find<CEditUI>(QStringLiteral("SearchEdit"));
    ASSERT_NE(search, nullptr);
    QTest::keyClicks(search->Field(), QStringLiteral("0412"));
    ASSERT_EQ(window_->ListedFiles().size(), 2u);
    for (const FoundItemRecord* r : window_->ListedFiles())
        EXPECT_NE(r->Name().find("0412"), std::string::npos);
    search->SetText(QStringLiteral("*.TXT"));
    EXPECT_EQ(window_->ListedFiles().size(), 2u) << "wildcards, ignoring case";
    search->SetText(QString());
    EXPECT_EQ(window_->ListedFiles().size(), all);

    // The size and condition filters keep what the command line's options keep on the same scan.
    const size_t cliAll = CliFileCount(data_ / "cli", image, "");
    EXPECT_EQ(cliAll, all);
    auto* minSize = window_->Find<CEditUI>(QStringLiteral("FilterMinSize"));
    ASSERT_NE(minSize, nullptr);
    minSize->SetText(QStringLiteral("10 KB"));
    const size_t big = window_->ShownFiles().size();
    EXPECT_LT(big, all);
    EXPECT_EQ(big, CliFileCount(data_ / "cli", image, "--min-size 10KB"));
    auto* hide = window_->Find<skin::CheckBox>(QStringLiteral("FilterHideDamaged"));
    ASSERT_NE(hide, nullptr);
    hide->Selected(true);
    const size_t bigWhole = window_->ShownFiles().size();
    EXPECT_EQ(bigWhole, big - 1) << "OLD.PDF holds LATER.PDF's bytes";
    EXPECT_EQ(bigWhole, CliFileCount(data_ / "cli", image, "--min-size 10KB --hide-damaged"));
    minSize->SetText(QString());
    EXPECT_EQ(window_->ShownFiles().size(), CliFileCount(data_ / "cli", image, "--hide-damaged"));
    EXPECT_EQ(window_->ShownFiles().size(), all - 1);
    // The counts in the tree follow the filters, in both views.
    EXPECT_TRUE(node(QStringLiteral("folder:"))->Text().endsWith(QStringLiteral("(7)")))
        << node(QStringLiteral("folder:"))->Text().toStdString();
    Click("ViewByType");
    auto* photos = window_->Find<skin::TreeNode>(QStringLiteral("NodePhoto"));
    EXPECT_TRUE(photos->Text().endsWith(QStringLiteral("(5)"))) << photos->Text().toStdString();
    minSize->SetText(QStringLiteral("12 XB"));
    EXPECT_EQ(window_->ShownFiles().size(), all - 1) << "a size that does not read is left out, not guessed";
    EXPECT_EQ(testkit::FileSha256(image), before);
}

}  // namespace
}  // namespace sorvane::app
