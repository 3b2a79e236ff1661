#include "platform/LineList.h"

#include "platform/Exceptions.h"

#include <cerrno>
#include <cstring>

namespace plm {

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
