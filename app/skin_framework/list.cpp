#include "app/skin_framework/list.h"

#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>

#include "app/skin_framework/markup.h"
#include "app/skin_framework/skin_package.h"
#include "app/skin_framework/window.h"

namespace sorvane::skin {

// ---- ListHeaderItem

ListHeaderItem::ListHeaderItem(QWidget* parent) : Container(Direction::Stack, parent) {
    align_ = Qt::AlignLeft | Qt::AlignVCenter;
    textPadding_ = QMargins(6, 0, 4, 0);
}

void ListHeaderItem::SetAttribute(const QString& name, const QString& value) {
    if (name == u"sepimage")
        sepImage_ = value;
    else if (name == u"sepwidth")
        sepWidth_ = value.toInt();
    Container::SetAttribute(name, value);
}

void ListHeaderItem::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        SendNotify(QStringLiteral("headerclick"));
}

void ListHeaderItem::PaintStatusImage(QPainter& painter) {
    Control::PaintStatusImage(painter);
    if (!sepImage_.isEmpty() && sepWidth_ > 0) {
        DrawPicture(painter, QRect(width() - sepWidth_, 0, sepWidth_, height()), sepImage_,
                    SkinPackage::Instance());
    }
}

// ---- ListElement

ListElement::ListElement(QWidget* parent) : Control(parent) {}

int ListElement::Index() const { return owner_ ? owner_->GetItemIndex(this) : -1; }

int ListElement::RowHeight() const {
    if (fixedHeight_) return fixedHeight_;
    return owner_ ? owner_->itemHeight : 28;
}

void ListElement::SetSelected(bool selected) {
    selected_ = selected;
    update();
}

void ListElement::enterEvent(QEnterEvent*) {
    hot_ = true;
    update();
}

void ListElement::leaveEvent(QEvent*) {
    hot_ = false;
    update();
}

void ListElement::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return event->ignore();
    if (HandleClick(event->position().toPoint())) return;
    if (owner_) owner_->OnRowClicked(this);
}

void ListElement::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return event->ignore();
    if (owner_) owner_->OnRowDoubleClicked(this);
}

bool ListElement::HandleClick(const QPoint&) { return false; }

void ListElement::PaintBackground(QPainter& painter) {
    Control::PaintBackground(painter);
    if (!owner_) return;
    QColor color = owner_->itemBkColor;
    if (owner_->itemAltBkColor.isValid() && Index() % 2 == 1) color = owner_->itemAltBkColor;
    if (hot_ && owner_->itemHotBkColor.isValid()) color = owner_->itemHotBkColor;
    if (selected_ && owner_->itemSelectedBkColor.isValid()) color = owner_->itemSelectedBkColor;
    if (color.isValid()) painter.fillRect(rect(), color);
    if (owner_->itemLineColor.isValid()) {
        painter.setPen(owner_->itemLineColor);
        painter.drawLine(0, height() - 1, width(), height() - 1);
    }
}

// ---- ListLabelElement

namespace {

MarkupStyle RowStyle(const Control* row, const List* list, const QColor& color) {
    MarkupStyle style;
    Window* window = row->OwnerWindow();
    const QFont base = window ? window->Font(list ? list->itemFont : -1) : row->font();
    style.font = [window, base](int index) { return window ? window->Font(index) : base; };
    style.picture = [](const QString& name) { return SkinPackage::Instance().Picture(name); };
    style.baseFont = base;
    style.color = color;
    style.alignment = list ? list->itemAlign : (Qt::AlignLeft | Qt::AlignVCenter);
    style.endEllipsis = list ? list->itemEndEllipsis : true;
    return style;
}

QColor RowColor(const Control* row, const List* list) {
    if (row->TextColor().isValid()) return row->TextColor();
    return list ? list->itemTextColor : QColor(0x33, 0x3B, 0x45);
}

}  // namespace

void ListLabelElement::PaintText(QPainter& painter) {
    const QRect box = rect().marginsRemoved(owner_ ? owner_->itemTextPadding : QMargins());
    const MarkupStyle style = RowStyle(this, owner_, RowColor(this, owner_));
    if (owner_ && !owner_->itemShowHtml && !showHtml_) {
        painter.setFont(style.baseFont);
        painter.setPen(style.color);
        painter.drawText(box, static_cast<int>(style.alignment) | Qt::TextSingleLine,
                         QFontMetrics(style.baseFont).elidedText(text_, Qt::ElideRight, box.width()));
        return;
    }
    links_ = DrawMarkup(&painter, box, text_, style).links;
}

