// A pop-up menu described by a layout: <Menu name="..."> with <MenuElement
// name="..." text="..." icon="..."/> entries, which may hold entries of their
// own (a sub-menu). The layout is read into a window that is never shown, so
// its entries can be found and renamed like any control; Exec shows the menu.
#pragma once

#include <QPoint>
#include <QString>
#include <QVector>
#include <memory>

class QMenu;

#include "app/skin_framework/window.h"

namespace sorvane::skin {

class PopupMenu {
  public:
    struct Entry {
        QString name;
        QString text;
        QString picture;  // a picture string, may be empty
    };

    // Reads the layout; false when it is missing or malformed.
    bool Load(const QString& file);
    Window& Layout() { return layout_; }
    Menu* Root() const;

    // Entries shown under `parentName` as a sub-menu (replacing earlier ones).
    void SetSubEntries(const QString& parentName, const QVector<Entry>& entries);
    const QVector<Entry>& SubEntries(const QString& parentName) const;

    // Shows the menu at a screen position and waits; returns the name of the
    // chosen entry, or an empty text when the menu was dismissed.
    QString Exec(const QPoint& globalPos, QWidget* owner);
    // The menu as Exec would show it; each action and sub-menu is named after its entry.
    std::unique_ptr<QMenu> Build(QWidget* owner);

  private:
    Window layout_;
    QHash<QString, QVector<Entry>> subEntries_;
};

}  // namespace sorvane::skin
