#include "platform/FileIO.h"

#include "platform/UniqueFd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

namespace plm {

namespace {

// The error given for an entry that is not a regular file.
int NotRegularFileError(const struct stat &st) { return S_ISDIR(st.st_mode) ? EISDIR : ENXIO; }

} // namespace

FileHandle FileOpenHandle(const std::string &path, FileAccess access, FileDisposition disp,
                          const FileOpenHints &hints, int &osError) {
  int flags = O_CLOEXEC;
  switch (access) {
  case FileAccess::Read:
    flags |= O_RDONLY;
    break;
  case FileAccess::Write:
    flags |= O_WRONLY;
    break;
  case FileAccess::ReadWrite:
    flags |= O_RDWR;
    break;
  }
  switch (disp) {
  case FileDisposition::CreateNew:
    flags |= O_CREAT | O_EXCL;
    break;
  case FileDisposition::CreateAlways:
    flags |= O_CREAT | O_TRUNC;
    break;
  case FileDisposition::OpenAlways:
    flags |= O_CREAT;
    break;
  case FileDisposition::OpenExisting:
    break;
  case FileDisposition::TruncateExisting:
    flags |= O_TRUNC;
    break;
  }
  if (hints.noFollow) flags |= O_NOFOLLOW;
  if (path.empty()) {
    osError = ENOENT;
    return INVALID_FILE_HANDLE;
  }
  // Only regular files are opened: a device, a pipe or a socket could block the caller
  // for ever (a pipe with no writer, a terminal) or act on the hardware by being opened.
  struct stat st;
  if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    osError = NotRegularFileError(st);
    return INVALID_FILE_HANDLE;
  }
  UniqueFd fd;
  do {
    // Non-blocking for the open itself, in case the name now stands for a pipe.
    fd = UniqueFd(::open(path.c_str(), flags | O_NONBLOCK, 0666));
  } while (!fd.valid() && errno == EINTR);
  if (!fd.valid()) {
    osError = errno;
    return INVALID_FILE_HANDLE;
  }
  if (fd.get() < 3) {
    // A process started with a standard stream closed hands that number out again.
    // Callers that take 0 for "no file" (the cabinet library's copy-file answer does)
    // must never see it, and nothing should write where a stream is expected.
    UniqueFd moved(::fcntl(fd.get(), F_DUPFD_CLOEXEC, 3));
    if (!moved.valid()) {
      osError = errno;
      return INVALID_FILE_HANDLE;
    }
    fd = std::move(moved);
  }
  if (::fstat(fd.get(), &st) != 0) st.st_mode = 0;
  if (!S_ISREG(st.st_mode)) {
    osError = NotRegularFileError(st);
    return INVALID_FILE_HANDLE;
  }
  ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
  // The access hints steer reading ahead: a file opened only for writing has no use for them.
  if (access != FileAccess::Write) {
    if (hints.randomAccess) ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_RANDOM);
    if (hints.sequentialScan) ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
  }
  if (hints.deleteOnClose) ::unlink(path.c_str());
  return FileHandle(fd.release());
}

int64_t FileReadHandle(FileHandle h, void *buf, size_t count, int &osError) {
  size_t done = 0;
  auto *p = static_cast<char *>(buf);
  while (done < count) {
    const ssize_t n = ::read(int(h), p + done, count - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      osError = errno;
      return -1;
    }
    if (n == 0) break;
    done += size_t(n);
  }
  return int64_t(done);
}

int64_t FileWriteHandle(FileHandle h, const void *buf, size_t count, int &osError) {
  size_t done = 0;
  auto *p = static_cast<const char *>(buf);
  while (done < count) {
    const ssize_t n = ::write(int(h), p + done, count - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      osError = errno;
      return -1;
    }
    done += size_t(n);
  }
  return int64_t(done);
}

int64_t FileSeekHandle(FileHandle h, int64_t distance, int origin, int &osError) {
  int whence;
  switch (origin) {
  case 0:
    whence = SEEK_SET;
    break;
  case 1:
    whence = SEEK_CUR;
    break;
  case 2:
    whence = SEEK_END;
    break;
  default:
    osError = EINVAL;
    return -1;
  }
  const off_t r = ::lseek(int(h), off_t(distance), whence);
  if (r < 0) {
    osError = errno;
    return -1;
  }
  return int64_t(r);
}

bool FileCloseHandle(FileHandle h, int &osError) {
  if (::close(int(h)) != 0) {
    osError = errno;
    return false;
  }
  return true;
}

bool FileSetModTimeHandle(FileHandle h, std::time_t t) {
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = t;
  times[1].tv_nsec = 0;
  return ::futimens(int(h), times) == 0;
}

std::string CreateUniqueFile(const std::string &prefix, int &osError) {
  std::vector<char> name(prefix.begin(), prefix.end());
  for (char c : std::string("XXXXXX"))
    name.push_back(c);
  name.push_back('\0');
  if (!UniqueFd(::mkostemp(name.data(), O_CLOEXEC)).valid()) {
    osError = errno;
    return {};
  }
  return std::string(name.data());
}

std::string SysErrorMessage(int code) {
  char buf[256];
  // The GNU strerror_r returns its text, which need not be in buf.
  const char *s = ::strerror_r(code, buf, sizeof buf);
  return s ? std::string(s) : std::string();
}

bool IsTerminal(FileHandle h) { return h >= 0 && h <= INT32_MAX && ::isatty(int(h)) == 1; }

} // namespace plm
