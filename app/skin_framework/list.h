// Lists and trees: a list with a header of columns and rows below it, and a
// tree view whose nodes are rows indented by their level, with a folder
// button and an optional check box.
//
// Notifications: a row click sends "itemselect" (sender: the list, wParam: the
// row index, lParam: the row), a double click "list_item_dbclick" (same
// arguments), a header item click "headerclick" (sender: the header item), a
// click on a row's check box "list_check_click" (wParam: row index, lParam: 1
// when checked now). Tree nodes send "itemselect" (sender: the tree, lParam:
// the node), "checkboxselectchanged", "itemexpand" and "itemdbclick" (sender: the node).
#pragma once

#include <QPointer>
#include <QVector>

#include "app/skin_framework/controls.h"

class QScrollBar;

namespace sorvane::skin {

class List;
class TreeView;

// A column heading; it may hold controls of its own (a check box for the whole column).
class ListHeaderItem : public Container {
  public:
    explicit ListHeaderItem(QWidget* parent = nullptr);
    QString ClassName() const override { return QStringLiteral("ListHeaderItem"); }
    bool HasInterface(const QString& name) const override {
        return name == u"ListHeaderItem" || Container::HasInterface(name);
    }
    void SetAttribute(const QString& name, const QString& value) override;

  protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void PaintStatusImage(QPainter& painter) override;

  private:
    QString sepImage_;
    int sepWidth_ = 0;
};

class ListHeader : public HorizontalLayout {
  public:
    explicit ListHeader(QWidget* parent = nullptr) : HorizontalLayout(parent) {}
    QString ClassName() const override { return QStringLiteral("ListHeader"); }
    bool HasInterface(const QString& name) const override {
        return name == u"ListHeader" || HorizontalLayout::HasInterface(name);
    }
};

// One row of a list.
class ListElement : public Control {
  public:
    explicit ListElement(QWidget* parent = nullptr);
    QString ClassName() const override { return QStringLiteral("ListElement"); }
    bool HasInterface(const QString& name) const override {
        return name == u"ListElement" || name == u"ListItem" || Control::HasInterface(name);
    }
    List* OwnerList() const { return owner_; }
    void SetOwnerList(List* list) { owner_ = list; }
    int Index() const;
    bool IsSelected() const { return selected_; }
    void SetSelected(bool selected);
    int RowHeight() const;

  protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void PaintBackground(QPainter& painter) override;
    // A click at `point`; returns true when the row handled it (a link or a check box).
    virtual bool HandleClick(const QPoint& point);

    List* owner_ = nullptr;
    bool selected_ = false;
    bool hot_ = false;
};

// A row with one text across its width; the text may hold markup and links.
class ListLabelElement : public ListElement {
  public:
    explicit ListLabelElement(QWidget* parent = nullptr) : ListElement(parent) {}
    QString ClassName() const override { return QStringLiteral("ListLabelElement"); }
    bool HasInterface(const QString& name) const override {
        return name == u"ListLabelElement" || ListElement::HasInterface(name);
    }

  protected:
    void PaintText(QPainter& painter) override;
    bool HandleClick(const QPoint& point) override;
    // A click on the n-th link of the row's text.
    virtual void OnLinkClick(int link);

    QVector<QRect> links_;
};

// A row with one text per column, and optionally a check box in the first column.
class ListTextElement : public ListLabelElement {
  public:
    explicit ListTextElement(QWidget* parent = nullptr) : ListLabelElement(parent) {}
    QString ClassName() const override { return QStringLiteral("ListTextElement"); }
    bool HasInterface(const QString& name) const override {
        return name == u"ListTextElement" || ListLabelElement::HasInterface(name);
    }

    void SetText(int column, const QString& text);
    QString GetText(int column) const {
        return column >= 0 && column < texts_.size() ? texts_[column] : QString();
    }
    // The first column shows `unchecked` or `checked` (picture strings with a dest).
    void SetCheckPictures(const QString& unchecked, const QString& checked);
    void SetChecked(bool checked);
    bool IsChecked() const { return checked_; }

