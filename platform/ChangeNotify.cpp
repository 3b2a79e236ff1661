#include "platform/ChangeNotify.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plm {

namespace {

constexpr uint32_t kNameEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;
constexpr uint32_t kGoneEvents = IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT | IN_IGNORED;
// What a watched folder's parent tells of it: its name deleted, or another entry moved in
// under its name (which replaced it). The folder's own deletion notice waits for the last
// user of the folder to let it go (a process whose current folder it is, an open
// descriptor), so it can come long after, or after a new folder of that name was made.
constexpr uint32_t kParentEvents = IN_ONLYDIR | IN_DELETE | IN_MOVED_TO;
constexpr uint32_t kAllFilterBits = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME |
                                    FILE_NOTIFY_CHANGE_ATTRIBUTES | FILE_NOTIFY_CHANGE_LAST_WRITE;

uint32_t KernelMask(uint32_t filter) {
  uint32_t mask = IN_ONLYDIR | IN_DELETE_SELF | IN_MOVE_SELF;
  if (filter & (FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME)) mask |= kNameEvents;
  if (filter & FILE_NOTIFY_CHANGE_ATTRIBUTES) mask |= IN_ATTRIB;
  if (filter & FILE_NOTIFY_CHANGE_LAST_WRITE) mask |= IN_CLOSE_WRITE;
  return mask;
}

// The one inotify instance of the process, its reader thread, and the handles it wakes.
// Every table is guarded by fLock; the reader signals handles only while holding it, so
// a handle is never signalled after FindCloseChangeNotification closed it.
class Notifier {
public:
  static Notifier &Instance() {
    static Notifier notifier;
    return notifier;
  }

  ~Notifier() {
    if (fReader.joinable()) {
      SetEvent(fStop);
      fReader.join();
    }
    for (auto &[handle, monitor] : fMonitors)
      ::close(handle);
    if (fInotify >= 0) ::close(fInotify);
    if (fStop >= 0) ::close(fStop);
  }

  HANDLE Open(const std::string &path, uint32_t filter, size_t keepChanges = 0) {
    TCallerLock guard(*this);
    if (!Started()) return INVALID_HANDLE_VALUE;
    // IN_MASK_ADD: a folder watched already (the same inode under another path, or a
    // second monitor) keeps what the other monitors asked for.
    const int wd = ::inotify_add_watch(fInotify, path.c_str(), KernelMask(filter) | IN_MASK_ADD);
    if (wd < 0) return INVALID_HANDLE_VALUE;
    const HANDLE handle = CreateEventA(false);
    if (handle == INVALID_HANDLE_VALUE) {
      const int saved = errno;
      Release(wd);
      errno = saved;
      return INVALID_HANDLE_VALUE;
    }
    Watch &w = fWatches[wd];
    if (w.Monitors.empty()) {
      w.Path = path;
      WatchParent(wd, w);
    }
    w.Monitors.push_back(handle);
    Monitor &m = fMonitors[handle];
    m.Wd = wd;
    m.Filter = filter;
    m.Keeps = keepChanges > 0;
    m.MaxChanges = keepChanges;
    return handle;
  }

  bool Next(HANDLE handle) {
    TCallerLock guard(*this);
    const auto it = fMonitors.find(handle);
    return it != fMonitors.end() && !it->second.Ended;
  }

  std::vector<TFolderChange> Take(HANDLE handle) {
    TCallerLock guard(*this);
    const auto it = fMonitors.find(handle);
    if (it == fMonitors.end()) return {};
    it->second.Cookie = 0;
    return std::exchange(it->second.Changes, {});
  }

  bool Close(HANDLE handle) {
    TCallerLock guard(*this);
    const auto it = fMonitors.find(handle);
    if (it == fMonitors.end()) return false;
    const auto wit = fWatches.find(it->second.Wd);
    if (wit != fWatches.end()) {
      auto &list = wit->second.Monitors;
      list.erase(std::remove(list.begin(), list.end(), handle), list.end());
      if (list.empty()) {
        const int wd = wit->first;
        Forget(wit);
        Release(wd);
      }
    }
    fMonitors.erase(it);
    return ::close(handle) == 0;
  }

