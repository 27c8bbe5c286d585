#include "app/wnd_shadow.h"

#include <QEvent>
#include <QPainter>
#include <QPainterPath>

namespace sorvane::app {

CWndShadow::CWndShadow()
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowTransparentForInput |
                           Qt::WindowDoesNotAcceptFocus) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_ShowWithoutActivating);
}

void CWndShadow::Create(QWidget* owner) {
    if (owner_) owner_->removeEventFilter(this);
    owner_ = owner;
    if (owner_) owner_->installEventFilter(this);
    Follow();
}

void CWndShadow::SetSize(int size) {
    size_ = qBound(0, size, 40);
    Follow();
    if (isVisible()) update();
}

void CWndShadow::SetPosition(int x, int y) {
    offset_ = QPoint(x, y);
    Follow();
    if (isVisible()) update();
}

void CWndShadow::SetColor(const QColor& color) {
    color_ = color;
    if (isVisible()) update();
}

void CWndShadow::Follow() {
    if (!owner_) return hide();
    const bool shown =
        owner_->isVisible() && !owner_->isMinimized() && !owner_->isMaximized() && !owner_->isFullScreen();
    if (!shown) return hide();
    setGeometry(owner_->frameGeometry().translated(offset_).adjusted(-size_, -size_, size_, size_));
    if (!isVisible()) {
        show();
        owner_->raise();
    }
}

bool CWndShadow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == owner_) {
        switch (event->type()) {
            case QEvent::Move:
            case QEvent::Resize:
            case QEvent::Show:
            case QEvent::Hide:
            case QEvent::WindowStateChange:
                Follow();
                break;
            default:
                break;
        }
    }
    return false;
}

void CWndShadow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    // Rings from the outside in, each a little darker: a soft fall-off towards the owner's edge.
    const QRectF inner = QRectF(rect()).adjusted(size_, size_, -size_, -size_);
    for (int i = size_; i > 0; --i) {
        QColor ring = color_;
        ring.setAlphaF(0.22 * (1.0 - static_cast<double>(i) / (size_ + 1)) / qMax(1, size_ / 3));
        QPainterPath path;
        path.addRoundedRect(inner.adjusted(-i, -i, i, i), 6 + i, 6 + i);
        painter.fillPath(path, ring);
    }
}

}  // namespace sorvane::app
