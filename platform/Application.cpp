#include "platform/Application.h"

#include <atomic>

namespace plm {

namespace {
std::atomic<bool> gTerminated{false};
} // namespace

void TerminateApplication() { gTerminated = true; }
bool ApplicationTerminated() { return gTerminated; }
void ClearTerminateRequest() { gTerminated = false; }

} // namespace plm
