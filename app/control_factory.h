// Makes the program's own controls for the layout tags the framework does not know.
#pragma once

#include <QString>

namespace sorvane::skin {
class Control;
}

namespace sorvane::app {

// "DiskList" → CDiskListUI, "FileTree" → CFileTreeUI, "Pagination" →
// CPaginationUI, "ButtonEx" → CButtonExUI, "ListEx" → CListExUI; null otherwise.
skin::Control* CreateCustomControl(const QString& tag);

}  // namespace sorvane::app
