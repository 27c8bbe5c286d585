// A frameless window whose controls are built from a layout of the skin
// package. It owns the layout's fonts, default attributes and styles, finds
// controls by name, delivers their notifications to Notify, lets the user drag
// it by its caption band and size it by its borders, cuts its corners round,
// and can run modally.
#pragma once

#include <QFont>
#include <QHash>
#include <QList>
#include <QPair>
#include <QString>
#include <QWidget>

#include "app/skin_framework/controls.h"

class QEventLoop;

namespace sorvane::skin {

using AttributeList = QList<QPair<QString, QString>>;

class Window : public QWidget {
  public:
    explicit Window(QWidget* parent = nullptr);
    ~Window() override;

    // Builds the controls from a layout of the package ("xml/skin.xml"; "\"
    // works as "/"). False when the layout is missing or names an unknown
    // element; LayoutError() then says what went wrong.
    bool LoadLayout(const QString& file);
    const QString& LayoutError() const { return layoutError_; }
    const QString& LayoutFile() const { return layoutFile_; }

    Control* Root() const { return root_; }
    Control* FindControl(const QString& name) const;
    template <typename T>
    T* Find(const QString& name) const {
        return dynamic_cast<T*>(FindControl(name));
    }

    // Receives every notification of the window's controls.
    virtual void Notify(Notification& notification);
    // The control factory hook: called for tags the framework does not know.
    virtual Control* CreateControl(const QString& tag);
    void SendNotify(Notification notification);

    // Runs the window modally; returns the code given to Close.
    int ShowModal();
    void Close(int code);
    int CloseCode() const { return closeCode_; }

    enum class HitArea {
        Client,
        Caption,
        Left,
        Right,
        Top,
        TopLeft,
        TopRight,
        Bottom,
        BottomLeft,
        BottomRight
    };
    // What the point (window coordinates) is for: dragging, sizing or the controls.
    virtual HitArea HitTest(const QPoint& point) const;
    // Whether the borders size the window.
    virtual bool AllowSizing() const { return true; }

    // Layout figures of the <Window> element.
    QSize InitialSize() const { return initialSize_; }
    QSize MinimumSize() const { return minSize_; }
    QRect CaptionRect() const;
    int CaptionHeight() const { return caption_.bottom(); }
    int SizeBox() const { return sizeBox_.left(); }
    QSize RoundCorner() const { return roundCorner_; }

    QFont Font(int index) const;
    QFont DefaultFont() const { return Font(defaultFont_); }
    const AttributeList* Style(const QString& name) const;
    const AttributeList* Defaults(const QString& tag) const;

    // Used by the layout builder.
    void SetWindowAttribute(const QString& name, const QString& value);
    void AddFont(int id, const QFont& font, bool isDefault);
    void AddStyle(const QString& name, const AttributeList& attributes) { styles_.insert(name, attributes); }
    void AddDefault(const QString& tag, const AttributeList& attributes) {
        defaults_.insert(tag, attributes);
    }
    void SetRoot(Control* root);

  protected:
    // Called once after the layout is built and before "windowinit" is sent.
    virtual void InitWindow() {}
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void UpdateMask();

    Control* root_ = nullptr;
    QString layoutFile_;
    QString layoutError_;
    QHash<int, QFont> fonts_;
    int defaultFont_ = -1;
    QHash<QString, AttributeList> styles_;
    QHash<QString, AttributeList> defaults_;
    QSize initialSize_;
    QSize minSize_;
    QMargins caption_;
    QMargins sizeBox_;
    QSize roundCorner_;
    bool initialised_ = false;
    QEventLoop* modalLoop_ = nullptr;
    int closeCode_ = 0;
};

}  // namespace sorvane::skin
