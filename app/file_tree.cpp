#include "app/file_tree.h"

namespace sorvane::app {
namespace {

void SetSubtree(skin::TreeNode* node, bool checked) {
    for (skin::TreeNode* child : node->ChildNodes()) {
        child->SetCheckState(checked, false);
        SetSubtree(child, checked);
    }
}

}  // namespace

void CFileTreeUI::UpdateAncestors(skin::TreeNode* node) {
    for (skin::TreeNode* parent = node->ParentNode(); parent; parent = parent->ParentNode()) {
        int checked = 0;
        bool partly = false;
        for (skin::TreeNode* child : parent->ChildNodes()) {
            if (child->IsChecked()) ++checked;
            if (child->IsHalfChecked()) partly = true;
        }
        const int count = static_cast<int>(parent->ChildNodes().size());
        if (count > 0 && checked == count)
            parent->SetCheckState(true, false);
        else if (checked == 0 && !partly)
            parent->SetCheckState(false, false);
        else
            parent->SetCheckState(false, true);
    }
}

void CFileTreeUI::CheckNode(skin::TreeNode* node, bool checked, bool notify) {
    node->SetCheckState(checked, false);
    SetSubtree(node, checked);
    UpdateAncestors(node);
    if (notify) node->SendNotify(QStringLiteral("checkboxselectchanged"), checked ? 1 : 0);
}

void CFileTreeUI::OnNodeCheckClicked(skin::TreeNode* node) {
    // A half-selected box becomes selected, as every tri-state box does when clicked.
    CheckNode(node, node->IsHalfChecked() || !node->IsChecked(), true);
}

void CFileTreeUI::OnNodeDoubleClicked(skin::TreeNode* node) {
    skin::TreeView::OnNodeDoubleClicked(node);
    SetNodeExpanded(node, !node->IsExpanded());
}

}  // namespace sorvane::app
