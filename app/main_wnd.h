// The main window: four pages (what to recover, where to look, which file
// types, the results), the step options that switch between them, the assist
// menu with the language choice, and the window buttons. The scan, search and
// recovery workflow behind the page buttons is built on top of this.
#pragma once

#include <memory>

#include "app/language_service.h"
#include "app/skin_framework/skin_menu.h"
#include "app/skin_framework/window.h"

namespace sorvane::app {

class CWndShadow;

class CMainWnd : public skin::Window {
  public:
    enum Page { kHomePage = 0, kDiskPage = 1, kFileTypePage = 2, kResultsPage = 3 };

    CMainWnd();
    ~CMainWnd() override;

    // Builds the layout; false when the skin is unusable.
    bool Create();
    // Shows a page with its banner, title bar and buttons.
    void ShowPage(int page);
    int CurrentPage() const;
    // Re-applies every text of the current language.
    void ApplyTexts();

    void Notify(skin::Notification& notification) override;
    skin::Control* CreateControl(const QString& tag) override;

    // The assist menu as it would open now (entries, language sub-entries).
    skin::PopupMenu& AssistMenu() { return menu_; }
    void PrepareAssistMenu();

  protected:
    bool event(QEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void OnClick(skin::Control* sender);
    void OnSelectChanged(skin::Control* sender);
    void OnMenuChoice(const QString& name);
    void UpdateStartButton();
    void SetBanner(const QString& background, const QString& logo, const QColor& color);
    QString Message(const char* id);

    LanguageService::TextMap messages_;
    skin::PopupMenu menu_;
    std::unique_ptr<CWndShadow> shadow_;
    bool scanFromDiskPage_ = true;
};

}  // namespace sorvane::app
