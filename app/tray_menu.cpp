#include "app/tray_menu.h"

#include "app/twain_installer.h"
#include "handles/win_handles.h"
#include "product_identity.h"

namespace snaplark {

HMENU BuildTrayMenu() {
  HMENU menu = CreatePopupMenu();
  if (!menu) return nullptr;
  AppendMenuW(menu, MF_STRING, TrayCmdOpen, L"Open " SNAPLARK_PRODUCT);
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  if (TwainSourceInstalled()) {
    AppendMenuW(menu, MF_STRING | MF_GRAYED, TrayCmdInstallTwain, L"TWAIN source: installed");
  } else {
    AppendMenuW(menu, MF_STRING, TrayCmdInstallTwain, L"Install TWAIN source (admin)...");
  }
  AppendMenuW(menu, MF_STRING, TrayCmdSupport, L"Submit Support Ticket...");
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING, TrayCmdExit, L"Exit");
  return menu;
}

void ShowTrayMenu(HWND tray, HWND owner, const TrayMenuCalls& calls) {
  POINT cursor{};
  GetCursorPos(&cursor);
  UniqueMenu menu(BuildTrayMenu());
  if (!menu) return;
  calls.setForeground(owner);
  const UINT chosen = static_cast<UINT>(
      calls.track(menu.Get(), TPM_RETURNCMD | TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, owner, nullptr));
  // Without a message after the menu, a second right click may open a menu
  // that at once closes again.
  calls.post(owner, WM_NULL, 0, 0);
  menu.Reset();
  if (chosen >= TrayCmdOpen && chosen <= TrayCmdSupport) calls.post(tray, WM_COMMAND, chosen, 0);
}

}  // namespace snaplark
