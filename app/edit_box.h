// A one-line text field for the skin's layouts: the results page's search
// box and its size and date limits. Each change of the text sends
// "textchanged" to the window, so a list can follow what is being typed.
#pragma once

#include "app/skin_framework/controls.h"

class QLineEdit;

namespace sorvane::app {

class CEditUI : public skin::Control {
  public:
    explicit CEditUI(QWidget* parent = nullptr);
    QString ClassName() const override { return QStringLiteral("Edit"); }
    bool HasInterface(const QString& name) const override {
        return name == u"Edit" || skin::Control::HasInterface(name);
    }
    // The text typed; SetText replaces it as typing would (sending "textchanged").
    void SetText(const QString& text) override;
    QString Typed() const;
    // The grey hint shown while the field is empty.
    void SetHint(const QString& hint);
    // Shows the text in red: it does not read as what the field wants.
    void SetInvalid(bool invalid);
    void SetAttribute(const QString& name, const QString& value) override;
    QLineEdit* Field() const { return field_; }

  protected:
    void resizeEvent(QResizeEvent* event) override;
    // The field draws the text; the control only its box.
    void PaintText(QPainter&) override {}

  private:
    QLineEdit* field_;
};

}  // namespace sorvane::app