  protected:
    void PaintText(QPainter& painter) override;
    bool HandleClick(const QPoint& point) override;
    virtual void PaintColumn(QPainter& painter, int column, const QRect& box);

    QStringList texts_;
    QString uncheckedPicture_, checkedPicture_;
    bool checked_ = false;
    QVector<QVector<QRect>> columnLinks_;
};

// A row with a picture and a text per column.
class ListImageTextElement : public ListTextElement {
  public:
    explicit ListImageTextElement(QWidget* parent = nullptr) : ListTextElement(parent) {}
    QString ClassName() const override { return QStringLiteral("ListImageTextElement"); }
    bool HasInterface(const QString& name) const override {
        return name == u"ListImageTextElement" || ListTextElement::HasInterface(name);
    }
    void SetImage(int column, const QString& picture);
    QString GetImage(int column) const {
        return column >= 0 && column < images_.size() ? images_[column] : QString();
    }

  protected:
    void PaintColumn(QPainter& painter, int column, const QRect& box) override;

    QStringList images_;
};

class List : public Control {
  public:
    explicit List(QWidget* parent = nullptr);
    QString ClassName() const override { return QStringLiteral("List"); }
    bool HasInterface(const QString& name) const override {
        return name == u"List" || name == u"IList" || name == u"IListOwner" || Control::HasInterface(name);
    }
    void SetAttribute(const QString& name, const QString& value) override;

    ListHeader* Header() const { return header_; }
    void SetHeader(ListHeader* header);

    // Rows. The list takes ownership of added rows.
    virtual bool Add(ListElement* row);
    virtual bool AddAt(ListElement* row, int index);
    virtual bool Remove(ListElement* row);
    virtual bool RemoveAt(int index);
    virtual void RemoveAll();
    int GetCount() const { return static_cast<int>(rows_.size()); }
    ListElement* GetItemAt(int index) const {
        return index >= 0 && index < rows_.size() ? rows_[index] : nullptr;
    }
    int GetItemIndex(const ListElement* row) const {
        return static_cast<int>(rows_.indexOf(const_cast<ListElement*>(row)));
    }

    bool SelectItem(int index, bool notify = true);
    int GetCurSel() const { return current_; }

    // Column `column`'s horizontal extent in row coordinates (the whole row when there is no header).
    QRect ColumnRect(int column, int rowHeight) const;
    int ColumnCount() const;

    int ScrollPos() const { return scrollPos_; }
    int ScrollRange() const;
    void SetScrollPos(int pos);
    void Relayout();

    // Holds back the layout while many rows are added or removed; the list is
    // laid out once when the last batch of a nest ends.
    class Batch {
      public:
        explicit Batch(List& list) : list_(list) { ++list_.batchDepth_; }
        ~Batch() { list_.EndBatch(); }
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;

      private:
        List& list_;
    };

    // Row appearance.
    int itemHeight = 28;
    int itemFont = -1;
    bool itemShowHtml = false;
    bool itemEndEllipsis = true;
    QColor itemTextColor{0x33, 0x3B, 0x45};
    QColor itemBkColor, itemAltBkColor, itemHotBkColor{0xEE, 0xF5, 0xFB},
        itemSelectedBkColor{0xD9, 0xEC, 0xF9};
    QColor itemLineColor;
    QMargins itemTextPadding{6, 0, 4, 0};
    Qt::Alignment itemAlign = Qt::AlignLeft | Qt::AlignVCenter;

    // Called by rows.
    virtual void OnRowClicked(ListElement* row);
    virtual void OnRowDoubleClicked(ListElement* row);
    virtual void OnRowLinkClicked(ListElement* row, int link);
    virtual void OnRowCheckClicked(ListElement* row, bool checked);

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

    ListHeader* header_ = nullptr;
    QWidget* body_ = nullptr;
    QScrollBar* scrollBar_ = nullptr;
    QList<ListElement*> rows_;
    int current_ = -1;
    int scrollPos_ = 0;
    int contentHeight_ = 0;

