#pragma once
// A leak check taken while the process is quiet, for processes that start the browser
// engine. The engine leaves threads of its own running, or ending, when the program exits;
// LeakSanitizer's end-of-process check must stop every thread to read their stacks, and one
// caught half-way through its exit makes that check crash instead of reporting. Checking
// at a point where those threads sit idle covers the program's own code just the same, and
// the end-of-process check is then skipped. Without LeakSanitizer this does nothing.

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(leak_sanitizer)
#define PLM_HAS_LSAN 1
#endif
#endif
#if !defined(PLM_HAS_LSAN) && defined(__SANITIZE_ADDRESS__)
#define PLM_HAS_LSAN 1
#endif

#ifdef PLM_HAS_LSAN
#include <sanitizer/lsan_interface.h>
#endif

namespace plm {

// Reports leaks now (ending the process with LeakSanitizer's exit code when there are any)
// and turns the end-of-process check off. Call it once, from the main thread.
inline void CheckLeaksNow() {
#ifdef PLM_HAS_LSAN
  __lsan_do_leak_check();
#endif
}

} // namespace plm
