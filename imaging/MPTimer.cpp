#include "imaging/MPTimer.h"

#include "platform/Exceptions.h"
#include "platform/Tick.h"
#include "platform/graphics/Graphics.h"

#include <QTimer>

#include <algorithm>

namespace plm {

namespace {

// Callback errors do not end a pass or a change: a silent abort is ignored, the program's
// own errors are shown, anything else passes on.
template <class F> void Guard(F f) {
  try {
    f();
  } catch (const EAbort &) {
  } catch (const Exception &e) {
    ApplicationHandleException(e);
  }
}

} // namespace

// --- TTrigger

TTrigger::TTrigger(TMPTimerPool *pool) : fPool(pool), fHandle(pool->NewHandle()) {
  StartTick = GetTickCount();
  LastTick = StartTick;
}

TTrigger::~TTrigger() {
  if (fPool) fPool->TriggerDestroyed(this);
}

void TTrigger::SetEnabled(bool value) {
  if (value == fEnabled) return;
  bool allow = true;
  if (OnEnabling) Guard([&] { OnEnabling(this, fHandle, value, allow); });
  if (allow) fEnabled = value;
}

void TTrigger::SetInterval(int32_t value) { fInterval = std::max(value, MinTriggerInterval); }

void TTrigger::SetCount(int32_t value) {
  if (value == fCount) return;
  if (value == 0) {
    SetEnabled(false);
    fCount = -1;
    return;
  }
  fCount = value;
}

void TTrigger::CheckFire(uint32_t now) {
  const auto elapsed = static_cast<int32_t>(now - LastTick);
  if (elapsed >= fInterval - TriggerTolerance) Fire(now);
}

void TTrigger::Fire(uint32_t now) {
  if (OnTrigger) {
    const TMPTriggerEvent event = OnTrigger; // the callback may replace OnTrigger
    Guard([&] { event(fPool, fHandle, now - LastTick, now - StartTick); });
  }
  LastTick = now;
  if (fCount > 0) {
    --fCount;
    if (fCount == 0) {
      SetEnabled(false);
      fCount = -1;
    }
  }
}

// --- TMPTimerPool

TMPTimerPool::TMPTimerPool(QObject *owner) : QObject(owner) {}

TMPTimerPool::~TMPTimerPool() {
  fDestroying = true;
  std::vector<TTrigger *> triggers;
  triggers.swap(fTriggers);
  for (TTrigger *t : triggers) {
    t->fPool = nullptr;
    delete t;
  }
  delete fTimer;
  fTimer = nullptr;
}

int32_t TMPTimerPool::AddTrigger(int32_t interval, int32_t count, TMPTriggerEvent event) {
  std::unique_ptr<TTrigger> t(new TTrigger(this));
  t->fPool = nullptr; // not a member until everything is set
  t->SetEnabled(DefEnabled);
  t->SetInterval(interval);
  t->SetCount(count);
  t->OnTrigger = std::move(event);
  fTriggers.push_back(t.get());
  TTrigger *raw = t.release();
  raw->fPool = this;
  UpdateTimer();
  return raw->Handle();
}

void TMPTimerPool::RemoveTrigger(int32_t handle) { delete TriggerByHandle(handle); }

void TMPTimerPool::SetTriggerEnabled(int32_t handle, bool value) {
  TriggerByHandle(handle)->SetEnabled(value);
  UpdateTimer();
}

void TMPTimerPool::SetTriggerInterval(int32_t handle, int32_t interval) {
  TriggerByHandle(handle)->SetInterval(interval);
  UpdateTimer();
}

TTrigger *TMPTimerPool::TriggerByHandle(int32_t handle) const {
  if (handle >= 0)
    for (TTrigger *t : fTriggers)
      if (t->Handle() == handle) return t;
  throw EListError("Invalid trigger handle " + std::to_string(handle));
}

int TMPTimerPool::EnabledCount() const {
  return static_cast<int>(std::count_if(fTriggers.begin(), fTriggers.end(),
                                        [](const TTrigger *t) { return t->Enabled(); }));
}

TTrigger *TMPTimerPool::ForEachTrigger(const TTriggerCallback &callback, void *data) const {
  for (TTrigger *t : fTriggers)
    if (!callback(t, data)) return t;
  return nullptr;
}

TTrigger *TMPTimerPool::ForEachEnabledTrigger(const TTriggerCallback &callback, void *data) const {
  for (TTrigger *t : fTriggers)
    if (t->Enabled() && !callback(t, data)) return t;
  return nullptr;
}

int32_t TMPTimerPool::NewHandle() const {
  for (int32_t h = 0;; ++h)
    if (std::none_of(fTriggers.begin(), fTriggers.end(),
                     [h](const TTrigger *t) { return t->Handle() == h; }))
      return h;
}

void TMPTimerPool::UpdateTimer() {
  if (EnabledCount() == 0) {
    delete fTimer;
    fTimer = nullptr;
    return;
  }
  int32_t m = INT32_MAX;
  for (const TTrigger *t : fTriggers)
    if (t->Enabled()) m = std::min(m, t->Interval());
  m = std::max(m, MinTriggerInterval);
  if (fTimer && fTimer->interval() == m) return;
  delete fTimer;
  fTimer = new QTimer(this);
  fTimer->setTimerType(Qt::PreciseTimer);
  fTimer->setInterval(m);
  connect(fTimer.data(), &QTimer::timeout, this, [this] { TimerTick(); });
  fTimer->start();
}

void TMPTimerPool::TimerTick() {
  const uint32_t now = GetTickCount();
  // Visit by position over the number of triggers the pass began with: callbacks may
  // change intervals and enabled states as they go.
  const size_t n = fTriggers.size();
  for (size_t i = 0; i < n && i < fTriggers.size(); ++i) {
    TTrigger *t = fTriggers[i];
    if (t->Enabled()) t->CheckFire(now);
  }
  if (OnAllTriggers) OnAllTriggers(this, -1, 0, 0);
}

void TMPTimerPool::TriggerDestroyed(TTrigger *trigger) {
  auto it = std::find(fTriggers.begin(), fTriggers.end(), trigger);
  if (it == fTriggers.end()) return;
  fTriggers.erase(it);
  if (!fDestroying) UpdateTimer();
}

} // namespace plm
