#include "app/edit_box.h"

#include <QLineEdit>

namespace sorvane::app {

CEditUI::CEditUI(QWidget* parent) : skin::Control(parent), field_(new QLineEdit(this)) {
    field_->setFrame(false);
    field_->setClearButtonEnabled(true);
    QObject::connect(field_, &QLineEdit::textChanged, field_, [this](const QString& text) {
        text_ = text;
        SendNotify(QStringLiteral("textchanged"));
    });
}

void CEditUI::SetText(const QString& text) {
    if (field_->text() != text) field_->setText(text);  // textChanged notifies
}

QString CEditUI::Typed() const { return field_->text(); }

void CEditUI::SetHint(const QString& hint) { field_->setPlaceholderText(hint); }

void CEditUI::SetInvalid(bool invalid) {
    field_->setStyleSheet(invalid ? QStringLiteral("QLineEdit { color: #C62828; }") : QString());
}

void CEditUI::SetAttribute(const QString& name, const QString& value) {
    if (name == u"hint")
        SetHint(value);
    else if (name == u"text")
        field_->setText(value);
    else
        skin::Control::SetAttribute(name, value);
}

void CEditUI::resizeEvent(QResizeEvent* event) {
    skin::Control::resizeEvent(event);
    // Inside the border, centred vertically.
    const QRect inner = rect().adjusted(6, 1, -2, -1);
    field_->setGeometry(inner);
}

}  // namespace sorvane::app
