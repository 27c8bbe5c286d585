#include "app/skin_framework/window.h"

#include <QApplication>
#include <QEventLoop>
#include <QMouseEvent>
#include <QPainterPath>
#include <QRegion>
#include <QScreen>
#include <QWindow>

#include "app/skin_framework/layout_builder.h"

namespace sorvane::skin {
namespace {

QSize ParseSizeText(const QString& text) {
    const QStringList parts = text.split(u',');
    if (parts.size() != 2) return {};
    return QSize(parts[0].trimmed().toInt(), parts[1].trimmed().toInt());
}

Qt::CursorShape CursorFor(Window::HitArea area) {
    switch (area) {
        case Window::HitArea::Left:
        case Window::HitArea::Right:
            return Qt::SizeHorCursor;
        case Window::HitArea::Top:
        case Window::HitArea::Bottom:
            return Qt::SizeVerCursor;
        case Window::HitArea::TopLeft:
        case Window::HitArea::BottomRight:
            return Qt::SizeFDiagCursor;
        case Window::HitArea::TopRight:
        case Window::HitArea::BottomLeft:
            return Qt::SizeBDiagCursor;
        default:
            return Qt::ArrowCursor;
    }
}

Qt::Edges EdgesFor(Window::HitArea area) {
    switch (area) {
        case Window::HitArea::Left:
            return Qt::LeftEdge;
        case Window::HitArea::Right:
            return Qt::RightEdge;
        case Window::HitArea::Top:
            return Qt::TopEdge;
        case Window::HitArea::Bottom:
            return Qt::BottomEdge;
        case Window::HitArea::TopLeft:
            return Qt::TopEdge | Qt::LeftEdge;
        case Window::HitArea::TopRight:
            return Qt::TopEdge | Qt::RightEdge;
        case Window::HitArea::BottomLeft:
            return Qt::BottomEdge | Qt::LeftEdge;
        case Window::HitArea::BottomRight:
            return Qt::BottomEdge | Qt::RightEdge;
        default:
            return {};
    }
}

}  // namespace

Window::Window(QWidget* parent) : QWidget(parent, Qt::Window | Qt::FramelessWindowHint) {
    setAttribute(Qt::WA_StyledBackground, false);
    setMouseTracking(true);
    qApp->installEventFilter(this);
}

Window::~Window() {
    if (modalLoop_) modalLoop_->exit(closeCode_);
}

bool Window::LoadLayout(const QString& file) {
    layoutFile_ = file;
    const bool ok = BuildLayout(*this, file, &layoutError_);
    if (ok) {
        if (initialSize_.isValid() && !initialSize_.isEmpty()) resize(initialSize_);
        if (minSize_.isValid() && !minSize_.isEmpty()) setMinimumSize(minSize_);
        InitWindow();
    }
    return ok;
}

void Window::SetRoot(Control* root) {
    root_ = root;
    root_->setParent(this);
    root_->setGeometry(rect());
    root_->show();
}

Control* Window::FindControl(const QString& name) const {
    if (name.isEmpty()) return nullptr;
    // The controls carry no meta-object of their own, so the search is by QWidget and dynamic_cast.
    for (QWidget* widget : findChildren<QWidget*>(name)) {
        if (auto* control = dynamic_cast<Control*>(widget)) return control;
    }
    return nullptr;
}

void Window::Notify(Notification&) {}

Control* Window::CreateControl(const QString&) { return nullptr; }

void Window::SendNotify(Notification notification) { Notify(notification); }

int Window::ShowModal() {
    setWindowModality(Qt::ApplicationModal);
    closeCode_ = 0;
    show();
    raise();
    activateWindow();
    QEventLoop loop;
    modalLoop_ = &loop;
    loop.exec(QEventLoop::DialogExec);
    modalLoop_ = nullptr;
    hide();
    return closeCode_;
}

void Window::Close(int code) {
    closeCode_ = code;
    if (modalLoop_)
        modalLoop_->exit(code);
    else
        hide();
}

QRect Window::CaptionRect() const {
    // caption="l,t,r,b": a band from l to the width less r, and from t down to b.
    return QRect(QPoint(caption_.left(), caption_.top()),
                 QPoint(width() - caption_.right() - 1, caption_.bottom() - 1));
}

Window::HitArea Window::HitTest(const QPoint& point) const {
    if (AllowSizing() && !isMaximized() && !isFullScreen()) {
        const QMargins box = sizeBox_;
        const bool left = point.x() < box.left();
        const bool right = point.x() >= width() - box.right();
        const bool top = point.y() < box.top();
        const bool bottom = point.y() >= height() - box.bottom();
        if (top && left) return HitArea::TopLeft;
        if (top && right) return HitArea::TopRight;
        if (bottom && left) return HitArea::BottomLeft;
        if (bottom && right) return HitArea::BottomRight;
        if (left) return HitArea::Left;
        if (right) return HitArea::Right;
        if (top) return HitArea::Top;
        if (bottom) return HitArea::Bottom;
    }
    if (CaptionRect().contains(point)) {
        const QWidget* under = childAt(point);
        for (const QWidget* w = under; w && w != this; w = w->parentWidget()) {
            const auto* control = dynamic_cast<const Control*>(w);
            if (control && (control->HasInterface(QStringLiteral("Button")) ||
                            control->HasInterface(QStringLiteral("List"))))
                return HitArea::Client;
            if (!control) return HitArea::Client;  // a plain Qt widget inside a control (an edit box)
        }
        return HitArea::Caption;
    }
    return HitArea::Client;
}

void Window::SetWindowAttribute(const QString& name, const QString& value) {
    if (name == u"size")
        initialSize_ = ParseSizeText(value);
    else if (name == u"mininfo")
        minSize_ = ParseSizeText(value);
    else if (name == u"caption")
        caption_ = ParseMargins(value);
    else if (name == u"sizebox")
        sizeBox_ = ParseMargins(value);
    else if (name == u"roundcorner")
        roundCorner_ = ParseSizeText(value);
    else if (name == u"title")
        setWindowTitle(value);
}

void Window::AddFont(int id, const QFont& font, bool isDefault) {
    fonts_.insert(id, font);
    if (isDefault || defaultFont_ < 0) defaultFont_ = id;
}

QFont Window::Font(int index) const {
    auto it = fonts_.constFind(index);
    if (it == fonts_.constEnd()) it = fonts_.constFind(defaultFont_);
    if (it != fonts_.constEnd()) return *it;
    QFont fallback(QStringLiteral("DejaVu Sans"));
    fallback.setPixelSize(12);
    return fallback;
}

const AttributeList* Window::Style(const QString& name) const {
    const auto it = styles_.constFind(name);
    return it == styles_.constEnd() ? nullptr : &*it;
}

const AttributeList* Window::Defaults(const QString& tag) const {
    const auto it = defaults_.constFind(tag);
    return it == defaults_.constEnd() ? nullptr : &*it;
}

void Window::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!initialised_ && root_) {
        initialised_ = true;
        Notification init{QStringLiteral("windowinit"), root_};
        Notify(init);
    }
}

