#include "app/tray_window.h"

#include <shellapi.h>

#include <utility>

#include "app/app_state.h"
#include "app/capture_window_from_tray.h"
#include "app/hotkey_lending.h"
#include "app/tray_menu.h"
#include "app/tray_notices.h"
#include "app/tray_texts.h"
#include "app/twain_installer.h"
#include "camera/camera.h"
#include "camera/dib_block.h"
#include "handles/win_handles.h"
#include "settings/settings.h"
#include "ui/clipboard.h"
#include "ui/shell_call.h"

namespace snaplark {
namespace {

// The icon goes before the loop ends, so it never lingers in the tray after exit.
void RemoveIconAndQuit() {
  NotifyShell(NIM_DELETE, &TrayIconData);
  PostQuitMessage(0);
}

// One snapshot onto the clipboard; the notice to show, or null when the
// clipboard could not even be opened.
const wchar_t* SnapshotToClipboard(HWND tray) {
  GlobalMemory block = SnapshotDib(*AppCamera);
  if (!block) return CaptureFailedNotice;
  switch (PutOnClipboard(tray, CF_DIB, [&block] { return std::move(block); })) {
    case ClipboardOutcome::Busy:
      return nullptr;
    case ClipboardOutcome::Placed:
      return CapturedNotice;
    default:
      return ClipboardRefusedNotice;
  }
}

// The global hotkey: a frame of the saved camera onto the clipboard, with no
// window and no file. The camera stays open for the next press.
void CaptureFromHotkey(HWND tray) {
  if (!AppCamera->IsOpen() && AppSettings && !AppSettings->DeviceSymLink.empty()) {
    AppCamera->Open(std::wstring(AppSettings->DeviceSymLink));
  }
  if (!AppCamera->IsOpen()) {
    ShowTrayNotice(ProgramTitle, NoCameraNotice);
    return;
  }
  if (const wchar_t* notice = SnapshotToClipboard(tray)) ShowTrayNotice(ProgramTitle, notice);
}

void RunCommand(HWND tray, WORD id) {
  switch (id) {
    case TrayCmdOpen:
      OpenCaptureWindowFromTray();
      break;
    case TrayCmdInstallTwain:
      // The boxes stand alone; the administrator prompt needs a window to come
      // to the front for, or it only flashes in the taskbar.
      InstallTwainSource(nullptr, AppInstance, TrayMenuOwner(tray));
      break;
    case TrayCmdExit:
      RemoveIconAndQuit();
      break;
    case TrayCmdSupport:
      OpenSupportPage(TrayMenuOwner(tray));
      break;
    default:
      break;
  }
}

}  // namespace

LRESULT CALLBACK TrayWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_DESTROY:
      RemoveIconAndQuit();
      break;
    case WM_COMMAND:
      RunCommand(window, LOWORD(wParam));
      break;
    case WM_HOTKEY:
      if (wParam == CaptureHotkeyId) CaptureFromHotkey(window);
      break;
    case TrayHotkeyLeaseMessage:
      AnswerHotkeyLease(wParam, lParam);
      return TRUE;
    case WM_TIMER:
      if (wParam == BorrowerWatchTimerId) WatchHotkeyBorrower();
      break;
    case TrayCallbackMessage:
      // A double click's first button-up has opened the window already.
      if (lParam == WM_LBUTTONUP || lParam == WM_LBUTTONDBLCLK) OpenCaptureWindowFromTray();
      if (lParam == WM_RBUTTONUP) ShowTrayMenu(window);
      break;
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace snaplark
