#include "app/list_ex.h"

#include <QTimerEvent>
#include <QWheelEvent>
#include <cmath>
#include <functional>

namespace sorvane::app {
namespace {

constexpr int kScrollTimerInterval = 50;  // ms
constexpr int kMaxScrollSpeed = 100;

}  // namespace

CListExUI::CListExUI(QWidget* parent) : skin::List(parent), root_(new Node) {}

CListExUI::~CListExUI() {
    // Rows belong to the list's widgets; only the bookkeeping is freed here.
    std::function<void(Node*)> free = [&](Node* node) {
        for (Node* child : node->children) free(child);
        delete node;
    };
    free(root_);
}

QString CListExUI::RowText(const Node& node, bool expanderState) {
    QString text = QStringLiteral("<x 6>");
    for (int i = 0; i < node.level; ++i) text += QStringLiteral("<x 18>");
    if (node.level < 3) {
        text += expanderState ? QStringLiteral("<a><i expand_flag.png 2 1></a>")
                              : QStringLiteral("<a><i expand_flag.png 2 0></a>");
    }
    return text + node.text;
}

int CListExUI::LastRowIndexOf(const Node* node) const {
    while (!node->children.isEmpty()) node = node->children.back();
    return node->row ? GetItemIndex(node->row) : -1;
}

CListExUI::Node* CListExUI::InsertRow(skin::ListElement* row, const QString& text, Node* parent) {
    if (!parent) parent = root_;
    auto* node = new Node;
    node->parent = parent;
    node->level = parent->level + 1;
    node->hasExpander = node->level == 0;
    node->text = text;
    node->row = row;
    const bool hidden = parent != root_ && (!parent->expanded || (parent->row && parent->row->isHidden()));
    int index = GetCount();
    if (parent != root_) {
        const int last = LastRowIndexOf(parent);
        if (last >= 0) index = last + 1;
    }
    if (hidden) row->setVisible(false);
    rows_to_nodes_.insert(row, node);
    parent->children.push_back(node);
    skin::List::AddAt(row, index);
    return node;
}

CListExUI::Node* CListExUI::AddNode(const QString& text, Node* parent) {
    auto* row = new skin::ListLabelElement;
    row->SetShowHtml(true);
    Node* node = InsertRow(row, text, parent);
    row->SetText(RowText(*node, node->hasExpander));
    return node;
}

void CListExUI::DeleteNode(Node* node) {
    // Children first, the deepest last child first.
    while (!node->children.isEmpty()) DeleteNode(node->children.back());
    if (node->row) {
        rows_to_nodes_.remove(node->row);
        removing_ = true;
        skin::List::RemoveAt(GetItemIndex(node->row));
        removing_ = false;
    }
    if (node->parent) node->parent->children.removeOne(node);
    delete node;
}

bool CListExUI::RemoveNode(Node* node) {
    if (!node || node == root_) return false;
    DeleteNode(node);
    return true;
}

void CListExUI::RemoveAllNodes() {
    while (!root_->children.isEmpty()) DeleteNode(root_->children.back());
    delete root_;
    root_ = new Node;
}

bool CListExUI::Remove(skin::ListElement* row) { return RemoveAt(GetItemIndex(row)); }

bool CListExUI::RemoveAt(int index) {
    skin::ListElement* row = GetItemAt(index);
    if (!row) return false;
    if (!removing_) {
        if (Node* node = rows_to_nodes_.value(row)) return RemoveNode(node);
    }
    return skin::List::RemoveAt(index);
}

void CListExUI::RemoveAll() {
    RemoveAllNodes();
    skin::List::RemoveAll();
}

void CListExUI::UpdateSubtreeVisibility(Node* node) {
    for (Node* child : node->children) {
        const bool parentShown = node == root_ || !node->row || !node->row->isHidden();
        if (child->row) child->row->setVisible(node->expanded && parentShown);
        UpdateSubtreeVisibility(child);
    }
}

void CListExUI::SetChildVisible(Node* node, bool expanded) {
    if (!node || node->expanded == expanded) return;
    node->expanded = expanded;
    if (node->row && node != root_) node->row->SetText(RowText(*node, expanded));
    UpdateSubtreeVisibility(node);
    Relayout();
}

void CListExUI::OnRowLinkClicked(skin::ListElement* row, int link) {
    // The expander picture is the row's first link.
    if (Node* node = rows_to_nodes_.value(row); node && link == 0 && !node->children.isEmpty()) {
        SetChildVisible(node, !node->expanded);
        return;
    }
    skin::List::OnRowLinkClicked(row, link);
}

void CListExUI::wheelEvent(QWheelEvent* event) {
    event->accept();
    const int delta = event->angleDelta().y();
    if (delta == 0) return;
    const int direction = delta > 0 ? -1 : 1;  // positive speed scrolls down
    const bool moving = scrollTimer_.isActive();
    scrollSpeed_ += (moving && direction == lastDirection_ ? 16 : 10) * direction;
    scrollSpeed_ = qBound(-kMaxScrollSpeed, scrollSpeed_, kMaxScrollSpeed);
    lastDirection_ = direction;
    // Faster scrolling glides longer: 8 steps at the slowest, 40 at the fastest.
    scrollTotalSteps_ = 4 * (1 + (std::abs(scrollSpeed_) + 9) / 10);
    scrollSteps_ = scrollTotalSteps_;
    if (!moving) scrollTimer_.start(kScrollTimerInterval, this);
}

void CListExUI::timerEvent(QTimerEvent* event) {
    if (event->timerId() != scrollTimer_.timerId()) return skin::List::timerEvent(event);
    const double share = scrollTotalSteps_ ? static_cast<double>(scrollSteps_) / scrollTotalSteps_ : 0.0;
    // Quadratic ease-in-out of the share that is left.
    const double eased = share < 0.5 ? 2 * share * share : 1 - std::pow(-2 * share + 2, 2) / 2;
    const int move = static_cast<int>(std::lround(scrollSpeed_ * eased));
    if (scrollSteps_ <= 0 || move == 0) {
        scrollTimer_.stop();
        scrollSpeed_ = 0;
        scrollSteps_ = 0;
        return;
    }
    --scrollSteps_;
    SetScrollPos(ScrollPos() + move);
}

CListExUI::Node* CDiskListUI::AddNode(Node* parent, CListImageTextNodeUI* row) {
    Node* node = InsertRow(row, row->GetText(0), parent);
    row->SetTreeNode(node);
    return node;
}

void CDiskListUI::SetChildVisible(Node* node, bool expanded) {
    if (!node || node->expanded == expanded) return;
    node->expanded = expanded;
    UpdateSubtreeVisibility(node);
    Relayout();
}

}  // namespace sorvane::app
