#pragma once
// What the benchmarks of the interface measure while the event loop runs: how long the
// interface thread was held at a stretch (the longest gap between the ticks of a 1 ms
// timer on that thread), on the clock and in the thread's own processor time, and when
// the monitors of a folder's children all watch.
#include "shelltree/DiscMonitor.h"
#include "shelltree/ShellTree.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <functional>

#include <time.h>

namespace plmbench {

// The processor time the calling thread has used, in milliseconds.
inline double ThreadCpuMs() {
  timespec t{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

struct TLoopRun {
  double ElapsedMs = 0;    // until the condition held
  double LongestGapMs = 0; // the longest time the thread was held meanwhile
  // The longest work of the thread itself between two ticks: the gap above without the
  // time that other processes took the processor (on a busy machine, the renderers').
  double LongestBusyMs = 0;
  bool Done = false;
};

// Runs the event loop until done() holds, looked at on every tick, or limitMs pass.
inline TLoopRun RunUntil(const std::function<bool()> &done, int limitMs = 60000) {
  TLoopRun run;
  QEventLoop loop;
  QElapsedTimer clock, sinceTick;
  double cpuAtTick = ThreadCpuMs();
  QTimer tick;
  tick.setTimerType(Qt::PreciseTimer);
  tick.setInterval(1);
  QObject::connect(&tick, &QTimer::timeout, [&] {
    run.LongestGapMs = std::max(run.LongestGapMs, sinceTick.nsecsElapsed() / 1e6);
    const double cpu = ThreadCpuMs();
    run.LongestBusyMs = std::max(run.LongestBusyMs, cpu - cpuAtTick);
    cpuAtTick = cpu;
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
