#include "platform/gui/KeyPreview.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

namespace plm {

TKeyPreview::TKeyPreview(QWidget *window, Handler handler)
    : QObject(window), fWindow(window), fHandler(std::move(handler)) {
  qApp->installEventFilter(this);
}

bool TKeyPreview::eventFilter(QObject *obj, QEvent *e) {
  if (e->type() != QEvent::KeyPress || !obj->isWidgetType()) return false;
  auto *w = static_cast<QWidget *>(obj);
  if (w->window() != fWindow) return false;
  if (e == fLastEvent && fLastTarget) {
    // Still the same press on its way up from the widget it was first sent to.
    for (QObject *p = fLastTarget->parent(); p; p = p->parent())
      if (p == obj) return false;
  }
  fLastEvent = e;
  fLastTarget = obj;
  auto *k = static_cast<QKeyEvent *>(e);
  int key = k->key();
  if (fHandler) fHandler(key, k->modifiers());
  if (key == 0) {
    k->accept();
    return true;
  }
  return false;
}

} // namespace plm
