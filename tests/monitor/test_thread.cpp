// Worker threads and their synchronous hand-off to the user-interface thread.
#include "platform/Exceptions.h"
#include "platform/Thread.h"

#include <QCoreApplication>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

using namespace plm;

namespace {

// Runs a function as its body; ends it (waits) in its own destructor.
class TWorker : public TThread {
public:
  explicit TWorker(std::function<void(TWorker &)> body) : fBody(std::move(body)) {}
  ~TWorker() override { WaitFor(); }
  using TThread::Synchronize;

protected:
  void Execute() override { fBody(*this); }

private:
  std::function<void(TWorker &)> fBody;
};

// Spins until the worker has handed a step over, without running the event loop.
bool WaitForHandOff(const TThread &t) {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!t.HandOffPending()) {
    if (std::chrono::steady_clock::now() > limit) return false;
    std::this_thread::yield();
  }
  return true;
}

} // namespace

TEST(Thread, AWorkerStartsOnlyWhenResumed) {
  std::atomic<bool> ran{false};
  {
    TWorker never([&](TWorker &) { ran = true; });
    EXPECT_TRUE(never.Suspended());
  } // destroyed without ever running
  EXPECT_FALSE(ran);
  TWorker w([&](TWorker &) { ran = true; });
  w.Resume();
  EXPECT_FALSE(w.Suspended());
  w.WaitFor();
  EXPECT_TRUE(ran);
  EXPECT_TRUE(w.Finished());
}

TEST(Thread, AHandOffRunsOnTheInterfaceThreadWhileTheWorkerWaits) {
  std::atomic<int> stepsRun{0};
  std::atomic<bool> seenAfterStep{false};
  QThread *stepThread = nullptr;
  TWorker w([&](TWorker &self) {
    for (int i = 0; i < 3; ++i) {
      self.Synchronize([&] {
        stepThread = QThread::currentThread();
        ++stepsRun;
      });
      seenAfterStep = stepsRun == i + 1; // the step has run when Synchronize returns
      if (!seenAfterStep) return;
    }
  });
  w.Resume();
  ASSERT_TRUE(QTest::qWaitFor([&] { return w.Finished(); }, 10000));
  EXPECT_EQ(stepsRun, 3);
  EXPECT_TRUE(seenAfterStep);
  EXPECT_EQ(stepThread, QCoreApplication::instance()->thread());
}

TEST(Thread, AFailingStepIsRaisedInTheWorker) {
  std::atomic<bool> caught{false};
  TWorker w([&](TWorker &self) {
    try {
      self.Synchronize([] { throw Exception("échec"); });
    } catch (const Exception &e) {
      caught = e.message() == "échec";
    }
    self.Synchronize([] { throw EAbort(); }); // escapes Execute
  });
  w.Resume();
  w.WaitFor();
  EXPECT_TRUE(caught);
  ASSERT_TRUE(w.FatalException());
  EXPECT_THROW(std::rethrow_exception(w.FatalException()), EAbort);
}

TEST(Thread, WaitingRunsTheAwaitedWorkersStepAndNoOther) {
  std::atomic<bool> otherRan{false}, ownRan{false};
  TWorker other([&](TWorker &self) { self.Synchronize([&] { otherRan = true; }); });
  TWorker awaited([&](TWorker &self) { self.Synchronize([&] { ownRan = true; }); });
  other.Resume();
  ASSERT_TRUE(WaitForHandOff(other));
  awaited.Resume();
  ASSERT_TRUE(WaitForHandOff(awaited));
  // Without the event loop: the wait itself must run the awaited worker's step.
  awaited.WaitFor();
  EXPECT_TRUE(ownRan);
  EXPECT_FALSE(otherRan);
  EXPECT_TRUE(other.HandOffPending());
  ASSERT_TRUE(QTest::qWaitFor([&] { return otherRan.load(); }, 10000));
}

TEST(Thread, AStepThatDestroysItsOwnWorkerDoesNotLock) {
  std::atomic<bool> afterHandOff{false};
  bool destroyed = false;
  auto *w = new TWorker([&](TWorker &self) {
    self.Synchronize([&] {
      delete &self; // waits for the worker, which waits for this very step
      destroyed = true;
    });
    afterHandOff = true;
  });
  w->Resume();
  ASSERT_TRUE(QTest::qWaitFor([&] { return destroyed; }, 10000));
  EXPECT_TRUE(afterHandOff);
}

TEST(Thread, AStepCalledOnTheInterfaceThreadRunsAtOnce) {
  bool ran = false;
  TWorker w([](TWorker &) {});
  w.Synchronize([&] { ran = true; });
  EXPECT_TRUE(ran);
}

namespace {

// Counts the queued calls the application object receives: the hand-off's wake-ups.
class TWakeCounter : public QObject {
public:
  int Count = 0;
  bool eventFilter(QObject *watched, QEvent *event) override {
    if (watched == QCoreApplication::instance() && event->type() == QEvent::MetaCall) ++Count;
    return false;
  }
};

} // namespace

// Wake-ups must not pile up: under a stream of hand-offs each queued wake-up would find
// fresh steps and the workers would queue more, so the interface thread never got back
// to its other events.
TEST(Thread, HandOffsWaitingTogetherShareOneWakeUp) {
  constexpr int kWorkers = 4;
  std::atomic<int> ran{0};
  std::vector<std::unique_ptr<TWorker>> workers;
  for (int i = 0; i < kWorkers; ++i) {
    workers.push_back(std::make_unique<TWorker>([&](TWorker &w) {
      w.Synchronize([&] { ++ran; });
      w.Synchronize([&] { ++ran; });
    }));
    workers.back()->Resume();
  }
  for (auto &w : workers)
    ASSERT_TRUE(WaitForHandOff(*w));

  TWakeCounter counter;
  QCoreApplication::instance()->installEventFilter(&counter);
  QCoreApplication::sendPostedEvents(QCoreApplication::instance(), QEvent::MetaCall);
  EXPECT_EQ(ran.load(), kWorkers);
  EXPECT_EQ(counter.Count, 1);
  // The second steps, handed over after that wake-up was taken, get one of their own.
  EXPECT_TRUE(QTest::qWaitFor([&] { return ran.load() == 2 * kWorkers; }, 10000));
  QCoreApplication::instance()->removeEventFilter(&counter);
  for (auto &w : workers)
    w->WaitFor();
  EXPECT_EQ(ran.load(), 2 * kWorkers);
}
