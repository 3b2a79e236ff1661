#pragma once
// Volume arrival and removal. A watcher thread waits on the mount table with poll()
// for POLLPRI, which the kernel raises on every change of the table (no timer, no cost
// while nothing changes), compares the new table with the last one and reports the
// mount points that came or went. Only volumes a person would browse count (see
// IsBrowsableMount).
#include "platform/Volumes.h"

#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace plm {

struct MountTableChange {
  std::vector<std::string> Arrived; // mount points of volumes that appeared
  std::vector<std::string> Removed; // mount points of volumes that went
  bool Empty() const { return Arrived.empty() && Removed.empty(); }
};

// What changed from one table to the next, each list in the later table's order (the
// earlier one's for removals), without repeats. A mount point whose volume was replaced
// (another device, another file system) is in both lists.
MountTableChange CompareMountTables(const std::vector<MountEntry> &before,
                                    const std::vector<MountEntry> &after);

class TMountWatcher {
public:
  // Called on the watcher's thread for each change, never for an empty one.
  using Handler = std::function<void(const MountTableChange &)>;

  // Starts watching at once; the table as it is now is the first one compared against.
  explicit TMountWatcher(Handler handler, std::string mountInfo = "/proc/self/mountinfo");
  ~TMountWatcher(); // stops the thread and waits for it
  TMountWatcher(const TMountWatcher &) = delete;
  TMountWatcher &operator=(const TMountWatcher &) = delete;

  // Test seams. Post hands a change to the handler through the watcher's thread, as if
  // it had been read from the table; Rescan reads and compares the table now, as if
  // the kernel had flagged a change (for a mount table kept in an ordinary file).
  void Post(MountTableChange change);
  void Rescan();

private:
  void Run();
  std::vector<MountEntry> ReadTable();

  Handler fHandler;
  std::string fPath;
  int fFile = -1;
  int fWake = -1; // an event descriptor
  std::vector<MountEntry> fTable; // the watcher thread's own
  std::mutex fLock;
  std::deque<MountTableChange> fPosted; // guarded by fLock
  bool fRescan = false;                 // guarded by fLock
  bool fStop = false;                   // guarded by fLock
  std::thread fThread;
};

} // namespace plm
