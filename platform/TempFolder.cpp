#include "platform/TempFolder.h"

#include "platform/Exceptions.h"
#include "platform/Paths.h"
#include "platform/TempDir.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <vector>

namespace plm {

namespace {

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
  char c;
  for (;;) {
    const ssize_t n = ::read(3, &c, 1);
    if (n == 0 || (n < 0 && errno != EINTR)) break;
  }
  DeleteEntryNoFollow(folder);
  ::_exit(0);
}

} // namespace

TTempFolder::TTempFolder(const std::string &prefix, const std::string &base) {
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
}

TTempFolder::~TTempFolder() { Remove(); }

bool TTempFolder::Remove() {
  if (fWatchFd < 0) return fRemoved;
  fRemoved = DeleteEntryNoFollow(fPath);
  ::close(fWatchFd);
  fWatchFd = -1;
  // The watcher finds nothing left and ends at once.
  while (::waitpid(fWatcher, nullptr, 0) < 0 && errno == EINTR) {
  }
  return fRemoved;
}

} // namespace plm
