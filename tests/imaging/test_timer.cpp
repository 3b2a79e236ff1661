// The timer pool's rules with a controllable tick counter, and the object lists.
#include "imaging/MPList.h"
#include "imaging/MPTimer.h"
#include "platform/Exceptions.h"
#include "platform/Tick.h"
#include "platform/graphics/Graphics.h"

#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

#include <stdexcept>

using namespace plm;

namespace {

class TimerPool : public ::testing::Test {
protected:
  void SetUp() override {
    SetTickSource([this] { return fTick; });
    SetApplicationExceptionHandler([this](const std::exception &e) { fShown.push_back(e.what()); });
  }
  void TearDown() override {
    SetTickSource({});
    SetApplicationExceptionHandler({});
  }
  // A trigger event that records its firings.
  TMPTriggerEvent Record(const std::string &name) {
    return [this, name](TMPTimerPool *, int32_t h, uint32_t interval, uint32_t elapsed) {
      fLog.push_back(name + ":" + std::to_string(h) + ":" + std::to_string(interval) + ":" +
                     std::to_string(elapsed));
    };
  }
  uint32_t fTick = 1000;
  std::vector<std::string> fLog, fShown;
};

} // namespace

TEST_F(TimerPool, TimerExistsOnlyWhileATriggerIsEnabled) {
  TMPTimerPool pool;
  EXPECT_TRUE(pool.DefEnabled);
  EXPECT_EQ(pool.Timer(), nullptr);
  pool.DefEnabled = false;
  const int h = pool.AddTrigger(200, Record("a"));
  EXPECT_EQ(pool.Timer(), nullptr);
  pool.SetTriggerEnabled(h, true);
  ASSERT_NE(pool.Timer(), nullptr);
  EXPECT_EQ(pool.Timer()->interval(), 200);
  EXPECT_TRUE(pool.Timer()->isActive());
  EXPECT_EQ(pool.EnabledCount(), 1);
  pool.SetTriggerEnabled(h, false);
  EXPECT_EQ(pool.Timer(), nullptr);
  pool.DefEnabled = true;
  pool.AddTrigger(300, Record("b"));
  ASSERT_NE(pool.Timer(), nullptr);
  EXPECT_EQ(pool.Timer()->interval(), 300);
  EXPECT_EQ(pool.TriggerCount(), 2);
}

TEST_F(TimerPool, IntervalsBelowTheFloorAreRaised) {
  TMPTimerPool pool;
  const int a = pool.AddTrigger(0, Record("a"));
  EXPECT_EQ(pool.TriggerByHandle(a)->Interval(), 55);
  EXPECT_EQ(pool.Timer()->interval(), 55);
  pool.SetTriggerInterval(a, 54);
  EXPECT_EQ(pool.TriggerByHandle(a)->Interval(), 55);
  pool.SetTriggerInterval(a, -10);
  EXPECT_EQ(pool.TriggerByHandle(a)->Interval(), 55);
  pool.SetTriggerInterval(a, 56);
  EXPECT_EQ(pool.Timer()->interval(), 56);
}

TEST_F(TimerPool, FiresWithinTwentyThreeMillisecondsOfItsInterval) {
  TMPTimerPool pool;
  pool.AddTrigger(100, Record("t"));
  fTick = 1076;
  pool.TimerTick();
  EXPECT_TRUE(fLog.empty());
  fTick = 1077;
  pool.TimerTick();
  EXPECT_EQ(fLog, (std::vector<std::string>{"t:0:77:77"}));
  fTick = 1077 + 78;
  pool.TimerTick();
  EXPECT_EQ(fLog.back(), "t:0:78:155");
}

TEST_F(TimerPool, TickArithmeticAcrossTheWrap) {
  fTick = 0xFFFFFFF0u;
  TMPTimerPool pool;
  pool.AddTrigger(100, Record("w"));
  fTick = 0x00000040u; // 80 ms later
  pool.TimerTick();
  EXPECT_EQ(fLog, (std::vector<std::string>{"w:0:80:80"}));
  fTick = 0x00000040u + 50;
  pool.TimerTick();
  EXPECT_EQ(fLog.size(), 1u);
}

TEST_F(TimerPool, EffectivePeriodIsAWholeNumberOfTicks) {
  TMPTimerPool pool;
  pool.AddTrigger(100, Record("fast"));
  pool.AddTrigger(250, Record("slow"));
  EXPECT_EQ(pool.Timer()->interval(), 100);
  for (int i = 1; i <= 3; ++i) {
    fTick = 1000 + 100 * uint32_t(i);
    pool.TimerTick();
  }
  // At 200 only 200 of the 227 ms required have passed: the slow one fires at 300.
  EXPECT_EQ(fLog, (std::vector<std::string>{"fast:0:100:100", "fast:0:100:200", "fast:0:100:300",
                                            "slow:1:300:300"}));
}

