#include "preview/TemplateFiles.h"

#include "platform/FileSys.h"
#include "platform/Strings.h"

#include <filesystem>
#include <string_view>
#include <system_error>
#include <vector>

namespace plm {
namespace {

// Decodes UTF-8 (a name on disk, or a reference the browser sent) to code points;
// bytes that are not UTF-8 are read as Windows-1252.
std::u32string CodePoints(std::string_view name) {
  const std::string utf8 = ToDisplayUtf8(name);
  std::u32string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    const int extra = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
    char32_t cp = extra == 0 ? c : c & (0x3F >> extra);
    for (int k = 1; k <= extra && i + k < utf8.size(); ++k)
      cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    out.push_back(cp);
    i += 1 + extra;
  }
  return out;
}

// The lower case of the letters Windows-1252 holds (ASCII, Latin-1's accented letters,
// and Š, Œ, Ž, Ÿ); every other character is its own.
char32_t FoldCase(char32_t c) {
  if ((c >= U'A' && c <= U'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) return c + 0x20;
  switch (c) {
  case 0x160:
    return 0x161; // Š
  case 0x152:
    return 0x153; // Œ
  case 0x17D:
    return 0x17E; // Ž
  case 0x178:
    return 0xFF; // Ÿ
  default:
    return c;
  }
}

std::u32string CaseKey(std::string_view name) {
  std::u32string key = CodePoints(name);
  for (char32_t &c : key)
    c = FoldCase(c);
  return key;
}

// The names of the reference, "/" or "\" separated; false when it starts at a root or
// a drive, or climbs out with "..".
bool SplitReference(std::string_view ref, std::vector<std::string> &parts) {
  if (ref.empty() || ref[0] == '/' || ref[0] == '\\') return false;
  if (ref.size() >= 2 && ref[1] == ':') return false; // "C:..."
  size_t start = 0;
  while (start <= ref.size()) {
    size_t end = ref.find_first_of("/\\", start);
    if (end == std::string::npos) end = ref.size();
    std::string part(ref.substr(start, end - start));
    if (part == "..") return false;
    if (!part.empty() && part != ".") parts.push_back(std::move(part));
    start = end + 1;
  }
  return !parts.empty();
}

// The entry of dir named name: exactly when it exists, else the one whose name matches
// ignoring case (of several, the smallest in byte order, so the choice never depends on
// the order the file system lists them in).
std::string MatchEntry(const std::string &dir, const std::string &name) {
  const std::string exact = dir + '/' + name;
  std::error_code ec;
  if (std::filesystem::symlink_status(exact, ec).type() != std::filesystem::file_type::not_found &&
      !ec)
    return name;
  const std::u32string key = CaseKey(name);
  std::string best;
  for (const std::string &entry : ListDirectory(dir))
    if ((best.empty() || entry < best) && CaseKey(entry) == key) best = entry;
  return best;
}

bool Inside(const std::filesystem::path &path, const std::filesystem::path &root) {
  auto r = root.begin();
  auto p = path.begin();
  for (; r != root.end(); ++r, ++p)
    if (p == path.end() || *p != *r) return false;
  return true;
}

} // namespace

std::string TemplateFileKey(std::string_view relativeName) {
  std::vector<std::string> parts;
  if (!SplitReference(relativeName, parts)) return {};
  std::string key;
  for (const std::string &part : parts) {
    if (!key.empty()) key += '/';
    for (const char32_t c : CaseKey(part))
      AppendUtf8(key, c);
  }
  return key;
}

std::string FindTemplateFile(const std::string &folder, const std::string &relativeName) {
  std::vector<std::string> parts;
  if (folder.empty() || !SplitReference(relativeName, parts)) return {};
  std::string path = folder;
  while (path.size() > 1 && path.back() == '/')
    path.pop_back();
  for (const std::string &part : parts) {
    const std::string entry = MatchEntry(path, part);
    if (entry.empty()) return {};
    path += '/' + entry;
  }
  // A link may lead anywhere; what it leads to must still be inside the folder.
  std::error_code ec;
  const auto root = std::filesystem::canonical(folder, ec);
  if (ec) return {};
  const auto target = std::filesystem::canonical(path, ec);
  if (ec || !Inside(target, root) || target == root) return {};
  return path;
}

} // namespace plm
