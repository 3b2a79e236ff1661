#include "platform/LineList.h"

#include "platform/Exceptions.h"
#include "platform/Paths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace plm {

namespace {

class Fd {
public:
  explicit Fd(int fd) : fFd(fd) {}
  ~Fd() {
    if (fFd >= 0) ::close(fFd);
  }
  Fd(const Fd &) = delete;
  Fd &operator=(const Fd &) = delete;
  int get() const { return fFd; }
  int release() {
    const int f = fFd;
    fFd = -1;
    return f;
  }

private:
  int fFd;
};

int WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    data.remove_prefix(size_t(n));
  }
  return ::fsync(fd) == 0 || errno == EINVAL ? 0 : errno;
}

int CloseChecked(Fd &fd) {
  const int f = fd.release();
  return ::close(f) == 0 ? 0 : errno;
}

// A link is written through to its target, so the link itself stays a link.
std::string ResolveTarget(const std::string &path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  std::unique_ptr<char, void (*)(void *)> real(::realpath(path.c_str(), nullptr), ::free);
  return real ? std::string(real.get()) : path;
}

int WriteInPlace(const std::string &path, std::string_view data, bool create) {
  Fd fd(
      ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | (create ? O_CREAT | O_EXCL : 0), 0666));
  if (fd.get() < 0) return errno;
  if (const int e = WriteAll(fd.get(), data)) return e;
  return CloseChecked(fd);
}

} // namespace

bool ReadFileBytes(const std::string &path, std::string &out) {
  out.clear();
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return false;
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

int WriteFileBytes(const std::string &pathIn, std::string_view data) {
  if (pathIn.empty()) return ENOENT;
  const std::string path = ResolveTarget(pathIn);
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    if (errno != ENOENT) return errno;
    return WriteInPlace(path, data, true);
  }
  if (S_ISDIR(st.st_mode)) return EISDIR;
  // Read-only means no write permission for anyone, whoever runs the program.
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return EACCES;

  std::string tmpl = ExtractFilePath(path) + "." + ExtractFileName(path) + ".XXXXXX";
  Fd tmp(::mkstemp(tmpl.data()));
  if (tmp.get() < 0) {
    // The folder takes no new file: fall back to rewriting the file itself.
    return WriteInPlace(path, data, false);
  }
  int e = WriteAll(tmp.get(), data);
  if (!e && ::fchmod(tmp.get(), st.st_mode & 07777) != 0) e = errno;
  if (!e) e = CloseChecked(tmp);
  if (!e && ::rename(tmpl.c_str(), path.c_str()) != 0) e = errno;
  if (e) ::unlink(tmpl.c_str());
  return e;
}

std::string LoadLineText(const std::string &path, size_t extra) {
  auto fail = [&path](int e) -> std::string {
    throw EFOpenError("Impossible d'ouvrir le fichier \"" + path + "\". " + std::strerror(e));
  };
  // Never waits on a pipe planted under the name: regular files only.
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  struct stat st;
  if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0) return fail(errno);
  if (!S_ISREG(st.st_mode)) return fail(S_ISDIR(st.st_mode) ? EISDIR : ENXIO);
  std::string text;
  // Room for every line break to double and for the extra bytes, taken at once.
  text.reserve(size_t(std::max<off_t>(st.st_size, 0)) * 2 + 2 + extra);
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail(errno);
    }
    if (n == 0) break;
    text.append(buf, size_t(n));
  }
  // The final size, then the breaks rewritten in place from the end.
  const size_t n = text.size();
  size_t size = n;
  for (size_t i = 0; i < n; ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
      ++size;
    else if (text[i] == '\r' && (i + 1 == n || text[i + 1] != '\n'))
      ++size;
  }
  const bool closeLast = n > 0 && text[n - 1] != '\r' && text[n - 1] != '\n';
  if (closeLast) size += 2;
  if (size == n) return text;
  text.resize(size);
  size_t w = size;
  if (closeLast) {
    text[--w] = '\n';
    text[--w] = '\r';
  }
  for (size_t r = n; r-- > 0;) {
    const char c = text[r];
    if (c == '\n' || c == '\r') {
      if (c == '\n' && r > 0 && text[r - 1] == '\r') --r;
      text[--w] = '\n';
      text[--w] = '\r';
    } else {
      text[--w] = c;
    }
  }
  return text;
}

void TLineList::LoadFromFile(const std::string &path) {
  std::string data;
  if (!ReadFileBytes(path, data)) {
    const int e = errno;
    throw EFOpenError("Impossible d'ouvrir le fichier \"" + path + "\". " + std::strerror(e));
  }
  SetText(data);
}

void TLineList::SaveToFile(const std::string &path) const {
  if (const int e = WriteFileBytes(path, Text()))
    throw EFOpenError("Impossible de créer le fichier \"" + path + "\". " + std::strerror(e));
}

std::string TLineList::Text() const {
  size_t size = 0;
  for (const auto &l : fLines)
    size += l.size() + 2;
  std::string r;
  r.reserve(size);
  for (const auto &l : fLines) {
    r += l;
    r += "\r\n";
  }
  return r;
}

void TLineList::SetText(std::string_view text) {
  fLines.clear();
  size_t start = 0;
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      fLines.emplace_back(text.substr(start, i - start));
      if (c == '\r' && i + 1 < n && text[i + 1] == '\n') ++i;
      start = ++i;
    } else {
      ++i;
    }
  }
  if (start < n) fLines.emplace_back(text.substr(start));
}

} // namespace plm
