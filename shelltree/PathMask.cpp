#include "shelltree/PathMask.h"

#include "platform/DisplayText.h"
#include "platform/FileSys.h"

#include <QList>
#include <QString>

namespace plm {

std::string PathRoot(std::string_view p) {
  if (p.empty()) return {};
  if (p.size() >= 2 && p[0] == '/' && p[1] == '/') {
    const std::string_view q = p.substr(2);
    const size_t slash = q.find('/');
    return "//" + std::string(slash == std::string_view::npos ? q : q.substr(0, slash + 1));
  }
  return p[0] == '/' ? "/" : "";
}

bool DirExists(const std::string &path) { return !path.empty() && DirectoryExists(path); }

std::string NormalizePath(const std::string &p) {
  std::string result = p;
  std::string r = PathRoot(p);
  if (r.size() > 1 && r.back() != '/') r += '/';
  if (result.empty() || r.empty()) return {};
  if (!DirExists(result)) {
    while (result.find('/') != std::string::npos) {
      if (result.back() == '/') result.pop_back();
      result.erase(result.rfind('/') + 1); // the "/" stays
      if (result.size() <= r.size() || DirExists(result)) break;
    }
  }
  if (!DirExists(result)) return {};
  return result;
}

namespace {
std::u32string Folded(std::string_view s) {
  const QList<uint> ucs = ToDisplay(s).toLower().toUcs4();
  return std::u32string(ucs.begin(), ucs.end());
}
} // namespace

bool MatchMask(std::string_view nameText, std::string_view maskText) {
  const std::u32string name = Folded(nameText), mask = Folded(maskText);
  if (mask == U"*") return true;
  if (mask == U"*.*" && name.find(U'.') != std::u32string::npos) return true;
  if (mask.find_first_of(U"*?") == std::u32string::npos && mask == name) return true;
  if (mask.empty()) return false;
  size_t pos = 0;
  bool star = false;
  size_t i = 0;
  while (i < mask.size()) {
    if (mask[i] == U'?') {
      if (pos >= name.size()) return false;
      ++pos;
      ++i;
      continue;
    }
    if (mask[i] == U'*') {
      star = true;
      ++i;
      continue;
    }
    size_t j = mask.find_first_of(U"*?", i);
    if (j == std::u32string::npos) j = mask.size();
    const std::u32string run = mask.substr(i, j - i);
    if (star) { // no backtracking: the first occurrence is taken
      const size_t at = name.find(run, pos);
      if (at == std::u32string::npos) return false;
      pos = at + run.size();
    } else {
      if (name.compare(pos, run.size(), run) != 0 || pos + run.size() > name.size()) return false;
      pos += run.size();
    }
    star = false;
    i = j;
  }
  return star || pos == name.size();
}

bool MatchesAnyMask(std::string_view name, const std::vector<std::string> &masks) {
  if (masks.empty()) return true;
  for (const std::string &m : masks)
    if (MatchMask(name, m)) return true;
  return false;
}

} // namespace plm