TEST_F(TimerPool, HandlesAreTheLowestFreeNumbers) {
  TMPTimerPool pool;
  EXPECT_EQ(pool.AddTrigger(100, Record("a")), 0);
  EXPECT_EQ(pool.AddTrigger(100, Record("b")), 1);
  EXPECT_EQ(pool.AddTrigger(100, Record("c")), 2);
  pool.RemoveTrigger(1);
  EXPECT_EQ(pool.NewHandle(), 1);
  EXPECT_EQ(pool.AddTrigger(100, Record("d")), 1);
  EXPECT_EQ(pool.AddTrigger(100, Record("e")), 3);
  // Order of creation, not of handles.
  std::vector<int> order;
  pool.ForEachTrigger([&](TTrigger *t, void *) { return order.push_back(t->Handle()), true; },
                      nullptr);
  EXPECT_EQ(order, (std::vector<int>{0, 2, 1, 3}));
}

TEST_F(TimerPool, InvalidHandles) {
  TMPTimerPool pool;
  pool.AddTrigger(100, Record("a"));
  for (int h : {-1, 1, 99}) {
    try {
      pool.SetTriggerEnabled(h, true);
      ADD_FAILURE();
    } catch (const EListError &e) {
      EXPECT_EQ(e.message(), "Invalid trigger handle " + std::to_string(h));
    }
  }
  EXPECT_THROW(pool.RemoveTrigger(5), EListError);
  EXPECT_THROW(pool.SetTriggerInterval(-3, 100), EListError);
}

TEST_F(TimerPool, CountedTriggerFiresThatManyTimes) {
  TMPTimerPool pool;
  const int h = pool.AddTrigger(100, 3, Record("c"));
  EXPECT_EQ(pool.TriggerByHandle(h)->Count(), 3);
  for (int i = 1; i <= 5; ++i) {
    fTick = 1000 + 100 * uint32_t(i);
    pool.TimerTick();
  }
  EXPECT_EQ(fLog.size(), 3u);
  EXPECT_FALSE(pool.TriggerByHandle(h)->Enabled());
  EXPECT_EQ(pool.TriggerByHandle(h)->Count(), -1);
  // The timer is only re-evaluated at the next change.
  EXPECT_NE(pool.Timer(), nullptr);
  pool.UpdateTimer();
  EXPECT_EQ(pool.Timer(), nullptr);
  // A count of 0 given to a new trigger equals its initial count: nothing changes, and a
  // count of 0 never runs out.
  const int z = pool.AddTrigger(100, 0, Record("z"));
  TTrigger *t = pool.TriggerByHandle(z);
  EXPECT_TRUE(t->Enabled());
  EXPECT_EQ(t->Count(), 0);
  t->Fire(2000);
  t->Fire(2100);
  EXPECT_TRUE(t->Enabled());
  // Set later, 0 disables and reads back as unlimited.
  t->SetCount(5);
  t->SetCount(0);
  EXPECT_FALSE(t->Enabled());
  EXPECT_EQ(t->Count(), -1);
}

TEST_F(TimerPool, OnAllTriggersOncePerTickAfterTheTriggers) {
  TMPTimerPool pool;
  pool.OnAllTriggers = Record("all");
  pool.AddTrigger(100, Record("t"));
  fTick = 1010;
  pool.TimerTick(); // nothing due
  fTick = 1100;
  pool.TimerTick();
  EXPECT_EQ(fLog, (std::vector<std::string>{"all:-1:0:0", "t:0:100:100", "all:-1:0:0"}));
}

TEST_F(TimerPool, SameShortestIntervalKeepsTheTimer) {
  TMPTimerPool pool;
  const int a = pool.AddTrigger(100, Record("a"));
  bool restarted = false;
  QObject::connect(pool.Timer(), &QObject::destroyed, [&] { restarted = true; });
  const int b = pool.AddTrigger(400, Record("b"));
  pool.SetTriggerInterval(b, 300);
  pool.SetTriggerEnabled(b, false);
  pool.SetTriggerInterval(a, 100);
  EXPECT_FALSE(restarted);
  pool.SetTriggerInterval(a, 150);
  EXPECT_TRUE(restarted);
  EXPECT_EQ(pool.Timer()->interval(), 150);
}

TEST_F(TimerPool, VetoOnEnabling) {
  TMPTimerPool pool;
  pool.DefEnabled = false;
  const int h = pool.AddTrigger(100, 1, Record("v"));
  TTrigger *t = pool.TriggerByHandle(h);
  bool allow = false;
  std::vector<bool> asked;
  t->OnEnabling = [&](TTrigger *, int32_t handle, bool value, bool &a) {
    EXPECT_EQ(handle, h);
    asked.push_back(value);
    a = allow;
  };
  pool.SetTriggerEnabled(h, true);
  EXPECT_FALSE(t->Enabled());
  EXPECT_EQ(pool.Timer(), nullptr);
  pool.SetTriggerEnabled(h, false); // no change: not asked
  allow = true;
  pool.SetTriggerEnabled(h, true);
  EXPECT_TRUE(t->Enabled());
  // The count running out disables through the veto too.
  allow = false;
  fTick = 1100;
  pool.TimerTick();
  EXPECT_TRUE(t->Enabled());
  EXPECT_EQ(t->Count(), -1);
  EXPECT_EQ(asked, (std::vector<bool>{true, true, false}));
}

