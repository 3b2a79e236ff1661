#pragma once
// How the benchmarks against a peer run on a shared machine.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

namespace plmbench {

// Starts Google Benchmark with the repetitions of all benchmarks run in a random order, so
// that the state the machine is in at one moment (another program's work, the write-back of
// earlier runs) weighs on every benchmark alike instead of on the one that happens to run
// then. The command line's own flags still apply and come after.
inline void InitializeInterleaved(int argc, char **argv) {
  static char interleave[] = "--benchmark_enable_random_interleaving=true";
  std::vector<char *> args(argv, argv + argc);
  args.insert(args.begin() + 1, interleave);
  int count = int(args.size());
  benchmark::Initialize(&count, args.data());
}

// Reports only the aggregates of b's repetitions, among them the fastest ("min"): the one
// least disturbed by other work, which the ratios against the peer are taken from.
inline benchmark::internal::Benchmark *ReportBest(benchmark::internal::Benchmark *b) {
  return b
      ->ComputeStatistics(
          "min", [](const std::vector<double> &v) { return *std::min_element(v.begin(), v.end()); })
      ->ReportAggregatesOnly(true);
}

} // namespace plmbench
