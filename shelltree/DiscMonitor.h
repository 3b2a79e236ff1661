#pragma once
// The change monitor of one folder node: a worker that waits for the folder's change
// notification and hands each change to the user-interface thread, where the node's
// children are read again. It lives exactly as long as its node.
#include "platform/ChangeNotify.h"
#include "platform/Thread.h"
#include "shelltree/ShellNode.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace plm {

class TDiscMonitorThread : public TThread, public TNodeMonitor {
public:
  // What a change does on the user-interface thread; the tree's is OnFolderChanged.
  using TFolderChanged = std::function<void(TShellnode *)>;

  // Watches the node's path with its tree's MonitorFilter (made by the tree). Suspended.
  explicit TDiscMonitorThread(TShellnode *node);
  TDiscMonitorThread(TShellnode *node, std::string watchPath, uint32_t filter,
                     TFolderChanged folderChanged);
  // Stops the worker and waits for it; runs no refresh for the node from then on.
  ~TDiscMonitorThread() override;

  // Whether the monitor could be made whole (its two events exist); one that could not
  // is not started.
  bool Usable() const { return StopEvent != INVALID_HANDLE_VALUE && FilterEvent != INVALID_HANDLE_VALUE; }
  // Whether one more monitor leaves the process enough descriptors for everything else
  // (opening templates, the browser engine): each monitor holds three.
  static bool DescriptorsToSpare();

  // Hands over a new filter; a running worker watches again with it.
  void SetFilter(uint32_t filter);
  // Notifications set up so far, and changes handed over whose step has run: a change
  // made before the notification is set up is not seen, so tests wait for these.
  int ArmCount() const { return fArms; }
  int HandOffCount() const { return fHandOffs; }

  TShellnode *WatchNode;          // read and cleared on the user-interface thread only
  const std::string WatchPath;    // the node's path when the monitor was made
  std::atomic<uint32_t> Filter;   // FILE_NOTIFY_CHANGE_ flags
  HANDLE StopEvent;               // ends the worker
  HANDLE FilterEvent;             // makes the worker watch again with the current Filter
  std::atomic<bool> Failed{false}; // the notification could not be set up; the worker ended

protected:
  void Execute() override;

private:
  void NotifyChanged();
  void Signal(HANDLE TDiscMonitorThread::*event);

  TFolderChanged fFolderChanged;
  std::atomic<int> fArms{0};
  std::atomic<int> fHandOffs{0};
  // Guards the two event handles: the worker closes them when it ends, and the
  // interface thread must never signal one after that.
  std::mutex fEventLock;
};

// Hands a new filter to a monitor.
inline void SetFilter(TDiscMonitorThread *thread, uint32_t filter) { thread->SetFilter(filter); }

} // namespace plm
