#pragma once
// The 32-bit millisecond tick counter: a monotonic clock that wraps after about 49.7 days.
#include <cstdint>
#include <functional>

namespace plm {

uint32_t GetTickCount();
// Tests replace the clock; an empty function restores the real one.
void SetTickSource(std::function<uint32_t()> source);

} // namespace plm
