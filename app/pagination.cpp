#include "app/pagination.h"

#include "app/skin_framework/window.h"

namespace sorvane::app {
namespace {

// A page button that hands its click to the bar instead of the window.
class PageButton : public skin::Option {
  public:
    PageButton(CPaginationUI* bar, int page) : bar_(bar), page_(page) {}

  protected:
    void Activate() override { bar_->OnPageButton(page_); }

  private:
    CPaginationUI* bar_;
    int page_;
};

}  // namespace

CPaginationUI::CPaginationUI(QWidget* parent) : skin::HorizontalLayout(parent) {
    childPadding_ = 4;
    childAlign_ = Qt::AlignRight | Qt::AlignVCenter;
}

void CPaginationUI::SetAttribute(const QString& name, const QString& value) {
    if (name == u"pagecount")
        pageCount_ = qMax(0, value.toInt());
    else if (name == u"buttons")
        shownButtons_ = qMax(3, value.toInt());
    else if (name == u"tagstyle")
        tagStyle_ = value;
    skin::HorizontalLayout::SetAttribute(name, value);
}

void CPaginationUI::SetPageCount(int count) {
    pageCount_ = qMax(0, count);
    current_ = qBound(0, current_, qMax(0, pageCount_ - 1));
    Rebuild();
}

void CPaginationUI::SetCurrentPage(int page, bool notify) {
    page = qBound(0, page, qMax(0, pageCount_ - 1));
    const bool changed = page != current_;
    current_ = page;
    Rebuild();
    if (changed && notify) SendNotify(QStringLiteral("updatepage"), current_);
}

void CPaginationUI::OnPageButton(int page) { SetCurrentPage(page); }

void CPaginationUI::Rebuild() {
    for (skin::Control* item : QList<skin::Control*>(items_)) Remove(item);
    if (pageCount_ <= 1) return;
    const skin::Window* window = OwnerWindow();
    auto styled = [&](skin::Control* control, int width) {
        if (const skin::AttributeList* style = window ? window->Style(tagStyle_) : nullptr) {
            for (const auto& [key, value] : *style) control->SetAttribute(key, value);
        }
        control->SetFixedWidth(width);
        return control;
    };
    auto add = [&](const QString& text, int page, bool selected, int width) {
        auto* button = new PageButton(this, page);
        styled(button, width);
        button->SetText(text);
        button->Selected(selected, false);
        Add(button);
    };
    add(QStringLiteral("Prev"), qMax(0, current_ - 1), false, 48);
    const int first = qBound(0, current_ - shownButtons_ / 2, qMax(0, pageCount_ - shownButtons_));
    const int last = qMin(pageCount_, first + shownButtons_);
    for (int page = first; page < last; ++page) add(QString::number(page + 1), page, page == current_, 28);
    add(QStringLiteral("Next"), qMin(pageCount_ - 1, current_ + 1), false, 48);
}

}  // namespace sorvane::app
