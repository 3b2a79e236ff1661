#pragma once
// The shell namespace over the local file system: reference-counted folder, enumerator,
// allocator and context-menu interfaces, item identifier lists and the entry points the
// folder tree calls. Layout: the desktop (the empty list) holds "Dossier personnel" (the
// home folder), "Ordinateur" (the mounted volumes) and the entries of the desktop folder.
//
// An item identifier list is a run of items, each a 16-bit little-endian size (counting
// its own two bytes) followed by the item's bytes, ended by a 16-bit zero. Lists are
// allocated and freed only through the allocator of SHGetMalloc.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

class QWidget;

namespace plm {

using HRESULT = int32_t;
using ULONG = uint32_t;
using UINT = uint32_t;
using DWORD = uint32_t;
using SFGAOF = uint32_t;
using SHCONTF = uint32_t;
using SHGDNF = uint32_t;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;
// The window that owns shell user interface; null means "show no dialogs".
using HWND = QWidget *;

using LPITEMIDLIST = uint8_t *;
using LPCITEMIDLIST = const uint8_t *;

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_ACCESSDENIED = static_cast<HRESULT>(0x80070005u);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
// A file or folder of that name already exists / the user cancelled.
constexpr HRESULT E_ALREADY_EXISTS = static_cast<HRESULT>(0x800700B7u);
constexpr HRESULT E_CANCELLED = static_cast<HRESULT>(0x800704C7u);
constexpr HRESULT E_NOT_FOUND = static_cast<HRESULT>(0x80070002u);
inline constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
inline constexpr bool FAILED(HRESULT hr) { return hr < 0; }
// A success code carrying a 16-bit value (CompareIDs, QueryContextMenu).
inline constexpr HRESULT MAKE_SCODE16(uint16_t code) { return static_cast<HRESULT>(code); }
inline constexpr uint16_t HRESULT_CODE(HRESULT hr) { return static_cast<uint16_t>(hr & 0xFFFF); }

// Attribute flags (SFGAO_).
constexpr SFGAOF SFGAO_CANRENAME = 0x00000010;
constexpr SFGAOF SFGAO_CAPABILITYMASK = 0x00000177;
constexpr SFGAOF SFGAO_LINK = 0x00010000;
constexpr SFGAOF SFGAO_SHARE = 0x00020000;
constexpr SFGAOF SFGAO_HIDDEN = 0x00080000;
constexpr SFGAOF SFGAO_VALIDATE = 0x01000000;
constexpr SFGAOF SFGAO_REMOVABLE = 0x02000000;
constexpr SFGAOF SFGAO_COMPRESSED = 0x04000000;
constexpr SFGAOF SFGAO_FILESYSANCESTOR = 0x10000000;
constexpr SFGAOF SFGAO_FOLDER = 0x20000000;
constexpr SFGAOF SFGAO_FILESYSTEM = 0x40000000;
constexpr SFGAOF SFGAO_HASSUBFOLDER = 0x80000000;

// Enumeration flags (SHCONTF_).
constexpr SHCONTF SHCONTF_FOLDERS = 0x20;
constexpr SHCONTF SHCONTF_NONFOLDERS = 0x40;
constexpr SHCONTF SHCONTF_INCLUDEHIDDEN = 0x80;

// Naming flags (SHGDN_).
constexpr SHGDNF SHGDN_NORMAL = 0x0000;
constexpr SHGDNF SHGDN_INFOLDER = 0x0001;
constexpr SHGDNF SHGDN_FOREDITING = 0x1000;
constexpr SHGDNF SHGDN_FORADDRESSBAR = 0x4000;
constexpr SHGDNF SHGDN_FORPARSING = 0x8000;

// Special locations (CSIDL_).
constexpr int CSIDL_DESKTOP = 0;
constexpr int CSIDL_PROGRAMS = 2;
constexpr int CSIDL_CONTROLS = 3;
constexpr int CSIDL_PRINTERS = 4;
constexpr int CSIDL_PERSONAL = 5;
constexpr int CSIDL_FAVORITES = 6;
constexpr int CSIDL_STARTUP = 7;
constexpr int CSIDL_RECENT = 8;
constexpr int CSIDL_SENDTO = 9;
constexpr int CSIDL_BITBUCKET = 10;
constexpr int CSIDL_STARTMENU = 11;
constexpr int CSIDL_MYMUSIC = 13;
constexpr int CSIDL_MYVIDEO = 14;
constexpr int CSIDL_DESKTOPDIRECTORY = 16;
constexpr int CSIDL_DRIVES = 17;
constexpr int CSIDL_NETWORK = 18;
constexpr int CSIDL_NETHOOD = 19;
constexpr int CSIDL_FONTS = 20;
constexpr int CSIDL_TEMPLATES = 21;
constexpr int CSIDL_MYPICTURES = 39;
constexpr int CSIDL_PROFILE = 40;

// SHGetFileInfoA flags (SHGFI_).
constexpr UINT SHGFI_LARGEICON = 0x0000;
constexpr UINT SHGFI_SMALLICON = 0x0001;
constexpr UINT SHGFI_OPENICON = 0x0002;
constexpr UINT SHGFI_PIDL = 0x0008;
constexpr UINT SHGFI_DISPLAYNAME = 0x0200;
constexpr UINT SHGFI_TYPENAME = 0x0400;
constexpr UINT SHGFI_ATTRIBUTES = 0x0800;
constexpr UINT SHGFI_SYSICONINDEX = 0x4000;

// The longest path the provider hands out, terminating NUL included. Linux paths are
// longer than the 260 characters of the classic shell; buffers for SHGetPathFromIDListA
// must hold this many bytes.
constexpr size_t MAX_PATH = 4096;

struct GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
  friend bool operator==(const GUID &, const GUID &) = default;
};
using IID = GUID;

