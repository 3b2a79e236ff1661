#include "shelltree/Pidl.h"

#include "platform/Exceptions.h"
#include "shelltree/ShellNode.h"

#include <cstring>

namespace plm {

namespace {

uint16_t SizeAt(LPCITEMIDLIST p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

// Calls visit(offset, size) for each whole item inside the list's block; stops at the
// terminator, at a size field that does not fit, and at an item that would run past it.
template <class F> void WalkItems(LPCITEMIDLIST list, F visit) {
  if (!list) return;
  const size_t avail = SHBytesAvailable(list);
  size_t pos = 0;
  while (avail - pos >= 2) {
    const uint16_t s = SizeAt(list + pos);
    if (s < 2 || s > avail - pos) return; // the terminator, or bytes that cannot be an item
    if (!visit(pos, s)) return;
    pos += s;
  }
}

} // namespace

int PidlItemCount(LPCITEMIDLIST list) {
  int n = 0;
  WalkItems(list, [&](size_t, uint16_t) { return ++n, true; });
  return n;
}

size_t PidlSize(LPCITEMIDLIST list) {
  size_t total = 0;
  WalkItems(list, [&](size_t, uint16_t s) { return total += s, true; });
  return total;
}

LPITEMIDLIST PidlCopy(IMalloc *malloc, LPCITEMIDLIST source) {
  if (!source) return nullptr;
  const size_t n = PidlSize(source);
  auto *p = static_cast<LPITEMIDLIST>(malloc->Alloc(n + 2));
  if (!p) throw EOutOfMemory("Mémoire insuffisante");
  std::memcpy(p, source, n);
  p[n] = p[n + 1] = 0;
  return p;
}

LPITEMIDLIST PidlAppend(IMalloc *malloc, TShellnode *parent, LPCITEMIDLIST rel) {
  LPCITEMIDLIST parentAbs = parent ? parent->Info.AbsPidl : nullptr;
  size_t s = 0;
  WalkItems(rel, [&](size_t, uint16_t size) { return s = size, false; });
  if (s == 0) return PidlCopy(malloc, parentAbs);
  // The parent's absolute list whether or not its folder can be bound now: a child's list
  // without its parent's items would name another item.
  const size_t p = PidlSize(parentAbs);
  auto *out = static_cast<LPITEMIDLIST>(malloc->Alloc(p + s + 2));
  if (!out || malloc->GetSize(out) < p + s + 2) {
    if (out) malloc->Free(out);
    throw EOutOfMemory("Mémoire insuffisante");
  }
  if (p) std::memcpy(out, parentAbs, p);
  std::memcpy(out + p, rel, s);
  out[p + s] = out[p + s + 1] = 0;
  return out;
}

void PidlFree(IMalloc *malloc, LPITEMIDLIST &list) {
  if (list && malloc->DidAlloc(list) == 1) malloc->Free(list);
  list = nullptr;
}

bool PidlRemoveLast(LPITEMIDLIST list) {
  size_t last = 0;
  int n = 0;
  WalkItems(list, [&](size_t pos, uint16_t) { return last = pos, ++n, true; });
  if (n < 2) return false;
  list[last] = list[last + 1] = 0;
  return true;
}

bool PidlSameItem(int k, LPCITEMIDLIST list, LPCITEMIDLIST item) {
  if (!list || !item || k < 0 || PidlItemCount(list) < k) return false;
  size_t at = 0;
  int skipped = 0;
  WalkItems(list, [&](size_t pos, uint16_t s) {
    if (skipped == k) return false;
    at = pos + s;
    return ++skipped, true;
  });
  const size_t availList = SHBytesAvailable(list), availItem = SHBytesAvailable(item);
  if (availList - at < 2 || availItem < 2) return false;
  const uint16_t s = SizeAt(list + at);
  if (s != SizeAt(item)) return false;
  if (s < 3) return true;
  if (s > availList - at || s > availItem) return false;
  return std::memcmp(list + at + 2, item + 2, s - 2) == 0;
}

std::string PidlToPath(LPCITEMIDLIST abs) {
  char buffer[MAX_PATH];
  if (!SHGetPathFromIDListA(abs, buffer)) buffer[0] = 0;
  return buffer;
}

std::string DisplayNameOf(IShellFolder *folder, LPCITEMIDLIST rel, SHGDNF flags) {
  if (!folder) return {};
  auto ask = [&](SHGDNF f, std::string &out) {
    STRRET sr;
    folder->GetDisplayNameOf(rel, f, &sr); // a failure leaves the record naming nothing
    return StrRetToString(sr, rel, out);
  };
  std::string name;
  if (ask(flags, name) && !(flags == SHGDN_NORMAL && name.empty())) return name;
  if (flags == SHGDN_NORMAL && ask(SHGDN_FORPARSING, name)) return name;
  return {};
}

} // namespace plm