bool ListLabelElement::HandleClick(const QPoint& point) {
    if (links_.isEmpty()) {
        // The links are known once the row was drawn; measure without drawing otherwise.
        const QRect box = rect().marginsRemoved(owner_ ? owner_->itemTextPadding : QMargins());
        links_ = DrawMarkup(nullptr, box, text_, RowStyle(this, owner_, RowColor(this, owner_))).links;
    }
    for (int i = 0; i < links_.size(); ++i) {
        if (links_[i].contains(point)) {
            OnLinkClick(i);
            return true;
        }
    }
    return false;
}

void ListLabelElement::OnLinkClick(int link) {
    if (owner_) owner_->OnRowLinkClicked(this, link);
}

// ---- ListTextElement

void ListTextElement::SetText(int column, const QString& text) {
    if (column < 0) return;
    while (texts_.size() <= column) texts_.push_back(QString());
    texts_[column] = text;
    if (column == 0) text_ = text;
    update();
}

void ListTextElement::SetCheckPictures(const QString& unchecked, const QString& checked) {
    uncheckedPicture_ = unchecked;
    checkedPicture_ = checked;
    update();
}

void ListTextElement::SetChecked(bool checked) {
    checked_ = checked;
    update();
}

void ListTextElement::PaintColumn(QPainter& painter, int column, const QRect& box) {
    const QString& text = texts_.value(column);
    if (text.isEmpty()) return;
    const QRect inner = box.marginsRemoved(owner_ ? owner_->itemTextPadding : QMargins());
    MarkupStyle style = RowStyle(this, owner_, RowColor(this, owner_));
    if (owner_ && !owner_->itemShowHtml && !showHtml_) {
        painter.setFont(style.baseFont);
        painter.setPen(style.color);
        painter.drawText(inner, static_cast<int>(style.alignment) | Qt::TextSingleLine,
                         QFontMetrics(style.baseFont).elidedText(text, Qt::ElideRight, inner.width()));
        return;
    }
    if (columnLinks_.size() <= column) columnLinks_.resize(column + 1);
    columnLinks_[column] = DrawMarkup(&painter, inner, text, style).links;
}

void ListTextElement::PaintText(QPainter& painter) {
    const int columns = owner_ ? qMax(1, owner_->ColumnCount()) : 1;
    for (int c = 0; c < columns; ++c) {
        const QRect box = owner_ ? owner_->ColumnRect(c, height()) : rect();
        painter.save();
        painter.setClipRect(box);
        if (c == 0 && !uncheckedPicture_.isEmpty()) {
            // The check box sits in the middle of the row's height.
            const PictureSpec check = ParsePicture(checked_ ? checkedPicture_ : uncheckedPicture_);
            QRect area = box;
            if (!check.dest.isNull()) area.setTop(box.top() + (box.height() - check.dest.height()) / 2);
            DrawPicture(painter, area, check, SkinPackage::Instance());
        }
        PaintColumn(painter, c, box);
        painter.restore();
    }
}

bool ListTextElement::HandleClick(const QPoint& point) {
    if (!uncheckedPicture_.isEmpty() && owner_) {
        const QRect column = owner_->ColumnRect(0, height());
        PictureSpec pic = ParsePicture(uncheckedPicture_);
        // The check box answers on its picture and a small margin around it.
        QRect box = pic.dest.isNull() ? column : pic.dest.translated(column.topLeft());
        box.moveTop((height() - box.height()) / 2);
        if (box.adjusted(-4, -6, 4, 6).contains(point)) {
            SetChecked(!checked_);
            owner_->OnRowCheckClicked(this, checked_);
            return true;
        }
    }
    for (int c = 0; c < columnLinks_.size(); ++c) {
        for (int i = 0; i < columnLinks_[c].size(); ++i) {
            if (columnLinks_[c][i].contains(point)) {
                OnLinkClick(i);
                return true;
            }
        }
    }
    return false;
}

// ---- ListImageTextElement

void ListImageTextElement::SetImage(int column, const QString& picture) {
    if (column < 0) return;
    while (images_.size() <= column) images_.push_back(QString());
    images_[column] = picture;
    update();
}

