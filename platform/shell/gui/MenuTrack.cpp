#include "platform/shell/gui/MenuTrack.h"

#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QPointer>
#include <QWidgetAction>

namespace plm {

namespace {

// An item the menu's owner draws: its size and picture come from the message target.
class TOwnerDrawnItem : public QWidget {
public:
  TOwnerDrawnItem(TMenuMessageTarget *target, const TShellMenuItem &item, QAction *action,
                  QWidget *parent)
      : QWidget(parent), fTarget(target), fItem(item), fAction(action) {
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(QString::fromStdString(item.Text));
  }

  QSize sizeHint() const override {
    MEASUREITEMSTRUCT m;
    m.itemID = fItem.Id;
    m.itemData = fItem.Data;
    if (fTarget) fTarget->MenuMessage(WM_MEASUREITEM, 0, reinterpret_cast<LPARAM>(&m));
    return QSize(int(m.itemWidth), int(m.itemHeight)).expandedTo(QSize(1, 1));
  }

protected:
  void paintEvent(QPaintEvent *) override {
    QPainter p(this);
    DRAWITEMSTRUCT d;
    d.itemID = fItem.Id;
    d.itemData = fItem.Data;
    d.itemState = (underMouse() || hasFocus() ? ODS_SELECTED : 0) |
                  (fItem.Flags & MF_GRAYED ? ODS_GRAYED : 0);
    d.hDC = &p;
    d.rcItem = {0, 0, width(), height()};
    if (fTarget) fTarget->MenuMessage(WM_DRAWITEM, 0, reinterpret_cast<LPARAM>(&d));
  }
  void enterEvent(QEnterEvent *) override { update(); }
  void leaveEvent(QEvent *) override { update(); }
  void focusInEvent(QFocusEvent *) override { update(); }
  void focusOutEvent(QFocusEvent *) override { update(); }
  void mouseReleaseEvent(QMouseEvent *) override { Choose(); }
  void keyPressEvent(QKeyEvent *e) override {
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter || e->key() == Qt::Key_Space)
      Choose();
    else
      QWidget::keyPressEvent(e);
  }

private:
  void Choose() {
    if (fItem.Flags & (MF_GRAYED | MF_DISABLED)) return;
    fAction->trigger();
  }
  TMenuMessageTarget *fTarget;
  TShellMenuItem fItem;
  QAction *fAction;
};

void Fill(QMenu &menu, HMENU data, TMenuMessageTarget *target, UINT &chosen) {
  menu.clear();
  for (const TShellMenuItem &it : data->Items) {
    if (it.Flags & MF_SEPARATOR) {
      menu.addSeparator();
      continue;
    }
    QAction *a;
    if (it.Flags & MF_OWNERDRAW) {
      auto *wa = new QWidgetAction(&menu);
      wa->setDefaultWidget(new TOwnerDrawnItem(target, it, wa, nullptr));
      wa->setText(QString::fromStdString(it.Text));
      a = wa;
      menu.addAction(a);
    } else {
      a = menu.addAction(QString::fromStdString(it.Text));
    }
    a->setEnabled(!(it.Flags & (MF_GRAYED | MF_DISABLED)));
    a->setData(it.Id);
    if (int(it.Id) == data->DefaultId) menu.setDefaultAction(a);
    const UINT id = it.Id;
    QObject::connect(a, &QAction::triggered, &menu, [&chosen, id, &menu] {
      chosen = id;
      menu.close();
    });
  }
}

} // namespace

UINT TrackPopupMenuEx(HMENU data, UINT, int x, int y, HWND hwnd) {
  if (!data) return 0;
  auto *target = dynamic_cast<TMenuMessageTarget *>(hwnd);
  QMenu menu(hwnd);
  menu.setAccessibleName(QStringLiteral("Menu contextuel"));
  UINT chosen = 0;
  QObject::connect(&menu, &QMenu::aboutToShow, &menu, [&] {
    if (target) target->MenuMessage(WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(data), 0);
    Fill(menu, data, target, chosen);
  });
  Fill(menu, data, target, chosen);
  if (menu.isEmpty()) return 0;
  menu.exec(QPoint(x, y));
  return chosen;
}

} // namespace plm
