#pragma once
// What the provider's commands show a person, and the popup menus its context menu fills.
// The windows themselves are the graphical layer's (platform/shell/gui); tests install
// their own.
#include "platform/shell/ShellApi.h"

#include <optional>
#include <string>
#include <vector>

namespace plm {

// An item's properties, as texts ready to show.
struct TItemProperties {
  std::string Name;
  std::string Type;
  std::string Location;
  std::string Size;
  std::string Modified;
  std::string Permissions;
};

class TShellUI {
public:
  virtual ~TShellUI() = default;
  // A name the user typed, or nothing when they cancelled.
  virtual std::optional<std::string> AskName(HWND owner, const std::string &title,
                                             const std::string &prompt,
                                             const std::string &initial) = 0;
  virtual void ShowError(HWND owner, const std::string &text) = 0;
  virtual void ShowProperties(HWND owner, const TItemProperties &properties) = 0;
};

// The user interface in use (null: commands that need one fail quietly).
TShellUI *ShellUI();
// Installs ui (not owned; null removes it). Returns the previous one.
TShellUI *SetShellUI(TShellUI *ui);

// Popup menus: a list of commands that a menu window shows (TrackPopupMenuEx).
constexpr UINT MF_STRING = 0x0000;
constexpr UINT MF_GRAYED = 0x0001;
constexpr UINT MF_DISABLED = 0x0002;
constexpr UINT MF_OWNERDRAW = 0x0100;
constexpr UINT MF_BYPOSITION = 0x0400;
constexpr UINT MF_SEPARATOR = 0x0800;

struct TShellMenuItem {
  UINT Id = 0;
  UINT Flags = MF_STRING;
  std::string Text;   // UTF-8; "&" marks the access key
  uintptr_t Data = 0; // an owner-drawn item's data
};

class TShellMenu {
public:
  std::vector<TShellMenuItem> Items;
  int DefaultId = -1; // the command shown in bold, -1 for none
};

HMENU CreatePopupMenu();
bool DestroyMenu(HMENU menu);
// Inserts before position pos (MF_BYPOSITION; at the end when pos is past it). For
// MF_OWNERDRAW, item is the item's data instead of a text.
bool InsertMenuA(HMENU menu, UINT pos, UINT flags, uintptr_t id, const char *item);
int GetMenuItemCount(HMENU menu);
bool SetMenuDefaultItem(HMENU menu, UINT id, UINT byPos);

} // namespace plm
