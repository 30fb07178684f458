#include "app/tray_window.h"

#include <shellapi.h>

#include "app/app_state.h"
#include "app/capture_window_from_tray.h"

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
      if (LOWORD(wParam) == TrayCmdOpen) OpenCaptureWindowFromTray();
      if (LOWORD(wParam) == TrayCmdExit) RemoveIconAndQuit();
      break;
    case TrayCallbackMessage:
      // A double click's first button-up has opened the window already.
      if (lParam == WM_LBUTTONUP || lParam == WM_LBUTTONDBLCLK) OpenCaptureWindowFromTray();
      break;
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace snaplark
