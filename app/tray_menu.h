#pragma once
// The tray icon's popup menu.
#include <windows.h>

namespace snaplark {

// The menu's commands, carried out by the tray window.
inline constexpr WORD TrayCmdOpen = 2001;
inline constexpr WORD TrayCmdInstallTwain = 2002;
inline constexpr WORD TrayCmdExit = 2003;
inline constexpr WORD TrayCmdSupport = 2004;

// "Open Snaplark", separator, the TWAIN item (greyed "TWAIN source:
// installed" while the data source is in place), "Submit Support Ticket...",
// separator, "Exit". The caller owns the menu.
HMENU BuildTrayMenu();

// The calls that show the menu, which a test may replace to see them.
struct TrayMenuCalls {
  BOOL(WINAPI* setForeground)(HWND) = SetForegroundWindow;
  BOOL(WINAPI* track)(HMENU, UINT, int, int, int, HWND, const RECT*) = TrackPopupMenu;
  BOOL(WINAPI* post)(HWND, UINT, WPARAM, LPARAM) = PostMessageW;
};

// Shows the menu at the cursor and posts the chosen command to the tray
// window, to be carried out once the menu is gone. A popup menu stays open
// after a click elsewhere unless its owner is the foreground window, which a
// message-only window can never be: `owner` is a hidden top-level window of
// the program, or the tray window when there is none.
void ShowTrayMenu(HWND tray, HWND owner, const TrayMenuCalls& calls = {});

}  // namespace snaplark
