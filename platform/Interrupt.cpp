#include "platform/Interrupt.h"

#include "platform/TempFolder.h"

#include <mutex>

namespace plm {

const std::atomic<bool> &InterruptRequested() {
  static std::atomic<bool> requested{false};
  static std::once_flag once;
  // The end signals' one handler (the temporary folders') sets it on the first signal.
  std::call_once(once, [] { StopOnFirstEndSignal(requested); });
  return requested;
}

} // namespace plm