TEST_F(TimerPool, CallbackErrorsDoNotEndThePass) {
  TMPTimerPool pool;
  pool.AddTrigger(100, [](TMPTimerPool *, int32_t, uint32_t, uint32_t) { throw EAbort(); });
  pool.AddTrigger(100,
                  [](TMPTimerPool *, int32_t, uint32_t, uint32_t) { throw EListError("shown"); });
  pool.AddTrigger(100, Record("after"));
  fTick = 1100;
  pool.TimerTick();
  EXPECT_EQ(fShown, (std::vector<std::string>{"shown"}));
  EXPECT_EQ(fLog, (std::vector<std::string>{"after:2:100:100"}));
  // The failed firings still count as firings.
  EXPECT_EQ(pool.TriggerByHandle(0)->LastTick, 1100u);

  const int h = pool.AddTrigger(100, [](TMPTimerPool *, int32_t, uint32_t, uint32_t) {
    throw std::runtime_error("foreign");
  });
  fTick = 1300;
  EXPECT_THROW(pool.TimerTick(), std::runtime_error);
  pool.RemoveTrigger(h);

  pool.OnAllTriggers = [](TMPTimerPool *, int32_t, uint32_t, uint32_t) { throw Exception("all"); };
  EXPECT_THROW(pool.TimerTick(), Exception);

  // A veto callback that fails: the change completes with Allow as it was left.
  TTrigger *t = pool.TriggerByHandle(2);
  t->OnEnabling = [](TTrigger *, int32_t, bool, bool &allow) {
    allow = false;
    throw Exception("veto failed");
  };
  pool.SetTriggerEnabled(2, false);
  EXPECT_TRUE(t->Enabled());
  EXPECT_EQ(fShown.back(), "veto failed");
}

TEST_F(TimerPool, CallbackMayChangeIntervalsDuringThePass) {
  TMPTimerPool pool;
  int a = -1;
  a = pool.AddTrigger(
      100, [&](TMPTimerPool *p, int32_t, uint32_t, uint32_t) { p->SetTriggerInterval(a, 500); });
  pool.AddTrigger(100, Record("b"));
  fTick = 1100;
  pool.TimerTick();
  EXPECT_EQ(fLog, (std::vector<std::string>{"b:1:100:100"}));
  EXPECT_EQ(pool.Timer()->interval(), 100);
  pool.RemoveTrigger(1);
  EXPECT_EQ(pool.Timer()->interval(), 500);
}

TEST_F(TimerPool, DestroyingATriggerUpdatesThePool) {
  TMPTimerPool pool;
  const int h = pool.AddTrigger(100, Record("a"));
  pool.AddTrigger(300, Record("b"));
  delete pool.TriggerByHandle(h);
  EXPECT_EQ(pool.TriggerCount(), 1);
  EXPECT_EQ(pool.Timer()->interval(), 300);
  int found = 0;
  EXPECT_EQ(pool.ForEachEnabledTrigger(
                [&](TTrigger *, void *d) { return ++*static_cast<int *>(d), false; }, &found),
            pool.TriggerByHandle(1));
  EXPECT_EQ(found, 1);
}

TEST_F(TimerPool, ThePlatformTimerDrivesThePool) {
  SetTickSource({}); // the real clock
  TMPTimerPool pool;
  QEventLoop loop;
  int fired = 0;
  pool.AddTrigger(60, 2, [&](TMPTimerPool *, int32_t, uint32_t, uint32_t) {
    if (++fired == 2) loop.quit();
  });
  QTimer::singleShot(5000, &loop, &QEventLoop::quit); // a guard, not a wait
  loop.exec();
  EXPECT_EQ(fired, 2);
}

// --- object lists

namespace {
struct Counted {
  explicit Counted(std::vector<int> &log, int id) : fLog(log), fId(id) {}
  ~Counted() { fLog.push_back(fId); }
  std::vector<int> &fLog;
  int fId;
};
} // namespace

TEST(ObjectLists, OwnedListFreesItsObjectsInOrder) {
  std::vector<int> freed;
  {
    TMPOwnedObjectList<Counted> list;
    for (int i = 0; i < 4; ++i)
      list.Add(new Counted(freed, i));
    Counted *kept = list[1];
    list.Delete(1); // not freed
    EXPECT_TRUE(freed.empty());
    EXPECT_EQ(list.IndexOf(kept), -1);
    delete kept;
    EXPECT_EQ(freed, std::vector<int>{1});
    list.FreeAll();
    EXPECT_EQ(freed, (std::vector<int>{1, 0, 2, 3}));
    EXPECT_EQ(list.Count(), 0);
    list.Add(new Counted(freed, 9));
  }
  EXPECT_EQ(freed.back(), 9);
  TMPObjectList<Counted> plain;
  Counted c(freed, 5);
  plain.Add(&c);
  plain.Clear();
  EXPECT_EQ(freed.back(), 9);
  EXPECT_THROW(plain.Items(0), EListError);
  EXPECT_THROW(plain.Delete(-1), EListError);
}
