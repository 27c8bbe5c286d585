#include "app/button_ex.h"

namespace sorvane::app {

void CButtonExUI::enterEvent(QEnterEvent* event) {
    if (!isEnabled()) return;
    skin::Button::enterEvent(event);
    SendNotify(QStringLiteral("onhot"));
}

void CButtonExUI::leaveEvent(QEvent* event) {
    const bool wasHot = hot_;
    skin::Button::leaveEvent(event);
    if (isEnabled() && wasHot) SendNotify(QStringLiteral("offhot"));
}

}  // namespace sorvane::app
