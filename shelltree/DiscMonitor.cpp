#include "shelltree/DiscMonitor.h"

#include "platform/Process.h"
#include "platform/gui/ErrorReport.h"

namespace plm {

namespace {

// Monitors alive, each holding its two events and, while it runs, its notification.
std::atomic<uint64_t> gLiveMonitors{0};
constexpr uint64_t kDescriptorsPerMonitor = 3;
// Kept free for the rest of the program.
constexpr uint64_t kSpareDescriptors = 512;

} // namespace

bool TDiscMonitorThread::DescriptorsToSpare() {
  const uint64_t limit = OpenFileLimit();
  return limit > kSpareDescriptors &&
         (gLiveMonitors + 1) * kDescriptorsPerMonitor <= limit - kSpareDescriptors;
}

TDiscMonitorThread::TDiscMonitorThread(TShellnode *node, std::string watchPath, uint32_t filter,
                                       TFolderChanged folderChanged)
    : WatchNode(node), WatchPath(std::move(watchPath)), Filter(filter),
      StopEvent(CreateEventA(false)), FilterEvent(CreateEventA(false)),
      fFolderChanged(std::move(folderChanged)) {
  ++gLiveMonitors;
}

TDiscMonitorThread::~TDiscMonitorThread() {
  // A change handed over just before the stop still runs while we wait below; it must
  // find no node, since the node is being destroyed.
  WatchNode = nullptr;
  Signal(&TDiscMonitorThread::StopEvent);
  WaitFor();
  // A worker that never started has not closed them.
  std::lock_guard<std::mutex> guard(fEventLock);
  CloseHandle(StopEvent);
  CloseHandle(FilterEvent);
  StopEvent = FilterEvent = INVALID_HANDLE_VALUE;
  --gLiveMonitors;
}

void TDiscMonitorThread::Signal(HANDLE TDiscMonitorThread::*event) {
  std::lock_guard<std::mutex> guard(fEventLock);
  if (this->*event != INVALID_HANDLE_VALUE) SetEvent(this->*event);
}

void TDiscMonitorThread::SetFilter(uint32_t filter) {
  if (filter == Filter) return;
  Filter = filter;
  // A worker not started yet reads Filter when it starts.
  if (!Suspended()) Signal(&TDiscMonitorThread::FilterEvent);
}

void TDiscMonitorThread::Execute() {
  auto watch = [this] {
    const HANDLE h = FindFirstChangeNotificationA(WatchPath, false, Filter);
    if (h != INVALID_HANDLE_VALUE) ++fArms;
    return h;
  };
  HANDLE h = Usable() ? watch() : INVALID_HANDLE_VALUE;
  for (;;) {
    if (h == INVALID_HANDLE_VALUE) {
      Failed = true;
      break;
    }
    const HANDLE handles[3] = {StopEvent, FilterEvent, h};
    const uint32_t result = WaitForMultipleObjects(3, handles, INFINITE);
    if (result == WAIT_OBJECT_0) {
      FindCloseChangeNotification(h);
      break;
    }
    if (result == WAIT_FAILED) {
      // A wait that cannot be made now cannot be made later either: going round again
      // would spin for ever and keep the stop from ever being seen.
      FindCloseChangeNotification(h);
      Failed = true;
      break;
    }
    if (result == WAIT_OBJECT_0 + 1) {
      FindCloseChangeNotification(h);
      h = watch();
    } else if (result == WAIT_OBJECT_0 + 2) {
      Synchronize([this] { NotifyChanged(); });
      ++fHandOffs;
      // The folder has gone (deleted, moved away): no change can come any more.
      if (!FindNextChangeNotification(h)) {
        FindCloseChangeNotification(h);
        h = INVALID_HANDLE_VALUE;
      }
    }
  }
  std::lock_guard<std::mutex> guard(fEventLock);
  CloseHandle(FilterEvent);
  CloseHandle(StopEvent);
  FilterEvent = StopEvent = INVALID_HANDLE_VALUE;
}

void TDiscMonitorThread::NotifyChanged() {
  // Runs on the interface thread like any event handler: a failure is reported there
  // and the monitor goes on.
  // Copies: the step may end up destroying this monitor along with its node.
  TShellnode *node = WatchNode;
  const TFolderChanged changed = fFolderChanged;
  if (node && changed) GuardCall([&] { changed(node); });
}

} // namespace plm
