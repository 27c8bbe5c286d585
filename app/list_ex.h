// Lists whose rows form a tree: a disk row with its partition rows below it,
// expanded and collapsed by a flag picture, with smooth wheel scrolling.
#pragma once

#include <QBasicTimer>
#include <QHash>

#include "app/skin_framework/list.h"

namespace sorvane::app {

class CListExUI : public skin::List {
  public:
    // One row's place in the tree. The root (level -1) has no row and is never shown.
    struct Node {
        QList<Node*> children;
        Node* parent = nullptr;
        int level = -1;
        bool expanded = true;
        bool hasExpander = false;
        QString text;
        skin::ListElement* row = nullptr;
    };

    explicit CListExUI(QWidget* parent = nullptr);
    ~CListExUI() override;
    QString ClassName() const override { return QStringLiteral("ListEx"); }
    bool HasInterface(const QString& name) const override {
        return name == u"ListEx" || skin::List::HasInterface(name);
    }

    // Adds a row for `text` below `parent` (the root when null): after the last
    // row of the parent's subtree, hidden when the parent is collapsed or hidden.
    Node* AddNode(const QString& text, Node* parent = nullptr);
    // Removes the node's rows (its children first) and the node; the root is refused.
    bool RemoveNode(Node* node);
    // Removes every node below the root.
    void RemoveAllNodes();
    // Expands or collapses a node: its descendants' rows are shown when their
    // parent is expanded and the parent's row is visible.
    virtual void SetChildVisible(Node* node, bool expanded);

    Node* Root() const { return root_; }
    Node* NodeOf(const skin::ListElement* row) const { return rows_to_nodes_.value(row); }

    // Removing a row through the list's own operations removes its node with it.
    bool Remove(skin::ListElement* row) override;
    bool RemoveAt(int index) override;
    void RemoveAll() override;

    void OnRowLinkClicked(skin::ListElement* row, int link) override;

    // The markup of a node's row: indentation by level and the expander picture.
    static QString RowText(const Node& node, bool expanderState);

  protected:
    // Places a row made by the caller as the node's row (position, visibility, bookkeeping).
    Node* InsertRow(skin::ListElement* row, const QString& text, Node* parent);
    void UpdateSubtreeVisibility(Node* node);
    void wheelEvent(QWheelEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

  private:
    void DeleteNode(Node* node);
    int LastRowIndexOf(const Node* node) const;

    Node* root_;
    QHash<const skin::ListElement*, Node*> rows_to_nodes_;
    bool removing_ = false;
    // Smooth scrolling state.
    QBasicTimer scrollTimer_;
    int scrollSpeed_ = 0;
    int scrollSteps_ = 0;
    int scrollTotalSteps_ = 0;
    int lastDirection_ = 0;
};

// A list row with a picture and a text per column, and its place in the tree.
class CListImageTextNodeUI : public skin::ListImageTextElement {
  public:
    explicit CListImageTextNodeUI(QWidget* parent = nullptr) : skin::ListImageTextElement(parent) {}
    QString ClassName() const override { return QStringLiteral("ListImageTextNodeUI"); }
    bool HasInterface(const QString& name) const override {
        return name == u"ListImageTextNodeUI" || name == u"ListImageTextElementUI" ||
               name == u"ListTextElement" || name == u"ListLabelElement" || name == u"ListItem" ||
               name == u"ListElement" || name == u"Control";
    }
    CListExUI::Node* TreeNode() const { return node_; }
    void SetTreeNode(CListExUI::Node* node) { node_ = node; }

  private:
    CListExUI::Node* node_ = nullptr;
};

// The disk list: the same tree with picture-and-text rows that draw their own
// icons, so expanding leaves the row's text alone.
class CDiskListUI : public CListExUI {
  public:
    explicit CDiskListUI(QWidget* parent = nullptr) : CListExUI(parent) {}
    QString ClassName() const override { return QStringLiteral("DiskList"); }
    bool HasInterface(const QString& name) const override {
        return name == u"DiskList" || CListExUI::HasInterface(name);
    }

    // Inserts `row` (owned by the list from now on) below `parent` (the root when null).
    Node* AddNode(Node* parent, CListImageTextNodeUI* row);
    void SetChildVisible(Node* node, bool expanded) override;
};

}  // namespace sorvane::app
