// The folder tree control on a folder of many subfolders: opening it (reading, labelling,
// giving icons to and sorting every child), and reading it again once open, as a change
// notification does. Refreshes at 1,000 and 10,000 entries show how the cost grows.
// Targets: opening 10,000 under 300 ms; a refresh of 10 x the entries under 12 x the time.
// Opening also reports when the children's monitors all watch, and how long the
// interface was held at a stretch until then.
//   bench_foldertree [benchmark flags]   (folders are made under $TMPDIR or /tmp)
#include "bench/support/HeldInterface.h"
#include "platform/TempDir.h"
#include "shelltree/ShellTree.h"

#include <QApplication>
#include <QElapsedTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

using namespace plm;

namespace {

std::string gRoot;

// A folder "n" under the benchmark's folder holding n subfolders, every tenth of which
// holds a subfolder of its own.
std::string BigFolder(int n) {
  static std::map<int, std::string> made;
  auto it = made.find(n);
  if (it != made.end()) return it->second;
  const std::string folder = gRoot + "/" + std::to_string(n);
  ::mkdir(folder.c_str(), 0755);
  for (int i = 0; i < n; ++i) {
    const std::string d = folder + "/Dossier " + std::to_string(i);
    ::mkdir(d.c_str(), 0755);
    if (i % 10 == 0) ::mkdir((d + "/sous-dossier").c_str(), 0755);
  }
  return made[n] = folder;
}

// A shown tree rooted at the benchmark's folder, and the node of the big folder in it.
struct TShownTree {
  explicit TShownTree(int n) {
    const std::string folder = BigFolder(n);
    tree.resize(300, 400);
    tree.setRootUsePIDL(false);
    tree.setRootDir(gRoot);
    tree.show();
    for (int i = 0; i < tree.RootNode()->Count(); ++i)
      if (tree.RootNode()->Child(i)->NodePath() == folder) node = tree.RootNode()->Child(i);
  }
  // Closes the node and forgets its children, as if it had never been opened.
  void Forget() {
    tree.collapseItem(node);
    qDeleteAll(node->takeChildren());
    node->SetHasChildren(true);
  }
  TShellTree tree;
  TShellnode *node = nullptr;
};

// The time until the folder is shown (the benchmark's time), then the time until the
// monitors of its children, started from the event loop afterwards, all watch, and the
// longest time the interface thread was held at a stretch meanwhile.
void BM_ExpandFolder(benchmark::State &state) {
  const int n = int(state.range(0));
  TShownTree t(n);
  if (!t.node) return state.SkipWithError("the folder is not in the tree");
  double armedMs = 0, longestBlockMs = 0;
  for (auto _ : state) {
    t.Forget();
    QElapsedTimer clock;
    clock.start();
    t.tree.Expand(t.node);
    const double shownMs = clock.nsecsElapsed() / 1e6;
    if (t.node->Count() != n) return state.SkipWithError("wrong count of children");
    state.SetIterationTime(shownMs / 1000);
    const plmbench::TLoopRun run = plmbench::RunUntil(plmbench::TChildrenArmed(t.tree, t.node));
    if (!run.Done) return state.SkipWithError("the monitors were not all armed");
    armedMs += shownMs + run.ElapsedMs;
    longestBlockMs = std::max(longestBlockMs, run.LongestGapMs);
  }
  state.SetItemsProcessed(state.iterations() * n);
  state.counters["armed_ms"] = benchmark::Counter(armedMs, benchmark::Counter::kAvgIterations);
  state.counters["longest_block_ms"] = longestBlockMs;
}

// The first refresh after the folder was opened: every child is found again by its item,
// relabelled and given its icons; nothing is added or removed.
void BM_RefreshOpenFolder(benchmark::State &state) {
  const int n = int(state.range(0));
  TShownTree t(n);
  if (!t.node) return state.SkipWithError("the folder is not in the tree");
  for (auto _ : state) {
    state.PauseTiming();
    t.Forget();
    t.tree.Expand(t.node);
    // As a change notification finds it: every monitor started.
    if (!plmbench::RunUntil(plmbench::TChildrenArmed(t.tree, t.node)).Done)
      return state.SkipWithError("the monitors were not all armed");
    TShellnode *first = t.node->Child(0);
    state.ResumeTiming();
    t.tree.RefreshNode(t.node, false);
    if (t.node->Count() != n || t.node->Child(0) != first)
      state.SkipWithError("the refresh replaced nodes");
  }
  state.SetItemsProcessed(state.iterations() * n);
}

BENCHMARK(BM_ExpandFolder)->Arg(1000)->Arg(10000)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RefreshOpenFolder)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv) {
  if (!std::getenv("QT_QPA_PLATFORM") && !std::getenv("DISPLAY"))
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  const char *tmp = std::getenv("TMPDIR");
  std::string t = std::string(tmp && *tmp ? tmp : "/tmp") + "/plm-bench-tree-XXXXXX";
  if (!::mkdtemp(t.data())) return 1;
  gRoot = t;
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  DeleteEntryNoFollow(gRoot);
  return 0;
}
