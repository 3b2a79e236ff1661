#pragma once
// What the change-monitoring tests share: a private folder tree made and removed by
// the test, and waits on handles that never sleep for a fixed time.
#include "platform/Events.h"

#include <string>

#include <sys/resource.h>

namespace plmtest {

class TempTree {
public:
  TempTree();
  ~TempTree();
  TempTree(const TempTree &) = delete;
  TempTree &operator=(const TempTree &) = delete;
  const std::string &Root() const { return fRoot; }
  // root + "/" + rel
  std::string Path(const std::string &rel) const { return fRoot + "/" + rel; }
  std::string MakeDir(const std::string &rel) const;
  std::string MakeFile(const std::string &rel) const;

private:
  std::string fRoot;
};

// True when the handle becomes signalled within the limit (a safety net against a
// hang, not a pause: the wait ends as soon as it is signalled).
bool Signalled(plm::HANDLE h, unsigned limitMs = 10000);
// True when the handle is signalled right now.
bool SignalledNow(plm::HANDLE h);
// Lowers the process's descriptor limit for the life of the object.
class TDescriptorLimit {
public:
  explicit TDescriptorLimit(rlim_t soft);
  ~TDescriptorLimit();
  TDescriptorLimit(const TDescriptorLimit &) = delete;
  TDescriptorLimit &operator=(const TDescriptorLimit &) = delete;
  bool Set() const { return fSet; }

private:
  rlimit fSaved{};
  bool fSet = false;
};

// The process's inotify instances, from /proc/self/fd.
int InotifyInstances();
// The watches of the process's inotify instances, from /proc/self/fdinfo.
int InotifyWatches();

} // namespace plmtest
