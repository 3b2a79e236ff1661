#include "platform/shell/ShellItems.h"

#include "platform/AppPaths.h"
#include "platform/Strings.h"
#include "platform/Volumes.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>

#include <sys/stat.h>

namespace plm {

// ---- names across the interfaces ---------------------------------------------------------

std::u16string WideFromBytes(const std::string &bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  const size_t n = bytes.size();
  size_t i = 0;
  while (i < n) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c < 0x80) {
      out.push_back(c);
      ++i;
      continue;
    }
    int len = 0;
    char32_t cp = 0, min = 0;
    if ((c & 0xE0) == 0xC0) len = 2, cp = c & 0x1F, min = 0x80;
    else if ((c & 0xF0) == 0xE0) len = 3, cp = c & 0x0F, min = 0x800;
    else if ((c & 0xF8) == 0xF0) len = 4, cp = c & 0x07, min = 0x10000;
    bool ok = len > 0 && i + len <= n;
    for (int k = 1; ok && k < len; ++k) {
      const unsigned char d = static_cast<unsigned char>(bytes[i + k]);
      ok = (d & 0xC0) == 0x80;
      cp = (cp << 6) | (d & 0x3F);
    }
    ok = ok && cp >= min && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
    if (!ok) {
      out.push_back(static_cast<char16_t>(0xDC00 + c)); // the byte itself, escaped
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += len;
  }
  return out;
}

namespace {
std::string BytesFromWide(const char16_t *w, size_t n) {
  std::string out;
  out.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    const char16_t c = w[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && w[i + 1] >= 0xDC00 && w[i + 1] <= 0xDFFF) {
      AppendUtf8(out, 0x10000 + ((char32_t(c) - 0xD800) << 10) + (w[i + 1] - 0xDC00));
      ++i;
    } else if (c >= 0xDC80 && c <= 0xDCFF) {
      out.push_back(static_cast<char>(c - 0xDC00)); // an escaped byte
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      AppendUtf8(out, 0xFFFD);
    } else {
      AppendUtf8(out, c);
    }
  }
  return out;
}
} // namespace

std::string BytesFromWide(const char16_t *wide) {
  if (!wide) return {};
  size_t n = 0;
  while (wide[n]) ++n;
  return BytesFromWide(wide, n);
}

std::string BytesFromWide(const std::u16string &wide) {
  return BytesFromWide(wide.data(), wide.size());
}

bool StrRetToString(STRRET &sr, LPCITEMIDLIST pidl, std::string &out) {
  switch (sr.uType) {
  case STRRET_WSTR: {
    if (!sr.pOleStr) return false;
    out = BytesFromWide(sr.pOleStr);
    shellimpl::ShellMalloc().Free(sr.pOleStr);
    sr.pOleStr = nullptr;
    return true;
  }
  case STRRET_OFFSET: {
    if (!pidl) return false;
    const size_t avail = SHBytesAvailable(pidl);
    const size_t size = avail >= 2 ? shellimpl::ItemSize(pidl) : 0;
    if (sr.uOffset >= size || size > avail) return false; // the name lies outside the item
    const char *s = reinterpret_cast<const char *>(pidl) + sr.uOffset;
    out.assign(s, strnlen(s, size - sr.uOffset));
    return true;
  }
  case STRRET_CSTR:
    out.assign(sr.cStr, strnlen(sr.cStr, sizeof sr.cStr));
    return true;
  default:
    return false;
  }
}