  void Overflow() {
    inotify_event ev{};
    ev.wd = -1;
    ev.mask = IN_Q_OVERFLOW;
    std::lock_guard<std::mutex> guard(fLock);
    Dispatch(ev);
    WakeMarked();
  }

private:
  // The lock as the monitors' own calls take it. They go before the reader: under a
  // stream of events the reader would otherwise take the lock back at once, again and
  // again, and a monitor could wait long to start or stop.
  class TCallerLock {
  public:
    explicit TCallerLock(Notifier &n) : fN(n) {
      ++fN.fCallers;
      fN.fLock.lock();
      --fN.fCallers;
    }
    ~TCallerLock() { fN.fLock.unlock(); }
    TCallerLock(const TCallerLock &) = delete;
    TCallerLock &operator=(const TCallerLock &) = delete;

  private:
    Notifier &fN;
  };

  struct Monitor {
    int Wd = -1;
    uint32_t Filter = 0;
    bool Ended = false;  // the folder has gone: the next re-arm fails
    bool Marked = false; // to be woken at the end of the current batch
    bool Keeps = false;  // keeps its changes one by one
    size_t MaxChanges = 0;
    uint32_t Cookie = 0; // of the move out that is Changes.back(), to pair with its move in
    std::vector<TFolderChange> Changes;
  };
  struct Watch {
    std::string Path; // as the first monitor named it, to classify new entries
    std::vector<HANDLE> Monitors;
    int ParentWd = -1; // the watch of the folder above, -1 without one
    std::string Name;  // the folder's name in it
  };

  Notifier() = default;

  bool Started() {
    if (fInotify >= 0) return true;
    if (fStop < 0) fStop = CreateEventA(false);
    if (fStop < 0) return false;
    fInotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fInotify < 0) return false;
    fReader = std::thread([this] { Read(); });
    return true;
  }

  void Read() {
    alignas(inotify_event) char buffer[64 * 1024];
    pollfd fds[2] = {{fInotify, POLLIN, 0}, {fStop, POLLIN, 0}};
    for (;;) {
      if (::poll(fds, 2, -1) < 0) {
        if (errno == EINTR) continue;
        return;
      }
      if (fds[1].revents) return;
      for (;;) {
        const ssize_t n = ::read(fInotify, buffer, sizeof buffer);
        if (n <= 0) break;
        {
          std::lock_guard<std::mutex> guard(fLock);
          for (ssize_t pos = 0; pos < n;) {
            const auto *ev = reinterpret_cast<const inotify_event *>(buffer + pos);
            Dispatch(*ev);
            pos += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
          }
          WakeMarked();
        }
        while (fCallers > 0)
          std::this_thread::yield();
      }
    }
  }

