#pragma once
// The process-wide state of the tray program: set up once at start-up and read
// by the tray window, the hotkey and the capture window for the whole run.
#include <windows.h>
#include <shellapi.h>

#include "app/tray_protocol.h"
#include "product_identity.h"

namespace snaplark {

struct Settings;
class Camera;

// Fixed identifiers the program shares with the shell and with its own other
// instances.
inline constexpr auto& SingleInstanceMutexName = identity::InstanceMutex;
inline constexpr auto& ProgramTitle = identity::ProductName;
inline constexpr UINT TrayCallbackMessage = WM_USER + 100;
inline constexpr UINT TrayIconId = 1;

inline constexpr wchar_t AlreadyRunningText[] =
    L"Snaplark is already running.\nLook for its icon in the system tray (bottom-right of the taskbar).";

extern HINSTANCE AppInstance;
// The hidden message-only window that owns the tray icon and receives the hotkey.
extern HWND TrayWindow;
// Both live from start-up until after the entry point returns; nothing else
// creates or frees them.
extern Settings* AppSettings;
extern Camera* AppCamera;
// The tray icon as added; balloon notices are sent from copies of it.
extern NOTIFYICONDATAW TrayIconData;

}  // namespace snaplark
