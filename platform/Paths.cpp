#include "platform/Paths.h"

#include <unistd.h>

#include <vector>

namespace plm {

std::string AddBackslash(std::string_view path) {
  std::string r(path);
  if (!r.empty() && r.back() != PathDelim) r += PathDelim;
  return r;
}

std::string JoinPath(std::initializer_list<std::string_view> pieces) {
  std::string r;
  for (std::string_view p : pieces) {
    if (p.empty()) continue;
    if (r.empty()) {
      r = p;
      continue;
    }
    const bool endSep = r.back() == PathDelim;
    const bool startSep = p.front() == PathDelim;
    if (endSep && startSep) p.remove_prefix(1);
    else if (!endSep && !startSep) r += PathDelim;
    r += p;
  }
  return r;
}

std::string ExtractFilePath(std::string_view path) {
  const size_t i = path.rfind(PathDelim);
  return i == std::string_view::npos ? std::string() : std::string(path.substr(0, i + 1));
}

std::string ExtractFileName(std::string_view path) {
  const size_t i = path.rfind(PathDelim);
  return std::string(i == std::string_view::npos ? path : path.substr(i + 1));
}

std::string ExtractFileExt(std::string_view path) {
  const std::string name = ExtractFileName(path);
  const size_t i = name.rfind('.');
  return i == std::string::npos ? std::string() : name.substr(i);
}

std::string ChangeFileExt(std::string_view path, std::string_view ext) {
  const size_t slash = path.rfind(PathDelim);
  const size_t dot = path.rfind('.');
  std::string r(path);
  if (dot != std::string_view::npos && (slash == std::string_view::npos || dot > slash))
    r.resize(dot);
  r += ext;
  return r;
}

std::string ExtractFileDrive(std::string_view path) {
  if (path.size() >= 2 && path[0] == PathDelim && path[1] == PathDelim) {
    const size_t end = path.find(PathDelim, 2);
    if (end == std::string_view::npos) return std::string(path) + PathDelim;
    return std::string(path.substr(0, end + 1));
  }
  if (!path.empty() && path[0] == PathDelim) return "/";
  return std::string();
}

std::string ExpandFileName(std::string_view path) {
  std::string full;
  if (!path.empty() && path[0] == PathDelim) {
    full = path;
  } else {
    std::vector<char> buf(4096);
    const char *cwd = getcwd(buf.data(), buf.size());
    full = JoinPath({cwd ? std::string_view(cwd) : std::string_view("/"), path});
  }
  const std::string root = ExtractFileDrive(full);
  std::vector<std::string> parts;
  size_t i = root.size();
  while (i <= full.size()) {
    size_t j = full.find(PathDelim, i);
    if (j == std::string::npos) j = full.size();
    std::string seg = full.substr(i, j - i);
    if (seg == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!seg.empty() && seg != ".") {
      parts.push_back(std::move(seg));
    }
    i = j + 1;
  }
  std::string r = root;
  for (size_t k = 0; k < parts.size(); ++k) {
    if (k) r += PathDelim;
    r += parts[k];
  }
  if (!full.empty() && full.back() == PathDelim && !parts.empty()) r += PathDelim;
  return r;
}

} // namespace plm
