#include "platform/gui/Accessibility.h"

#include <QAccessibleObject>
#include <QAccessibleWidget>
#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>

namespace plm {

namespace {

// The menu bar or menu that shows an action, looked for first in `first` when given (an
// action is read once: the first one found stands for all).
QWidget *MenuHolding(QAction *action, QObject *first = nullptr) {
  QList<QObject *> holders = action->associatedObjects();
  if (first) holders.prepend(first);
  for (QObject *o : holders)
    if (auto *w = qobject_cast<QWidget *>(o);
        (qobject_cast<QMenuBar *>(w) || qobject_cast<QMenu *>(w)) && w->actions().contains(action))
      return w;
  return nullptr;
}

// A menu opened from a menu bar or another menu is reached through them already.
bool HeldByMenu(QMenu *menu) {
  return MenuHolding(menu->menuAction(), menu->parentWidget()) != nullptr;
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

QRect ActionGeometry(QWidget *holder, QAction *action) {
  if (auto *bar = qobject_cast<QMenuBar *>(holder)) return bar->actionGeometry(action);
  if (auto *menu = qobject_cast<QMenu *>(holder)) return menu->actionGeometry(action);
  return {};
}

// A menu item whose caption is no name for a listener (the menu bar's "?"): read with the
// action's "accessibleName" property, otherwise as Qt reads a menu item.
class NamedMenuItemAccessible : public QAccessibleInterface, public QAccessibleActionInterface {
public:
  NamedMenuItemAccessible(QWidget *holder, QAction *action) : fHolder(holder), fAction(action) {}

  bool isValid() const override { return fHolder && fAction; }
  QObject *object() const override { return fAction; }
  QWindow *window() const override { return fHolder ? fHolder->window()->windowHandle() : nullptr; }
  QAccessibleInterface *parent() const override {
    return QAccessible::queryAccessibleInterface(fHolder.data());
  }
  QAccessibleInterface *child(int index) const override {
    return index == 0 && fAction->menu() ? QAccessible::queryAccessibleInterface(fAction->menu())
                                         : nullptr;
  }
  int childCount() const override { return fAction->menu() ? 1 : 0; }
  int indexOfChild(const QAccessibleInterface *child) const override {
    return child && fAction->menu() && child->object() == fAction->menu() ? 0 : -1;
  }
  QAccessibleInterface *childAt(int, int) const override { return nullptr; }
  QString text(QAccessible::Text t) const override {
    switch (t) {
    case QAccessible::Name: return fAction->property("accessibleName").toString();
    case QAccessible::Description: return fAction->toolTip();
    case QAccessible::Accelerator: return fAction->shortcut().toString(QKeySequence::NativeText);
    default: return {};
    }
  }
  void setText(QAccessible::Text, const QString &) override {}
  QRect rect() const override {
    const QRect r = ActionGeometry(fHolder, fAction);
    return r.isNull() ? r : QRect(fHolder->mapToGlobal(r.topLeft()), r.size());
  }
  QAccessible::Role role() const override { return QAccessible::MenuItem; }
  QAccessible::State state() const override {
    QAccessible::State s;
    s.focusable = true;
    s.disabled = !fAction->isEnabled();
    s.invisible = !fAction->isVisible() || !fHolder->isVisible();
    s.checkable = fAction->isCheckable();
    s.checked = fAction->isChecked();
    s.hasPopup = fAction->menu() != nullptr;
    QAction *active = nullptr;
    if (auto *bar = qobject_cast<QMenuBar *>(fHolder.data())) active = bar->activeAction();
    else if (auto *menu = qobject_cast<QMenu *>(fHolder.data())) active = menu->activeAction();
    s.focused = s.hotTracked = active == fAction;
    return s;
  }
  void *interface_cast(QAccessible::InterfaceType t) override {
    return t == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface *>(this)
                                             : nullptr;
  }

  QStringList actionNames() const override {
    if (!fAction->isEnabled()) return {};
    return {fAction->menu() ? showMenuAction() : pressAction()};
  }
  void doAction(const QString &name) override {
    if (!fAction->isEnabled()) return;
    if (name == pressAction() && !fAction->menu()) fAction->trigger();
    else if (name == showMenuAction() && fAction->menu()) {
      if (auto *bar = qobject_cast<QMenuBar *>(fHolder.data())) bar->setActiveAction(fAction);
      else if (auto *menu = qobject_cast<QMenu *>(fHolder.data())) menu->setActiveAction(fAction);
    }
  }
  QStringList keyBindingsForAction(const QString &) const override {
    const QKeySequence k = fAction->shortcut();
    return k.isEmpty() ? QStringList() : QStringList{k.toString(QKeySequence::NativeText)};
  }

private:
  QPointer<QWidget> fHolder;
  QPointer<QAction> fAction;
};

QAccessibleInterface *Factory(const QString &className, QObject *object) {
  if (object == qApp && className == QLatin1String("QApplication"))
    return new ApplicationAccessible;
  if (auto *action = qobject_cast<QAction *>(object);
      action && !action->property("accessibleName").toString().isEmpty())
    if (QWidget *holder = MenuHolding(action)) return new NamedMenuItemAccessible(holder, action);
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
