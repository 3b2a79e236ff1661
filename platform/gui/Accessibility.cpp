#include "platform/gui/Accessibility.h"

#include <QAccessibleObject>
#include <QAccessibleWidget>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>

namespace plm {

namespace {

// A menu opened from a menu bar or another menu is reached through them already.
bool HeldByMenu(QMenu *menu) {
  QAction *action = menu->menuAction();
  QList<QObject *> holders = action->associatedObjects();
  holders.prepend(menu->parentWidget());
  for (QObject *o : holders) {
    auto *w = qobject_cast<QWidget *>(o);
    if ((qobject_cast<QMenu *>(w) || qobject_cast<QMenuBar *>(w)) && w->actions().contains(action))
      return true;
  }
  return false;
}

QList<QObject *> OpenPopupMenus() {
  QList<QObject *> menus;
  for (QWidget *w : QApplication::topLevelWidgets())
    if (auto *menu = qobject_cast<QMenu *>(w); menu && menu->isVisible() && !HeldByMenu(menu))
      menus.append(menu);
  return menus;
}

class ApplicationAccessible : public QAccessibleApplication {
public:
  int childCount() const override {
    return QAccessibleApplication::childCount() + int(OpenPopupMenus().size());
  }
  QAccessibleInterface *child(int index) const override {
    const int windows = QAccessibleApplication::childCount();
    if (index < windows) return QAccessibleApplication::child(index);
    const QList<QObject *> menus = OpenPopupMenus();
    index -= windows;
    return index < menus.size() ? QAccessible::queryAccessibleInterface(menus[index]) : nullptr;
  }
  int indexOfChild(const QAccessibleInterface *child) const override {
    const int window = QAccessibleApplication::indexOfChild(child);
    if (window >= 0 || !child) return window;
    const int menu = int(OpenPopupMenus().indexOf(child->object()));
    return menu < 0 ? -1 : QAccessibleApplication::childCount() + menu;
  }
  QAccessibleInterface *focusChild() const override {
    // An open popup menu has the keyboard.
    if (auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        menu && OpenPopupMenus().contains(menu))
      return QAccessible::queryAccessibleInterface(menu);
    return QAccessibleApplication::focusChild();
  }
};

class CaptionLabelAccessible : public QAccessibleWidget {
public:
  explicit CaptionLabelAccessible(QLabel *label)
      : QAccessibleWidget(label, QAccessible::StaticText) {}
  QString text(QAccessible::Text t) const override {
    if (t != QAccessible::Name) return QAccessibleWidget::text(t);
    const QString own = widget()->accessibleName();
    return own.isEmpty() ? static_cast<const QLabel *>(widget())->text() : own;
  }
};

QAccessibleInterface *Factory(const QString &className, QObject *object) {
  if (object == qApp && className == QLatin1String("QApplication"))
    return new ApplicationAccessible;
  if (className == QLatin1String(TCaptionLabel::staticMetaObject.className()))
    return new CaptionLabelAccessible(static_cast<TCaptionLabel *>(object));
  return nullptr;
}

} // namespace

void InstallAccessibility() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  QAccessible::installFactory(Factory);
}

} // namespace plm
