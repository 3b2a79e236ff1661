#include "platform/gui/Hints.h"

#include <QApplication>
#include <QHelpEvent>
#include <QToolTip>
#include <QWidget>

namespace plm {

namespace {

int gPause = DefaultHintHidePause;

// Shows each widget's tool tip for the application's hint time.
class HintFilter : public QObject {
public:
  using QObject::QObject;
  bool eventFilter(QObject *obj, QEvent *e) override {
    if (e->type() != QEvent::ToolTip || !obj->isWidgetType()) return false;
    auto *w = static_cast<QWidget *>(obj);
    if (w->toolTip().isEmpty() || w->toolTipDuration() > 0) return false;
    QToolTip::showText(static_cast<QHelpEvent *>(e)->globalPos(), w->toolTip(), w, QRect(), gPause);
    return true;
  }
};

} // namespace

int HintHidePause() { return gPause; }

void SetHintHidePause(int ms) {
  gPause = ms;
  static HintFilter *filter = nullptr;
  if (!filter && qApp) {
    filter = new HintFilter(qApp);
    qApp->installEventFilter(filter);
  }
}

} // namespace plm
