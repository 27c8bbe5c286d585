// The base of Sorvane's small modal windows (progress windows, message boxes):
// a frameless pop-up built from a skin layout, centred on its parent, dragged
// by its caption band, closed by its close, cancel and OK buttons.
#pragma once

#include "app/language_service.h"
#include "app/skin_framework/window.h"

namespace sorvane::app {

// Sets the text of every control named by a key of the language section.
// Keys without a control are ignored.
void ApplyLanguageSection(skin::Window& window, const QString& section);

class CPopUpWnd : public skin::Window {
  public:
    // `layoutFile` is a file in the skin's "xml" folder ("MessageBox_Error.xml").
    explicit CPopUpWnd(const QString& layoutFile = {});

    // Builds the layout, sizes the window, centres it on `parent` and shows it.
    // False when the layout cannot be built.
    bool Create(QWidget* parent, int width, int height);
    // Runs the window modally; returns 1 for "okbtn", 2 for the close or cancel
    // button, or the code a subclass closed it with.
    using skin::Window::ShowModal;
    // Deletes the window; the creator calls it after ShowModal returns.
    void Destroy();

    // Called on "windowinit"; the base does nothing.
    virtual void OnWindowInit() {}
    void ApplyLanguageSection(const QString& section);

    const QString& SkinFile() const { return skinFile_; }
    QWidget* ParentWindow() const { return parentWindow_; }

    void Notify(skin::Notification& notification) override;
    skin::Control* CreateControl(const QString& tag) override;
    // The caption band drags the window except where a button, option, text or
    // fade button lies under the point; sizing borders only when AllowSizing().
    HitArea HitTest(const QPoint& point) const override;
    bool AllowSizing() const override { return false; }

  protected:
    // Subclasses that name their own layout pass the full path ("xml/ScanProcessWnd.xml").
    struct FullPath {
        QString path;
    };
    explicit CPopUpWnd(FullPath skinFile);
    void CentreOnParent();

    QString skinFile_;
    QWidget* parentWindow_ = nullptr;
    LanguageService::TextMap messages_;
};

}  // namespace sorvane::app
