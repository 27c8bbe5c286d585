#include "app/message_box.h"

#include <QFontMetrics>

namespace sorvane::app {

QString CMessageBox::LayoutOf(int kind) {
    switch (kind) {
        case kConfirm:
            return QStringLiteral("MessageBox_Confirm.xml");
        case kInformation:
            return QStringLiteral("MessageBox_Information.xml");
        case kWarning:
            return QStringLiteral("MessageBox_Warning.xml");
        case kQuestion:
            return QStringLiteral("MessageBox_Question.xml");
        default:
            return QStringLiteral("MessageBox_Error.xml");
    }
}

QString CMessageBox::TitleIdOf(int kind) {
    switch (kind) {
        case kConfirm:
            return QStringLiteral("MSG0402");
        case kInformation:
            return QStringLiteral("MSG0403");
        case kWarning:
            return QStringLiteral("MSG0405");
        case kQuestion:
            return QStringLiteral("MSG0404");
        default:
            return QStringLiteral("MSG0401");
    }
}

CMessageBox::CMessageBox(int kind, QString text, QString okText)
    : CPopUpWnd(LayoutOf(kind)), kind_(kind), text_(std::move(text)), okText_(std::move(okText)) {}

CMessageBox* CMessageBox::Open(int kind, QWidget* parent, const QString& text, const QString& okText) {
    auto* box = new CMessageBox(kind, text, okText);
    if (!box->Create(parent, kWidth, kHeight)) {
        box->Destroy();
        return nullptr;
    }
    return box;
}

namespace {
CMessageBox::AnswerHook& Hook() {
    static CMessageBox::AnswerHook hook;
    return hook;
}
}  // namespace

void CMessageBox::SetAnswerHook(AnswerHook hook) { Hook() = std::move(hook); }

int CMessageBox::Show(int kind, QWidget* parent, const QString& text, const QString& okText) {
    if (Hook()) return Hook()(kind, text);
    CMessageBox* box = Open(kind, parent, text, okText);
    if (!box) return 2;
    const int code = box->ShowModal();
    box->Destroy();
    return code;
}

void CMessageBox::OnWindowInit() {
    ApplyLanguageSection(QStringLiteral("MessageBox"));
    if (skin::Control* ok = FindControl(QStringLiteral("okbtn")); ok && !okText_.isEmpty())
        ok->SetText(okText_);
    if (skin::Control* title = FindControl(QStringLiteral("title")))
        title->SetText(LanguageService::Text(messages_, TitleIdOf(kind_)));
    skin::Control* message = FindControl(QStringLiteral("message"));
    if (!message) return;
    message->SetText(text_);
    // A long message makes the box taller rather than being cut off.
    const QFont font = Font(message->FontIndex());
    const int needed =
        QFontMetrics(font)
            .boundingRect(QRect(0, 0, qMax(50, message->width()), 10000), Qt::TextWordWrap, text_)
            .height();
    if (needed > message->height() && message->height() > 0) {
        resize(width(), height() + needed - message->height() + 4);
        CentreOnParent();
    }
}

}  // namespace sorvane::app