  // Marks the monitors an event wakes; a burst of events wakes each of them once.
  void Dispatch(const inotify_event &ev) {
    if (ev.mask & IN_Q_OVERFLOW) {
      for (auto &[handle, monitor] : fMonitors) {
        if (monitor.Keeps) Lost(monitor);
        Mark(handle);
      }
      return;
    }
    if (const auto pit = fParents.find(ev.wd); pit != fParents.end()) {
      if (ev.mask & kGoneEvents) {
        // The folder above went: its folders keep their own watches.
        for (const int child : pit->second)
          if (const auto cit = fWatches.find(child); cit != fWatches.end())
            cit->second.ParentWd = -1;
        fParents.erase(pit);
        // A folder moved away stays watched by the kernel; the others are dropped by it.
        if (ev.mask & IN_MOVE_SELF) Release(ev.wd);
      } else if ((ev.mask & (IN_DELETE | IN_MOVED_TO)) && ev.len > 0) {
        const std::vector<int> children = pit->second;
        for (const int child : children)
          if (const auto cit = fWatches.find(child);
              cit != fWatches.end() && cit->second.Name == ev.name) {
            End(cit);
            Release(child);
          }
      }
    }
    const auto wit = fWatches.find(ev.wd);
    if (wit == fWatches.end()) return;
    Watch &w = wit->second;
    if (ev.mask & kGoneEvents) {
      End(wit);
      if (ev.mask & IN_MOVE_SELF) Release(ev.wd);
      return;
    }
    uint32_t bits = 0;
    if (ev.mask & kNameEvents) {
      bits |= (ev.mask & IN_ISDIR) ? FILE_NOTIFY_CHANGE_DIR_NAME : FILE_NOTIFY_CHANGE_FILE_NAME;
      if (!(ev.mask & IN_ISDIR) && (ev.mask & (IN_CREATE | IN_MOVED_TO)) && ev.len > 0 &&
          WantsFolderOnly(w) && IsFolder(w.Path + "/" + ev.name))
        bits |= FILE_NOTIFY_CHANGE_DIR_NAME;
    }
    if (ev.mask & IN_ATTRIB) bits |= FILE_NOTIFY_CHANGE_ATTRIBUTES;
    if (ev.mask & IN_CLOSE_WRITE) bits |= FILE_NOTIFY_CHANGE_LAST_WRITE;
    for (HANDLE h : w.Monitors) {
      Monitor &m = fMonitors[h];
      if (!(m.Filter & bits)) continue;
      if (m.Keeps && ev.len > 0) Keep(m, ev, bits);
      Mark(h);
    }
  }

  // The change as the monitor's list tells it: a move out followed by the move in of the
  // same cookie is one rename.
  static void Keep(Monitor &m, const inotify_event &ev, uint32_t bits) {
    if (!m.Changes.empty() && m.Changes.back().What == TFolderChange::Kind::Overflow) return;
    TFolderChange c;
    c.Name = ev.name;
    c.IsFolder = (bits & FILE_NOTIFY_CHANGE_DIR_NAME) != 0;
    uint32_t cookie = 0;
    if (ev.mask & (IN_CREATE | IN_MOVED_TO)) {
      if ((ev.mask & IN_MOVED_TO) && m.Cookie != 0 && m.Cookie == ev.cookie) {
        TFolderChange &from = m.Changes.back();
        from.What = TFolderChange::Kind::Renamed;
        from.OldName = std::move(from.Name);
        from.Name = std::move(c.Name);
        from.IsFolder = c.IsFolder;
        m.Cookie = 0;
        return;
      }
      c.What = TFolderChange::Kind::Added;
    } else if (ev.mask & (IN_DELETE | IN_MOVED_FROM)) {
      c.What = TFolderChange::Kind::Removed;
      if (ev.mask & IN_MOVED_FROM) cookie = ev.cookie;
    } else if (ev.mask & IN_CLOSE_WRITE) {
      c.What = TFolderChange::Kind::Written;
    } else {
      return; // attributes: no change of its own in the list
    }
    if (m.Changes.size() >= m.MaxChanges) {
      Lost(m);
      return;
    }
    m.Changes.push_back(std::move(c));
    m.Cookie = cookie;
  }

  // The folder has gone: its monitors are woken a last time and their re-arm fails.
  void End(std::unordered_map<int, Watch>::iterator wit) {
    for (HANDLE h : wit->second.Monitors) {
      fMonitors[h].Ended = true;
      Mark(h);
    }
    Forget(wit);
  }

  // Drops the watch from the tables, and the watch of its parent when no other folder
  // needs it and no monitor watches the parent itself.
  void Forget(std::unordered_map<int, Watch>::iterator wit) {
    const int wd = wit->first, parent = wit->second.ParentWd;
    fWatches.erase(wit);
    const auto pit = fParents.find(parent);
    if (pit == fParents.end()) return;
    auto &children = pit->second;
    children.erase(std::remove(children.begin(), children.end(), wd), children.end());
    if (children.empty()) {
      fParents.erase(pit);
      Release(parent);
    }
  }

