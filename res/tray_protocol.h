#pragma once
// What other programs of the product may say to a running tray program: its
// window is message-only, found by class under HWND_MESSAGE.
#include <windows.h>

#include "product_identity.h"

namespace snaplark {

using identity::TrayWindowClass;

// Sent by the TWAIN data source while its window is open: wParam TRUE lends
// the capture key to the window in lParam (the tray lets go of its hotkey, so
// that the key scans there instead of copying to the clipboard); FALSE hands
// it back. A lender whose window is gone gets the key back by itself.
inline constexpr UINT TrayHotkeyLeaseMessage = WM_APP + 0x42;

}  // namespace snaplark
