// The program's own controls and the framework behaviour the windows rely on:
// tree rows in lists, tri-state check boxes, hot notifications, inline
// markup, picture strings, pop-up hit testing and the message box.
#include <gtest/gtest.h>

#include <QEnterEvent>
#include <QPainter>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>

#include "app/button_ex.h"
#include "app/control_factory.h"
#include "app/file_tree.h"
#include "app/gui_test_support.h"
#include "app/list_ex.h"
#include "app/message_box.h"
#include "app/pagination.h"
#include "app/skin_framework/markup.h"
#include "app/skin_framework/skin_package.h"

namespace sorvane::app {
namespace {

// A window that records the notifications of its controls.
class RecordingWindow : public skin::Window {
  public:
    void Notify(skin::Notification& n) override {
        seen.push_back({n.type, n.sender ? n.sender->Name() : QString()});
    }
    skin::Control* CreateControl(const QString& tag) override { return CreateCustomControl(tag); }
    bool Saw(const QString& type, const QString& sender = {}) const {
        for (const auto& [t, s] : seen) {
            if (t == type && (sender.isEmpty() || s == sender)) return true;
        }
        return false;
    }
    std::vector<std::pair<QString, QString>> seen;
};

// The application must exist before the first widget member is built.
struct ApplicationFirst {
    ApplicationFirst() { testing::Application(); }
};

class ControlsTest : public ::testing::Test {
  protected:
    ApplicationFirst application_;
    void SetUp() override {
        testing::Application();
        testing::UseShippedTexts();
    }
    // Puts `control` alone into a shown window of the given size.
    template <typename T>
    T* Host(T* control, QSize size = QSize(400, 300)) {
        auto* root = new skin::VerticalLayout;
        window_.SetRoot(root);
        root->Add(control);
        window_.resize(size);
        window_.show();
        QApplication::processEvents();
        return control;
    }
    RecordingWindow window_;
};

CListImageTextNodeUI* DiskRow(const QString& text) {
    auto* row = new CListImageTextNodeUI;
    row->SetFixedHeight(30);
    row->SetText(0, text);
    return row;
}

TEST_F(ControlsTest, PartitionRowsFollowTheirDiskRow) {
    auto* list = Host(new CDiskListUI);
    CListExUI::Node* disk = list->AddNode(nullptr, DiskRow(QStringLiteral("Disk 1")));
    CListExUI::Node* first = list->AddNode(disk, DiskRow(QStringLiteral("1:\\ CARD")));
    list->SetChildVisible(disk, false);
    // Added under a collapsed disk row: hidden; expanding shows both partitions.
    CListExUI::Node* second = list->AddNode(disk, DiskRow(QStringLiteral("2:\\ BACKUP")));
    EXPECT_TRUE(first->row->isHidden());
    EXPECT_TRUE(second->row->isHidden());
    list->SetChildVisible(disk, true);
    EXPECT_FALSE(first->row->isHidden());
    EXPECT_FALSE(second->row->isHidden());
    // Disk rows keep their own text when expanded or collapsed.
    EXPECT_EQ(static_cast<CListImageTextNodeUI*>(disk->row)->GetText(0), QStringLiteral("Disk 1"));

    // A second disk's partitions go after its own row, not after the first disk's.
    CListExUI::Node* disk2 = list->AddNode(nullptr, DiskRow(QStringLiteral("Disk 2")));
    list->AddNode(disk2, DiskRow(QStringLiteral("1:\\ STICK")));
    CListExUI::Node* third = list->AddNode(disk, DiskRow(QStringLiteral("3:\\ MORE")));
    EXPECT_EQ(list->GetItemIndex(third->row), 3);
    EXPECT_EQ(list->GetCount(), 6);
    EXPECT_EQ(disk->level, 0);
    EXPECT_EQ(third->level, 1);

    // Removing a disk row takes its partition rows with it, also through the list's own removal.
    EXPECT_TRUE(list->RemoveNode(disk));
    EXPECT_EQ(list->GetCount(), 2);
    EXPECT_EQ(static_cast<CListImageTextNodeUI*>(list->GetItemAt(0))->GetText(0), QStringLiteral("Disk 2"));
    EXPECT_TRUE(list->RemoveAt(0));
    EXPECT_EQ(list->GetCount(), 0);
    EXPECT_TRUE(list->Root()->children.isEmpty());
    EXPECT_FALSE(list->RemoveNode(list->Root()));
}

TEST_F(ControlsTest, ListExRowsCarryIndentAndExpanderMarkup) {
    auto* list = Host(new CListExUI);
    CListExUI::Node* top = list->AddNode(QStringLiteral("Disk"));
    CListExUI::Node* child = list->AddNode(QStringLiteral("Part"), top);
    CListExUI::Node* grandchild = list->AddNode(QStringLiteral("Deep"), child);
    CListExUI::Node* level3 = list->AddNode(QStringLiteral("Deeper"), grandchild);
    EXPECT_EQ(top->row->Text(), QStringLiteral("<x 6><a><i expand_flag.png 2 1></a>Disk"));
    EXPECT_EQ(child->row->Text(), QStringLiteral("<x 6><x 18><a><i expand_flag.png 2 0></a>Part"));
    EXPECT_EQ(level3->row->Text(), QStringLiteral("<x 6><x 18><x 18><x 18>Deeper"));
    list->SetChildVisible(top, false);
    EXPECT_EQ(top->row->Text(), QStringLiteral("<x 6><a><i expand_flag.png 2 0></a>Disk"));
    EXPECT_TRUE(child->row->isHidden());
    EXPECT_TRUE(level3->row->isHidden());
    // Expanding the top shows the child; the grandchild follows its own (expanded) parent.
    list->SetChildVisible(top, true);
    EXPECT_FALSE(grandchild->row->isHidden());
    // A click on the expander picture collapses the row.
    list->Relayout();
    QApplication::processEvents();
    QTest::mouseClick(top->row, Qt::LeftButton, {},
                      QPoint(list->itemTextPadding.left() + 6 + 4, top->row->height() / 2));
    EXPECT_FALSE(top->expanded);
    EXPECT_TRUE(child->row->isHidden());
}

TEST_F(ControlsTest, WheelScrollsTheListSmoothlyAndStops) {
    auto* list = Host(new CListExUI, QSize(300, 200));
    for (int i = 0; i < 60; ++i) list->AddNode(QStringLiteral("Row %1").arg(i));
    list->Relayout();
    ASSERT_GT(list->ScrollRange(), 0);
    QWheelEvent wheel(QPointF(50, 50), list->mapToGlobal(QPointF(50, 50)), QPoint(), QPoint(0, -120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(list, &wheel);
    EXPECT_EQ(list->ScrollPos(), 0);  // the move is animated, not a jump
    // Watch the glide until the list has stood still for a while (timers may run late on a busy machine).
    QList<int> positions{0};
    int still = 0;
    for (int i = 0; i < 100 && still < 6; ++i) {
        QTest::qWait(50);
        if (list->ScrollPos() == positions.back()) {
            ++still;
        } else {
            still = 0;
            positions.push_back(list->ScrollPos());
        }
    }
    EXPECT_GE(positions.size(), 3);  // several steps, not one jump
    EXPECT_GT(list->ScrollPos(), 0);
    for (int i = 1; i < positions.size(); ++i) EXPECT_GT(positions[i], positions[i - 1]);
    EXPECT_LT(list->ScrollPos(), list->ScrollRange() + 1);
}

class FileTreeTest : public ControlsTest {
  protected:
    void SetUp() override {
        ControlsTest::SetUp();
        ASSERT_TRUE(window_.LoadLayout(QStringLiteral("xml/skin.xml")))
            << window_.LayoutError().toStdString();
        window_.show();
        tree_ = window_.Find<CFileTreeUI>(QStringLiteral("TypeTree"));
        ASSERT_NE(tree_, nullptr);
        // Make the results page the visible one, so the tree has a size.
        window_.Find<skin::TabLayout>(QStringLiteral("TabPage"))->SelectItem(3);
        photo_ = window_.Find<skin::TreeNode>(QStringLiteral("NodePhoto"));
        photo_->setVisible(true);
        jpg_ = AddChild(QStringLiteral("JPG (3)"));
        png_ = AddChild(QStringLiteral("PNG (1)"));
        QApplication::processEvents();
    }
    skin::TreeNode* AddChild(const QString& text) {
        auto* node = new skin::TreeNode;
        for (const auto& [k, v] : *window_.Style(QStringLiteral("filetype"))) node->SetAttribute(k, v);
        node->SetText(text);
        EXPECT_TRUE(photo_->AddChildNode(node));
        return node;
    }
    void ClickCheck(skin::TreeNode* node) {
        QTest::mouseClick(node, Qt::LeftButton, {}, node->CheckRect().center());
    }

    CFileTreeUI* tree_ = nullptr;
    skin::TreeNode* photo_ = nullptr;
    skin::TreeNode* jpg_ = nullptr;
    skin::TreeNode* png_ = nullptr;
};

TEST_F(FileTreeTest, CheckingChildrenMakesTheParentHalfThenFullySelected) {
    ClickCheck(jpg_);
    EXPECT_TRUE(jpg_->IsChecked());
    EXPECT_TRUE(photo_->IsHalfChecked());
    EXPECT_FALSE(photo_->IsChecked());
    EXPECT_TRUE(window_.Saw(QStringLiteral("checkboxselectchanged")));
    ClickCheck(png_);
    EXPECT_TRUE(photo_->IsChecked());
    EXPECT_FALSE(photo_->IsHalfChecked());
    // Unchecking the parent passes down to both children.
    ClickCheck(photo_);
    EXPECT_FALSE(photo_->IsChecked());
    EXPECT_FALSE(jpg_->IsChecked());
    EXPECT_FALSE(png_->IsChecked());
    // A half-selected parent becomes selected when clicked, and so do its children.
    ClickCheck(png_);
    ASSERT_TRUE(photo_->IsHalfChecked());
    ClickCheck(photo_);
    EXPECT_TRUE(photo_->IsChecked());
    EXPECT_TRUE(jpg_->IsChecked());
}

TEST_F(FileTreeTest, RemovingANodeRemovesItsChildren) {
    const int before = tree_->GetCount();
    EXPECT_TRUE(photo_->RemoveChildNode(png_));
    EXPECT_EQ(tree_->GetCount(), before - 1);
    EXPECT_EQ(photo_->ChildNodes().size(), 1);
    EXPECT_TRUE(tree_->RemoveAt(tree_->GetItemIndex(photo_)));
    EXPECT_EQ(tree_->GetCount(), before - 3);
    EXPECT_EQ(window_.FindControl(QStringLiteral("NodePhoto")), nullptr);
    EXPECT_NE(window_.FindControl(QStringLiteral("NodeAudio")), nullptr);
}

TEST_F(FileTreeTest, DoubleClickTogglesANodeAndFolderClickToo) {
    ASSERT_TRUE(photo_->IsExpanded());
    QTest::mouseDClick(photo_, Qt::LeftButton, {}, QPoint(photo_->width() - 20, photo_->height() / 2));
    EXPECT_FALSE(photo_->IsExpanded());
    EXPECT_TRUE(jpg_->isHidden());
    EXPECT_TRUE(window_.Saw(QStringLiteral("itemdbclick")));
    EXPECT_TRUE(window_.Saw(QStringLiteral("itemexpand")));
    QTest::mouseDClick(photo_, Qt::LeftButton, {}, QPoint(photo_->width() - 20, photo_->height() / 2));
    EXPECT_TRUE(photo_->IsExpanded());
    EXPECT_FALSE(jpg_->isHidden());
    QTest::mouseClick(photo_, Qt::LeftButton, {}, photo_->FolderRect().center());
    EXPECT_FALSE(photo_->IsExpanded());
    // A hidden category node keeps its children hidden even when expanded.
    QTest::mouseClick(photo_, Qt::LeftButton, {}, photo_->FolderRect().center());
    photo_->setVisible(false);
    EXPECT_TRUE(jpg_->isHidden());
    photo_->setVisible(true);
    EXPECT_FALSE(jpg_->isHidden());
    // A click on the text selects the node.
    window_.seen.clear();
    QTest::mouseClick(jpg_, Qt::LeftButton, {}, QPoint(jpg_->width() - 10, jpg_->height() / 2));
    EXPECT_TRUE(window_.Saw(QStringLiteral("itemselect"), QStringLiteral("TypeTree")));
    EXPECT_TRUE(jpg_->IsSelected());
}

TEST_F(ControlsTest, ButtonExReportsHotAndCold) {
    auto* button = Host(new CButtonExUI);
    button->SetName(QStringLiteral("BtnDeepRecovery"));
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QApplication::sendEvent(button, &enter);
    EXPECT_TRUE(button->IsHot());
    EXPECT_TRUE(window_.Saw(QStringLiteral("onhot"), QStringLiteral("BtnDeepRecovery")));
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(button, &leave);
    EXPECT_FALSE(button->IsHot());
    EXPECT_TRUE(window_.Saw(QStringLiteral("offhot"), QStringLiteral("BtnDeepRecovery")));
    // A disabled button stays quiet.
    window_.seen.clear();
    button->SetEnabled(false);
    QApplication::sendEvent(button, &enter);
    EXPECT_TRUE(window_.seen.empty());
    EXPECT_EQ(button->ClassName(), QStringLiteral("ButtonEx"));
    EXPECT_TRUE(button->HasInterface(QStringLiteral("Label")));
}

TEST_F(ControlsTest, ListSendsItsNotifications) {
    auto* list = Host(new skin::List);
    list->SetName(QStringLiteral("FileList"));
    auto* row = new skin::ListTextElement;
    row->SetCheckPictures(QStringLiteral("file='checkbox.png' source='0,22,12,34' dest='2,0,14,12'"),
                          QStringLiteral("file='checkbox.png' source='48,22,60,34' dest='2,0,14,12'"));
    row->SetText(0, QStringLiteral("a.jpg"));
    list->Add(row);
    QApplication::processEvents();
    QTest::mouseClick(row, Qt::LeftButton, {}, QPoint(100, row->height() / 2));
    EXPECT_TRUE(window_.Saw(QStringLiteral("itemselect"), QStringLiteral("FileList")));
    EXPECT_EQ(list->GetCurSel(), 0);
    QTest::mouseDClick(row, Qt::LeftButton, {}, QPoint(100, row->height() / 2));
    EXPECT_TRUE(window_.Saw(QStringLiteral("list_item_dbclick"), QStringLiteral("FileList")));
    QTest::mouseClick(row, Qt::LeftButton, {}, QPoint(8, row->height() / 2));
    EXPECT_TRUE(row->IsChecked());
    EXPECT_TRUE(window_.Saw(QStringLiteral("list_check_click"), QStringLiteral("FileList")));
}

// Only the rows in view are placed in the list's body; the others wait out
// of sight, so that a list of 100,000 rows stays quick to grow and to scroll.
TEST_F(ControlsTest, ListPlacesOnlyTheRowsInViewAndFollowsTheScroll) {
    auto* list = Host(new skin::List, QSize(300, 200));
    QList<skin::ListElement*> rows;
    {
        const skin::List::Batch batch(*list);
        for (int i = 0; i < 1000; ++i) {
            auto* row = new skin::ListTextElement;
            row->SetText(0, QString::number(i));
            rows.push_back(row);
            list->Add(row);
        }
        EXPECT_EQ(list->ScrollRange(), 0) << "laid out only when the batch ends";
    }
    ASSERT_EQ(list->GetCount(), 1000);
    EXPECT_EQ(list->ScrollRange(), 1000 * list->itemHeight - 200);
    const auto inView = [&] {
        QList<int> shown;
        for (int i = 0; i < rows.size(); ++i) {
            const QRect box = rows[i]->geometry();
            if (box.bottom() >= 0 && box.top() < 200) shown.push_back(i);
        }
        return shown;
    };
    QList<int> shown = inView();
    ASSERT_FALSE(shown.isEmpty());
    EXPECT_EQ(shown.front(), 0);
    EXPECT_EQ(shown.back(), 200 / list->itemHeight);
    list->SetScrollPos(500 * list->itemHeight);
    shown = inView();
    ASSERT_FALSE(shown.isEmpty());
    EXPECT_EQ(shown.front(), 500) << "the rows of the start left the view";
    EXPECT_EQ(rows[500]->geometry().top(), 0);
    // A row put on top moves the others down by one row.
    auto* top = new skin::ListTextElement;
    list->AddAt(top, 0);
    EXPECT_EQ(rows[499]->geometry().top(), 0);
    EXPECT_LT(top->geometry().bottom(), 0) << "out of sight above the view";
    // Removing every row leaves nothing in view.
    list->RemoveAll();
    EXPECT_EQ(list->ScrollPos(), 0);
    EXPECT_EQ(list->ScrollRange(), 0);
}

TEST_F(ControlsTest, HeaderClicksAndOptionsNotify) {
    ASSERT_TRUE(window_.LoadLayout(QStringLiteral("xml/skin.xml")));
    window_.show();
    window_.Find<skin::TabLayout>(QStringLiteral("TabPage"))->SelectItem(3);
    QApplication::processEvents();
    auto* header = window_.FindControl(QStringLiteral("Size"));
    QTest::mouseClick(header, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_TRUE(window_.Saw(QStringLiteral("headerclick"), QStringLiteral("Size")));
    auto* photo = window_.Find<skin::CheckBox>(QStringLiteral("ChkPhoto"));
    ASSERT_TRUE(photo->IsSelected());
    photo->Selected(false);
    EXPECT_TRUE(window_.Saw(QStringLiteral("selectchanged"), QStringLiteral("ChkPhoto")));
    // Options of one group exclude each other.
    auto* scan = window_.Find<skin::Option>(QStringLiteral("TabScan"));
    auto* results = window_.Find<skin::Option>(QStringLiteral("TabRecover"));
    results->Selected(true);
    EXPECT_FALSE(scan->IsSelected());
}

TEST(Markup, LaysOutFontsSpacesPicturesColoursAndLinks) {
    testing::Application();
    skin::MarkupStyle style;
    QFont base(QStringLiteral("DejaVu Sans"));
    base.setPixelSize(12);
    style.baseFont = base;
    style.font = [base](int index) {
        QFont f = base;
        f.setPixelSize(10 + index);
        return f;
    };
    style.picture = [](const QString& name) { return skin::SkinPackage::Instance().Picture(name); };
    const QRect box(0, 0, 400, 30);
    // <x 6> then an expander of two 16-pixel frames as a link, then text.
    const skin::MarkupResult tree = skin::DrawMarkup(
        nullptr, box, QStringLiteral("<x 6><x 18><a><i expand_flag.png 2 1></a>Disk"), style);
    ASSERT_EQ(tree.links.size(), 1);
    EXPECT_EQ(tree.links[0].left(), 24);
    EXPECT_EQ(tree.links[0].width(), 16);
    EXPECT_EQ(tree.width, 24 + 16 + QFontMetrics(base).horizontalAdvance(QStringLiteral("Disk")));
    const skin::MarkupResult disk = skin::DrawMarkup(
        nullptr, box,
        QStringLiteral("{f 5}{x 5}{i removable_drive.png 1 0}{x 2}Removable disk 1{/5}{c #FF316D1E}9{/c}"),
        style);
    QFont five = base;
    five.setPixelSize(15);
    EXPECT_EQ(disk.width, 5 + 24 + 2 +
                              QFontMetrics(five).horizontalAdvance(QStringLiteral("Removable disk 1")) +
                              QFontMetrics(base).horizontalAdvance(QStringLiteral("9")));
    EXPECT_EQ(skin::StripMarkup(QStringLiteral("{f 4}{x 2}1:\\ CARD{/f}<a>x</a> {unknown} <b>")),
              QStringLiteral("1:\\ CARD{/f}x {unknown} <b>").replace(QStringLiteral("{/f}"), QString()));
    // Drawing the same text paints pixels in the chosen colour.
    QImage image(200, 30, QImage::Format_ARGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    style.color = Qt::black;
    skin::DrawMarkup(&painter, QRect(0, 0, 200, 30), QStringLiteral("{c #FFFF0000}MMMM{/c}"), style);
    painter.end();
    bool red = false;
    for (int x = 0; x < 60 && !red; ++x) {
        for (int y = 0; y < 30 && !red; ++y)
            red = image.pixelColor(x, y).red() > 200 && image.pixelColor(x, y).green() < 80;
    }
    EXPECT_TRUE(red);
}

TEST(Picture, ParsesPictureStrings) {
    const skin::PictureSpec pic = skin::ParsePicture(
        QStringLiteral("file='checkbox.png' source='48,22,60,34' dest='2,0,14,12' corner='0,1,13,1'"));
    EXPECT_EQ(pic.file, QStringLiteral("checkbox.png"));
    EXPECT_EQ(pic.source, QRect(48, 22, 12, 12));
    EXPECT_EQ(pic.dest, QRect(2, 0, 12, 12));
    EXPECT_EQ(pic.corner, QMargins(0, 1, 13, 1));
    EXPECT_EQ(skin::ParsePicture(QStringLiteral("FileIcon/doc.png")).file,
              QStringLiteral("FileIcon/doc.png"));
    EXPECT_TRUE(skin::ParsePicture(QStringLiteral("file='a.png' source='5,5,1,1'")).source.isNull());
}

TEST_F(ControlsTest, PopUpDragsByItsCaptionButNotByItsButtons) {
    CMessageBox* box = CMessageBox::Open(CMessageBox::kQuestion, nullptr, QStringLiteral("Continue?"));
    ASSERT_NE(box, nullptr);
    QApplication::processEvents();
    EXPECT_EQ(box->size(), QSize(400, 160));
    EXPECT_EQ(box->HitTest(QPoint(60, 18)), skin::Window::HitArea::Caption);
    skin::Control* close = box->FindControl(QStringLiteral("closebtn"));
    ASSERT_NE(close, nullptr);
    EXPECT_EQ(box->HitTest(close->geometry().center() + close->parentWidget()->mapTo(box, QPoint(0, 0))),
              skin::Window::HitArea::Client);
    EXPECT_EQ(box->HitTest(QPoint(200, 100)), skin::Window::HitArea::Client);
    // Pop-ups other than the recovery window do not size by their borders.
    EXPECT_EQ(box->HitTest(QPoint(1, 80)), skin::Window::HitArea::Client);
    EXPECT_EQ(box->FindControl(QStringLiteral("title"))->Text(),
              LanguageService::Instance().Message(QStringLiteral("MSG0404")));
    EXPECT_EQ(box->FindControl(QStringLiteral("message"))->Text(), QStringLiteral("Continue?"));
    box->Destroy();
}

TEST_F(ControlsTest, MessageBoxAnswersOneForOkAndTwoForCancelAndClose) {
    for (const auto& [button, expected] :
         {std::pair{"okbtn", 1}, std::pair{"cancelbtn", 2}, std::pair{"closebtn", 2}}) {
        CMessageBox* box = CMessageBox::Open(CMessageBox::kConfirm, nullptr, QStringLiteral("Sure?"));
        ASSERT_NE(box, nullptr);
        QTimer::singleShot(50, box, [box, name = QString::fromLatin1(button)] {
            skin::Control* control = box->FindControl(name);
            QTest::mouseClick(control, Qt::LeftButton, {}, control->rect().center());
        });
        EXPECT_EQ(box->ShowModal(), expected) << button;
        box->Destroy();
    }
    EXPECT_EQ(CMessageBox::LayoutOf(7), QStringLiteral("MessageBox_Error.xml"));
    EXPECT_EQ(CMessageBox::TitleIdOf(7), QStringLiteral("MSG0401"));
    EXPECT_EQ(CMessageBox::TitleIdOf(3), QStringLiteral("MSG0405"));
    EXPECT_EQ(CMessageBox::TitleIdOf(4), QStringLiteral("MSG0404"));
}

TEST_F(ControlsTest, PaginationMovesBetweenPages) {
    auto* bar = Host(new CPaginationUI, QSize(500, 40));
    bar->SetPageCount(12);
    EXPECT_EQ(bar->CurrentPage(), 0);
    bar->OnPageButton(5);
    EXPECT_EQ(bar->CurrentPage(), 5);
    EXPECT_TRUE(window_.Saw(QStringLiteral("updatepage")));
    bar->SetCurrentPage(40);
    EXPECT_EQ(bar->CurrentPage(), 11);
    bar->SetPageCount(3);
    EXPECT_EQ(bar->CurrentPage(), 2);
}

}  // namespace
}  // namespace sorvane::app
