#include "platform/TempFolder.h"

#include "platform/Exceptions.h"
#include "platform/Paths.h"
#include "platform/TempDir.h"

#include <fcntl.h>
#include <time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <vector>

namespace plm {

namespace {

// The signals that end a program whose user asked it to stop: each live folder's watcher
// is woken and waited for before the signal takes its course, so that the folder is gone
// when the program's end can be seen (a file manager removes its own folder then).
constexpr int kEndSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The live folders' watchers, as a signal handler may read them: no lock, no memory.
struct LiveWatcher {
  std::atomic<int> fd{-1};
  std::atomic<pid_t> pid{-1};
};
constexpr int kMaxLive = 32;
LiveWatcher gLive[kMaxLive];
struct sigaction gPrevious[3];

// Set by the first SIGINT or SIGTERM instead of ending the program (StopOnFirstEndSignal).
std::atomic<std::atomic<bool> *> gStopRequest{nullptr};
static_assert(std::atomic<std::atomic<bool> *>::is_always_lock_free, "read by a signal handler");

// Helper processes working in the program's folders (EndHelperWithProgram); 0: none.
std::atomic<pid_t> gHelpers[kMaxLive] = {};

// Ends the helpers and waits for them: SIGTERM, then SIGKILL to one still there 5 s on.
void EndHelpers() {
  bool any = false;
  for (auto &h : gHelpers)
    if (const pid_t pid = h.load(); pid > 0) any = ::kill(pid, SIGTERM) == 0 || any;
  if (!any) return;
  const timespec step{0, 10 * 1000 * 1000};
  for (auto &h : gHelpers) {
    const pid_t pid = h.exchange(0);
    if (pid <= 0) continue;
    for (int waited = 0;; ++waited) {
      const pid_t r = ::waitpid(pid, nullptr, WNOHANG);
      if (r == pid || (r < 0 && errno != EINTR)) break;
      if (waited == 500) ::kill(pid, SIGKILL);
      ::nanosleep(&step, nullptr);
    }
  }
}

void OnEndSignal(int sig) {
  const int savedErrno = errno;
  if (std::atomic<bool> *stop = gStopRequest.load();
      stop && sig != SIGHUP && !stop->exchange(true)) {
    errno = savedErrno;
    return;
  }
  EndHelpers();
  for (LiveWatcher &w : gLive) {
    const int fd = w.fd.exchange(-1);
    if (fd < 0) continue;
    const pid_t pid = w.pid.load(); // set before the descriptor, cleared after it
    ::close(fd);
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  // The signal's own effect: what was there before (the default ending, most often),
  // delivered once this handler returns.
  for (size_t i = 0; i < std::size(kEndSignals); ++i)
    if (kEndSignals[i] == sig) ::sigaction(sig, &gPrevious[i], nullptr);
  ::raise(sig);
  errno = savedErrno;
}

// Run at each folder's making, with the signals held: a library started meanwhile may
// have put its own handlers or the default ones in place.
void InstallEndHandlers() {
  for (size_t i = 0; i < std::size(kEndSignals); ++i) {
    struct sigaction now {};
    if (::sigaction(kEndSignals[i], nullptr, &now) != 0) continue;
    if (now.sa_handler == OnEndSignal && !(now.sa_flags & SA_SIGINFO)) continue;
    // A signal the program was told to ignore (nohup, a background job) stays ignored.
    if (now.sa_handler == SIG_IGN && !(now.sa_flags & SA_SIGINFO)) continue;
    gPrevious[i] = now;
    struct sigaction act {};
    act.sa_handler = OnEndSignal;
    sigemptyset(&act.sa_mask);
    for (int s : kEndSignals)
      sigaddset(&act.sa_mask, s);
    act.sa_flags = SA_RESTART;
    ::sigaction(kEndSignals[i], &act, nullptr);
  }
}

// Holds the end signals back while a folder is made and its watcher registered, so that
// no folder exists without a watcher that the handler knows.
class EndSignalsHeld {
public:
  EndSignalsHeld() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : kEndSignals)
      sigaddset(&set, s);
    ::pthread_sigmask(SIG_BLOCK, &set, &fOld);
  }
  ~EndSignalsHeld() { ::pthread_sigmask(SIG_SETMASK, &fOld, nullptr); }
  EndSignalsHeld(const EndSignalsHeld &) = delete;
  EndSignalsHeld &operator=(const EndSignalsHeld &) = delete;

private:
  sigset_t fOld;
};

// A slot for a new watcher; -1 when all are taken (the folder then goes at the program's
// end all the same, only later than the program).
int Register(int fd, pid_t pid) {
  for (int i = 0; i < kMaxLive; ++i) {
    pid_t none = -1;
    if (gLive[i].pid.compare_exchange_strong(none, pid)) {
      gLive[i].fd.store(fd);
      return i;
    }
  }
  return -1;
}

std::string DefaultBase() {
  const char *t = std::getenv("TMPDIR");
  return t && *t ? std::string(t) : std::string("/tmp");
}

// The watcher's whole life: wait until every write end of the pipe is closed (the
// program has removed the folder itself, or has ended), then remove what is left.
[[noreturn]] void Watch(int readFd, const std::string &folder) {
  // Ctrl-C reaches the whole process group, and a hang-up the whole session: the watcher
  // outlives both to do its work.
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP, SIGTTIN, SIGTTOU, SIGPIPE})
    std::signal(sig, SIG_IGN);
  // Nothing that the program shares with others (its output pipes above all) is held.
  if (::dup2(readFd, 3) < 0) ::_exit(1);
  const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  for (int fd = 0; fd < 3; ++fd)
    if (null >= 0) ::dup2(null, fd);
  if (::close_range(4, ~0u, 0) != 0)
    for (int fd = 4; fd < 1024; ++fd)
      ::close(fd);
  // What the program asks for besides the folder: each request a kind letter, a path
  // and a zero byte (see AlsoRemoveAtEnd).
  std::string requests;
  char buf[4096];
  for (;;) {
    const ssize_t n = ::read(3, buf, sizeof buf);
    if (n > 0) requests.append(buf, size_t(n));
    if (n == 0 || (n < 0 && errno != EINTR)) break;
  }
  // A process the program started may still be adding entries while they are removed:
  // a folder found refilled is emptied again a few times.
  for (int attempt = 0; attempt < 5 && !DeleteEntryNoFollow(folder); ++attempt) {
  }
  std::vector<std::string> also;
  for (size_t at = 0, end; (end = requests.find('\0', at)) != std::string::npos; at = end + 1)
    if (end > at) also.push_back(requests.substr(at, end - at));
  // Last asked, first removed: a folder goes after what was made in it.
  for (auto it = also.rbegin(); it != also.rend(); ++it)
    if ((*it)[0] == 'E')
      DeleteEntryNoFollow(it->substr(1));
    else
      ::rmdir(it->c_str() + 1);
  ::_exit(0);
}

} // namespace