  // Gives the kernel's watch back once neither a monitored folder nor a folder below needs
  // it (a folder and its parent can be the same watch).
  void Release(int wd) {
    if (!fWatches.count(wd) && !fParents.count(wd)) ::inotify_rm_watch(fInotify, wd);
  }

  // Asks the folder above for the news of this one's name (none for "/", or when the
  // folder above cannot be watched: the folder's own notice then tells, as late as it
  // comes).
  void WatchParent(int wd, Watch &w) {
    std::string path = w.Path;
    while (path.size() > 1 && path.back() == '/')
      path.pop_back();
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos || slash + 1 >= path.size()) return;
    const std::string parent = slash == 0 ? "/" : path.substr(0, slash);
    const int pwd = ::inotify_add_watch(fInotify, parent.c_str(), kParentEvents | IN_MASK_ADD);
    if (pwd < 0 || pwd == wd) return;
    w.ParentWd = pwd;
    w.Name = path.substr(slash + 1);
    fParents[pwd].push_back(wd);
  }

  static void Lost(Monitor &m) {
    m.Changes.assign(1, TFolderChange{});
    m.Cookie = 0;
  }

  void Mark(HANDLE h) {
    Monitor &m = fMonitors[h];
    if (!m.Marked) {
      m.Marked = true;
      fMarked.push_back(h);
    }
  }

  void WakeMarked() {
    for (HANDLE h : fMarked) {
      SetEvent(h);
      fMonitors[h].Marked = false;
    }
    fMarked.clear();
  }

  // Some monitor asks for folders but not files: a new entry that is no directory must
  // be looked at, since a symbolic link to a folder counts as a folder.
  bool WantsFolderOnly(const Watch &w) {
    for (HANDLE h : w.Monitors) {
      const uint32_t f = fMonitors[h].Filter;
      if ((f & FILE_NOTIFY_CHANGE_DIR_NAME) && !(f & FILE_NOTIFY_CHANGE_FILE_NAME)) return true;
    }
    return false;
  }

  static bool IsFolder(const std::string &path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  }

  std::mutex fLock;
  std::atomic<int> fCallers{0}; // threads waiting in TCallerLock
  int fInotify = -1;
  HANDLE fStop = INVALID_HANDLE_VALUE;
  std::thread fReader;
  std::unordered_map<HANDLE, Monitor> fMonitors;
  std::unordered_map<int, Watch> fWatches;
  std::unordered_map<int, std::vector<int>> fParents; // a parent's watch: its folders' watches
  std::vector<HANDLE> fMarked;
};

} // namespace

HANDLE FindFirstChangeNotificationA(const std::string &path, bool watchSubtree, uint32_t filter) {
  if (watchSubtree || (filter & kAllFilterBits) == 0 || path.empty()) {
    errno = EINVAL;
    return INVALID_HANDLE_VALUE;
  }
  return Notifier::Instance().Open(path, filter & kAllFilterBits);
}

HANDLE FindFirstFolderChanges(const std::string &path, uint32_t filter, size_t maxChanges) {
  if ((filter & kAllFilterBits) == 0 || path.empty() || maxChanges == 0) {
    errno = EINVAL;
    return INVALID_HANDLE_VALUE;
  }
  return Notifier::Instance().Open(path, filter & kAllFilterBits, maxChanges);
}

std::vector<TFolderChange> ReadFolderChanges(HANDLE handle) { return Notifier::Instance().Take(handle); }

bool FindNextChangeNotification(HANDLE handle) { return Notifier::Instance().Next(handle); }

bool FindCloseChangeNotification(HANDLE handle) { return Notifier::Instance().Close(handle); }

} // namespace plm

namespace plm {
void SimulateChangeQueueOverflow() { Notifier::Instance().Overflow(); }
} // namespace plm