namespace shellimpl {

// ---- item bytes --------------------------------------------------------------------------

IMalloc &ShellMalloc() {
  IMalloc *m = nullptr;
  SHGetMalloc(&m);
  return *m;
}

namespace {
size_t EncodedSize(const TItem &item) { return kItemHeader + item.Name.size() + 1; }

uint8_t *Encode(uint8_t *p, const TItem &item) {
  const size_t size = EncodedSize(item);
  p[0] = static_cast<uint8_t>(size & 0xFF);
  p[1] = static_cast<uint8_t>(size >> 8);
  p[2] = static_cast<uint8_t>(item.Kind);
  std::memcpy(p + kItemHeader, item.Name.data(), item.Name.size());
  p[size - 1] = 0;
  return p + size;
}

bool ValidKind(uint8_t k) {
  return k == 'H' || k == 'C' || k == 'V' || k == 'D' || k == 'F';
}
} // namespace

LPITEMIDLIST MakeList(const std::vector<TItem> &items) {
  size_t total = 2;
  for (const TItem &it : items) {
    if (EncodedSize(it) > 0xFFFF) return nullptr;
    total += EncodedSize(it);
  }
  auto *p = static_cast<uint8_t *>(ShellMalloc().Alloc(total));
  if (!p) return nullptr;
  uint8_t *q = p;
  for (const TItem &it : items) q = Encode(q, it);
  q[0] = q[1] = 0;
  return p;
}

LPITEMIDLIST MakeItemList(const TItem &item) { return MakeList({item}); }

bool ViewItem(LPCITEMIDLIST pidl, size_t avail, TItemView &out) {
  if (!pidl || avail < 2) return false;
  const size_t size = ItemSize(pidl);
  if (size < kItemHeader + 1 || size > avail || !ValidKind(pidl[2]) || pidl[size - 1] != 0)
    return false;
  const char *name = reinterpret_cast<const char *>(pidl) + kItemHeader;
  const size_t len = size - kItemHeader - 1;
  if (std::memchr(name, 0, len)) return false; // a name never holds a NUL
  out.Kind = static_cast<TItemKind>(pidl[2]);
  out.Name = std::string_view(name, len);
  return true;
}

bool DecodeItem(LPCITEMIDLIST pidl, TItem &out) {
  TItemView v;
  if (!pidl || !ViewItem(pidl, SHBytesAvailable(pidl), v)) return false;
  out.Kind = v.Kind;
  out.Name.assign(v.Name);
  return true;
}

LPCITEMIDLIST NextItem(LPCITEMIDLIST pidl) { return pidl + ItemSize(pidl); }

bool DecodeList(LPCITEMIDLIST pidl, std::vector<TItem> &out) {
  out.clear();
  if (!pidl) return true;
  const size_t avail = SHBytesAvailable(pidl);
  size_t pos = 0;
  while (true) {
    if (avail != SIZE_MAX && pos + 2 > avail) return false;
    const uint16_t size = ItemSize(pidl + pos);
    if (size == 0) return true;
    if (avail != SIZE_MAX && pos + size > avail) return false;
    TItem item;
    if (!DecodeItem(pidl + pos, item)) return false;
    out.push_back(std::move(item));
    pos += size;
  }
}

// ---- the desktop's locations -------------------------------------------------------------

namespace {
std::string Env(const char *name) {
  const char *v = std::getenv(name);
  return v ? v : "";
}

std::string StripTrailingSlashes(std::string p) {
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  return p;
}

// The home folder as the layout names it. Cheap: it reads no settings file.
std::string HomeFolder() { return StripTrailingSlashes(HomeDir()); }

bool IsDir(const std::string &p) {
  struct stat st;
  return !p.empty() && ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}
} // namespace

std::string XdgConfigHome() {
  const std::string c = Env("XDG_CONFIG_HOME");
  return !c.empty() && c[0] == '/' ? StripTrailingSlashes(c) : HomeDir() + "/.config";
}

std::string XdgDataHome() {
  const std::string d = Env("XDG_DATA_HOME");
  return !d.empty() && d[0] == '/' ? StripTrailingSlashes(d) : HomeDir() + "/.local/share";
}

std::optional<std::string> XdgUserDir(std::string_view key) {
  std::ifstream in(XdgConfigHome() + "/user-dirs.dirs", std::ios::binary);
  const std::string wanted = "XDG_" + std::string(key) + "_DIR";
  std::string line;
  std::optional<std::string> found;
  while (std::getline(in, line)) {
    if (line.compare(0, wanted.size(), wanted) != 0) continue;
    size_t i = wanted.size();
    while (i < line.size() && line[i] == ' ') ++i;
    if (i >= line.size() || line[i] != '=') continue;
    const size_t open = line.find('"', i);
    const size_t close = open == std::string::npos ? open : line.find('"', open + 1);
    if (close == std::string::npos) continue;
    std::string v = line.substr(open + 1, close - open - 1);
    if (v.compare(0, 5, "$HOME") == 0) v = HomeDir() + v.substr(5);
    else if (v.empty() || v[0] != '/') continue;
    found = StripTrailingSlashes(v); // the last line that names the key wins
  }
  if (found && *found == StripTrailingSlashes(HomeDir()) && key != "DESKTOP")
    return std::nullopt; // a folder set to $HOME means "disabled"
  return found;
}

TShellLayout Layout() {
  TShellLayout l;
  l.Home = HomeFolder();
  std::string desktop = XdgUserDir("DESKTOP").value_or(l.Home + "/Desktop");
  if (!IsDir(desktop)) desktop = l.Home;
  l.Desktop = desktop;
  l.DesktopIsHome = desktop == l.Home;
  return l;
}

// ---- paths and chains --------------------------------------------------------------------

bool SplitPath(std::string_view path, std::vector<std::string> &parts) {
  parts.clear();
  size_t i = 0;
  while (i <= path.size()) {
    size_t j = path.find('/', i);
    if (j == std::string_view::npos) j = path.size();
    const std::string_view piece = path.substr(i, j - i);
    if (piece == "..") {
      if (parts.empty()) return false;
      parts.pop_back();
    } else if (!piece.empty() && piece != ".") {
      parts.emplace_back(piece);
    }
    i = j + 1;
  }
  return true;
}

std::string JoinChild(const std::string &folder, const std::string &name) {
  if (!folder.empty() && folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

bool EntryItem(const std::string &folderPath, const std::string &name, TItem &out) {
  const std::string p = JoinChild(folderPath, name);
  struct stat st;
  if (::lstat(p.c_str(), &st) != 0) return false;
  bool dir = S_ISDIR(st.st_mode);
  if (S_ISLNK(st.st_mode)) {
    struct stat target;
    dir = ::stat(p.c_str(), &target) == 0 && S_ISDIR(target.st_mode);
  }
  out.Kind = dir ? TItemKind::Dir : TItemKind::File;
  out.Name = name;
  return true;
}

namespace {
// True when path is base itself or lies below it; rest gets what follows base.
bool Below(const std::string &path, const std::string &base, std::string &rest) {
  if (base == "/") {
    rest = path.substr(1);
    return true;
  }
  if (path.compare(0, base.size(), base) != 0) return false;
  if (path.size() == base.size()) {
    rest.clear();
    return true;
  }
  if (path[base.size()] != '/') return false;
  rest = path.substr(base.size() + 1);
  return true;
}

bool AppendEntries(std::string folder, const std::vector<std::string> &names,
                   std::vector<TItem> &out) {
  for (const std::string &n : names) {
    if (!IsDir(folder)) return false; // every step but the last must be a folder
    TItem item;
    if (!EntryItem(folder, n, item)) return false;
    out.push_back(item);
    folder = JoinChild(folder, n);
  }
  return true;
}
} // namespace

namespace {
// The path with "." and ".." applied and no doubled or trailing "/"; false for paths
// that are not absolute local paths.
bool CleanPath(const std::string &raw, std::string &path) {
  if (raw.empty() || raw[0] != '/' || raw.compare(0, 2, "//") == 0) return false;
  std::vector<std::string> parts;
  if (!SplitPath(raw, parts)) return false;
  path = "/";
  for (size_t i = 0; i < parts.size(); ++i) path += (i ? "/" : "") + parts[i];
  return true;
}
} // namespace

bool VolumeChain(const std::string &raw, std::vector<TItem> &out) {
  out.clear();
  std::string path, rest, volume;
  if (!CleanPath(raw, path)) return false;
  for (const std::string &mp : VolumeMountPoints()) {
    std::string r;
    if (Below(path, mp, r) && mp.size() >= volume.size()) volume = mp, rest = r;
  }
  if (volume.empty() || !IsDir(volume)) return false;
  out.push_back({TItemKind::Computer, {}});
  out.push_back({TItemKind::Volume, volume});
  std::vector<std::string> names;
  SplitPath(rest, names);
  return AppendEntries(volume, names, out);
}

bool PathToItems(const std::string &raw, std::vector<TItem> &out) {
  out.clear();
  if (raw == kComputerParsingName) {
    out.push_back({TItemKind::Computer, {}});
    return true;
  }
  std::string path, rest;
  if (!CleanPath(raw, path)) return false;
  const std::string home = HomeFolder();
  if (Below(path, home, rest) && IsDir(home)) {
    out.push_back({TItemKind::Home, {}});
    std::vector<std::string> names;
    SplitPath(rest, names);
    return AppendEntries(home, names, out);
  }
  return VolumeChain(path, out);
}

std::string ItemsToPath(const std::vector<TItem> &items) {
  std::string path;
  size_t i = 0;
  if (items.empty()) return Layout().Desktop;
  switch (items[0].Kind) {
  case TItemKind::Home:
    // Not through Layout, which reads the user's folder settings: every path below
    // the home folder (every node's path there) passes here.
    path = HomeFolder();
    i = 1;
    break;
  case TItemKind::Computer:
    if (items.size() < 2 || items[1].Kind != TItemKind::Volume) return {};
    path = items[1].Name;
    i = 2;
    break;
  case TItemKind::Dir:
  case TItemKind::File: {
    const TShellLayout l = Layout();
    if (l.DesktopIsHome) return {}; // the desktop shows no entries of its own then
    path = l.Desktop;
    break;
  }
  default:
    return {};
  }
  for (; i < items.size(); ++i) {
    const TItem &it = items[i];
    if (it.Kind != TItemKind::Dir && it.Kind != TItemKind::File) return {};
    if (i + 1 < items.size() && it.Kind != TItemKind::Dir) return {};
    path = JoinChild(path, it.Name);
  }
  return path;
}

// ---- volumes -----------------------------------------------------------------------------

std::vector<std::string> VolumeMountPoints() { return Volumes().MountedVolumes(); }

int VolumeDriveType(const std::string &mountPoint) { return GetDriveType(mountPoint); }

std::string VolumeDisplayName(const std::string &mountPoint) {
  VolumeInfo info;
  if (GetVolumeInformation(mountPoint, info) && !info.Label.empty())
    return info.Label + " (" + mountPoint + ")";
  const char *kind;
  switch (VolumeDriveType(mountPoint)) {
  case DRIVE_FIXED: kind = "Disque local"; break;
  case DRIVE_REMOVABLE: kind = "Disque amovible"; break;
  case DRIVE_CDROM: kind = "Lecteur optique"; break;
  case DRIVE_REMOTE: kind = "Lecteur réseau"; break;
  case DRIVE_RAMDISK: kind = "Disque virtuel"; break;
  default: kind = "Volume"; break;
  }
  return std::string(kind) + " (" + mountPoint + ")";
}

} // namespace shellimpl
} // namespace plm
