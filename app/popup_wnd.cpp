#include "app/popup_wnd.h"

#include <QGuiApplication>
#include <QScreen>

#include "app/control_factory.h"

namespace sorvane::app {

void ApplyLanguageSection(skin::Window& window, const QString& section) {
    for (const auto& [key, value] : LanguageService::Instance().Section(section)) {
        if (skin::Control* control = window.FindControl(key)) control->SetText(value);
    }
}

CPopUpWnd::CPopUpWnd(const QString& layoutFile) : skinFile_(QStringLiteral("xml/") + layoutFile) {}

CPopUpWnd::CPopUpWnd(FullPath skinFile) : skinFile_(std::move(skinFile.path)) {}

bool CPopUpWnd::Create(QWidget* parent, int width, int height) {
    parentWindow_ = parent;
    if (parent)
        setParent(parent, Qt::Dialog | Qt::FramelessWindowHint);
    else
        setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    if (!LoadLayout(skinFile_)) {
        qWarning("Sorvane: cannot build %s: %s", qPrintable(skinFile_), qPrintable(LayoutError()));
        return false;
    }
    resize(qMax(width, MinimumSize().width()), qMax(height, MinimumSize().height()));
    CentreOnParent();
    show();
    return true;
}

void CPopUpWnd::CentreOnParent() {
    QRect area;
    if (parentWindow_ && parentWindow_->isVisible())
        area = parentWindow_->window()->frameGeometry();
    else if (QScreen* screen = QGuiApplication::primaryScreen())
        area = screen->availableGeometry();
    if (area.isValid()) move(area.center() - QPoint(width() / 2, height() / 2));
}

void CPopUpWnd::Destroy() { delete this; }

void CPopUpWnd::ApplyLanguageSection(const QString& section) { app::ApplyLanguageSection(*this, section); }

void CPopUpWnd::Notify(skin::Notification& notification) {
    if (notification.type == u"windowinit") {
        messages_ = LanguageService::Instance().Section(QStringLiteral("Messages"));
        OnWindowInit();
        return;
    }
    if (notification.type != u"click" || !notification.sender) return;
    const QString name = notification.sender->Name();
    if (name == u"closebtn" || name == u"cancelbtn")
        Close(2);
    else if (name == u"okbtn")
        Close(1);
}

skin::Control* CPopUpWnd::CreateControl(const QString& tag) { return CreateCustomControl(tag); }

skin::Window::HitArea CPopUpWnd::HitTest(const QPoint& point) const {
    const HitArea area = skin::Window::HitTest(point);
    if (area != HitArea::Caption && area != HitArea::Client) return area;
    if (!CaptionRect().contains(point)) return HitArea::Client;
    for (const QWidget* w = childAt(point); w && w != this; w = w->parentWidget()) {
        const auto* control = dynamic_cast<const skin::Control*>(w);
        if (!control) continue;
        if (control->HasInterface(QStringLiteral("Button")) ||
            control->HasInterface(QStringLiteral("Option")) ||
            control->HasInterface(QStringLiteral("Text")) ||
            control->HasInterface(QStringLiteral("FadeButton")))
            return HitArea::Client;
    }
    return HitArea::Caption;
}

}  // namespace sorvane::app
