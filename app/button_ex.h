// A button that tells its window when the mouse comes over it ("onhot") and
// leaves it ("offhot"), so a window can describe what the button does.
#pragma once

#include "app/skin_framework/controls.h"

namespace sorvane::app {

class CButtonExUI : public skin::Button {
  public:
    explicit CButtonExUI(QWidget* parent = nullptr) : skin::Button(parent) {}
    QString ClassName() const override { return QStringLiteral("ButtonEx"); }
    bool HasInterface(const QString& name) const override {
        return name == u"ButtonEx" || skin::Button::HasInterface(name);
    }

  protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
};

}  // namespace sorvane::app
