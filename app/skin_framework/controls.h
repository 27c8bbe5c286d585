// The controls a layout can name. Each is a QWidget that paints itself from
// its attributes (colours, pictures, texts with inline markup) and tells its
// window what happened through named notifications.
#pragma once

#include <QColor>
#include <QMargins>
#include <QRect>
#include <QString>
#include <QWidget>

#include "app/skin_framework/picture.h"

class QTextBrowser;

namespace sorvane::skin {

class Window;
class Control;

// What a control reports to its window's Notify: "click", "selectchanged", ...
struct Notification {
    QString type;
    Control* sender = nullptr;
    qint64 wParam = 0;
    qint64 lParam = 0;
};

class Control : public QWidget {
  public:
    explicit Control(QWidget* parent = nullptr);

    // The class name and the interface names the control answers to.
    virtual QString ClassName() const { return QStringLiteral("Control"); }
    virtual bool HasInterface(const QString& name) const { return name == u"Control"; }

    QString Name() const { return objectName(); }
    void SetName(const QString& name) { setObjectName(name); }

    virtual void SetText(const QString& text);
    const QString& Text() const { return text_; }
    void SetTextColor(const QColor& color);
    QColor TextColor() const { return textColor_; }
    void SetBkColor(const QColor& color);
    QColor BkColor() const { return bkColor_; }
    void SetBkImage(const QString& picture);
    const QString& BkImage() const { return bkImage_; }
    void SetForeImage(const QString& picture);
    const QString& ForeImage() const { return foreImage_; }
    void SetFontIndex(int index);
    int FontIndex() const { return font_; }
    void SetShowHtml(bool on);
    void SetUserData(const QString& data) { userData_ = data; }
    const QString& UserData() const { return userData_; }
    void SetTag(qint64 tag) { tag_ = tag; }
    qint64 Tag() const { return tag_; }

    // Shows or hides the control and lays its parent out again.
    void setVisible(bool visible) override;
    // The visibility the control was given (not whether its window is on screen).
    bool IsVisible() const { return !isHidden(); }
    void SetEnabled(bool enabled);
    bool IsEnabled() const { return isEnabled(); }

    // Layout figures: a fixed size of 0 lets the control share the free space.
    int FixedWidth() const { return fixedWidth_; }
    int FixedHeight() const { return fixedHeight_; }
    void SetFixedWidth(int width);
    void SetFixedHeight(int height);
    QSize MinSize() const { return minSize_; }
    QMargins Padding() const { return padding_; }
    bool IsFloat() const { return float_; }
    QRect FloatPos() const { return floatPos_; }

    // Applies one layout attribute; unknown names are kept (Attribute()) but have no effect.
    virtual void SetAttribute(const QString& name, const QString& value);
    QString Attribute(const QString& name) const;

    Window* OwnerWindow() const;
    void SendNotify(const QString& type, qint64 wParam = 0, qint64 lParam = 0);

    // The text as drawn on screen, without markup.
    QString ShownText() const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    virtual void PaintBackground(QPainter& painter);
    virtual void PaintStatusImage(QPainter& painter);
    virtual void PaintText(QPainter& painter);
    virtual void PaintBorder(QPainter& painter);
    // Draws `text` (markup when showhtml is on) in `box` with the control's font and alignment.
    void DrawText(QPainter& painter, const QRect& box, const QString& text, const QColor& color);
    QFont ControlFont() const;
    QRect TextRect() const { return rect().marginsRemoved(textPadding_); }

    QString text_;
    QColor textColor_;
    QColor disabledTextColor_;
    QColor bkColor_;
    QColor bkColor2_;
    QColor borderColor_;
    int borderSize_ = 0;
    int borderRound_ = 0;
    QString bkImage_;
    QString foreImage_;
    int font_ = -1;
    bool showHtml_ = false;
    bool multiline_ = false;
    bool endEllipsis_ = false;
    Qt::Alignment align_ = Qt::AlignLeft | Qt::AlignVCenter;
    QMargins textPadding_;
    QString userData_;
    qint64 tag_ = 0;
    int fixedWidth_ = 0;
    int fixedHeight_ = 0;
    QSize minSize_;
    QMargins padding_;
    bool float_ = false;
    QRect floatPos_;
    QList<QPair<QString, QString>> attributes_;
};

// A control holding others. Vertical and horizontal layouts give each child
// its fixed size and share what is left among the children without one; a
// plain container gives every child its whole area.
class Container : public Control {
  public:
    enum class Direction { Stack, Vertical, Horizontal };
    explicit Container(Direction direction = Direction::Stack, QWidget* parent = nullptr);
    QString ClassName() const override;
    bool HasInterface(const QString& name) const override;

    virtual void Add(Control* child);
    virtual void AddAt(Control* child, int index);
    virtual void Remove(Control* child);
    int Count() const { return static_cast<int>(items_.size()); }
    Control* ItemAt(int index) const { return index >= 0 && index < items_.size() ? items_[index] : nullptr; }
    int IndexOf(Control* child) const { return static_cast<int>(items_.indexOf(child)); }

    void SetAttribute(const QString& name, const QString& value) override;
    // Places the children again (also done on every resize).
    virtual void Relayout();

  protected:
    void resizeEvent(QResizeEvent* event) override;
    // Hook for containers that scroll: the area children are laid out in.
    virtual QRect LayoutArea() const { return rect().marginsRemoved(inset_); }

