// 2,000 folders made at once by another program in a folder the tree shows: the time
// until the tree shows them all, the time until their monitors all watch, and the
// longest time the interface thread was held at a stretch until then (target: 100 ms),
// measured as the longest gap between the ticks of a 1 ms timer on that thread. For
// scale, one refresh of the folder when it holds all 2,000 folders, which is the least
// any refresh that shows them costs.
#include "bench/support/HeldInterface.h"
#include "platform/FileSys.h"
#include "shelltree/DiscMonitor.h"
#include "shelltree/ShellTree.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

namespace {

constexpr int kFolders = 2000;
std::string gRoot;

struct TShownTree {
  explicit TShownTree(const std::string &folder) {
    window.resize(400, 600);
    tree = new plm::TShellTree(&window);
    tree->setGeometry(0, 0, 380, 580);
    tree->setRootUsePIDL(false);
    tree->setRootDir(folder);
    tree->show();
    window.show();
    (void)QTest::qWaitForWindowExposed(&window);
  }
  plm::TShellnode *Root() const { return tree->RootNode(); }
  QWidget window;
  plm::TShellTree *tree;
};

void RemoveTree(const std::string &path) { std::system(("rm -rf '" + path + "'").c_str()); }

void BM_BurstOf2000Folders(benchmark::State &state) {
  double longestBlockMs = 0, handOffs = 0, armedMs = 0;
  int run = 0;
  for (auto _ : state) {
    const std::string folder = gRoot + "/burst" + std::to_string(run++);
    plm::ForceDirectories(folder);
    TShownTree shown(folder);
    auto *monitor = static_cast<plm::TDiscMonitorThread *>(shown.Root()->MonitorThread.get());
    if (!monitor ||
        !QTest::qWaitFor([&] { return monitor->ArmCount() > 0 || monitor->Failed; }, 10000)) {
      state.SkipWithError("the shown folder has no running monitor");
      break;
    }

    // The benchmark's time runs until every folder is shown; then on until the new
    // folders' monitors all watch. The interface must answer throughout.
    std::thread writer([&] {
      for (int i = 0; i < kFolders; ++i)
        ::mkdir((folder + "/d" + std::to_string(i)).c_str(), 0700);
    });
    const plmbench::TLoopRun shownRun =
        plmbench::RunUntil([&] { return shown.Root()->Count() == kFolders; });
    writer.join();
    if (!shownRun.Done) {
      state.SkipWithError("not every folder was shown");
      break;
    }
    const plmbench::TLoopRun armedRun =
        plmbench::RunUntil(plmbench::TChildrenArmed(*shown.tree, shown.Root()));
    if (!armedRun.Done) {
      state.SkipWithError("the monitors were not all armed");
      break;
    }
    const double shownMs = shownRun.ElapsedMs;
    armedMs += shownMs + armedRun.ElapsedMs;
    const double longest = std::max(shownRun.LongestGapMs, armedRun.LongestGapMs);
    state.SetIterationTime(shownMs / 1000);
    longestBlockMs = std::max(longestBlockMs, longest);
    handOffs += monitor->HandOffCount();
    state.PauseTiming();
    delete shown.tree;
    RemoveTree(folder);
    state.ResumeTiming();
  }
  state.counters["longest_block_ms"] = longestBlockMs;
  state.counters["armed_ms"] = benchmark::Counter(armedMs, benchmark::Counter::kAvgIterations);
  state.counters["refreshes"] = benchmark::Counter(handOffs, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_BurstOf2000Folders)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_RefreshOf2000Folders(benchmark::State &state) {
  const std::string folder = gRoot + "/full";
  for (int i = 0; i < kFolders; ++i)
    plm::ForceDirectories(folder + "/d" + std::to_string(i));
  TShownTree shown(folder);
  shown.tree->UpdAutoThread = false;
  for (auto _ : state)
    shown.tree->RefreshNode(shown.Root(), false);
  if (shown.Root()->Count() != kFolders) state.SkipWithError("not every folder was shown");
  delete shown.tree;
  RemoveTree(folder);
}
BENCHMARK(BM_RefreshOf2000Folders)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv) {
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  char tmpl[] = "/tmp/plm-bench-monitor-XXXXXX";
  gRoot = ::mkdtemp(tmpl);
  plm::ForceDirectories(gRoot + "/home");
  ::setenv("HOME", (gRoot + "/home").c_str(), 1);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  RemoveTree(gRoot);
  return 0;
}
