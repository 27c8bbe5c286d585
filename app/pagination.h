// A page bar: "Prev", numbered page options and "Next". Choosing a page sends
// "updatepage" with the page index (from 0) as wParam.
#pragma once

#include "app/skin_framework/controls.h"

namespace sorvane::app {

class CPaginationUI : public skin::HorizontalLayout {
  public:
    explicit CPaginationUI(QWidget* parent = nullptr);
    QString ClassName() const override { return QStringLiteral("Pagination"); }
    bool HasInterface(const QString& name) const override {
        return name == u"Pagination" || skin::HorizontalLayout::HasInterface(name);
    }

    void SetPageCount(int count);
    int PageCount() const { return pageCount_; }
    // Selects a page (clamped to the pages there are) and sends "updatepage" when it changed.
    void SetCurrentPage(int page, bool notify = true);
    int CurrentPage() const { return current_; }
    void SetAttribute(const QString& name, const QString& value) override;

    // Called by its buttons.
    void OnPageButton(int page);

  private:
    void Rebuild();

    int pageCount_ = 0;
    int current_ = 0;
    int shownButtons_ = 7;
    QString tagStyle_ = QStringLiteral("PaginationTag");
};

}  // namespace sorvane::app
