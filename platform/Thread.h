#pragma once
// A worker thread in the framework's manner: made suspended, started by Resume, with a
// synchronous hand-off of a step to the user-interface thread (the thread of the
// application object).
//
// Synchronize blocks the worker until the user-interface thread has run the step, so
// at most one step per worker is pending. WaitFor, called on the user-interface thread,
// keeps running the step that the awaited worker has pending, so waiting for a worker
// that is itself blocked in a hand-off never locks. It runs no other worker's step:
// a destruction in progress never sees unrelated work run in the middle of it.
//
// A derived class must end its worker (signal it, then WaitFor) in its own destructor,
// while its fields still exist; the base destructor only checks that this was done.
#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include <pthread.h>

namespace plm {

class TThread {
public:
  // Suspended: Execute starts with Resume. Workers wait and hand steps over rather than
  // compute, so a small stack does (tree folders may have thousands of them).
  explicit TThread(size_t stackSize = 256 * 1024);
  virtual ~TThread();
  TThread(const TThread &) = delete;
  TThread &operator=(const TThread &) = delete;

  // Starts the worker; raises EOSError when the system cannot make the thread.
  void Resume();
  bool Suspended() const { return fSuspended; }
  // Sets Terminated; the worker's Execute decides when to look at it.
  void Terminate();
  bool Terminated() const;
  bool Finished() const;
  // Waits until Execute has returned; see above for the user-interface thread.
  void WaitFor();
  // A step has been handed over and not yet taken by the interface thread.
  bool HandOffPending() const;
  // What escaped from Execute, if anything.
  std::exception_ptr FatalException() const;

  // Runs the steps that workers hand to the user-interface thread; called there by
  // the posted wake-up, and by WaitFor for the awaited worker. True when a step ran.
  static bool CheckSynchronize();
  static bool InMainThread();

protected:
  virtual void Execute() = 0;
  // Runs step on the user-interface thread and returns once it has run there; an
  // exception raised by the step is raised again here. Called on that thread, the
  // step simply runs.
  void Synchronize(const std::function<void()> &step);

private:
  struct Request;
  void Run();
  // Takes the worker's pending step and runs it; lock is held on entry and on return
  // but released while the step runs. The worker object is not touched after the step,
  // which may have destroyed it.
  static bool RunPending(TThread *worker, std::unique_lock<std::mutex> &lock);

  pthread_t fThread{};
  bool fStarted = false; // fThread exists and has not been joined
  size_t fStackSize;
  bool fSuspended = true;
  std::atomic<bool> fTerminated{false};
  // The rest is guarded by the hand-off lock.
  bool fFinished = false;
  std::shared_ptr<Request> fPending; // handed over, not yet taken by the interface thread
  std::shared_ptr<Request> fRunning; // the last one taken; it may still be running
  std::exception_ptr fFatal;
};

} // namespace plm
