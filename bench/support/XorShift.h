#pragma once
// The benchmarks' generator of noise: xorshift32, the same numbers from the same seed on
// every machine, so that data made anew matches data made before.
#include <cstdint>

namespace plmbench {

struct TXorShift32 {
  uint32_t x;
  uint32_t operator()() {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return x;
  }
};

} // namespace plmbench
