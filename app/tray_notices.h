#pragma once
// The tray's balloon notices and its registration of the global capture key.
#include <windows.h>
#include <shellapi.h>

namespace snaplark {

// Everything the program hands to the shell's tray goes through this call
// (Shell_NotifyIconW), so that a test can see exactly what was handed over.
using NotifyShellCall = BOOL(WINAPI*)(DWORD message, PNOTIFYICONDATAW data);
extern NotifyShellCall NotifyShell;

// A balloon notice on the tray icon, from a copy of TrayIconData.
void ShowTrayNotice(const wchar_t* title, const wchar_t* text);

enum class HotkeyNotice { Always, OnlyIfFailed };

// (Re)registers the capture key on the tray window and says how that went.
// Nothing is registered while the key is lent to the TWAIN source's window.
void RegisterTrayHotkey(HotkeyNotice notice = HotkeyNotice::Always);

}  // namespace snaplark