void ListImageTextElement::PaintColumn(QPainter& painter, int column, const QRect& box) {
    const QString& picture = images_.value(column);
    QRect textBox = box;
    if (!picture.isEmpty()) {
        // Pictures are placed by their dest within the column, centred vertically in taller rows;
        // the column's text begins after the picture.
        PictureSpec pic = ParsePicture(picture);
        QRect area = box;
        if (!pic.dest.isNull() && pic.dest.height() < box.height())
            area.setTop(box.top() + (box.height() - pic.dest.height()) / 2);
        DrawPicture(painter, area, pic, SkinPackage::Instance());
        if (!pic.dest.isNull()) textBox.setLeft(qMin(box.right(), box.left() + pic.dest.right() + 1));
    }
    ListTextElement::PaintColumn(painter, column, textBox);
}

// ---- List

List::List(QWidget* parent)
    : Control(parent), body_(new QWidget(this)), scrollBar_(new QScrollBar(Qt::Vertical, this)) {
    scrollBar_->hide();
    scrollBar_->setStyleSheet(
        QStringLiteral("QScrollBar:vertical{background:transparent;width:8px;margin:2px 1px 2px 0;}"
                       "QScrollBar::handle:vertical{background:#C5CED8;border-radius:3px;min-height:24px;}"
                       "QScrollBar::handle:vertical:hover{background:#A9B4C0;}"
                       "QScrollBar::add-line,QScrollBar::sub-line{height:0;}"
                       "QScrollBar::add-page,QScrollBar::sub-page{background:transparent;}"));
    QObject::connect(scrollBar_, &QScrollBar::valueChanged, body_, [this](int value) {
        if (value != scrollPos_) SetScrollPos(value);
    });
}

void List::SetAttribute(const QString& name, const QString& value) {
    if (name == u"itemheight")
        itemHeight = value.toInt();
    else if (name == u"itemfont")
        itemFont = value.toInt();
    else if (name == u"itemshowhtml")
        itemShowHtml = ParseBool(value);
    else if (name == u"itemendellipsis")
        itemEndEllipsis = ParseBool(value);
    else if (name == u"itemtextcolor")
        itemTextColor = ParseColor(value);
    else if (name == u"itembkcolor")
        itemBkColor = ParseColor(value);
    else if (name == u"itemaltbkcolor")
        itemAltBkColor = ParseColor(value);
    else if (name == u"itemhotbkcolor")
        itemHotBkColor = ParseColor(value);
    else if (name == u"itemselectedbkcolor")
        itemSelectedBkColor = ParseColor(value);
    else if (name == u"itemlinecolor")
        itemLineColor = ParseColor(value);
    else if (name == u"itemtextpadding")
        itemTextPadding = ParseMargins(value);
    else if (name == u"itemalign")
        itemAlign = (itemAlign & Qt::AlignVertical_Mask) | (value == u"center"  ? Qt::AlignHCenter
                                                            : value == u"right" ? Qt::AlignRight
                                                                                : Qt::AlignLeft);
    Control::SetAttribute(name, value);
}

void List::SetHeader(ListHeader* header) {
    header_ = header;
    header_->setParent(this);
    header_->show();
    Relayout();
}

bool List::Add(ListElement* row) { return AddAt(row, GetCount()); }

bool List::AddAt(ListElement* row, int index) {
    if (!row || index < 0 || index > GetCount()) return false;
    row->setParent(body_);
    row->SetOwnerList(this);
    Park(row);
    rows_.insert(index, row);
    if (!row->testAttribute(Qt::WA_WState_ExplicitShowHide) || !row->isHidden()) row->show();
    if (current_ >= index) ++current_;
    Relayout();
    return true;
}

bool List::Remove(ListElement* row) { return RemoveAt(GetItemIndex(row)); }

bool List::RemoveAt(int index) {
    ListElement* row = GetItemAt(index);
    if (!row) return false;
    rows_.removeAt(index);
    if (current_ == index)
        current_ = -1;
    else if (current_ > index)
        --current_;
    delete row;
    Relayout();
    return true;
}

void List::RemoveAll() {
    const QList<ListElement*> rows = rows_;
    rows_.clear();
    current_ = -1;
    qDeleteAll(rows);
    scrollPos_ = 0;
    Relayout();
}

bool List::SelectItem(int index, bool notify) {
    ListElement* row = GetItemAt(index);
    if (!row) return false;
    if (ListElement* old = GetItemAt(current_)) old->SetSelected(false);
    current_ = index;
    row->SetSelected(true);
    if (notify) SendNotify(QStringLiteral("itemselect"), index, reinterpret_cast<qint64>(row));
    return true;
}

