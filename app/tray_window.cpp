#include "app/tray_window.h"

#include <shellapi.h>

#include "app/app_state.h"

namespace snaplark {
namespace {

// The icon goes before the loop ends, so it never lingers in the tray after exit.
void RemoveIconAndQuit() {
  Shell_NotifyIconW(NIM_DELETE, &TrayIconData);
  PostQuitMessage(0);
}

}  // namespace

LRESULT CALLBACK TrayWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_DESTROY:
      RemoveIconAndQuit();
      break;
    case WM_COMMAND:
      if (LOWORD(wParam) == TrayCmdExit) RemoveIconAndQuit();
      break;
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace snaplark
