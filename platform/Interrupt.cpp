#include "platform/Interrupt.h"

#include <csignal>
#include <mutex>

namespace plm {

namespace {

std::atomic<bool> gInterrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

void OnSignal(int sig) {
  if (gInterrupted.exchange(true)) {
    // The second one: the program ends as the signal would have ended it.
    std::signal(sig, SIG_DFL);
    std::raise(sig);
  }
}

} // namespace

const std::atomic<bool> &InterruptRequested() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int sig : {SIGINT, SIGTERM}) {
      // A signal the program was started ignoring (a background job's Ctrl-C) stays so.
      struct sigaction old {};
      if (sigaction(sig, &action, &old) == 0 && old.sa_handler == SIG_IGN)
        sigaction(sig, &old, nullptr);
    }
  });
  return gInterrupted;
}

} // namespace plm