    Direction direction_;
    QList<Control*> items_;
    QMargins inset_;
    int childPadding_ = 0;
    Qt::Alignment childAlign_ = {};
};

class VerticalLayout : public Container {
  public:
    explicit VerticalLayout(QWidget* parent = nullptr) : Container(Direction::Vertical, parent) {}
};
class HorizontalLayout : public Container {
  public:
    explicit HorizontalLayout(QWidget* parent = nullptr) : Container(Direction::Horizontal, parent) {}
};

// Shows one child at a time.
class TabLayout : public Container {
  public:
    explicit TabLayout(QWidget* parent = nullptr) : Container(Direction::Stack, parent) {}
    QString ClassName() const override { return QStringLiteral("TabLayout"); }
    bool HasInterface(const QString& name) const override {
        return name == u"TabLayout" || Container::HasInterface(name);
    }
    void Add(Control* child) override;
    bool SelectItem(int index);
    int CurSel() const { return current_; }
    void SetAttribute(const QString& name, const QString& value) override;

  private:
    int current_ = 0;
};

class Label : public Control {
  public:
    explicit Label(QWidget* parent = nullptr);
    QString ClassName() const override { return QStringLiteral("Label"); }
    bool HasInterface(const QString& name) const override {
        return name == u"Label" || Control::HasInterface(name);
    }
};

// A label whose text wraps over several lines.
class Text : public Label {
  public:
    explicit Text(QWidget* parent = nullptr);
    QString ClassName() const override { return QStringLiteral("Text"); }
    bool HasInterface(const QString& name) const override {
        return name == u"Text" || Label::HasInterface(name);
    }
};

// Sends "click" when pressed and released over it.
class Button : public Label {
  public:
    explicit Button(QWidget* parent = nullptr);
    QString ClassName() const override { return QStringLiteral("Button"); }
    bool HasInterface(const QString& name) const override {
        return name == u"Button" || Label::HasInterface(name);
    }
    void SetAttribute(const QString& name, const QString& value) override;
    void SetNormalImage(const QString& picture);
    bool IsHot() const { return hot_; }

  protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void PaintStatusImage(QPainter& painter) override;
    void PaintText(QPainter& painter) override;
    // Called when a click completes; the base sends "click".
    virtual void Activate();

    QString normalImage_, hotImage_, pushedImage_, disabledImage_;
    QColor hotTextColor_, pushedTextColor_, hotBkColor_;
    bool hot_ = false;
    bool pushed_ = false;
};

// A button with a selected state. Options of one group exclude each other;
// a change sends "selectchanged".
class Option : public Button {
  public:
    explicit Option(QWidget* parent = nullptr) : Button(parent) {}
    QString ClassName() const override { return QStringLiteral("Option"); }
    bool HasInterface(const QString& name) const override {
        return name == u"Option" || Button::HasInterface(name);
    }
    void SetAttribute(const QString& name, const QString& value) override;
    virtual void Selected(bool selected, bool notify = true);
    bool IsSelected() const { return selected_; }
    const QString& Group() const { return group_; }

  protected:
    void Activate() override;
    void PaintStatusImage(QPainter& painter) override;
    void PaintText(QPainter& painter) override;

    bool selected_ = false;
    QString group_;
    QString selectedImage_, selectedHotImage_, selectedDisabledImage_;
    QColor selectedTextColor_, selectedBkColor_;
};

// An option that toggles on its own; it may also show a half-selected state.
class CheckBox : public Option {
  public:
    explicit CheckBox(QWidget* parent = nullptr) : Option(parent) {}
    QString ClassName() const override { return QStringLiteral("CheckBox"); }
    bool HasInterface(const QString& name) const override {
        return name == u"CheckBox" || Option::HasInterface(name);
    }
    void SetAttribute(const QString& name, const QString& value) override;
    void Selected(bool selected, bool notify = true) override;
    void SetHalfSelected(bool half);
    bool IsHalfSelected() const { return half_; }

  protected:
    void PaintStatusImage(QPainter& painter) override;

    bool half_ = false;
    QString halfImage_;
};

class Progress : public Label {
  public:
    explicit Progress(QWidget* parent = nullptr) : Label(parent) {}
    QString ClassName() const override { return QStringLiteral("Progress"); }
    bool HasInterface(const QString& name) const override {
        return name == u"Progress" || Label::HasInterface(name);
    }
    void SetAttribute(const QString& name, const QString& value) override;
    void SetValue(int value);
    int Value() const { return value_; }
    int Maximum() const { return max_; }

  protected:
    void PaintStatusImage(QPainter& painter) override;

    int min_ = 0;
    int max_ = 100;
    int value_ = 0;
    QColor foreColor_;
};

// A read-only rich-text pane.
class RichEdit : public Control {
  public:
    explicit RichEdit(QWidget* parent = nullptr);
    QString ClassName() const override { return QStringLiteral("RichEdit"); }
    bool HasInterface(const QString& name) const override {
        return name == u"RichEdit" || Control::HasInterface(name);
    }
    void SetText(const QString& text) override;
    void SetAttribute(const QString& name, const QString& value) override;
    QTextBrowser* Browser() const { return browser_; }

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    QTextBrowser* browser_;
};

// Menu entries as a layout describes them; a PopupMenu shows them.
class MenuElement : public Container {
  public:
    explicit MenuElement(QWidget* parent = nullptr) : Container(Direction::Vertical, parent) {}
    QString ClassName() const override { return QStringLiteral("MenuElement"); }
    bool HasInterface(const QString& name) const override {
        return name == u"MenuElement" || Container::HasInterface(name);
    }
};
class Menu : public Container {
  public:
    explicit Menu(QWidget* parent = nullptr) : Container(Direction::Vertical, parent) {}
    QString ClassName() const override { return QStringLiteral("Menu"); }
    bool HasInterface(const QString& name) const override {
        return name == u"Menu" || Container::HasInterface(name);
    }
};

// Colours in layouts: "#AARRGGBB" or "#RRGGBB"; an invalid colour when malformed.
QColor ParseColor(const QString& text);
bool ParseBool(const QString& text);

}  // namespace sorvane::skin