void Window::resizeEvent(QResizeEvent*) {
    if (root_) root_->setGeometry(rect());
    UpdateMask();
}

void Window::changeEvent(QEvent* event) {
    if (event->type() == QEvent::WindowStateChange) UpdateMask();
    QWidget::changeEvent(event);
}

void Window::closeEvent(QCloseEvent* event) {
    if (modalLoop_) {
        // Closing through the window manager counts as the close button.
        Close(2);
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

void Window::UpdateMask() {
    if (roundCorner_.isEmpty() || isMaximized() || isFullScreen()) {
        clearMask();
        return;
    }
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()), roundCorner_.width(), roundCorner_.height());
    setMask(QRegion(path.toFillPolygon().toPolygon()));
}

bool Window::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseMove && type != QEvent::MouseButtonDblClick)
        return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != this || !isVisible()) return false;
    auto* mouse = static_cast<QMouseEvent*>(event);
    const QPoint point = widget->mapTo(this, mouse->position().toPoint());
    const HitArea area = HitTest(point);
    if (type == QEvent::MouseMove) {
        if (mouse->buttons() == Qt::NoButton) {
            if (area == HitArea::Client || area == HitArea::Caption)
                unsetCursor();
            else
                setCursor(CursorFor(area));
        }
        return false;
    }
    if (mouse->button() != Qt::LeftButton || area == HitArea::Client) return false;
    if (type == QEvent::MouseButtonDblClick) {
        if (area == HitArea::Caption && AllowSizing() && maximumSize() != minimumSize()) {
            isMaximized() ? showNormal() : showMaximized();
            return true;
        }
        return false;
    }
    if (QWindow* handle = windowHandle()) {
        if (area == HitArea::Caption)
            handle->startSystemMove();
        else
            handle->startSystemResize(EdgesFor(area));
    }
    return true;
}

}  // namespace sorvane::skin
