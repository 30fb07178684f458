#pragma once
// The tray window's procedure: what the icon's clicks and menu commands do.
#include <windows.h>

namespace snaplark {

// The window's TrayProgram comes as its creation parameter.
LRESULT CALLBACK TrayWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace snaplark
