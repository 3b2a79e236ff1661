#pragma once
// Helpers on item identifier lists. Walks never go past the allocator's block that holds
// a list, whatever its size fields say.
#include "platform/shell/ShellApi.h"

#include <string>

namespace plm {

class TShellnode;

// The number of items; 0 for null and for the empty list.
int PidlItemCount(LPCITEMIDLIST list);
// The sum of the items' size fields, terminator not counted; 0 for null.
size_t PidlSize(LPCITEMIDLIST list);
// A copy from the allocator, terminator included; null for a null source. Raises
// EOutOfMemory when the allocator has no memory.
LPITEMIDLIST PidlCopy(IMalloc *malloc, LPCITEMIDLIST source);
// The parent node's absolute list followed by the first item of rel (the parent's list
// alone when rel is empty). Raises EOutOfMemory.
LPITEMIDLIST PidlAppend(IMalloc *malloc, TShellnode *parent, LPCITEMIDLIST rel);
// Frees the list when the allocator owns it; list becomes null in every case.
void PidlFree(IMalloc *malloc, LPITEMIDLIST &list);
// Cuts the last item off a list of two items or more (true); shorter lists stay as they are.
bool PidlRemoveLast(LPITEMIDLIST list);
// Whether the (k+1)-th item of list equals the first item of item, byte for byte.
bool PidlSameItem(int k, LPCITEMIDLIST list, LPCITEMIDLIST item);
// The file-system path of an absolute list; empty for items without one.
std::string PidlToPath(LPCITEMIDLIST abs);
// The item's display name (SHGDN_ flags); flags 0 falls back to the parsing name; empty
// when the folder gives none.
std::string DisplayNameOf(IShellFolder *folder, LPCITEMIDLIST rel, SHGDNF flags);

} // namespace plm
