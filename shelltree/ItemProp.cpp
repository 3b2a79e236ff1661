#include "shelltree/ItemProp.h"

#include "platform/gui/Cursors.h"
#include "platform/shell/ShellUI.h"
#include "platform/shell/gui/ShellWindows.h"

#include <memory>

namespace plm {

namespace {

// Whether the menu being shown uses the third form; reset by every call.
bool gForm3 = false;

struct TMenuDeleter {
  void operator()(TShellMenu *m) const { DestroyMenu(m); }
};

} // namespace

void ItemPropInitialize() { InstallWidgetShellUI(); }

TMenuCallbackWindow::TMenuCallbackWindow(IContextMenu2 *menu, bool form3)
    : QWidget(nullptr, Qt::Popup), UserData(menu), Form3(form3) {
  setObjectName(QString::fromLatin1(WindowName));
  setProperty("windowClass", QString::fromLatin1(ClassName));
  setAttribute(Qt::WA_DontShowOnScreen);
}

LRESULT TMenuCallbackWindow::MenuMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  return MenuCallbackWindowProc(this, msg, wParam, lParam);
}

LRESULT MenuCallbackWindowProc(TMenuCallbackWindow *window, UINT msg, WPARAM wParam,
                               LPARAM lParam) {
  if (!window || !window->UserData) return 0;
  switch (msg) {
  case WM_INITMENUPOPUP:
  case WM_DRAWITEM:
  case WM_MEASUREITEM: {
    if (window->Form3) {
      LRESULT ignored = 0;
      static_cast<IContextMenu3 *>(window->UserData.get())
          ->HandleMenuMsg2(msg, wParam, lParam, &ignored);
    } else {
      window->UserData->HandleMenuMsg(msg, wParam, lParam);
    }
    return msg == WM_INITMENUPOPUP ? 0 : 1;
  }
  default: return 0; // the default processing of a window that shows nothing
  }
}

bool ShowItemContextMenu(IShellFolder *folder, const std::vector<LPCITEMIDLIST> &items,
                         const QPoint &screenPoint, HWND owner) {
  gForm3 = false;
  if (!folder || items.empty()) return false;
  ItemPropInitialize();
  TBusyCursor hourglass; // for the whole operation

  ComPtr<IContextMenu> menu1;
  if (FAILED(folder->GetUIObjectOf(owner, static_cast<UINT>(items.size()), items.data(),
                                   IID_IContextMenu, nullptr, menu1.put_void())) ||
      !menu1)
    return false;
  ComPtr<IContextMenu> menu = menu1;
  ComPtr<IContextMenu2> menu2;
  if (SUCCEEDED(menu1->QueryInterface(IID_IContextMenu2, menu2.put_void())) && menu2) {
    menu = ComPtr<IContextMenu>(menu2.get());
    ComPtr<IContextMenu3> menu3;
    if (SUCCEEDED(menu2->QueryInterface(IID_IContextMenu3, menu3.put_void())) && menu3) {
      menu = ComPtr<IContextMenu>(menu3.get());
      menu2 = ComPtr<IContextMenu2>(menu3.get());
      gForm3 = true;
    }
  }

  std::unique_ptr<TShellMenu, TMenuDeleter> popup(CreatePopupMenu());
  if (FAILED(menu->QueryContextMenu(popup.get(), 0, 1, 0x7FFF, CMF_EXPLORE))) return false;

  std::unique_ptr<TMenuCallbackWindow> callback;
  if (menu2) callback = std::make_unique<TMenuCallbackWindow>(menu2.get(), gForm3);

  const UINT command =
      TrackPopupMenuEx(popup.get(), TPM_RETURNCMD | TPM_RIGHTBUTTON, screenPoint.x(),
                       screenPoint.y(), callback ? static_cast<HWND>(callback.get()) : owner);
  bool result = true;
  if (command != 0) {
    CMINVOKECOMMANDINFO ci;
    ci.fMask = 0;
    ci.hwnd = owner;
    ci.lpVerb = MAKEINTRESOURCEA(command - 1);
    ci.nShow = SW_SHOWNORMAL;
    result = menu->InvokeCommand(&ci) == S_OK;
  }
  return result;
}

} // namespace plm
