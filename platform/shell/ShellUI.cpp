#include "platform/shell/ShellUI.h"

#include <atomic>

namespace plm {

namespace {
std::atomic<TShellUI *> gUI{nullptr};
}

TShellUI *ShellUI() { return gUI.load(); }
TShellUI *SetShellUI(TShellUI *ui) { return gUI.exchange(ui); }

HMENU CreatePopupMenu() { return new TShellMenu; }

bool DestroyMenu(HMENU menu) {
  delete menu;
  return menu != nullptr;
}

bool InsertMenuA(HMENU menu, UINT pos, UINT flags, uintptr_t id, const char *item) {
  if (!menu) return false;
  TShellMenuItem it;
  it.Id = static_cast<UINT>(id);
  it.Flags = flags & ~MF_BYPOSITION;
  if (flags & MF_OWNERDRAW) it.Data = reinterpret_cast<uintptr_t>(item);
  else if (item && !(flags & MF_SEPARATOR)) it.Text = item;
  const size_t at = std::min<size_t>(pos, menu->Items.size());
  menu->Items.insert(menu->Items.begin() + static_cast<std::ptrdiff_t>(at), std::move(it));
  return true;
}

int GetMenuItemCount(HMENU menu) { return menu ? static_cast<int>(menu->Items.size()) : -1; }

bool SetMenuDefaultItem(HMENU menu, UINT id, UINT byPos) {
  if (!menu) return false;
  if (byPos) {
    if (id >= menu->Items.size()) return false;
    menu->DefaultId = static_cast<int>(menu->Items[id].Id);
  } else {
    menu->DefaultId = id == UINT(-1) ? -1 : static_cast<int>(id);
  }
  return true;
}

} // namespace plm
