// The file-type tree: nodes with tri-state check boxes whose state passes
// down to every descendant and up to every ancestor, and a double click that
// expands or collapses a node.
#pragma once

#include "app/skin_framework/list.h"

namespace sorvane::app {

class CFileTreeUI : public skin::TreeView {
  public:
    explicit CFileTreeUI(QWidget* parent = nullptr) : skin::TreeView(parent) {}
    QString ClassName() const override { return QStringLiteral("FileTreeUI"); }
    bool HasInterface(const QString& name) const override {
        return name == u"FileTree" || name == u"FileTreeUI" || skin::TreeView::HasInterface(name);
    }

    // Sets a node's state as a click would (descendants follow, ancestors are
    // recomputed), optionally sending "checkboxselectchanged".
    void CheckNode(skin::TreeNode* node, bool checked, bool notify);
    // Recomputes the ancestors of `node` from their children: all selected →
    // selected; none selected or half-selected → not selected; otherwise half-selected.
    static void UpdateAncestors(skin::TreeNode* node);

    void OnNodeCheckClicked(skin::TreeNode* node) override;
    void OnNodeDoubleClicked(skin::TreeNode* node) override;
};

}  // namespace sorvane::app
