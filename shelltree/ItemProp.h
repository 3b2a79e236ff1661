#pragma once
// The shell's own context menu for items of a folder, shown at a screen point; the shell
// carries out the command the user picks.
#include "platform/shell/ShellApi.h"
#include "platform/shell/gui/MenuTrack.h"

#include <QPoint>
#include <QWidget>

#include <vector>

namespace plm {

// Module start: installs the provider's windows (name prompt, properties, messages)
// unless another user interface is installed. Safe to call again.
void ItemPropInitialize();

// Shows the menu of items (one-item lists of folder) at screenPoint, owned by owner, and
// runs the chosen command. False when no menu could be had or filled, or when the chosen
// command did not succeed; true otherwise (also when the menu was dismissed).
bool ShowItemContextMenu(IShellFolder *folder, const std::vector<LPCITEMIDLIST> &items,
                         const QPoint &screenPoint, HWND owner);

// The hidden window that hands the menu's messages to the second and third interface
// forms while the menu is open ("ItemPropCallbackProcessor" of "ItemPropMenuCallbackHelper").
class TMenuCallbackWindow : public QWidget, public TMenuMessageTarget {
public:
  static constexpr const char *ClassName = "ItemPropMenuCallbackHelper";
  static constexpr const char *WindowName = "ItemPropCallbackProcessor";
  // menu is kept (one reference) for the window's life; form3 tells which form it is.
  TMenuCallbackWindow(IContextMenu2 *menu, bool form3);
  LRESULT MenuMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;

  ComPtr<IContextMenu2> UserData;
  bool Form3;
};

// The callback window's message routine.
LRESULT MenuCallbackWindowProc(TMenuCallbackWindow *window, UINT msg, WPARAM wParam,
                               LPARAM lParam);

} // namespace plm
