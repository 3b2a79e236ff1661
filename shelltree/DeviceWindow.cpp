#include "shelltree/DeviceWindow.h"

#include "platform/gui/ErrorReport.h"

#include <QCoreApplication>
#include <QEvent>

namespace plm {

namespace {

QEvent::Type DeviceChangeType() {
  static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

class TDeviceChangeEvent : public QEvent {
public:
  TDeviceChangeEvent(uintptr_t code, std::vector<std::string> mountPoints)
      : QEvent(DeviceChangeType()), Code(code) {
    Volume.dbcv_mountpoints = std::move(mountPoints);
  }
  uintptr_t Code;
  DEV_BROADCAST_VOLUME Volume;
};

} // namespace

TDeviceWindow::TDeviceWindow(TWndMethod proc, QObject *parent, std::string mountInfo)
    : QObject(parent), fProc(std::move(proc)) {
  fWatcher = std::make_unique<TMountWatcher>(
      [this](const MountTableChange &change) {
        // On the watcher's thread: only posting is done here.
        if (!change.Removed.empty()) Post(DBT_DEVICEREMOVECOMPLETE, change.Removed);
        if (!change.Arrived.empty()) Post(DBT_DEVICEARRIVAL, change.Arrived);
      },
      std::move(mountInfo));
}

TDeviceWindow::~TDeviceWindow() { fWatcher.reset(); }

void TDeviceWindow::Post(uintptr_t eventCode, const std::vector<std::string> &mountPoints) {
  QCoreApplication::postEvent(this, new TDeviceChangeEvent(eventCode, mountPoints));
}

intptr_t TDeviceWindow::Perform(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  TMessage m{msg, wParam, lParam, 0};
  if (fProc) fProc(m);
  return m.Result;
}

bool TDeviceWindow::event(QEvent *e) {
  if (e->type() != DeviceChangeType()) return QObject::event(e);
  auto *change = static_cast<TDeviceChangeEvent *>(e);
  GuardCall([&] {
    Perform(WM_DEVICECHANGE, change->Code,
            reinterpret_cast<intptr_t>(static_cast<DEV_BROADCAST_HDR *>(&change->Volume)));
  });
  return true;
}

} // namespace plm
