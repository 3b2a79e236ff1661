// The folders of the namespace: the desktop, the drives folder ("Ordinateur") and every
// directory, with their enumerators.
#include "platform/shell/ShellFolder.h"

#include "platform/Volumes.h"
#include "platform/shell/ShellUI.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plm {
namespace shellimpl {

namespace {

bool IsDot(const char *n) { return n[0] == '.' && (!n[1] || (n[1] == '.' && !n[2])); }

// Whether an entry of an open folder is a folder (links followed).
bool EntryIsDir(int folder, const char *name, unsigned char type) {
  if (type == DT_DIR) return true;
  if (type != DT_LNK && type != DT_UNKNOWN) return false;
  struct stat st;
  return ::fstatat(folder, name, &st, 0) == 0 && S_ISDIR(st.st_mode);
}

int KindRank(TItemKind k) {
  switch (k) {
  case TItemKind::Home: return 0;
  case TItemKind::Computer: return 1;
  case TItemKind::Volume: return 2;
  case TItemKind::Dir: return 3;
  default: return 4;
  }
}

int Sign(int64_t v) { return v < 0 ? -1 : v > 0 ? 1 : 0; }

HRESULT CompareResult(int r) {
  return r < 0 ? MAKE_SCODE16(0xFFFF) : r > 0 ? MAKE_SCODE16(1) : MAKE_SCODE16(0);
}

HRESULT SetWideName(STRRET *out, const std::string &name) {
  const std::u16string w = WideFromBytes(name);
  auto *p = static_cast<char16_t *>(ShellMalloc().Alloc((w.size() + 1) * sizeof(char16_t)));
  if (!p) return E_OUTOFMEMORY;
  std::memcpy(p, w.c_str(), (w.size() + 1) * sizeof(char16_t));
  out->uType = STRRET_WSTR;
  out->pOleStr = p;
  return S_OK;
}

// A name in the record: its own bytes when short enough, else UTF-16 from the allocator.
HRESULT SetName(STRRET *out, const std::string &name) {
  if (name.size() >= sizeof out->cStr) return SetWideName(out, name);
  out->uType = STRRET_CSTR;
  std::memcpy(out->cStr, name.c_str(), name.size() + 1);
  return S_OK;
}

std::string BaseName(const std::string &path) {
  if (path == "/") return path;
  const size_t s = path.rfind('/');
  return s == std::string::npos ? path : path.substr(s + 1);
}

class TEnumIDList final : public TComObject<IEnumIDList> {
public:
  explicit TEnumIDList(std::vector<TItem> items, size_t pos = 0)
      : fItems(std::move(items)), fPos(pos) {}
  HRESULT QueryInterface(const IID &iid, void **out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IEnumIDList) {
      AddRef();
      *out = static_cast<IEnumIDList *>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  HRESULT Next(ULONG celt, LPITEMIDLIST *rgelt, ULONG *pceltFetched) override {
    if (!rgelt || (celt > 1 && !pceltFetched)) return E_POINTER;
    ULONG n = 0;
    while (n < celt && fPos < fItems.size()) {
      LPITEMIDLIST p = MakeItemList(fItems[fPos]);
      if (!p) break;
      rgelt[n++] = p;
      ++fPos;
    }
    if (pceltFetched) *pceltFetched = n;
    if (n < celt && fPos < fItems.size()) return E_OUTOFMEMORY;
    return n == celt ? S_OK : S_FALSE;
  }
  HRESULT Skip(ULONG celt) override {
    fPos = std::min(fItems.size(), fPos + celt);
    return fPos < fItems.size() ? S_OK : S_FALSE;
  }
  HRESULT Reset() override {
    fPos = 0;
    return S_OK;
  }
  HRESULT Clone(IEnumIDList **ppenum) override {
    if (!ppenum) return E_POINTER;
    *ppenum = new TEnumIDList(fItems, fPos);
    return S_OK;
  }

private:
  std::vector<TItem> fItems;
  size_t fPos;
};

} // namespace

bool HasSubfolder(const std::string &path) {
  // Asked of every folder shown: read with the system call itself, since a directory
  // stream would add a status query and a large buffer to each of them.
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  alignas(dirent64) char buffer[4096];
  bool found = false;
  ssize_t n;
  while (!found && (n = ::getdents64(fd, buffer, sizeof buffer)) > 0) {
    for (ssize_t pos = 0; pos < n && !found;) {
      const auto *e = reinterpret_cast<const dirent64 *>(buffer + pos);
      pos += e->d_reclen;
      found = !IsDot(e->d_name) && EntryIsDir(fd, e->d_name, e->d_type);
    }
  }
  ::close(fd);
  return found;
}

TFolder::TFolder(Kind kind, std::string path) : fKind(kind), fPath(std::move(path)) {
  if (kind == Kind::Desktop) {
    fLayout = Layout();
    fPath = fLayout.Desktop;
  }
}

ComPtr<TFolder> TFolder::Desktop() { return ComPtr<TFolder>::Attach(new TFolder(Kind::Desktop, {})); }
ComPtr<TFolder> TFolder::Computer() {
  return ComPtr<TFolder>::Attach(new TFolder(Kind::Computer, {}));
}
ComPtr<TFolder> TFolder::Directory(std::string path) {
  return ComPtr<TFolder>::Attach(new TFolder(Kind::Directory, std::move(path)));
}

HRESULT TFolder::QueryInterface(const IID &iid, void **out) {
  if (!out) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IShellFolder) {
    AddRef();
    *out = static_cast<IShellFolder *>(this);
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

std::string TFolder::Path() const { return fKind == Kind::Computer ? std::string() : fPath; }

std::string TFolder::ChildPath(const TItem &item) const {
  switch (item.Kind) {
  case TItemKind::Home: return fKind == Kind::Desktop ? fLayout.Home : std::string();
  case TItemKind::Computer: return {};
  case TItemKind::Volume: return fKind == Kind::Computer ? item.Name : std::string();
  default:
    if (fKind == Kind::Computer || (fKind == Kind::Desktop && fLayout.DesktopIsHome)) return {};
    return JoinChild(fPath, item.Name);
  }
}

ComPtr<TFolder> TFolder::BindChild(const TItem &item) const {
  switch (fKind) {
  case Kind::Desktop:
    if (item.Kind == TItemKind::Home) return Directory(fLayout.Home);
    if (item.Kind == TItemKind::Computer) return Computer();
    break;
  case Kind::Computer:
    if (item.Kind == TItemKind::Volume) return Directory(item.Name);
    return nullptr;
  case Kind::Directory: break;
  }
  if (item.Kind == TItemKind::Dir) {
    const std::string p = ChildPath(item);
    if (!p.empty()) return Directory(p);
  }
  return nullptr;
}

bool TFolder::ReadChildren(SHCONTF flags, std::vector<TItem> &out) const {
  out.clear();
  const bool folders = flags & SHCONTF_FOLDERS, files = flags & SHCONTF_NONFOLDERS;
  const bool hidden = flags & SHCONTF_INCLUDEHIDDEN;
  if (fKind == Kind::Computer) {
    if (folders)
      for (const std::string &mp : VolumeMountPoints()) out.push_back({TItemKind::Volume, mp});
    return true;
  }
  if (fKind == Kind::Desktop) {
    if (folders) {
      out.push_back({TItemKind::Home, {}});
      out.push_back({TItemKind::Computer, {}});
    }
    if (fLayout.DesktopIsHome) return true;
  }
  DIR *d = ::opendir(fPath.c_str());
  if (!d) return fKind == Kind::Desktop; // the desktop still shows its own items
  while (const dirent *e = ::readdir(d)) {
    if (IsDot(e->d_name) || (e->d_name[0] == '.' && !hidden)) continue;
    const bool dir = EntryIsDir(::dirfd(d), e->d_name, e->d_type);
    if (dir ? !folders : !files) continue;
    out.push_back({dir ? TItemKind::Dir : TItemKind::File, e->d_name});
  }
  ::closedir(d);
  return true;
}

HRESULT TFolder::EnumObjects(HWND, SHCONTF grfFlags, IEnumIDList **ppenumIDList) {
  if (!ppenumIDList) return E_POINTER;
  *ppenumIDList = nullptr;
  std::vector<TItem> items;
  if (!ReadChildren(grfFlags, items)) return errno == EACCES ? E_ACCESSDENIED : E_FAIL;
  // A new enumeration: the facts gathered for the previous one may be stale.
  fFacts.clear();
  fWritable.reset();
  fRemovable.reset();
  *ppenumIDList = new TEnumIDList(std::move(items));
  return S_OK;
}

HRESULT TFolder::ResolveLast(LPCITEMIDLIST pidl, ComPtr<TFolder> &folder, TItem &last) {
  folder = ComPtr<TFolder>(this);
  if (!pidl || !DecodeItem(pidl, last)) return E_INVALIDARG;
  for (LPCITEMIDLIST next = NextItem(pidl); ItemSize(next) != 0; next = NextItem(next)) {
    folder = folder->BindChild(last);
    if (!folder || !DecodeItem(next, last)) return E_INVALIDARG;
  }
  return S_OK;
}

HRESULT TFolder::BindToObject(LPCITEMIDLIST pidl, void *, const IID &riid, void **ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (!(riid == IID_IShellFolder || riid == IID_IUnknown)) return E_NOINTERFACE;
  ComPtr<TFolder> parent;
  TItem last;
  if (HRESULT hr = ResolveLast(pidl, parent, last); FAILED(hr)) return hr;
  ComPtr<TFolder> child = parent->BindChild(last);
  if (!child) return E_INVALIDARG;
  *ppv = static_cast<IShellFolder *>(child.Detach());
  return S_OK;
}

HRESULT TFolder::BindToStorage(LPCITEMIDLIST, void *, const IID &, void **ppv) {
  if (ppv) *ppv = nullptr;
  return E_NOTIMPL;
}

HRESULT TFolder::CreateViewObject(HWND, const IID &, void **ppv) {
  if (ppv) *ppv = nullptr;
  return E_NOTIMPL;
}

const TNameKey &TFolder::KeyOf(std::string_view name) {
  auto it = fKeys.find(name);
  if (it == fKeys.end()) it = fKeys.emplace(std::string(name), fCollator->Key(name)).first;
  return it->second;
}

const TNameKey &TFolder::KeyOf(std::string_view name, LPCITEMIDLIST holder) {
  if (!holder) return KeyOf(name);
  if (fKeySlots.empty()) fKeySlots.resize(2048);
  TKeySlot &slot = fKeySlots[(reinterpret_cast<uintptr_t>(holder) >> 4) % fKeySlots.size()];
  if (slot.Holder == holder && *slot.Name == name) return *slot.Key;
  auto it = fKeys.find(name);
  if (it == fKeys.end()) it = fKeys.emplace(std::string(name), fCollator->Key(name)).first;
  slot = {holder, &it->first, &it->second};
  return it->second;
}

const TFolder::TFacts &TFolder::FactsOf(const TItemView &item) {
  auto it = fFacts.find(item.Name);
  if (it != fFacts.end()) return it->second;
  TFacts f;
  struct stat st;
  const std::string p = ChildPath({item.Kind, std::string(item.Name)});
  if (!p.empty() && ::stat(p.c_str(), &st) == 0) {
    f.Known = true;
    f.Size = st.st_size;
    f.Modified = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  }
  return fFacts.emplace(std::string(item.Name), f).first->second;
}

int TFolder::CompareItems(int column, const TItemView &a, const TItemView &b, LPCITEMIDLIST pa,
                          LPCITEMIDLIST pb) {
  if (const int r = KindRank(a.Kind) - KindRank(b.Kind)) return r < 0 ? -1 : 1;
  if (a.Kind == TItemKind::Home || a.Kind == TItemKind::Computer) return 0;
  if (a.Kind == TItemKind::Volume) { // "/" first
    if ((a.Name == "/") != (b.Name == "/")) return a.Name == "/" ? -1 : 1;
  } else if (column == 1 || column == 3) {
    const TFacts fa = FactsOf(a), fb = FactsOf(b);
    if (column == 1 && a.Kind == TItemKind::File) {
      if (const int r = Sign(fa.Size - fb.Size)) return r;
    } else if (column == 3) {
      if (const int r = Sign(fa.Modified - fb.Modified)) return r;
    }
  } else if (column == 2 && a.Kind == TItemKind::File) {
    auto ext = [](std::string_view n) {
      const size_t dot = n.rfind('.');
      return dot == std::string_view::npos || dot == 0 ? std::string_view() : n.substr(dot + 1);
    };
    const std::string_view ea = ext(a.Name), eb = ext(b.Name);
    if (ea != eb)
      if (const int r = KeyOf(ea).Compare(KeyOf(eb))) return r;
  }
  if (a.Name == b.Name) return 0;
  if (const int r = KeyOf(a.Name, pa).Compare(KeyOf(b.Name, pb))) return r;
  return a.Name < b.Name ? -1 : 1; // the same key for different bytes: keep the order total
}

HRESULT TFolder::CompareIDs(LPARAM lParam, LPCITEMIDLIST pidl1, LPCITEMIDLIST pidl2) {
  const int column = static_cast<int>(lParam & 0xFFFF);
  if (column > 3) return E_INVALIDARG;
  // Keys are made in the locale of the moment; a new locale starts them over.
  const QLocale locale;
  if (!fCollator || fCollator->Locale() != locale) {
    fCollator = std::make_unique<TNameCollator>(locale);
    fKeys.clear();
    fKeySlots.clear();
  }
  return CompareLists(column, pidl1, pidl2);
}

HRESULT TFolder::CompareLists(int column, LPCITEMIDLIST pidl1, LPCITEMIDLIST pidl2) {
  const size_t avail1 = pidl1 ? SHBytesAvailable(pidl1) : 0;
  const size_t avail2 = pidl2 ? SHBytesAvailable(pidl2) : 0;
  const bool end1 = avail1 < 2 || ItemSize(pidl1) == 0;
  const bool end2 = avail2 < 2 || ItemSize(pidl2) == 0;
  if (end1 || end2) return CompareResult(end1 == end2 ? 0 : end1 ? -1 : 1);
  TItemView a, b;
  if (!ViewItem(pidl1, avail1, a) || !ViewItem(pidl2, avail2, b)) return E_INVALIDARG;
  if (const int r = CompareItems(column, a, b, pidl1, pidl2)) return CompareResult(r);
  const size_t s1 = ItemSize(pidl1), s2 = ItemSize(pidl2);
  const bool last1 = avail1 - s1 < 2 || ItemSize(pidl1 + s1) == 0;
  const bool last2 = avail2 - s2 < 2 || ItemSize(pidl2 + s2) == 0;
  if (last1 || last2) return CompareResult(last1 == last2 ? 0 : last1 ? -1 : 1);
  ComPtr<TFolder> child = BindChild({a.Kind, std::string(a.Name)});
  if (!child) return E_INVALIDARG;
  child->fCollator = std::make_unique<TNameCollator>(fCollator->Locale());
  return child->CompareLists(column, pidl1 + s1, pidl2 + s2);
}

SFGAOF TFolder::Attributes(const TItem &item, SFGAOF wanted, bool &exists) {
  SFGAOF a = 0;
  exists = true;
  if (item.Kind == TItemKind::Computer) {
    if (fKind != Kind::Desktop) exists = false;
    return SFGAO_FOLDER | SFGAO_FILESYSANCESTOR | SFGAO_HASSUBFOLDER;
  }
  const std::string path = ChildPath(item);
  struct stat st;
  if (path.empty() || ::lstat(path.c_str(), &st) != 0) {
    exists = false;
    if (item.Kind == TItemKind::File) return SFGAO_FILESYSTEM;
    return SFGAO_FILESYSTEM | SFGAO_FOLDER;
  }
  bool dir = S_ISDIR(st.st_mode);
  if (S_ISLNK(st.st_mode)) {
    a |= SFGAO_LINK;
    struct stat target;
    dir = ::stat(path.c_str(), &target) == 0 && S_ISDIR(target.st_mode);
  }
  a |= SFGAO_FILESYSTEM;
  if (dir) a |= SFGAO_FOLDER;
  if ((item.Kind == TItemKind::Dir || item.Kind == TItemKind::File) && item.Name[0] == '.')
    a |= SFGAO_HIDDEN;
  if ((wanted & SFGAO_CANRENAME) &&
      (item.Kind == TItemKind::Dir || item.Kind == TItemKind::File)) {
    if (!fWritable) fWritable = ::access(fPath.c_str(), W_OK) == 0;
    if (*fWritable) a |= SFGAO_CANRENAME;
  }
  if (wanted & SFGAO_REMOVABLE) {
    bool removable;
    if (item.Kind == TItemKind::Volume) {
      const int t = VolumeDriveType(item.Name);
      removable = t == DRIVE_REMOVABLE || t == DRIVE_CDROM;
    } else {
      if (!fRemovable) {
        const int t = GetDriveType(MountPointOf(fKind == Kind::Desktop && item.Kind == TItemKind::Home
                                                    ? fLayout.Home
                                                    : fPath));
        fRemovable = t == DRIVE_REMOVABLE || t == DRIVE_CDROM;
      }
      removable = *fRemovable;
    }
    if (removable) a |= SFGAO_REMOVABLE;
  }
  if ((wanted & SFGAO_HASSUBFOLDER) && dir && HasSubfolder(path)) a |= SFGAO_HASSUBFOLDER;
  return a;
}

HRESULT TFolder::GetAttributesOf(UINT cidl, const LPCITEMIDLIST *apidl, SFGAOF *rgfInOut) {
  if (!rgfInOut) return E_POINTER;
  const SFGAOF wanted = *rgfInOut;
  if (cidl == 0) return S_OK; // nothing about the folder itself is cached
  if (!apidl) return E_POINTER;
  SFGAOF all = ~SFGAOF(0);
  for (UINT i = 0; i < cidl; ++i) {
    ComPtr<TFolder> folder;
    TItem item;
    if (HRESULT hr = ResolveLast(apidl[i], folder, item); FAILED(hr)) return hr;
    bool exists;
    const SFGAOF a = folder->Attributes(item, wanted, exists);
    if ((wanted & SFGAO_VALIDATE) && !exists) return E_FAIL;
    all &= a;
  }
  *rgfInOut = all & wanted & ~SFGAO_VALIDATE;
  return S_OK;
}

HRESULT TFolder::GetUIObjectOf(HWND, UINT cidl, const LPCITEMIDLIST *apidl, const IID &riid,
                               UINT *, void **ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (cidl == 0 || !apidl) return E_INVALIDARG;
  std::vector<TItem> items(cidl);
  for (UINT i = 0; i < cidl; ++i) {
    if (!DecodeItem(apidl[i], items[i]) || ItemSize(NextItem(apidl[i])) != 0)
      return E_INVALIDARG; // one-item lists of this folder only
  }
  return NewContextMenu(ComPtr<TFolder>(this), items, riid, ppv);
}

std::string TFolder::NormalName(const TItem &item) const {
  switch (item.Kind) {
  case TItemKind::Home: return kHomeName;
  case TItemKind::Computer: return kComputerName;
  case TItemKind::Volume: return VolumeDisplayName(item.Name);
  default: return item.Name;
  }
}

HRESULT TFolder::NameOf(const TItem &item, SHGDNF flags, bool single, STRRET *out) const {
  const bool entry = item.Kind == TItemKind::Dir || item.Kind == TItemKind::File;
  if (flags & (SHGDN_FORPARSING | SHGDN_FORADDRESSBAR)) {
    if (item.Kind == TItemKind::Computer) return SetName(out, kComputerParsingName);
    if (flags & SHGDN_INFOLDER) {
      if (entry && single) {
        out->uType = STRRET_OFFSET;
        out->uOffset = kItemHeader;
        return S_OK;
      }
      // The home folder and the volumes are not entries of this folder: their full paths.
      return SetName(out, entry ? item.Name : ChildPath(item));
    }
    const std::string path = ChildPath(item);
    return path.empty() ? E_FAIL : SetName(out, path);
  }
  if (flags & SHGDN_FOREDITING) return SetWideName(out, NormalName(item));
  if (entry && single) {
    out->uType = STRRET_OFFSET;
    out->uOffset = kItemHeader;
    return S_OK;
  }
  return SetName(out, NormalName(item));
}

HRESULT TFolder::GetDisplayNameOf(LPCITEMIDLIST pidl, SHGDNF uFlags, STRRET *pName) {
  if (!pName) return E_POINTER;
  if (!pidl || (SHBytesAvailable(pidl) >= 2 && ItemSize(pidl) == 0)) { // the folder itself
    if (uFlags & SHGDN_FORPARSING)
      return SetName(pName, fKind == Kind::Computer ? std::string(kComputerParsingName) : fPath);
    return SetName(pName, fKind == Kind::Desktop    ? std::string(kDesktopName)
                          : fKind == Kind::Computer ? std::string(kComputerName)
                                                    : BaseName(fPath));
  }
  ComPtr<TFolder> folder;
  TItem item;
  if (HRESULT hr = ResolveLast(pidl, folder, item); FAILED(hr)) return hr;
  return folder->NameOf(item, uFlags, folder.get() == this, pName);
}

HRESULT TFolder::RenameItem(HWND hwnd, const TItem &item, const std::string &newName,
                            TItem &newItem) {
  auto fail = [&](HRESULT hr, const std::string &why) {
    if (hwnd && ShellUI())
      ShellUI()->ShowError(hwnd, "Impossible de renommer « " + item.Name + " » en « " + newName +
                                     " » : " + why);
    return hr;
  };
  const std::string from = ChildPath(item);
  if (from.empty() || (item.Kind != TItemKind::Dir && item.Kind != TItemKind::File))
    return fail(E_INVALIDARG, "cet élément ne peut pas être renommé.");
  if (newName.empty() || newName == "." || newName == "..")
    return fail(E_INVALIDARG, "ce nom n'est pas valable.");
  if (newName.find('/') != std::string::npos)
    return fail(E_INVALIDARG, "un nom ne peut pas contenir « / ».");
  if (newName == item.Name) {
    newItem = item;
    return S_OK;
  }
  const std::string to = JoinChild(fPath, newName);
  int rc = ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
  if (rc != 0 && (errno == EINVAL || errno == ENOSYS)) {
    // A file system without the no-replace rename: check, then rename.
    struct stat st;
    if (::lstat(to.c_str(), &st) == 0) errno = EEXIST;
    else rc = ::rename(from.c_str(), to.c_str());
  }
  if (rc != 0) {
    const int err = errno;
    switch (err) {
    case EEXIST:
    case ENOTEMPTY: return fail(E_ALREADY_EXISTS, "un élément de ce nom existe déjà.");
    case EACCES:
    case EPERM:
    case EROFS: return fail(E_ACCESSDENIED, "accès refusé.");
    case ENOENT: return fail(E_NOT_FOUND, "l'élément n'existe plus.");
    case ENAMETOOLONG: return fail(E_INVALIDARG, "le nom est trop long.");
    default: return fail(E_FAIL, std::strerror(err));
    }
  }
  if (!EntryItem(fPath, newName, newItem)) newItem = {item.Kind, newName};
  return S_OK;
}

HRESULT TFolder::SetNameOf(HWND hwnd, LPCITEMIDLIST pidl, const char16_t *pszName, SHGDNF,
                           LPITEMIDLIST *ppidlOut) {
  if (ppidlOut) *ppidlOut = nullptr;
  if (!pszName) return E_POINTER;
  TItem item;
  if (!DecodeItem(pidl, item) || ItemSize(NextItem(pidl)) != 0) return E_INVALIDARG;
  TItem renamed;
  if (HRESULT hr = RenameItem(hwnd, item, BytesFromWide(pszName), renamed); FAILED(hr)) return hr;
  if (ppidlOut) {
    *ppidlOut = MakeItemList(renamed);
    if (!*ppidlOut) return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT TFolder::ParseDisplayName(HWND, void *, const char16_t *pszDisplayName, ULONG *pchEaten,
                                  LPITEMIDLIST *ppidl, ULONG *pdwAttributes) {
  if (!ppidl) return E_POINTER;
  *ppidl = nullptr;
  if (!pszDisplayName) return E_INVALIDARG;
  const std::string text = BytesFromWide(pszDisplayName);
  std::vector<TItem> chain;
  switch (fKind) {
  case Kind::Desktop:
    if (!PathToItems(text, chain)) return E_INVALIDARG;
    break;
  case Kind::Computer:
    if (!VolumeChain(text, chain)) return E_INVALIDARG;
    chain.erase(chain.begin());
    break;
  case Kind::Directory: {
    std::string rel = text;
    if (!text.empty() && text[0] == '/') {
      const std::string base = fPath == "/" ? std::string() : fPath;
      if (text.compare(0, base.size() + 1, base + "/") != 0) return E_INVALIDARG;
      rel = text.substr(base.size() + 1);
    }
    std::vector<std::string> names;
    if (!SplitPath(rel, names)) return E_INVALIDARG;
    std::string folder = fPath;
    for (const std::string &n : names) {
      TItem it;
      if (!EntryItem(folder, n, it)) return E_INVALIDARG;
      chain.push_back(it);
      folder = JoinChild(folder, n);
    }
    break;
  }
  }
  if (chain.empty()) return E_INVALIDARG;
  LPITEMIDLIST list = MakeList(chain);
  if (!list) return E_OUTOFMEMORY;
  if (pdwAttributes && *pdwAttributes) {
    LPCITEMIDLIST one = list;
    if (FAILED(GetAttributesOf(1, &one, pdwAttributes))) {
      ShellMalloc().Free(list);
      return E_INVALIDARG;
    }
  }
  if (pchEaten) {
    ULONG n = 0;
    while (pszDisplayName[n]) ++n;
    *pchEaten = n;
  }
  *ppidl = list;
  return S_OK;
}

} // namespace shellimpl

// ---- entry points ------------------------------------------------------------------------

HRESULT SHGetDesktopFolder(IShellFolder **ppshf) {
  if (!ppshf) return E_POINTER;
  *ppshf = shellimpl::TFolder::Desktop().Detach();
  return S_OK;
}

HRESULT SHGetSpecialFolderLocation(HWND, int csidl, LPITEMIDLIST *ppidl) {
  using namespace shellimpl;
  if (!ppidl) return E_POINTER;
  *ppidl = nullptr;
  std::optional<std::string> path;
  switch (csidl) {
  case CSIDL_DESKTOP: *ppidl = MakeList({}); return *ppidl ? S_OK : E_OUTOFMEMORY;
  case CSIDL_DRIVES: *ppidl = MakeItemList({TItemKind::Computer, {}}); return *ppidl ? S_OK : E_OUTOFMEMORY;
  case CSIDL_PROFILE: path = Layout().Home; break;
  case CSIDL_DESKTOPDIRECTORY: path = Layout().Desktop; break;
  case CSIDL_PERSONAL: path = XdgUserDir("DOCUMENTS"); break;
  case CSIDL_MYMUSIC: path = XdgUserDir("MUSIC"); break;
  case CSIDL_MYVIDEO: path = XdgUserDir("VIDEOS"); break;
  case CSIDL_MYPICTURES: path = XdgUserDir("PICTURES"); break;
  case CSIDL_TEMPLATES: path = XdgUserDir("TEMPLATES"); break;
  case CSIDL_PROGRAMS: path = XdgDataHome() + "/applications"; break;
  case CSIDL_STARTUP: path = XdgConfigHome() + "/autostart"; break;
  case CSIDL_FONTS: path = XdgDataHome() + "/fonts"; break;
  case CSIDL_BITBUCKET: path = XdgDataHome() + "/Trash/files"; break;
  default: return E_INVALIDARG; // no counterpart here
  }
  std::vector<TItem> chain;
  if (!path || !PathToItems(*path, chain)) return E_FAIL;
  *ppidl = MakeList(chain);
  return *ppidl ? S_OK : E_OUTOFMEMORY;
}

bool SHGetPathFromIDListA(LPCITEMIDLIST pidl, char *pszPath) {
  if (!pszPath) return false;
  pszPath[0] = 0;
  std::vector<shellimpl::TItem> items;
  if (!shellimpl::DecodeList(pidl, items)) return false;
  const std::string path = shellimpl::ItemsToPath(items);
  if (path.empty() || path.size() >= MAX_PATH) return false;
  std::memcpy(pszPath, path.c_str(), path.size() + 1);
  return true;
}

} // namespace plm
