#pragma once
// A pool of periodic triggers sharing one platform timer. The timer runs only while at
// least one trigger is enabled, with the shortest enabled interval (at least 55 ms) as its
// period; at each tick every enabled trigger whose interval has elapsed (within 23 ms)
// fires. Times come from the platform's 32-bit wrapping tick counter.
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <vector>

namespace plm {

class TMPTimerPool;
class TTrigger;

// Sender, Handle, IntervalTicks (ms since the previous firing), ElapsedTicks (ms since the
// trigger was created).
using TMPTriggerEvent = std::function<void(TMPTimerPool *sender, int32_t handle,
                                           uint32_t intervalTicks, uint32_t elapsedTicks)>;
// Consulted before a trigger's Enabled changes; clearing allow vetoes the change.
using TMPEnablingEvent =
    std::function<void(TTrigger *sender, int32_t handle, bool newValue, bool &allow)>;

constexpr int32_t MinTriggerInterval = 55; // ms
constexpr int32_t TriggerTolerance = 23;   // ms a trigger may fire early

class TTrigger {
public:
  TTrigger(const TTrigger &) = delete;
  TTrigger &operator=(const TTrigger &) = delete;
  // Destroying a trigger removes it from its pool, which re-arms its timer.
  ~TTrigger();

  TMPTimerPool *Pool() const { return fPool; }
  int32_t Handle() const { return fHandle; }
  bool Enabled() const { return fEnabled; }
  // Through the OnEnabling veto; does not re-arm the pool's timer (the pool's
  // SetTriggerEnabled does).
  void SetEnabled(bool value);
  int32_t Interval() const { return fInterval; }
  void SetInterval(int32_t value);
  int32_t Count() const { return fCount; }
  // 0 disables the trigger and is stored as -1 (unlimited); equal values change nothing.
  void SetCount(int32_t value);

  // Fires when now - LastTick >= Interval - 23 (modulo 2^32, compared as signed).
  void CheckFire(uint32_t now);
  void Fire(uint32_t now);

  uint32_t LastTick = 0;
  uint32_t StartTick = 0;
  TMPTriggerEvent OnTrigger;
  TMPEnablingEvent OnEnabling;

private:
  friend class TMPTimerPool;
  explicit TTrigger(TMPTimerPool *pool);

  TMPTimerPool *fPool;
  int32_t fHandle;
  bool fEnabled = false;
  int32_t fInterval = 0;
  int32_t fCount = 0;
};

class TMPTimerPool : public QObject {
  Q_OBJECT
public:
  explicit TMPTimerPool(QObject *owner = nullptr);
  ~TMPTimerPool() override;

  // Creates a trigger (Enabled := DefEnabled, Interval := max(interval, 55), Count as
  // SetCount) and returns its handle.
  int32_t AddTrigger(int32_t interval, int32_t count, TMPTriggerEvent event);
  int32_t AddTrigger(int32_t interval, TMPTriggerEvent event) {
    return AddTrigger(interval, -1, std::move(event));
  }
  void RemoveTrigger(int32_t handle);
  void SetTriggerEnabled(int32_t handle, bool value);
  void SetTriggerInterval(int32_t handle, int32_t interval);
  // Raises EListError "Invalid trigger handle %d" for a negative or unknown handle.
  TTrigger *TriggerByHandle(int32_t handle) const;
  int EnabledCount() const;
  int TriggerCount() const { return static_cast<int>(fTriggers.size()); }

  // Visit the triggers (or the enabled ones) in order of creation; stop at the first for
  // which the callback returns false and return it; nullptr when all returned true.
  using TTriggerCallback = std::function<bool(TTrigger *trigger, void *data)>;
  TTrigger *ForEachTrigger(const TTriggerCallback &callback, void *data) const;
  TTrigger *ForEachEnabledTrigger(const TTriggerCallback &callback, void *data) const;

  // The smallest number from 0 upward that no trigger of the pool has.
  virtual int32_t NewHandle() const;
  // One firing pass.
  virtual void TimerTick();
  // Frees, keeps or re-creates the platform timer after a change of the enabled
  // triggers or their intervals.
  void UpdateTimer();

  // The platform timer, or nullptr while no trigger is enabled.
  QTimer *Timer() const { return fTimer.data(); }

  bool DefEnabled = true;
  TMPTriggerEvent OnAllTriggers;

private:
  friend class TTrigger;
  void TriggerDestroyed(TTrigger *trigger);

  std::vector<TTrigger *> fTriggers; // owned, in order of creation
  QPointer<QTimer> fTimer;           // child of the pool; forgotten should anything else free it
  bool fDestroying = false;
};

} // namespace plm