int List::ColumnCount() const { return header_ ? header_->Count() : 0; }

QRect List::ColumnRect(int column, int rowHeight) const {
    if (!header_ || column < 0 || column >= header_->Count()) return QRect(0, 0, body_->width(), rowHeight);
    const Control* item = header_->ItemAt(column);
    const int left = item->geometry().left() + header_->geometry().left() - body_->geometry().left();
    return QRect(left, 0, item->width(), rowHeight);
}

int List::ScrollRange() const { return qMax(0, contentHeight_ - body_->height()); }

void List::SetScrollPos(int pos) {
    pos = qBound(0, pos, ScrollRange());
    if (pos == scrollPos_) return;
    scrollPos_ = pos;
    Relayout();
}

void List::resizeEvent(QResizeEvent*) { Relayout(); }

void List::Park(ListElement* row) {
    row->setGeometry(0, -row->RowHeight() - 1, body_->width(), row->RowHeight());
}

void List::EndBatch() {
    if (--batchDepth_ > 0 || !layoutPending_) return;
    layoutPending_ = false;
    Relayout();
}

void List::Relayout() {
    if (batchDepth_ > 0) {
        layoutPending_ = true;
        return;
    }
    const QRect area = rect().marginsRemoved(QMargins(borderSize_, borderSize_, borderSize_, borderSize_));
    int top = area.top();
    if (header_ && !header_->isHidden()) {
        const int height = header_->FixedHeight() ? header_->FixedHeight() : 28;
        header_->setGeometry(area.left(), top, area.width(), height);
        top += height;
    }
    contentHeight_ = 0;
    for (ListElement* row : rows_) {
        if (!row->isHidden()) contentHeight_ += row->RowHeight();
    }
    const int bodyHeight = qMax(0, area.bottom() + 1 - top);
    const bool scrolls = contentHeight_ > bodyHeight;
    const int barWidth = scrolls ? 9 : 0;
    body_->setGeometry(area.left(), top, area.width() - barWidth, bodyHeight);
    scrollPos_ = qBound(0, scrollPos_, qMax(0, contentHeight_ - bodyHeight));
    scrollBar_->setVisible(scrolls);
    if (scrolls) {
        scrollBar_->setGeometry(area.right() + 1 - barWidth, top, barWidth, bodyHeight);
        const QSignalBlocker block(scrollBar_);
        scrollBar_->setRange(0, contentHeight_ - bodyHeight);
        scrollBar_->setPageStep(bodyHeight);
        scrollBar_->setSingleStep(itemHeight);
        scrollBar_->setValue(scrollPos_);
    }
    // Only the rows in view get a place. Moving every row widget on each added
    // row or scroll step made a list of 100,000 rows stand still for minutes.
    QList<QPointer<ListElement>> placed;
    int y = -scrollPos_;
    for (ListElement* row : rows_) {
        if (y >= bodyHeight) break;
        if (row->isHidden()) continue;
        const int height = row->RowHeight();
        if (y + height > 0) {
            row->setGeometry(0, y, body_->width(), height);
            placed.push_back(row);
        }
        y += height;
    }
    for (const QPointer<ListElement>& row : placed_) {
        if (row && row->OwnerList() == this && !placed.contains(row)) Park(row);
    }
    placed_ = std::move(placed);
}

void List::wheelEvent(QWheelEvent* event) {
    SetScrollPos(scrollPos_ - event->angleDelta().y() / 120 * itemHeight * 3);
    event->accept();
}

void List::OnRowClicked(ListElement* row) { SelectItem(GetItemIndex(row)); }

void List::OnRowDoubleClicked(ListElement* row) {
    SendNotify(QStringLiteral("list_item_dbclick"), GetItemIndex(row), reinterpret_cast<qint64>(row));
}

void List::OnRowLinkClicked(ListElement* row, int link) {
    SendNotify(QStringLiteral("link"), link, reinterpret_cast<qint64>(row));
}

void List::OnRowCheckClicked(ListElement* row, bool checked) {
    SendNotify(QStringLiteral("list_check_click"), GetItemIndex(row), checked ? 1 : 0);
}

// ---- TreeNode

TreeNode::TreeNode(QWidget* parent) : ListElement(parent) {}

TreeNode::~TreeNode() {
    for (TreeNode* child : children_) child->parentNode_ = nullptr;
    if (parentNode_) parentNode_->children_.removeOne(this);
}

