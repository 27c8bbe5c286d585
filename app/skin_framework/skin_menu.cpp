#include "app/skin_framework/skin_menu.h"

#include <QAction>
#include <QIcon>
#include <QMenu>
#include <QPainter>
#include <functional>

#include "app/skin_framework/skin_package.h"

namespace sorvane::skin {
namespace {

QIcon IconFor(const QString& picture) {
    if (picture.isEmpty()) return {};
    PictureSpec pic = ParsePicture(picture);
    QPixmap source = SkinPackage::Instance().Picture(pic.file);
    if (source.isNull()) return {};
    if (!pic.source.isNull()) source = source.copy(pic.source);
    return QIcon(source);
}

const char* kMenuStyle =
    "QMenu{background:#FFFFFF;border:1px solid #D5DCE4;border-radius:6px;padding:6px 0;}"
    "QMenu::item{padding:7px 28px 7px 14px;color:#2D3640;font-size:13px;}"
    "QMenu::item:selected{background:#E8F3FB;color:#0B6FA4;}"
    "QMenu::icon{padding-left:8px;}"
    "QMenu::separator{height:1px;background:#E4E8EE;margin:4px 10px;}";

}  // namespace

bool PopupMenu::Load(const QString& file) { return layout_.LoadLayout(file); }

Menu* PopupMenu::Root() const {
    Control* root = layout_.Root();
    if (auto* menu = dynamic_cast<Menu*>(root)) return menu;
    if (!root) return nullptr;
    for (QWidget* widget : root->findChildren<QWidget*>()) {
        if (auto* menu = dynamic_cast<Menu*>(widget)) return menu;
    }
    return nullptr;
}

void PopupMenu::SetSubEntries(const QString& parentName, const QVector<Entry>& entries) {
    subEntries_.insert(parentName, entries);
}

const QVector<PopupMenu::Entry>& PopupMenu::SubEntries(const QString& parentName) const {
    static const QVector<Entry> none;
    const auto it = subEntries_.constFind(parentName);
    return it == subEntries_.constEnd() ? none : *it;
}

QString PopupMenu::Exec(const QPoint& globalPos, QWidget* owner) {
    std::unique_ptr<QMenu> menu = Build(owner);
    if (!menu) return {};
    QAction* chosen = menu->exec(globalPos);
    return chosen ? chosen->objectName() : QString();
}

std::unique_ptr<QMenu> PopupMenu::Build(QWidget* owner) {
    Menu* root = Root();
    if (!root) return nullptr;
    auto menu = std::make_unique<QMenu>(owner);
    menu->setStyleSheet(QString::fromLatin1(kMenuStyle));
    std::function<void(QMenu&, Container&)> fill = [&](QMenu& target, Container& source) {
        for (int i = 0; i < source.Count(); ++i) {
            auto* element = dynamic_cast<MenuElement*>(source.ItemAt(i));
            if (!element || !element->IsVisible()) continue;
            const QVector<Entry>& extra = SubEntries(element->Name());
            if (element->Count() > 0 || !extra.isEmpty()) {
                QMenu* sub =
                    target.addMenu(IconFor(element->Attribute(QStringLiteral("icon"))), element->Text());
                sub->setObjectName(element->Name());
                sub->setStyleSheet(QString::fromLatin1(kMenuStyle));
                fill(*sub, *element);
                for (const Entry& entry : extra) {
                    QAction* action = sub->addAction(IconFor(entry.picture), entry.text);
                    action->setObjectName(entry.name);
                }
                continue;
            }
            QAction* action =
                target.addAction(IconFor(element->Attribute(QStringLiteral("icon"))), element->Text());
            action->setObjectName(element->Name());
            action->setEnabled(element->IsEnabled());
            if (ParseBool(element->Attribute(QStringLiteral("separator")))) target.addSeparator();
        }
    };
    fill(*menu, *root);
    return menu;
}

}  // namespace sorvane::skin
