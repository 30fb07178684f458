#include "app/taskbar_listener.h"

#include "app/app_state.h"
#include "app/tray_notices.h"

namespace snaplark {
namespace {

constexpr UINT_PTR IconRetryTimerId = 1;
constexpr UINT IconRetryPeriodMs = 1500;
constexpr LONG_PTR IconRetries = 6;

UINT TaskbarCreatedMessage = 0;

// A shell that timed out on an earlier NIM_ADD may have added the icon all
// the same: then only a NIM_MODIFY succeeds.
bool IconInTray() { return NotifyShell(NIM_ADD, &TrayIconData) || NotifyShell(NIM_MODIFY, &TrayIconData); }

// The retries left are kept in the listener's user data.
void RetryIcon(HWND listener) {
  const LONG_PTR left = GetWindowLongPtrW(listener, GWLP_USERDATA) - 1;
  SetWindowLongPtrW(listener, GWLP_USERDATA, left);
  if (IconInTray() || left <= 0) KillTimer(listener, IconRetryTimerId);
}

LRESULT CALLBACK TaskbarListenerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (TaskbarCreatedMessage != 0 && message == TaskbarCreatedMessage) AddTrayIcon(window);
  if (message == WM_TIMER && wParam == IconRetryTimerId) RetryIcon(window);
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

HWND CreateTaskbarListener(HINSTANCE instance) {
  TaskbarCreatedMessage = RegisterWindowMessageW(L"TaskbarCreated");
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = TaskbarListenerProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = TaskbarListenerClass;
  RegisterClassExW(&windowClass);
  return CreateWindowExW(WS_EX_TOOLWINDOW, TaskbarListenerClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                         instance, nullptr);
}

void AddTrayIcon(HWND listener) {
  if (NotifyShell(NIM_ADD, &TrayIconData) || !listener || !FindWindowW(L"Shell_TrayWnd", nullptr)) return;
  SetWindowLongPtrW(listener, GWLP_USERDATA, IconRetries);
  SetTimer(listener, IconRetryTimerId, IconRetryPeriodMs, nullptr);
}

void LetUnelevatedSendersThrough(HWND tray, HWND listener, MessageFilterCall filter) {
  const UINT taskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
  if (listener && taskbarCreated != 0) filter(listener, taskbarCreated, MSGFLT_ALLOW, nullptr);
  if (tray) filter(tray, TrayHotkeyLeaseMessage, MSGFLT_ALLOW, nullptr);
}

}  // namespace snaplark
