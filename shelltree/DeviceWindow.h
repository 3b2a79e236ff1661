#pragma once
// A hidden window that receives device-change broadcasts: the mount-table watcher's
// changes arrive on the user-interface thread as posted WM_DEVICECHANGE messages (a
// removal record first, then an arrival record), which go to the window's routine.
#include "platform/MountWatch.h"
#include "shelltree/dbt.h"

#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace plm {

struct TMessage {
  uint32_t Msg = 0;
  uintptr_t WParam = 0;
  intptr_t LParam = 0; // for WM_DEVICECHANGE: a DEV_BROADCAST_HDR *, or 0
  intptr_t Result = 0;
};

class TDeviceWindow : public QObject {
public:
  using TWndMethod = std::function<void(TMessage &)>;

  // Starts watching the mount table at once.
  explicit TDeviceWindow(TWndMethod proc, QObject *parent = nullptr,
                         std::string mountInfo = "/proc/self/mountinfo");
  ~TDeviceWindow() override; // stops the watcher; messages not yet delivered are dropped

  // Runs the routine for one message now and returns its answer.
  intptr_t Perform(uint32_t msg, uintptr_t wParam, intptr_t lParam);
  // The watcher, whose seams let tests post volume changes.
  TMountWatcher &Watcher() { return *fWatcher; }

protected:
  bool event(QEvent *e) override;

private:
  void Post(uintptr_t eventCode, const std::vector<std::string> &mountPoints);

  TWndMethod fProc;
  std::unique_ptr<TMountWatcher> fWatcher;
};

} // namespace plm
