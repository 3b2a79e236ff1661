#include "platform/gui/Cursors.h"

#include <QCursor>
#include <QGuiApplication>

namespace plm {

namespace {
TScreenCursor gCursor = TScreenCursor::crDefault;
}

void SetScreenCursor(TScreenCursor cursor) {
  if (cursor == TScreenCursor::crDefault) {
    while (QGuiApplication::overrideCursor())
      QGuiApplication::restoreOverrideCursor();
  } else {
    const QCursor c(cursor == TScreenCursor::crHourGlass ? Qt::WaitCursor : Qt::BusyCursor);
    if (QGuiApplication::overrideCursor())
      QGuiApplication::changeOverrideCursor(c);
    else
      QGuiApplication::setOverrideCursor(c);
  }
  gCursor = cursor;
}

TScreenCursor ScreenCursor() { return gCursor; }

} // namespace plm
