#pragma once
// Starts Google Benchmark with the repetitions of all benchmarks run in a random order, so
// that the state the machine is in at one moment (another program's work, the write-back of
// earlier runs) weighs on every benchmark alike instead of on the one that happens to run
// then. The command line's own flags still apply and come after.
#include <benchmark/benchmark.h>

#include <vector>

namespace plmbench {

inline void InitializeInterleaved(int argc, char **argv) {
  static char interleave[] = "--benchmark_enable_random_interleaving=true";
  std::vector<char *> args(argv, argv + argc);
  args.insert(args.begin() + 1, interleave);
  int count = int(args.size());
  benchmark::Initialize(&count, args.data());
}

} // namespace plmbench