  private:
    void EndBatch();
    // Moves a row out of the body's sight.
    void Park(ListElement* row);

    // The rows given a place in view by the last layout; the others wait above the body.
    QList<QPointer<ListElement>> placed_;
    int batchDepth_ = 0;
    bool layoutPending_ = false;
};

class TreeNode : public ListElement {
  public:
    explicit TreeNode(QWidget* parent = nullptr);
    ~TreeNode() override;
    QString ClassName() const override { return QStringLiteral("TreeNode"); }
    bool HasInterface(const QString& name) const override {
        return name == u"TreeNode" || ListElement::HasInterface(name);
    }
    void SetAttribute(const QString& name, const QString& value) override;

    TreeView* Tree() const;
    TreeNode* ParentNode() const { return parentNode_; }
    const QList<TreeNode*>& ChildNodes() const { return children_; }
    int Level() const;
    // Adds a child node (the node must belong to a tree); returns false otherwise.
    bool AddChildNode(TreeNode* child);
    // Removes and deletes a child node with its own children.
    bool RemoveChildNode(TreeNode* child);
    void RemoveAllChildNodes();

    bool IsExpanded() const { return expanded_; }
    // Check state: 0 unchecked, 1 checked; half-selected is separate.
    bool IsChecked() const { return checked_; }
    bool IsHalfChecked() const { return half_; }
    void SetCheckState(bool checked, bool half);
    void SetShowCheck(bool show) {
        showCheck_ = show;
        update();
    }
    void SetIcon(const QString& picture) {
        icon_ = picture;
        update();
    }

    // Visibility the code gives the node; the row also hides under a collapsed parent.
    void setVisible(bool visible) override;
    bool IsShownByUser() const { return userVisible_; }

    // Geometry of the parts of the row, in row coordinates.
    QRect FolderRect() const;
    QRect CheckRect() const;

    // Used by the tree.
    void SetExpandedState(bool expanded) {
        expanded_ = expanded;
        update();
    }
    void SetRowVisible(bool visible) { QWidget::setVisible(visible); }
    void SetParentNode(TreeNode* parent) { parentNode_ = parent; }

  protected:
    void PaintText(QPainter& painter) override;
    bool HandleClick(const QPoint& point) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

  private:
    int Indent() const;
    bool HasFolder() const;

    TreeNode* parentNode_ = nullptr;
    QList<TreeNode*> children_;
    bool expanded_ = true;
    bool checked_ = false;
    bool half_ = false;
    bool showCheck_ = false;
    bool showFolder_ = true;
    bool userVisible_ = true;
    QString folderImage_, folderExpandedImage_, icon_, checkStyle_;
    QSize iconSize_{16, 16};
};

class TreeView : public List {
  public:
    explicit TreeView(QWidget* parent = nullptr);
    QString ClassName() const override { return QStringLiteral("TreeView"); }
    bool HasInterface(const QString& name) const override {
        return name == u"TreeView" || List::HasInterface(name);
    }

    // Adds a top-level node.
    bool AddNode(TreeNode* node);
    // Places `node` as the last child of `parent` (rows follow the parent's subtree).
    bool InsertChildRow(TreeNode* parent, TreeNode* node);
    QList<TreeNode*> TopNodes() const;
    // Shows or hides the descendants' rows after a change of expansion or visibility.
    void UpdateRowVisibility(TreeNode* node);
    // Expands or collapses `node`, sending "itemexpand".
    void SetNodeExpanded(TreeNode* node, bool expanded);

    // Removing a node's row removes the rows of its descendants too.
    bool RemoveAt(int index) override;

    // What a click on a node's parts does; subclasses extend these.
    virtual void OnNodeCheckClicked(TreeNode* node);
    virtual void OnNodeFolderClicked(TreeNode* node);
    virtual void OnNodeDoubleClicked(TreeNode* node);

    void OnRowClicked(ListElement* row) override;
    void OnRowDoubleClicked(ListElement* row) override;
};

}  // namespace sorvane::skin
