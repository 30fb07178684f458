#pragma once
// While the source's window is open, a running tray program lends it the
// capture key: the tray holds the key as a global hotkey, which would beat
// the window's own registration and copy to the clipboard instead of scanning.
#include <windows.h>

namespace snaplark {

class TrayHotkeyLease {
 public:
  // Asks the tray, if one runs, to let go of the key for `holder`'s sake.
  explicit TrayHotkeyLease(HWND holder);
  // Hands the key back.
  ~TrayHotkeyLease();
  TrayHotkeyLease(const TrayHotkeyLease&) = delete;
  TrayHotkeyLease& operator=(const TrayHotkeyLease&) = delete;

 private:
  HWND tray_;
  HWND holder_;
};

}  // namespace snaplark
