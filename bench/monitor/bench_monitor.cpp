// 2,000 folders made at once by another program in a folder the tree shows: the time
// until the tree shows them all, and the longest time the interface thread was held
// at a stretch meanwhile (target: 100 ms), measured as the longest gap between the
// ticks of a 1 ms timer on that thread. For scale, one refresh of the folder when it
// holds all 2,000 folders, which is the least any refresh that shows them costs.
#include "platform/FileSys.h"
#include "shelltree/DiscMonitor.h"
#include "shelltree/ShellTree.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTest>
#include <QTimer>

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
  double longestBlockMs = 0, handOffs = 0;
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

    QEventLoop loop;
    QElapsedTimer clock, sinceTick;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(1);
    double longest = 0;
    QObject::connect(&tick, &QTimer::timeout, [&] {
      longest = std::max(longest, sinceTick.nsecsElapsed() / 1e6);
      sinceTick.restart();
      if (shown.Root()->Count() == kFolders) loop.quit();
    });
    QTimer::singleShot(60000, &loop, &QEventLoop::quit); // a safety net, never reached
    clock.start();
    sinceTick.start();
    tick.start();
    std::thread writer([&] {
      for (int i = 0; i < kFolders; ++i)
        ::mkdir((folder + "/d" + std::to_string(i)).c_str(), 0700);
    });
    loop.exec();
    const double shownMs = clock.nsecsElapsed() / 1e6;
    tick.stop();
    writer.join();
    if (shown.Root()->Count() != kFolders) {
      state.SkipWithError("not every folder was shown");
      break;
    }
    state.SetIterationTime(shownMs / 1000);
    longestBlockMs = std::max(longestBlockMs, longest);
    handOffs += monitor->HandOffCount();
    state.PauseTiming();
    delete shown.tree;
    RemoveTree(folder);
    state.ResumeTiming();
  }
  state.counters["longest_block_ms"] = longestBlockMs;
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
