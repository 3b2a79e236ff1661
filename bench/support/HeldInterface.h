#pragma once
// What the folder tree benchmarks measure while the event loop runs: how long the
// interface thread was held at a stretch (the longest gap between the ticks of a 1 ms
// timer on that thread), and when the monitors of a folder's children all watch.
#include "shelltree/DiscMonitor.h"
#include "shelltree/ShellTree.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <functional>

namespace plmbench {

struct TLoopRun {
  double ElapsedMs = 0;    // until the condition held
  double LongestGapMs = 0; // the longest time the thread was held meanwhile
  bool Done = false;
};

// Runs the event loop until done() holds, looked at on every tick, or limitMs pass.
inline TLoopRun RunUntil(const std::function<bool()> &done, int limitMs = 60000) {
  TLoopRun run;
  QEventLoop loop;
  QElapsedTimer clock, sinceTick;
  QTimer tick;
  tick.setTimerType(Qt::PreciseTimer);
  tick.setInterval(1);
  QObject::connect(&tick, &QTimer::timeout, [&] {
    run.LongestGapMs = std::max(run.LongestGapMs, sinceTick.nsecsElapsed() / 1e6);
    sinceTick.restart();
    if (done()) {
      run.Done = true;
      loop.quit();
    }
  });
  QTimer::singleShot(limitMs, &loop, &QEventLoop::quit); // a safety net
  clock.start();
  sinceTick.start();
  tick.start();
  if (done())
    run.Done = true;
  else
    loop.exec();
  run.ElapsedMs = clock.nsecsElapsed() / 1e6;
  return run;
}

// Whether the tree has started every queued monitor and those of the node's children
// all watch (or have failed). A monitor once armed stays so: each child is looked at
// until it is, then never again, so asking on every tick costs little.
class TChildrenArmed {
public:
  TChildrenArmed(const plm::TShellTree &tree, const plm::TShellnode *node)
      : fTree(tree), fNode(node) {}
  bool operator()() {
    if (fTree.PendingMonitors() > 0) return false;
    for (; fNext < fNode->Count(); ++fNext) {
      const auto *m =
          static_cast<const plm::TDiscMonitorThread *>(fNode->Child(fNext)->MonitorThread.get());
      if (m && m->ArmCount() == 0 && !m->Failed) return false;
    }
    return true;
  }

private:
  const plm::TShellTree &fTree;
  const plm::TShellnode *fNode;
  int fNext = 0;
};

} // namespace plmbench
