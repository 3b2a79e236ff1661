#include "platform/Thread.h"

#include "platform/Exceptions.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <algorithm>
#include <condition_variable>
#include <deque>

#include <climits>

namespace plm {

struct TThread::Request {
  std::function<void()> Step;
  std::exception_ptr Error;
  bool Done = false;
};

namespace {

// One lock and one condition for every worker: hand-offs are rare and short.
std::mutex gLock;
std::condition_variable gChanged;
std::deque<TThread *> gWaiting; // workers with a step handed over, oldest first
// The application a wake-up is queued for and not yet taken: at most one at a time.
// A wake-up per hand-off would pile up under a stream of changes (each queued wake-up
// finds fresh steps to run, while the workers queue more), and the interface thread
// would never get back to its other events.
const QCoreApplication *gWakeQueued = nullptr;

} // namespace

TThread::TThread(size_t stackSize) : fStackSize(stackSize) {}

TThread::~TThread() {
  // A derived class has normally waited already; this only keeps the process alive
  // when it has not.
  WaitFor();
  std::lock_guard<std::mutex> guard(gLock);
  gWaiting.erase(std::remove(gWaiting.begin(), gWaiting.end(), this), gWaiting.end());
}

void TThread::Resume() {
  if (!fSuspended) return;
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, std::max<size_t>(fStackSize, PTHREAD_STACK_MIN));
  const int rc = pthread_create(
      &fThread, &attr,
      [](void *self) -> void * {
        static_cast<TThread *>(self)->Run();
        return nullptr;
      },
      this);
  pthread_attr_destroy(&attr);
  if (rc != 0) RaiseLastOSError(rc);
  fStarted = true;
  fSuspended = false;
}

void TThread::Terminate() { fTerminated = true; }

bool TThread::Terminated() const { return fTerminated; }

bool TThread::Finished() const {
  std::lock_guard<std::mutex> guard(gLock);
  return fFinished;
}

bool TThread::HandOffPending() const {
  std::lock_guard<std::mutex> guard(gLock);
  return fPending != nullptr;
}

std::exception_ptr TThread::FatalException() const {
  std::lock_guard<std::mutex> guard(gLock);
  return fFatal;
}

bool TThread::InMainThread() {
  const QCoreApplication *app = QCoreApplication::instance();
  return app != nullptr && QThread::currentThread() == app->thread();
}

void TThread::Run() {
  std::exception_ptr fatal;
  try {
    Execute();
  } catch (...) {
    fatal = std::current_exception();
  }
  std::lock_guard<std::mutex> guard(gLock);
  fFatal = fatal;
  fFinished = true;
  gChanged.notify_all();
}

void TThread::Synchronize(const std::function<void()> &step) {
  if (InMainThread()) {
    step();
    return;
  }
  auto request = std::make_shared<Request>();
  request->Step = step;
  std::unique_lock<std::mutex> lock(gLock);
  fPending = request;
  gWaiting.push_back(this);
  gChanged.notify_all();
  // The wake-up is posted before the lock is let go, so a step seen pending always has
  // its wake-up queued (posting takes only the event queue's own lock, never ours).
  QCoreApplication *app = QCoreApplication::instance();
  if (app && gWakeQueued != app) {
    gWakeQueued = app;
    QMetaObject::invokeMethod(app, [] { CheckSynchronize(); }, Qt::QueuedConnection);
  }
  gChanged.wait(lock, [&] { return request->Done; });
  if (request->Error) std::rethrow_exception(request->Error);
}

bool TThread::RunPending(TThread *worker, std::unique_lock<std::mutex> &lock) {
  gWaiting.erase(std::remove(gWaiting.begin(), gWaiting.end(), worker), gWaiting.end());
  std::shared_ptr<Request> request = std::move(worker->fPending);
  if (!request) return false;
  worker->fRunning = request;
  // The step moves to this stack: the worker may return from Synchronize (see WaitFor)
  // and drop its request while the step is still running here.
  std::function<void()> step = std::move(request->Step);
  std::exception_ptr error;
  lock.unlock();
  try {
    step();
  } catch (...) {
    error = std::current_exception();
  }
  lock.lock();
  if (!request->Done) {
    request->Error = error;
    request->Done = true;
    gChanged.notify_all();
  }
  return true;
}

bool TThread::CheckSynchronize() {
  if (!InMainThread()) return false;
  std::unique_lock<std::mutex> lock(gLock);
  // From here on, a hand-off queues a wake-up of its own.
  gWakeQueued = nullptr;
  // Only the steps handed over so far: a busy worker that hands over again at once
  // waits for the next wake-up, so other events of the interface thread get their turn.
  size_t count = gWaiting.size();
  bool ran = false;
  while (count-- > 0 && !gWaiting.empty())
    ran = RunPending(gWaiting.front(), lock) || ran;
  return ran;
}

void TThread::WaitFor() {
  if (!fStarted) return;
  if (pthread_equal(fThread, pthread_self())) return; // a worker never waits for itself
  {
    std::unique_lock<std::mutex> lock(gLock);
    const bool ui = InMainThread();
    while (!fFinished) {
      if (ui && fPending) {
        RunPending(this, lock);
        continue;
      }
      if (ui && fRunning && !fRunning->Done) {
        // Called from inside this worker's own step: the worker waits for that step,
        // which cannot end before this wait does. Let the worker go on instead.
        fRunning->Done = true;
        gChanged.notify_all();
      }
      gChanged.wait(lock);
    }
  }
  pthread_join(fThread, nullptr);
  fStarted = false;
}

} // namespace plm
