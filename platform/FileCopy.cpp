#include "platform/FileCopy.h"

#include "platform/Paths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <memory>

namespace plm {

namespace {

int WriteAll(int fd, const char *p, size_t n) {
  while (n > 0) {
    const ssize_t w = ::write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (w == 0) return ENOSPC;
    p += w;
    n -= static_cast<size_t>(w);
  }
  return 0;
}

// A link is written through to the file it names, so the link itself stays a link.
std::string ResolveLink(const std::string &path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  std::unique_ptr<char, void (*)(void *)> real(::realpath(path.c_str(), nullptr), ::free);
  return real ? std::string(real.get()) : path;
}

// A new file beside target with a name nobody else uses; the umask applies to its mode.
UniqueFd CreateBeside(const std::string &target, std::string &tempPath) {
  static std::atomic<unsigned> counter{0};
  const std::string stem = ExtractFilePath(target) + "." + ExtractFileName(target) + ".part";
  for (int attempt = 0; attempt < 100; ++attempt) {
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    tempPath = stem + std::to_string(::getpid()) + "-" + std::to_string(counter++) + "-" +
               std::to_string(stamp & 0xFFFFFF);
    UniqueFd fd(::open(tempPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (fd.valid() || errno != EEXIST) return fd;
  }
  return UniqueFd();
}

// Gives the finished file the target's name without replacing anything there.
int PublishNew(const std::string &temp, const std::string &target) {
  // link() refuses an existing name, links included, without following it.
  if (::link(temp.c_str(), target.c_str()) == 0) {
    ::unlink(temp.c_str());
    return 0;
  }
  if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP && errno != EXDEV) return errno;
  // File systems without hard links: claim the name first, then move the data over it.
  UniqueFd claim(::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
  if (!claim.valid()) return errno;
  claim.Reset();
  if (::rename(temp.c_str(), target.c_str()) == 0) return 0;
  const int e = errno;
  ::unlink(target.c_str());
  return e;
}

} // namespace

int TReplacingFile::Open(const std::string &target, bool failIfExists) {
  Discard();
  if (target.empty()) return ENOENT;
  fFailIfExists = failIfExists;
  fTarget = failIfExists ? target : ResolveLink(target);
  struct stat st;
  const bool exists = (failIfExists ? ::lstat(fTarget.c_str(), &st) : ::stat(fTarget.c_str(), &st)) == 0;
  if (!exists && errno != ENOENT) return errno;
  if (exists) {
    if (failIfExists) return EEXIST;
    if (S_ISDIR(st.st_mode)) return EISDIR;
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return EACCES;
  }
  std::string temp;
  fFd = CreateBeside(fTarget, temp);
  if (fFd.valid()) {
    fTemp = temp;
    if (exists && ::fchmod(fFd.get(), st.st_mode & 07777) != 0) {
      const int e = errno;
      Discard();
      return e;
    }
    return 0;
  }
  const int e = errno;
  if (!exists) return e;
  // The folder takes no new file: the target itself is rewritten.
  fFd = UniqueFd(::open(fTarget.c_str(), O_RDWR | O_TRUNC | O_CLOEXEC));
  return fFd.valid() ? 0 : errno;
}

int TReplacingFile::Write(const void *data, size_t size) {
  if (!fFd.valid()) return EBADF;
  return WriteAll(fFd.get(), static_cast<const char *>(data), size);
}

int TReplacingFile::SetMode(unsigned mode) {
  if (!fFd.valid()) return EBADF;
  return ::fchmod(fFd.get(), mode_t(mode & 07777)) == 0 ? 0 : errno;
}

int TReplacingFile::Close() {
  if (!fFd.valid()) return 0;
  const int synced = ::fsync(fFd.get()) == 0 || errno == EINVAL ? 0 : errno;
  const int closed = fFd.Close();
  return synced ? synced : closed;
}

int TReplacingFile::Commit() {
  int e = Close();
  if (!e && !fTemp.empty()) {
    if (fFailIfExists)
      e = PublishNew(fTemp, fTarget);
    else if (::rename(fTemp.c_str(), fTarget.c_str()) != 0)
      e = errno;
  }
  if (e)
    Discard();
  else
    fTemp.clear();
  return e;
}

void TReplacingFile::Discard() {
  fFd.Reset();
  if (!fTemp.empty()) ::unlink(fTemp.c_str());
  fTemp.clear();
}

bool ReadFileBytes(const std::string &path, std::string &out) {
  out.clear();
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return false;
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) return false;
  if (S_ISDIR(st.st_mode)) {
    errno = EISDIR;
    return false;
  }
  if (st.st_size > 0) out.reserve(size_t(st.st_size));
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) break;
    out.append(buf, size_t(n));
  }
  return true;
}

int WriteFileBytes(const std::string &path, std::string_view data) {
  TReplacingFile out;
  if (const int e = out.Open(path)) return e;
  if (const int e = out.Write(data.data(), data.size())) return e;
  return out.Commit();
}

int CopyFileBytes(const std::string &existing, const std::string &target, bool failIfExists) {
  if (existing.empty()) return ENOENT;
  UniqueFd in(::open(existing.c_str(), O_RDONLY | O_CLOEXEC));
  if (!in.valid()) return errno;
  struct stat st;
  if (::fstat(in.get(), &st) != 0) return errno;
  if (S_ISDIR(st.st_mode)) return EISDIR;
  TReplacingFile out;
  if (const int e = out.Open(target, failIfExists)) return e;
  char buf[65536];
  for (;;) {
    const ssize_t r = ::read(in.get(), buf, sizeof buf);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return errno;
    if (r == 0) break;
    if (const int e = out.Write(buf, static_cast<size_t>(r))) return e;
  }
  const struct timespec times[2] = {{0, UTIME_OMIT}, st.st_mtim};
  ::futimens(out.Fd(), times);
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
    struct stat now;
    if (::fstat(out.Fd(), &now) == 0)
      ::fchmod(out.Fd(), now.st_mode & 07555 & ~mode_t(S_IWUSR | S_IWGRP | S_IWOTH));
  }
  return out.Commit();
}

} // namespace plm
