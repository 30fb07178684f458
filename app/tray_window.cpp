#include "app/tray_window.h"

#include <shellapi.h>

#include "app/app_state.h"
#include "app/capture_window_from_tray.h"
#include "app/hotkey_lending.h"
#include "app/tray_menu.h"
#include "app/tray_program.h"
#include "app/tray_texts.h"
#include "app/twain_installer.h"
#include "handles/win_handles.h"
#include "ui/clipboard.h"
#include "ui/shell_call.h"

namespace snaplark {
namespace {

// The icon goes before the loop ends, so it never lingers in the tray after exit.
void RemoveIconAndQuit(TrayProgram& program) {
  program.icon.Remove();
  PostQuitMessage(0);
}

// One snapshot onto the clipboard; the notice to show, or null when the
// clipboard could not even be opened.
const wchar_t* SnapshotToClipboard(TrayProgram& program) {
  switch (PutSnapshotOnClipboard(program.window, program.camera)) {
    case ClipboardOutcome::NoBlock:
      return CaptureFailedNotice;
    case ClipboardOutcome::Busy:
      return nullptr;
    case ClipboardOutcome::Placed:
      return CapturedNotice;
    case ClipboardOutcome::Refused:
      break;
  }
  return ClipboardRefusedText;
}

// The global hotkey: a frame of the saved camera onto the clipboard, with no
// window and no file.
void CaptureFromHotkey(TrayProgram& program) {
  if (!program.camera.IsOpen() && !program.settings.DeviceSymLink.empty()) {
    program.camera.Open(std::wstring(program.settings.DeviceSymLink));
  }
  if (!program.camera.IsOpen()) {
    program.icon.ShowNotice(NoCameraNotice);
    return;
  }
  if (const wchar_t* notice = SnapshotToClipboard(program)) program.icon.ShowNotice(notice);
}

void RunCommand(TrayProgram& program, WORD id) {
  switch (id) {
    case TrayCmdOpen:
      OpenCaptureWindowFromTray(program);
      break;
    case TrayCmdInstallTwain:
      // The boxes stand alone; the administrator prompt needs a window to come
      // to the front for, or it only flashes in the taskbar.
      InstallTwainSource(nullptr, program.instance, program.MenuOwner());
      break;
    case TrayCmdExit:
      RemoveIconAndQuit(program);
      break;
    case TrayCmdSupport:
      OpenSupportPage(program.MenuOwner());
      break;
    default:
      break;
  }
}

// Returns true when the message needs no default handling.
bool Handle(TrayProgram& program, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_DESTROY:
      RemoveIconAndQuit(program);
      break;
    case WM_COMMAND:
      RunCommand(program, LOWORD(wParam));
      break;
    case WM_HOTKEY:
      if (wParam == CaptureHotkeyId) CaptureFromHotkey(program);
      break;
    case TrayHotkeyLeaseMessage:
      AnswerHotkeyLease(program, wParam, lParam);
      return true;
    case WM_TIMER:
      if (wParam == BorrowerWatchTimerId) WatchHotkeyBorrower(program);
      break;
    case TrayCallbackMessage:
      // A double click's first button-up has opened the window already.
      if (lParam == WM_LBUTTONUP || lParam == WM_LBUTTONDBLCLK) OpenCaptureWindowFromTray(program);
      if (lParam == WM_RBUTTONUP) ShowTrayMenu(program.window, program.MenuOwner());
      break;
    default:
      break;
  }
  return false;
}

}  // namespace

LRESULT CALLBACK TrayWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  TrayProgram* program = TrayProgram::Of(window);
  if (program && Handle(*program, message, wParam, lParam)) return TRUE;
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace snaplark
