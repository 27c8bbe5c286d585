#include "app/control_factory.h"

#include "app/button_ex.h"
#include "app/edit_box.h"
#include "app/file_tree.h"
#include "app/list_ex.h"
#include "app/pagination.h"
#include "app/thumbnail_grid.h"

namespace sorvane::app {

skin::Control* CreateCustomControl(const QString& tag) {
    if (tag == u"DiskList") return new CDiskListUI;
    if (tag == u"FileTree") return new CFileTreeUI;
    if (tag == u"Pagination") return new CPaginationUI;
    if (tag == u"ButtonEx") return new CButtonExUI;
    if (tag == u"ListEx") return new CListExUI;
    if (tag == u"Edit") return new CEditUI;
    if (tag == u"ThumbnailGrid") return new CThumbnailGridUI;
    return nullptr;
}

}  // namespace sorvane::app
