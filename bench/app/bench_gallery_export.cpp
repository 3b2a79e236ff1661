// The gallery's export of a collection as the window runs it: 1,000 copies of the build's
// good samples to messages behind the progress window, the batch on its own thread. What
// is measured is the interface thread's longest hold meanwhile (the longest gap between
// the ticks of a 1 ms timer, and of that the thread's own work), against the same loop
// left idle for the same time in the same run. Target: a hold of at most 50 ms.
#include "app/GalleryExport.h"
#include "bench/support/BenchRuns.h"
#include "bench/support/HeldInterface.h"

#include <benchmark/benchmark.h>

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

constexpr int kCollection = 1000;
std::string gRoot, gTree;

void BM_gallery_export_1000(benchmark::State &state) {
  double gap = 0, busy = 0, elapsed = 0;
  for (auto _ : state) {
    const std::string out = gRoot + "/out";
    plm::TBatchOptions options;
    options.kind = plm::TBatchKind::Messages;
    options.recursive = true;
    options.out = out;
    auto *window = new TBatchProgress(nullptr, {gTree}, options);
    window->show();
    const plmbench::TLoopRun run = plmbench::RunUntil([&] { return window->Finished(); }, 600000);
    if (!run.Done) state.SkipWithError("the export did not end");
    gap = std::max(gap, run.LongestGapMs);
    busy = std::max(busy, run.LongestBusyMs);
    elapsed = run.ElapsedMs;
    delete window;
    state.PauseTiming();
    fs::remove_all(out);
    state.ResumeTiming();
  }
  state.counters["longest_hold_ms"] = gap;
  state.counters["longest_own_work_ms"] = busy;
  state.counters["export_ms"] = elapsed;
}

// The peer: the same loop with nothing else to do, for as long.
void BM_idle_loop(benchmark::State &state) {
  double gap = 0, busy = 0;
  for (auto _ : state) {
    QElapsedTimer clock;
    clock.start();
    const plmbench::TLoopRun run = plmbench::RunUntil([&] { return clock.elapsed() > 3000; });
    gap = std::max(gap, run.LongestGapMs);
    busy = std::max(busy, run.LongestBusyMs);
  }
  state.counters["longest_hold_ms"] = gap;
  state.counters["longest_own_work_ms"] = busy;
}

} // namespace

int main(int argc, char **argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  char tmpl[] = "/tmp/plm-bench-gallery-export-XXXXXX";
  if (!::mkdtemp(tmpl)) return 1;
  gRoot = tmpl;
  gTree = gRoot + "/collection";
  ::setenv("XDG_RUNTIME_DIR", gRoot.c_str(), 1);
  const std::string samples = std::string(PLM_BIN_DIR) + "/../samples/";
  const char *good[] = {"Anniversaire.plm", "Mer.plm", "Noel.plm", "Printemps.plm"};
  for (int i = 0; i < kCollection; ++i) {
    const std::string folder = gTree + "/dossier" + std::to_string(i % 10);
    fs::create_directories(folder);
    fs::copy_file(samples + good[i % 4], folder + "/m" + std::to_string(i) + ".plm");
  }
  for (auto *b : {benchmark::RegisterBenchmark("BM_gallery_export_1000", BM_gallery_export_1000),
                  benchmark::RegisterBenchmark("BM_idle_loop", BM_idle_loop)})
    b->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)->Repetitions(3);
  plmbench::InitializeInterleaved(argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  fs::remove_all(gRoot);
  return 0;
}
