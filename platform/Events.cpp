#include "platform/Events.h"

#include <cerrno>
#include <chrono>
#include <cstdint>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace plm {

namespace {

// Reads the counter; true when the event was signalled (and is now reset).
bool TakeSignal(HANDLE event, bool &failed) {
  uint64_t value;
  failed = false;
  for (;;) {
    if (::read(event, &value, sizeof value) == sizeof value) return true;
    if (errno == EINTR) continue;
    failed = errno != EAGAIN;
    return false;
  }
}

} // namespace

HANDLE CreateEventA(bool initialState) {
  const int fd = ::eventfd(initialState ? 1 : 0, EFD_CLOEXEC | EFD_NONBLOCK);
  return fd < 0 ? INVALID_HANDLE_VALUE : fd;
}

bool SetEvent(HANDLE event) {
  if (event < 0) return false;
  const uint64_t one = 1;
  for (;;) {
    if (::write(event, &one, sizeof one) == sizeof one) return true;
    if (errno == EINTR) continue;
    // EAGAIN: the counter is at its limit, so the event is signalled already.
    return errno == EAGAIN;
  }
}

bool ResetEvent(HANDLE event) {
  if (event < 0) return false;
  bool failed;
  TakeSignal(event, failed);
  return !failed;
}

bool CloseHandle(HANDLE handle) { return handle >= 0 && ::close(handle) == 0; }

uint32_t WaitForMultipleObjects(uint32_t count, const HANDLE *handles, uint32_t milliseconds) {
  if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || handles == nullptr) return WAIT_FAILED;
  pollfd fds[MAXIMUM_WAIT_OBJECTS];
  for (uint32_t i = 0; i < count; ++i) {
    if (handles[i] < 0) return WAIT_FAILED;
    fds[i] = {handles[i], POLLIN, 0};
  }
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
  for (;;) {
    int timeout = -1;
    if (milliseconds != INFINITE) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      timeout = left > 0 ? static_cast<int>(left) : 0;
    }
    const int n = ::poll(fds, count, timeout);
    if (n < 0) {
      if (errno == EINTR) continue;
      return WAIT_FAILED;
    }
    if (n == 0) return WAIT_TIMEOUT;
    for (uint32_t i = 0; i < count; ++i) {
      if (fds[i].revents & POLLNVAL) return WAIT_FAILED;
      // Another waiter may have taken the signal between poll and read: wait again.
      bool failed = false;
      if ((fds[i].revents & POLLIN) && TakeSignal(handles[i], failed)) return WAIT_OBJECT_0 + i;
      if (failed) return WAIT_FAILED;
    }
  }
}

} // namespace plm
