#include "platform/LineList.h"

#include "platform/Exceptions.h"
#include "platform/UniqueFd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace plm {

std::string LoadLineText(const std::string &path, size_t extra) {
  auto fail = [&path](int e) -> std::string {
    throw EFOpenError("Impossible d'ouvrir le fichier \"" + path + "\". " + std::strerror(e));
  };
  // Never waits on a pipe planted under the name: regular files only.
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
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
