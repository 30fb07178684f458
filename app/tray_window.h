#pragma once
// The tray window's procedure: what the icon's clicks and menu commands do.
#include <windows.h>

namespace snaplark {

inline constexpr WORD TrayCmdOpen = 2001;
inline constexpr WORD TrayCmdInstallTwain = 2002;
inline constexpr WORD TrayCmdExit = 2003;
inline constexpr WORD TrayCmdSupport = 2004;

// The window's TrayProgram comes as its creation parameter.
LRESULT CALLBACK TrayWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace snaplark
