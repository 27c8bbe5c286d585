// A soft drop shadow around a frameless window, drawn in a see-through window
// of its own that follows its owner and is shown only while the owner is
// visible and neither minimised nor maximised.
#pragma once

#include <QColor>
#include <QPointer>
#include <QWidget>

namespace sorvane::app {

class CWndShadow : public QWidget {
  public:
    CWndShadow();
    // Follows `owner` from now on.
    void Create(QWidget* owner);
    // Blur width in pixels.
    void SetSize(int size);
    void SetPosition(int x, int y);
    void SetColor(const QColor& color);

    int Size() const { return size_; }
    QColor Color() const { return color_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    void Follow();

    QPointer<QWidget> owner_;
    int size_ = 4;
    QPoint offset_;
    QColor color_{0x2D, 0x2D, 0x2D};
};

}  // namespace sorvane::app
