#pragma once
// Ctrl-C (SIGINT) and SIGTERM turned into a request that long work reads between steps, so
// that it can close what it writes whole before the program ends. A second signal ends the
// program at once, as without this (its temporary folders removed first).
#include <atomic>

namespace plm {

// Installs the handlers (once) and gives the flag they set.
const std::atomic<bool> &InterruptRequested();

} // namespace plm
