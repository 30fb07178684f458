#pragma once
// A hidden top-level window that exists only to hear "TaskbarCreated": the
// shell announces a new tray (after Explorer restarts, or when the program
// started before the shell's tray existed) to top-level windows alone, and
// the tray window is message-only. The icon is added again when it arrives.
// Being top-level, it also owns the tray menu and the administrator prompt.
#include <windows.h>

#include "app/tray_icon.h"
#include "product_identity.h"

namespace snaplark {

using identity::TaskbarListenerClass;

// Creates the listener (never shown) for `icon`, which must outlive it; null
// if it cannot be made.
HWND CreateTaskbarListener(HINSTANCE instance, TrayIcon& icon);

// Adds the icon. A taskbar that exists but is too busy to take it (at
// sign-in, say) is asked again a few times over some seconds by the
// listener; a taskbar that does not exist yet announces itself later.
void AddTrayIcon(TrayIcon& icon, HWND listener);

// Lets programs of lower integrity reach an elevated copy: the shell's
// "TaskbarCreated" to the listener, a TWAIN source's lease to the tray window.
using MessageFilterCall = BOOL(WINAPI*)(HWND, UINT, DWORD, PCHANGEFILTERSTRUCT);
void LetUnelevatedSendersThrough(HWND tray, HWND listener, MessageFilterCall filter = ChangeWindowMessageFilterEx);

}  // namespace snaplark
