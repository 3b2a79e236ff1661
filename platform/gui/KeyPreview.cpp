#include "platform/gui/KeyPreview.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QWidget>

namespace plm {

TKeyPreview::TKeyPreview(QWidget *window, Handler handler)
    : QObject(window), fWindow(window), fHandler(std::move(handler)) {
  qApp->installEventFilter(this);
}

bool TKeyPreview::eventFilter(QObject *obj, QEvent *e) {
  if (e->type() != QEvent::KeyPress || e == fDelivering || !obj->isWidgetType()) return false;
  auto *w = static_cast<QWidget *>(obj);
  if (w->window() != fWindow) return false;
  auto *k = static_cast<QKeyEvent *>(e);
  int key = k->key();
  if (fHandler) fHandler(key, k->modifiers());
  if (key != 0) {
    // The control gets the press now, and its parents after it when it leaves it
    // unaccepted; the handler has had its turn.
    const QPointer<TKeyPreview> self(this);
    const QEvent *outer = fDelivering;
    fDelivering = e;
    QCoreApplication::sendEvent(obj, e);
    if (!self) return true;
    fDelivering = outer;
  }
  k->accept();
  return true;
}

} // namespace plm
