// plmtool ls: a folder's children as the folder tree enumerates them, in its order.
#include "tools/Commands.h"

#include "platform/shell/ShellApi.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

using namespace plm;

constexpr SFGAOF kTreeAttributes = 0xF60B0177;

int Fail(const std::string &message) {
  std::fprintf(stderr, "plmtool ls: %s\n", message.c_str());
  return 1;
}

std::string NameOf(IShellFolder *folder, LPCITEMIDLIST item, SHGDNF flags) {
  STRRET sr;
  std::string name;
  if (FAILED(folder->GetDisplayNameOf(item, flags, &sr)) || !StrRetToString(sr, item, name))
    return {};
  return name;
}

int Ls(const std::vector<std::string> &args) {
  bool files = false, hidden = false;
  std::vector<std::string> paths;
  for (const std::string &a : args) {
    if (a == "--files") files = true;
    else if (a == "--hidden") hidden = true;
    else if (a.compare(0, 2, "--") == 0 && a != "--") {
      std::fprintf(stderr, "plmtool ls: unknown option '%s'\n", a.c_str());
      return 2;
    } else paths.push_back(a);
  }
  if (paths.size() > 1) {
    std::fputs("usage: plmtool ls [--files] [--hidden] [PATH]\n", stderr);
    return 2;
  }
  IMalloc *malloc = nullptr;
  ComPtr<IShellFolder> desktop;
  if (FAILED(SHGetMalloc(&malloc)) || FAILED(SHGetDesktopFolder(desktop.put())))
    return Fail("the shell namespace is not available");

  ComPtr<IShellFolder> folder = desktop;
  if (!paths.empty()) {
    const std::u16string wide = WideFromBytes(paths[0]);
    LPITEMIDLIST pidl = nullptr;
    ULONG attributes = SFGAO_VALIDATE | SFGAO_FOLDER;
    if (FAILED(desktop->ParseDisplayName(nullptr, nullptr, wide.c_str(), nullptr, &pidl,
                                         &attributes)))
      return Fail("'" + paths[0] + "' is not an existing absolute path");
    HRESULT hr = E_FAIL;
    if (attributes & SFGAO_FOLDER)
      hr = desktop->BindToObject(pidl, nullptr, IID_IShellFolder, folder.put_void());
    malloc->Free(pidl);
    if (FAILED(hr)) return Fail("'" + paths[0] + "' is not a folder");
  }

  ComPtr<IEnumIDList> items;
  const SHCONTF flags = SHCONTF_FOLDERS | (files ? SHCONTF_NONFOLDERS : 0) |
                        (hidden ? SHCONTF_INCLUDEHIDDEN : 0);
  if (folder->EnumObjects(nullptr, flags, items.put()) != S_OK || !items)
    return Fail("cannot read '" + (paths.empty() ? std::string("desktop") : paths[0]) + "'");
  std::vector<LPITEMIDLIST> children;
  LPITEMIDLIST item = nullptr;
  ULONG fetched = 0;
  items->Reset();
  while (items->Next(1, &item, &fetched) == S_OK && fetched == 1) children.push_back(item);

  std::sort(children.begin(), children.end(), [&](LPCITEMIDLIST a, LPCITEMIDLIST b) {
    const HRESULT r = folder->CompareIDs(0, a, b);
    return SUCCEEDED(r) && HRESULT_CODE(r) == 0xFFFF;
  });
  for (LPITEMIDLIST child : children) {
    SFGAOF attributes = kTreeAttributes;
    LPCITEMIDLIST one = child;
    if (FAILED(folder->GetAttributesOf(1, &one, &attributes))) attributes = 0;
    const std::string normal = NameOf(folder.get(), child, SHGDN_NORMAL);
    const std::string parsing = NameOf(folder.get(), child, SHGDN_FORPARSING);
    std::printf("%08X\t", attributes);
    std::fwrite(normal.data(), 1, normal.size(), stdout);
    std::fputc('\t', stdout);
    std::fwrite(parsing.data(), 1, parsing.size(), stdout);
    std::fputc('\n', stdout);
    malloc->Free(child);
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}

} // namespace

PLM_COMMAND("ls", "ls [--files] [--hidden] [PATH]   a folder's children as the folder tree lists them", Ls);