void TreeNode::SetAttribute(const QString& name, const QString& value) {
    if (name == u"folderimage")
        folderImage_ = value;
    else if (name == u"folderexpandedimage")
        folderExpandedImage_ = value;
    else if (name == u"showfolder")
        showFolder_ = ParseBool(value);
    else if (name == u"showcheck")
        showCheck_ = ParseBool(value);
    else if (name == u"checkboxattr")
        checkStyle_ = value;
    else if (name == u"icon")
        icon_ = value;
    else if (name == u"iconsize") {
        const QStringList parts = value.split(u',');
        if (parts.size() == 2) iconSize_ = QSize(parts[0].toInt(), parts[1].toInt());
    } else if (name == u"expanded")
        expanded_ = ParseBool(value);
    else if (name == u"checked")
        checked_ = ParseBool(value);
    if (name == u"visible") {
        userVisible_ = ParseBool(value);
        QWidget::setVisible(userVisible_);
        return;
    }
    ListElement::SetAttribute(name, value);
}

TreeView* TreeNode::Tree() const { return dynamic_cast<TreeView*>(owner_); }

int TreeNode::Level() const {
    int level = 0;
    for (TreeNode* p = parentNode_; p; p = p->parentNode_) ++level;
    return level;
}

bool TreeNode::AddChildNode(TreeNode* child) {
    TreeView* tree = Tree();
    if (!tree || !child || child == this) return false;
    return tree->InsertChildRow(this, child);
}

bool TreeNode::RemoveChildNode(TreeNode* child) {
    if (!children_.contains(child)) return false;
    child->RemoveAllChildNodes();
    children_.removeOne(child);
    child->parentNode_ = nullptr;
    if (TreeView* tree = Tree())
        tree->Remove(child);
    else
        delete child;
    return true;
}

void TreeNode::RemoveAllChildNodes() {
    while (!children_.isEmpty()) RemoveChildNode(children_.back());
}

void TreeNode::SetCheckState(bool checked, bool half) {
    checked_ = checked && !half;
    half_ = half;
    update();
}

void TreeNode::setVisible(bool visible) {
    userVisible_ = visible;
    if (TreeView* tree = Tree()) {
        bool shown = visible;
        for (TreeNode* p = parentNode_; p && shown; p = p->parentNode_)
            shown = p->expanded_ && p->userVisible_;
        QWidget::setVisible(shown);
        tree->UpdateRowVisibility(this);
        tree->Relayout();
    } else {
        QWidget::setVisible(visible);
    }
}

bool TreeNode::HasFolder() const { return showFolder_ && (!children_.isEmpty() || !folderImage_.isEmpty()); }

int TreeNode::Indent() const { return 6 + Level() * 18; }

QRect TreeNode::FolderRect() const {
    if (!HasFolder()) return {};
    return QRect(Indent(), (height() - 16) / 2, 16, 16);
}

QRect TreeNode::CheckRect() const {
    if (!showCheck_) return {};
    const int x = Indent() + (HasFolder() ? 20 : 0);
    return QRect(x, (height() - 16) / 2, 16, 16);
}

void TreeNode::PaintText(QPainter& painter) {
    const SkinPackage& package = SkinPackage::Instance();
    int x = Indent();
    if (HasFolder()) {
        PictureSpec folder =
            ParsePicture(expanded_ && !folderExpandedImage_.isEmpty() ? folderExpandedImage_ : folderImage_);
        folder.dest = QRect();
        DrawPicture(painter, FolderRect(), folder, package);
        x += 20;
    }
    if (showCheck_) {
        QString picture;
        const Window* window = OwnerWindow();
        const AttributeList* style = window ? window->Style(checkStyle_) : nullptr;
        auto lookup = [style](const char* key) {
            if (!style) return QString();
            for (const auto& [name, value] : *style) {
                if (name == QLatin1String(key)) return value;
            }
            return QString();
        };
        if (!isEnabled())
            picture = lookup("disabledimage");
        else if (half_)
            picture = lookup("halfimage");
        else if (checked_)
            picture = lookup("selectedimage");
        if (picture.isEmpty()) picture = lookup("normalimage");
        PictureSpec check = ParsePicture(picture);
        check.dest = QRect();
        DrawPicture(painter, CheckRect(), check, package);
        x += 20;
    }
    if (!icon_.isEmpty()) {
        PictureSpec icon = ParsePicture(icon_);
        icon.dest = QRect();
        DrawPicture(painter,
                    QRect(x, (height() - iconSize_.height()) / 2, iconSize_.width(), iconSize_.height()),
                    icon, package);
        x += iconSize_.width() + 4;
    }
    const QRect box(x, 0, width() - x - 4, height());
    const QColor color =
        textColor_.isValid() ? textColor_ : (owner_ ? owner_->itemTextColor : QColor(0x33, 0x3B, 0x45));
    DrawText(painter, box, text_, color);
}