inline constexpr IID IID_IUnknown = {0x00000000, 0x0000, 0x0000,
                                     {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IMalloc = {0x00000002, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IShellFolder = {0x000214E6, 0x0000, 0x0000,
                                         {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IEnumIDList = {0x000214F2, 0x0000, 0x0000,
                                        {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IContextMenu = {0x000214E4, 0x0000, 0x0000,
                                         {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IContextMenu2 = {0x000214F4, 0x0000, 0x0000,
                                          {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IContextMenu3 = {0xBCFCE0A0, 0xEC17, 0x11D0,
                                          {0x8D, 0x10, 0x00, 0xA0, 0xC9, 0x0F, 0x27, 0x19}};

// A display name as a folder returns it.
constexpr UINT STRRET_WSTR = 0;   // pOleStr: UTF-16, allocated by the shell allocator
constexpr UINT STRRET_OFFSET = 1; // uOffset: NUL-terminated bytes at that offset in the item
constexpr UINT STRRET_CSTR = 2;   // cStr: the record's own NUL-terminated bytes
struct STRRET {
  UINT uType = STRRET_WSTR; // cleared: a null wide string, which names nothing
  union {
    char16_t *pOleStr;
    UINT uOffset;
    char cStr[260];
  };
  STRRET() : cStr{} {}
};

struct IUnknown {
  virtual HRESULT QueryInterface(const IID &iid, void **out) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

protected:
  ~IUnknown() = default;
};

struct IMalloc : IUnknown {
  virtual void *Alloc(size_t cb) = 0;
  virtual void *Realloc(void *pv, size_t cb) = 0;
  virtual void Free(void *pv) = 0;
  // The block's size, or (size_t)-1 for memory this allocator did not hand out.
  virtual size_t GetSize(void *pv) = 0;
  // 1 for this allocator's own blocks, 0 for any other memory, -1 for null.
  virtual int DidAlloc(void *pv) = 0;
  virtual void HeapMinimize() = 0;

protected:
  ~IMalloc() = default;
};

struct IEnumIDList : IUnknown {
  // Hands out up to celt one-item lists (owned by the caller); S_OK when all were filled.
  virtual HRESULT Next(ULONG celt, LPITEMIDLIST *rgelt, ULONG *pceltFetched) = 0;
  virtual HRESULT Skip(ULONG celt) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumIDList **ppenum) = 0;

protected:
  ~IEnumIDList() = default;
};

struct IShellFolder : IUnknown {
  // Parses a path (absolute, or relative to this folder) into a list relative to this
  // folder. With SFGAO_VALIDATE in *pdwAttributes the item must exist; the requested
  // attributes of the last item come back in *pdwAttributes.
  virtual HRESULT ParseDisplayName(HWND hwnd, void *pbc, const char16_t *pszDisplayName,
                                   ULONG *pchEaten, LPITEMIDLIST *ppidl,
                                   ULONG *pdwAttributes) = 0;
  virtual HRESULT EnumObjects(HWND hwnd, SHCONTF grfFlags, IEnumIDList **ppenumIDList) = 0;
  virtual HRESULT BindToObject(LPCITEMIDLIST pidl, void *pbc, const IID &riid, void **ppv) = 0;
  virtual HRESULT BindToStorage(LPCITEMIDLIST pidl, void *pbc, const IID &riid, void **ppv) = 0;
  // lParam's low 16 bits are the column: 0 name, 1 size, 2 type, 3 modification time.
  // The result's low 16 bits: 0 equal, 1 pidl1 after pidl2, 0xFFFF before.
  virtual HRESULT CompareIDs(LPARAM lParam, LPCITEMIDLIST pidl1, LPCITEMIDLIST pidl2) = 0;
  virtual HRESULT CreateViewObject(HWND hwndOwner, const IID &riid, void **ppv) = 0;
  virtual HRESULT GetAttributesOf(UINT cidl, const LPCITEMIDLIST *apidl, SFGAOF *rgfInOut) = 0;
  virtual HRESULT GetUIObjectOf(HWND hwndOwner, UINT cidl, const LPCITEMIDLIST *apidl,
                                const IID &riid, UINT *rgfReserved, void **ppv) = 0;
  virtual HRESULT GetDisplayNameOf(LPCITEMIDLIST pidl, SHGDNF uFlags, STRRET *pName) = 0;
  // Renames the item on disk and returns its new relative list. Never replaces an
  // existing item and never moves it elsewhere (a name with "/" fails).
  virtual HRESULT SetNameOf(HWND hwnd, LPCITEMIDLIST pidl, const char16_t *pszName,
                            SHGDNF uFlags, LPITEMIDLIST *ppidlOut) = 0;

protected:
  ~IShellFolder() = default;
};

// Popup menus the context menu fills (see ShellMenu.h).
class TShellMenu;
using HMENU = TShellMenu *;

constexpr UINT CMF_NORMAL = 0x0;
constexpr UINT CMF_DEFAULTONLY = 0x1;
constexpr UINT CMF_EXPLORE = 0x4;
constexpr UINT SW_SHOWNORMAL = 1;

struct CMINVOKECOMMANDINFO {
  DWORD cbSize = sizeof(CMINVOKECOMMANDINFO);
  DWORD fMask = 0;
  HWND hwnd = nullptr;
  // A numeric verb (the command's offset, below 0x10000) or a verb's name.
  const char *lpVerb = nullptr;
  const char *lpParameters = nullptr;
  const char *lpDirectory = nullptr;
  int nShow = SW_SHOWNORMAL;
  DWORD dwHotKey = 0;
  void *hIcon = nullptr;
};
inline const char *MAKEINTRESOURCEA(unsigned n) {
  return reinterpret_cast<const char *>(static_cast<uintptr_t>(n));
}
inline bool IS_INTRESOURCE(const char *p) { return reinterpret_cast<uintptr_t>(p) < 0x10000; }

constexpr UINT GCS_VERBA = 0x0;
constexpr UINT GCS_HELPTEXTA = 0x1;

// Menu messages handed to the second and third forms.
constexpr UINT WM_INITMENUPOPUP = 0x0117;
constexpr UINT WM_DRAWITEM = 0x002B;
constexpr UINT WM_MEASUREITEM = 0x002C;
constexpr UINT WM_MENUCHAR = 0x0120;

struct IContextMenu : IUnknown {
  // Adds the commands to hmenu at indexMenu, with ids from idCmdFirst to idCmdLast; the
  // result's low 16 bits are the largest offset used plus one.
  virtual HRESULT QueryContextMenu(HMENU hmenu, UINT indexMenu, UINT idCmdFirst, UINT idCmdLast,
                                   UINT uFlags) = 0;
  virtual HRESULT InvokeCommand(const CMINVOKECOMMANDINFO *pici) = 0;
  virtual HRESULT GetCommandString(uintptr_t idCmd, UINT uType, UINT *pReserved, char *pszName,
                                   UINT cchMax) = 0;

protected:
  ~IContextMenu() = default;
};

struct IContextMenu2 : IContextMenu {
  virtual HRESULT HandleMenuMsg(UINT uMsg, WPARAM wParam, LPARAM lParam) = 0;

protected:
  ~IContextMenu2() = default;
};

struct IContextMenu3 : IContextMenu2 {
  virtual HRESULT HandleMenuMsg2(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT *plResult) = 0;

protected:
  ~IContextMenu3() = default;
};

// Owner-drawn menu items (MF_OWNERDRAW): what WM_MEASUREITEM and WM_DRAWITEM carry.
struct MEASUREITEMSTRUCT {
  UINT CtlType = 1; // ODT_MENU
  UINT CtlID = 0;
  UINT itemID = 0;
  UINT itemWidth = 0;
  UINT itemHeight = 0;
  uintptr_t itemData = 0;
};
struct RECT {
  int left = 0, top = 0, right = 0, bottom = 0;
};
constexpr UINT ODS_SELECTED = 0x0001;
constexpr UINT ODS_GRAYED = 0x0002;
struct DRAWITEMSTRUCT {
  UINT CtlType = 1; // ODT_MENU
  UINT CtlID = 0;
  UINT itemID = 0;
  UINT itemAction = 1; // ODA_DRAWENTIRE
  UINT itemState = 0;
  void *hwndItem = nullptr;
  void *hDC = nullptr; // a QPainter* ready to draw in rcItem
  RECT rcItem;
  uintptr_t itemData = 0;
};

// Owns one reference on an interface.
template <class T> class ComPtr {
public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  // Takes over a reference the caller already holds.
  static ComPtr Attach(T *p) {
    ComPtr c;
    c.fP = p;
    return c;
  }
  // Adds a reference of its own.
  explicit ComPtr(T *p) : fP(p) {
    if (fP) fP->AddRef();
  }
  ComPtr(const ComPtr &o) : ComPtr(o.fP) {}
  ComPtr(ComPtr &&o) noexcept : fP(std::exchange(o.fP, nullptr)) {}
  ComPtr &operator=(ComPtr o) noexcept {
    std::swap(fP, o.fP);
    return *this;
  }
  ~ComPtr() { Reset(); }
  void Reset() {
    if (T *p = std::exchange(fP, nullptr)) p->Release();
  }
  T *get() const { return fP; }
  T *operator->() const { return fP; }
  explicit operator bool() const { return fP != nullptr; }
  // For out parameters: releases the current interface first.
  T **put() {
    Reset();
    return &fP;
  }
  void **put_void() { return reinterpret_cast<void **>(put()); }
  T *Detach() { return std::exchange(fP, nullptr); }

private:
  T *fP = nullptr;
};

// Reference counting for the provider's objects and for test doubles.
template <class Base> class TComObject : public Base {
public:
  ULONG AddRef() override { return ++fRefs; }
  ULONG Release() override {
    const ULONG r = --fRefs;
    if (r == 0) delete this;
    return r;
  }

protected:
  TComObject() = default;
  virtual ~TComObject() = default;

private:
  std::atomic<ULONG> fRefs{1};
};

// Entry points.
HRESULT SHGetMalloc(IMalloc **ppMalloc);
HRESULT SHGetDesktopFolder(IShellFolder **ppshf);
HRESULT SHGetSpecialFolderLocation(HWND hwnd, int csidl, LPITEMIDLIST *ppidl);
// The file-system path of an absolute list into a buffer of MAX_PATH bytes; false for
// an item without one (the drives folder, a bad list).
bool SHGetPathFromIDListA(LPCITEMIDLIST pidl, char *pszPath);

class TSystemImageList;
using HIMAGELIST = TSystemImageList *;
struct SHFILEINFOA {
  void *hIcon = nullptr;
  int iIcon = 0;
  DWORD dwAttributes = 0;
  char szDisplayName[260] = {};
  char szTypeName[80] = {};
};
// With SHGFI_PIDL pszPath is an absolute list, else a path. With SHGFI_SYSICONINDEX the
// result is the system image list (HIMAGELIST cast to uintptr_t) and psfi->iIcon the
// item's index; 0 on failure.
uintptr_t SHGetFileInfoA(const char *pszPath, DWORD dwFileAttributes, SHFILEINFOA *psfi,
                         UINT cbFileInfo, UINT uFlags);

// Blocks the allocator holds now (tests check that nothing leaks).
size_t SHMallocBlockCount();

// How many bytes an identifier list may span from p: up to the end of the allocator's
// block that holds p, or SIZE_MAX for memory the allocator does not know.
size_t SHBytesAvailable(const void *p);

// A returned display name as bytes (UTF-16 forms are converted back to bytes; a
// STRRET_WSTR string is freed). False for an unusable record.
bool StrRetToString(STRRET &sr, LPCITEMIDLIST pidl, std::string &out);

// Names cross the interfaces as UTF-16. Bytes that are not valid UTF-8 travel as lone
// surrogates U+DC80..U+DCFF, one per byte, so every file name survives the round trip.
std::u16string WideFromBytes(const std::string &bytes);
std::string BytesFromWide(const char16_t *wide);
std::string BytesFromWide(const std::u16string &wide);

} // namespace plm
