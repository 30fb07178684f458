#pragma once
// Fixed identifiers the tray program shares with the shell and with its own
// other instances.
#include <windows.h>

#include "product_identity.h"
#include "res/tray_protocol.h"

namespace snaplark {

inline constexpr auto& SingleInstanceMutexName = identity::InstanceMutex;
inline constexpr auto& ProgramTitle = identity::ProductName;
inline constexpr UINT TrayCallbackMessage = WM_USER + 100;
inline constexpr UINT TrayIconId = 1;

inline constexpr wchar_t AlreadyRunningText[] =
    L"" SNAPLARK_PRODUCT " is already running.\nLook for its icon in the system tray (bottom-right of the taskbar).";

}  // namespace snaplark
