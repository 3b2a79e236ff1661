#pragma once
// Inside the provider: the folder object behind every IShellFolder it hands out.
#include "platform/shell/ShellApi.h"
#include "platform/shell/ShellCollate.h"
#include "platform/shell/ShellItems.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace plm::shellimpl {

class TFolder final : public TComObject<IShellFolder> {
public:
  enum class Kind { Desktop, Computer, Directory };
  static ComPtr<TFolder> Desktop();
  static ComPtr<TFolder> Computer();
  static ComPtr<TFolder> Directory(std::string path);

  HRESULT QueryInterface(const IID &iid, void **out) override;
  ULONG AddRef() override { return TComObject::AddRef(); }
  ULONG Release() override { return TComObject::Release(); }

  HRESULT ParseDisplayName(HWND hwnd, void *pbc, const char16_t *pszDisplayName, ULONG *pchEaten,
                           LPITEMIDLIST *ppidl, ULONG *pdwAttributes) override;
  HRESULT EnumObjects(HWND hwnd, SHCONTF grfFlags, IEnumIDList **ppenumIDList) override;
  HRESULT BindToObject(LPCITEMIDLIST pidl, void *pbc, const IID &riid, void **ppv) override;
  HRESULT BindToStorage(LPCITEMIDLIST, void *, const IID &, void **ppv) override;
  HRESULT CompareIDs(LPARAM lParam, LPCITEMIDLIST pidl1, LPCITEMIDLIST pidl2) override;
  HRESULT CreateViewObject(HWND, const IID &, void **ppv) override;
  HRESULT GetAttributesOf(UINT cidl, const LPCITEMIDLIST *apidl, SFGAOF *rgfInOut) override;
  HRESULT GetUIObjectOf(HWND hwndOwner, UINT cidl, const LPCITEMIDLIST *apidl, const IID &riid,
                        UINT *rgfReserved, void **ppv) override;
  HRESULT GetDisplayNameOf(LPCITEMIDLIST pidl, SHGDNF uFlags, STRRET *pName) override;
  HRESULT SetNameOf(HWND hwnd, LPCITEMIDLIST pidl, const char16_t *pszName, SHGDNF uFlags,
                    LPITEMIDLIST *ppidlOut) override;

  Kind FolderKind() const { return fKind; }
  // The folder's own path ("" for the drives folder).
  std::string Path() const;
  // The path of one of its items ("" for the drives folder item).
  std::string ChildPath(const TItem &item) const;
  // The folder of one of its items, or null when the item is no folder here.
  ComPtr<TFolder> BindChild(const TItem &item) const;
  // The attributes of one of its items among the wanted bits; exists tells whether the
  // item is still there.
  SFGAOF Attributes(const TItem &item, SFGAOF wanted, bool &exists);
  // The name shown for an item (SHGDN_NORMAL).
  std::string NormalName(const TItem &item) const;
  // Renames an item on disk; on success newItem is the renamed item.
  HRESULT RenameItem(HWND hwnd, const TItem &item, const std::string &newName, TItem &newItem);
  // The folder that holds the last item of a relative list, and that item.
  HRESULT ResolveLast(LPCITEMIDLIST pidl, ComPtr<TFolder> &folder, TItem &last);

private:
  TFolder(Kind kind, std::string path);
  bool ReadChildren(SHCONTF flags, std::vector<TItem> &out) const;
  int CompareItems(int column, const TItemView &a, const TItemView &b, LPCITEMIDLIST pa = nullptr,
                   LPCITEMIDLIST pb = nullptr);
  // The key of a name, found first by the address of the list that holds it.
  const TNameKey &KeyOf(std::string_view name, LPCITEMIDLIST holder);
  HRESULT CompareLists(int column, LPCITEMIDLIST pidl1, LPCITEMIDLIST pidl2);
  const TNameKey &KeyOf(std::string_view name);
  struct TFacts {
    bool Known = false;
    int64_t Size = 0;
    int64_t Modified = 0; // nanoseconds
  };
  const TFacts &FactsOf(const TItemView &item);
  HRESULT NameOf(const TItem &item, SHGDNF flags, bool single, STRRET *out) const;

  Kind fKind;
  std::string fPath; // a directory's path; the desktop keeps the desktop folder here
  TShellLayout fLayout;
  // Made once per item and kept: collation keys (reset when the locale changes), and
  // the sizes and times of the last enumeration (reset by the next one).
  std::unique_ptr<TNameCollator> fCollator;
  struct TNameHash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const { return std::hash<std::string_view>()(s); }
  };
  std::unordered_map<std::string, TNameKey, TNameHash, std::equal_to<>> fKeys;
  std::unordered_map<std::string, TFacts, TNameHash, std::equal_to<>> fFacts;
  // The last key found for a list's address; used when the name there is still the same.
  struct TKeySlot {
    LPCITEMIDLIST Holder = nullptr;
    const std::string *Name = nullptr;
    const TNameKey *Key = nullptr;
  };
  std::vector<TKeySlot> fKeySlots;
  std::optional<bool> fWritable, fRemovable;
};

// The provider's context menu for items of a folder.
HRESULT NewContextMenu(const ComPtr<TFolder> &folder, const std::vector<TItem> &items,
                       const IID &riid, void **ppv);

// A folder whose entries a folder lists: true when the folder holds a subfolder.
bool HasSubfolder(const std::string &path);

} // namespace plm::shellimpl
