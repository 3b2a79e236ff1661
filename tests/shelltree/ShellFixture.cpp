#include "tests/shelltree/ShellFixture.h"

#include "platform/TempDir.h"

#include <cstdlib>
#include <cstring>
#include <fstream>

#include <sys/stat.h>
#include <unistd.h>

namespace shelltest {

using namespace plm;

const std::string &Home() {
  static const std::string home = [] {
    const char *h = std::getenv("HOME");
    return std::string(h ? h : "");
  }();
  return home;
}

void TempTree::SetUp() {
  std::string tmpl = Home() + "/tree-XXXXXX";
  ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
  fRoot = tmpl;
  fBlocksAtStart = SHMallocBlockCount();
}

void TempTree::TearDown() {
  ::chmod(fRoot.c_str(), 0755);
  DeleteEntryNoFollow(fRoot);
  // Every list a test took from the allocator went back to it.
  EXPECT_EQ(SHMallocBlockCount(), fBlocksAtStart);
}

void TempTree::MakeDir(const std::string &rel, unsigned mode) const {
  ASSERT_EQ(::mkdir(Path(rel).c_str(), mode), 0) << rel;
  ::chmod(Path(rel).c_str(), mode);
}

void TempTree::MakeFile(const std::string &rel, const std::string &content) const {
  std::ofstream(Path(rel), std::ios::binary) << content;
}

void TempTree::MakeLink(const std::string &target, const std::string &rel) const {
  ASSERT_EQ(::symlink(target.c_str(), Path(rel).c_str()), 0) << rel;
}

LPITEMIDLIST Parse(const std::string &path, ULONG *attributes) {
  ComPtr<IShellFolder> desktop;
  SHGetDesktopFolder(desktop.put());
  const std::u16string w = WideFromBytes(path);
  LPITEMIDLIST pidl = nullptr;
  ULONG a = SFGAO_VALIDATE;
  if (FAILED(desktop->ParseDisplayName(nullptr, nullptr, w.c_str(), nullptr, &pidl,
                                       attributes ? attributes : &a)))
    return nullptr;
  return pidl;
}

ComPtr<IShellFolder> FolderOf(const std::string &path) {
  ComPtr<IShellFolder> desktop, folder;
  SHGetDesktopFolder(desktop.put());
  LPITEMIDLIST pidl = Parse(path);
  if (!pidl) return {};
  desktop->BindToObject(pidl, nullptr, IID_IShellFolder, folder.put_void());
  Free(pidl);
  return folder;
}

std::vector<std::string> EnumNames(IShellFolder *folder, SHCONTF flags) {
  std::vector<std::string> names;
  ComPtr<IEnumIDList> e;
  if (folder->EnumObjects(nullptr, flags, e.put()) != S_OK) return names;
  LPITEMIDLIST item;
  ULONG n;
  while (e->Next(1, &item, &n) == S_OK && n == 1) {
    names.push_back(NameOf(folder, item, SHGDN_INFOLDER | SHGDN_FORPARSING));
    Free(item);
  }
  return names;
}

std::string NameOf(IShellFolder *folder, LPCITEMIDLIST item, SHGDNF flags, UINT *form) {
  STRRET sr;
  std::string name;
  if (FAILED(folder->GetDisplayNameOf(item, flags, &sr))) return "<failed>";
  if (form) *form = sr.uType;
  if (!StrRetToString(sr, item, name)) return "<unusable>";
  return name;
}

void Free(LPITEMIDLIST p) {
  IMalloc *m;
  SHGetMalloc(&m);
  m->Free(p);
}

LPITEMIDLIST Bytes(const std::vector<uint8_t> &bytes) {
  IMalloc *m;
  SHGetMalloc(&m);
  auto *p = static_cast<LPITEMIDLIST>(m->Alloc(bytes.size()));
  if (!bytes.empty()) std::memcpy(p, bytes.data(), bytes.size());
  return p;
}

} // namespace shelltest
