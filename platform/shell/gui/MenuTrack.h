#pragma once
// Showing a popup menu (TShellMenu) as a real menu window and returning the command
// chosen. A window that implements TMenuMessageTarget receives the menu's messages while
// it is open: WM_INITMENUPOPUP before it shows, WM_MEASUREITEM and WM_DRAWITEM for the
// items it draws itself (MF_OWNERDRAW).
#include "platform/shell/ShellUI.h"

namespace plm {

class TMenuMessageTarget {
public:
  virtual ~TMenuMessageTarget() = default;
  virtual LRESULT MenuMessage(UINT msg, WPARAM wParam, LPARAM lParam) = 0;
};

constexpr UINT TPM_RIGHTBUTTON = 0x0002;
constexpr UINT TPM_RETURNCMD = 0x0100;

// Opens the menu at the screen point (x, y), owned by hwnd (a TMenuMessageTarget when it
// is one), and waits until it closes. Returns the chosen command id, 0 when none.
UINT TrackPopupMenuEx(HMENU menu, UINT flags, int x, int y, HWND hwnd);

} // namespace plm