void EndHelperWithProgram(pid_t pid) {
  if (pid <= 0) return;
  for (auto &h : gHelpers) {
    pid_t none = 0;
    if (h.compare_exchange_strong(none, pid)) return;
  }
}

void ForgetHelper(pid_t pid) {
  for (auto &h : gHelpers) {
    pid_t known = pid;
    h.compare_exchange_strong(known, 0);
  }
}

void StopOnFirstEndSignal(std::atomic<bool> &stop) {
  const EndSignalsHeld held;
  gStopRequest = &stop;
  InstallEndHandlers();
}

TTempFolder::TTempFolder(const std::string &prefix, const std::string &base) {
  const EndSignalsHeld held;
  InstallEndHandlers();
  std::vector<char> name;
  for (char c : AddBackslash(ExpandFileName(base.empty() ? DefaultBase() : base)) + prefix)
    name.push_back(c);
  for (int i = 0; i < 6; ++i)
    name.push_back('X');
  name.push_back('\0');
  if (!::mkdtemp(name.data())) RaiseLastOSError();
  fPath = name.data();

  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    const int e = errno;
    DeleteEntryNoFollow(fPath);
    RaiseLastOSError(e);
  }
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[1]);
    Watch(fds[0], fPath);
  }
  ::close(fds[0]);
  if (pid < 0) {
    const int e = errno;
    ::close(fds[1]);
    DeleteEntryNoFollow(fPath);
    RaiseLastOSError(e);
  }
  fWatcher = pid;
  fWatchFd = fds[1];
  fSlot = Register(fWatchFd, pid);
}

TTempFolder::~TTempFolder() { Remove(); }

void TTempFolder::AlsoRemoveAtEnd(const std::string &path, bool onlyIfEmpty) {
  if (fWatchFd < 0 || path.empty()) return;
  fAlso.push_back({path, onlyIfEmpty});
  const std::string request = (onlyIfEmpty ? "D" : "E") + path + std::string(1, '\0');
  for (size_t done = 0; done < request.size();) {
    const ssize_t n = ::write(fWatchFd, request.data() + done, request.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += size_t(n);
  }
}

bool TTempFolder::Remove() {
  if (fWatchFd < 0) return fRemoved;
  fRemoved = DeleteEntryNoFollow(fPath);
  for (auto it = fAlso.rbegin(); it != fAlso.rend(); ++it)
    if (it->onlyIfEmpty)
      ::rmdir(it->path.c_str());
    else
      DeleteEntryNoFollow(it->path);
  // A signal handler that has taken the descriptor closes it and waits for the watcher.
  const bool mine = fSlot < 0 || gLive[fSlot].fd.exchange(-1) >= 0;
  if (mine) ::close(fWatchFd);
  fWatchFd = -1;
  if (!mine) return fRemoved;
  // The watcher finds nothing left and ends at once.
  while (::waitpid(fWatcher, nullptr, 0) < 0 && errno == EINTR) {
  }
  if (fSlot >= 0) gLive[fSlot].pid.store(-1);
  return fRemoved;
}

} // namespace plm
