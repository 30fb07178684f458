#pragma once
// The tray icon's popup menu.
#include <windows.h>

namespace snaplark {

// "Open Snaplark", separator, the TWAIN item (greyed "TWAIN source:
// installed" while the data source is in place), "Submit Support Ticket...",
// separator, "Exit". The caller owns the menu.
HMENU BuildTrayMenu();

// Shows the menu at the cursor and posts the chosen command to the tray
// window, to be carried out once the menu is gone.
void ShowTrayMenu(HWND tray);

}  // namespace snaplark
