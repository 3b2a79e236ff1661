#include "platform/FileCopy.h"

#include "platform/Paths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>

namespace plm {

namespace {

class Fd {
public:
  explicit Fd(int fd = -1) : fFd(fd) {}
  ~Fd() {
    if (fFd >= 0) ::close(fFd);
  }
  Fd(const Fd &) = delete;
  Fd &operator=(const Fd &) = delete;
  int get() const { return fFd; }
  // Closes now and reports the result (close can be the call that notices a full disk).
  bool Close() {
    const int fd = fFd;
    fFd = -1;
    return ::close(fd) == 0;
  }

private:
  int fFd;
};

bool WriteAll(int fd, const char *p, size_t n) {
  while (n > 0) {
    const ssize_t w = ::write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (w == 0) {
      errno = ENOSPC;
      return false;
    }
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

// A new file beside target with a name nobody else uses; the umask applies to its mode.
int CreateTemporary(const std::string &target, std::string &tempPath) {
  static std::atomic<unsigned> counter{0};
  const std::string dir = ExtractFilePath(target);
  const std::string name = ExtractFileName(target);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    tempPath = dir + "." + name + ".part" + std::to_string(::getpid()) + "-" +
               std::to_string(counter++) + "-" + std::to_string(stamp & 0xFFFFFF);
    const int fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// Gives the finished temporary file the target's name.
bool Publish(const std::string &temp, const std::string &target, bool failIfExists) {
  if (!failIfExists) return ::rename(temp.c_str(), target.c_str()) == 0;
  // link() refuses an existing name, links included, without following it.
  if (::link(temp.c_str(), target.c_str()) == 0) {
    ::unlink(temp.c_str());
    return true;
  }
  if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP && errno != EXDEV) return false;
  // File systems without hard links: claim the name first, then move the data over it.
  const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  ::close(fd);
  if (::rename(temp.c_str(), target.c_str()) == 0) return true;
  const int e = errno;
  ::unlink(target.c_str());
  errno = e;
  return false;
}

// Flushes, applies the finishing touches and publishes; removes the temporary on failure.
bool Finish(Fd &out, const std::string &temp, const std::string &target, bool failIfExists,
            const struct stat *source) {
  bool ok = ::fsync(out.get()) == 0;
  if (ok && source) {
    const struct timespec times[2] = {{0, UTIME_OMIT}, source->st_mtim};
    ::futimens(out.get(), times);
    if ((source->st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
      struct stat st;
      if (::fstat(out.get(), &st) == 0)
        ::fchmod(out.get(), st.st_mode & 07555 & ~mode_t(S_IWUSR | S_IWGRP | S_IWOTH));
    }
  }
  ok = out.Close() && ok;
  ok = ok && Publish(temp, target, failIfExists);
  if (!ok) {
    const int e = errno;
    ::unlink(temp.c_str());
    errno = e;
  }
  return ok;
}

} // namespace

bool CopyFile(const std::string &existing, const std::string &target, bool failIfExists) {
  if (existing.empty() || target.empty()) {
    errno = ENOENT;
    return false;
  }
  Fd in(::open(existing.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.get() < 0) return false;
  struct stat st;
  if (::fstat(in.get(), &st) != 0) return false;
  if (S_ISDIR(st.st_mode)) {
    errno = EISDIR;
    return false;
  }
  struct stat tst;
  if (failIfExists && ::lstat(target.c_str(), &tst) == 0) {
    errno = EEXIST;
    return false;
  }
  std::string temp;
  Fd out(CreateTemporary(target, temp));
  if (out.get() < 0) return false;
  char buf[65536];
  for (;;) {
    const ssize_t r = ::read(in.get(), buf, sizeof buf);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) {
      const int e = errno;
      out.Close();
      ::unlink(temp.c_str());
      errno = e;
      return false;
    }
    if (r == 0) break;
    if (!WriteAll(out.get(), buf, static_cast<size_t>(r))) {
      const int e = errno;
      out.Close();
      ::unlink(temp.c_str());
      errno = e;
      return false;
    }
  }
  return Finish(out, temp, target, failIfExists, &st);
}

bool WriteFileReplacing(const std::string &path, const void *data, size_t size) {
  if (path.empty()) {
    errno = ENOENT;
    return false;
  }
  struct stat st;
  if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    errno = EISDIR;
    return false;
  }
  std::string temp;
  Fd out(CreateTemporary(path, temp));
  if (out.get() < 0) return false;
  if (!WriteAll(out.get(), static_cast<const char *>(data), size)) {
    const int e = errno;
    out.Close();
    ::unlink(temp.c_str());
    errno = e;
    return false;
  }
  return Finish(out, temp, path, false, nullptr);
}

} // namespace plm
