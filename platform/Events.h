#pragma once
// Waitable handles: auto-reset events and the wait on several of them. A handle is an
// event descriptor (eventfd) that reads as ready while the event is signalled; a wait
// that reports a handle also resets it. Change notifications (ChangeNotify.h) are
// handles of the same kind, so one wait covers events and notifications together.
#include <cstdint>

namespace plm {

using HANDLE = int;
constexpr HANDLE INVALID_HANDLE_VALUE = -1;

constexpr uint32_t INFINITE = 0xFFFFFFFFu;
constexpr uint32_t WAIT_OBJECT_0 = 0;
constexpr uint32_t WAIT_TIMEOUT = 0x102;
constexpr uint32_t WAIT_FAILED = 0xFFFFFFFFu;
constexpr uint32_t MAXIMUM_WAIT_OBJECTS = 64;

// A new unnamed auto-reset event, signalled or not; INVALID_HANDLE_VALUE on failure.
HANDLE CreateEventA(bool initialState = false);
bool SetEvent(HANDLE event);
bool ResetEvent(HANDLE event);
bool CloseHandle(HANDLE handle);

// Waits until one of the handles is signalled and returns WAIT_OBJECT_0 + its index,
// the first signalled one in the order given; that one is reset. Waiting for all
// handles at once is not offered. WAIT_TIMEOUT when the time-out (milliseconds)
// passes, WAIT_FAILED for bad arguments or a failed wait.
uint32_t WaitForMultipleObjects(uint32_t count, const HANDLE *handles, uint32_t milliseconds);

} // namespace plm
