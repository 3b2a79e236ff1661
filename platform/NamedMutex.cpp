#include "platform/NamedMutex.h"

#include "platform/Exceptions.h"
#include "platform/ProgramTemp.h"
#include "platform/TempDir.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <vector>

namespace plm {

namespace {

// Descriptors of the mutexes this process made: never closed, the lock goes with the process.
std::mutex gHeldLock;
std::vector<int> gHeld;

} // namespace

int CreateNamedMutex(const std::string &name) {
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
    return EINVAL;
  std::string folder;
  try {
    folder = UserTempDir();
  } catch (const EOSError &e) {
    return e.ErrorCode ? e.ErrorCode : EACCES;
  }
  // Close-on-exec: a program started from here must not inherit, and so prolong, the lock.
  const int fd = ::open((folder + name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return errno;
  int r;
  while ((r = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
  }
  if (r != 0) {
    const int e = errno;
    ::close(fd);
    return e == EWOULDBLOCK ? ERROR_ALREADY_EXISTS : e;
  }
  // Held until the program ends, and removed with its temporary folder then, while the
  // lock is still held.
  RemoveAtProgramEnd(folder + name);
  std::lock_guard<std::mutex> lock(gHeldLock);
  gHeld.push_back(fd);
  return 0;
}

bool NamedMutexHeld(const std::string &name) {
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
    return false;
  std::string folder;
  try {
    folder = UserTempDir();
  } catch (const EOSError &) {
    return false;
  }
  const int fd = ::open((folder + name).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  int r;
  while ((r = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
  }
  const bool held = r != 0 && errno == EWOULDBLOCK;
  ::close(fd); // gives back the lock when it was free
  return held;
}

} // namespace plm