bool TreeNode::HandleClick(const QPoint& point) {
    TreeView* tree = Tree();
    if (!tree) return false;
    if (HasFolder() && FolderRect().adjusted(-2, -2, 2, 2).contains(point)) {
        tree->OnNodeFolderClicked(this);
        return true;
    }
    if (showCheck_ && isEnabled() && CheckRect().adjusted(-2, -2, 2, 2).contains(point)) {
        tree->OnNodeCheckClicked(this);
        return true;
    }
    return false;
}

void TreeNode::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return event->ignore();
    if (TreeView* tree = Tree()) tree->OnNodeDoubleClicked(this);
}

// ---- TreeView

TreeView::TreeView(QWidget* parent) : List(parent) { itemHeight = 24; }

bool TreeView::AddNode(TreeNode* node) {
    if (!node) return false;
    node->SetParentNode(nullptr);
    return Add(node);
}

bool TreeView::InsertChildRow(TreeNode* parent, TreeNode* node) {
    // The new row goes after the last row of the parent's subtree.
    const TreeNode* last = parent;
    while (!last->ChildNodes().isEmpty()) last = last->ChildNodes().back();
    const int index = GetItemIndex(last);
    if (index < 0) return false;
    node->SetParentNode(parent);
    const_cast<QList<TreeNode*>&>(parent->ChildNodes()).push_back(node);
    if (!AddAt(node, index + 1)) return false;
    bool shown = node->IsShownByUser();
    for (TreeNode* p = parent; p && shown; p = p->ParentNode()) shown = p->IsExpanded() && p->IsShownByUser();
    node->SetRowVisible(shown);
    parent->update();
    Relayout();
    return true;
}

bool TreeView::RemoveAt(int index) {
    auto* node = dynamic_cast<TreeNode*>(GetItemAt(index));
    if (!node) return List::RemoveAt(index);
    node->RemoveAllChildNodes();
    if (TreeNode* parent = node->ParentNode()) {
        parent->update();
    }
    // The node's destructor detaches it from its parent.
    return List::RemoveAt(GetItemIndex(node));
}

QList<TreeNode*> TreeView::TopNodes() const {
    QList<TreeNode*> nodes;
    for (ListElement* row : rows_) {
        auto* node = dynamic_cast<TreeNode*>(row);
        if (node && !node->ParentNode()) nodes.push_back(node);
    }
    return nodes;
}

void TreeView::UpdateRowVisibility(TreeNode* node) {
    const bool open = node->IsExpanded() && !node->isHidden();
    for (TreeNode* child : node->ChildNodes()) {
        child->SetRowVisible(open && child->IsShownByUser());
        UpdateRowVisibility(child);
    }
}

void TreeView::SetNodeExpanded(TreeNode* node, bool expanded) {
    if (node->IsExpanded() == expanded) return;
    node->SetExpandedState(expanded);
    UpdateRowVisibility(node);
    Relayout();
    node->SendNotify(QStringLiteral("itemexpand"), expanded ? 1 : 0);
}

void TreeView::OnNodeCheckClicked(TreeNode* node) {
    node->SetCheckState(!node->IsChecked(), false);
    node->SendNotify(QStringLiteral("checkboxselectchanged"), node->IsChecked() ? 1 : 0);
}

void TreeView::OnNodeFolderClicked(TreeNode* node) { SetNodeExpanded(node, !node->IsExpanded()); }

void TreeView::OnNodeDoubleClicked(TreeNode* node) { node->SendNotify(QStringLiteral("itemdbclick")); }

void TreeView::OnRowClicked(ListElement* row) {
    const int index = GetItemIndex(row);
    if (ListElement* old = GetItemAt(current_)) old->SetSelected(false);
    current_ = index;
    row->SetSelected(true);
    SendNotify(QStringLiteral("itemselect"), index, reinterpret_cast<qint64>(row));
}

void TreeView::OnRowDoubleClicked(ListElement* row) {
    if (auto* node = dynamic_cast<TreeNode*>(row)) OnNodeDoubleClicked(node);
}

}  // namespace sorvane::skin
