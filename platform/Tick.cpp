#include "platform/Tick.h"

#include <chrono>

namespace plm {
namespace {
std::function<uint32_t()> &Source() {
  static std::function<uint32_t()> s;
  return s;
}
} // namespace

uint32_t GetTickCount() {
  if (auto &s = Source()) return s();
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

void SetTickSource(std::function<uint32_t()> source) { Source() = std::move(source); }

} // namespace plm
