#include "app/taskbar_listener.h"

#include "res/tray_protocol.h"

namespace snaplark {
namespace {

constexpr UINT_PTR IconRetryTimerId = 1;
constexpr UINT IconRetryPeriodMs = 1500;
constexpr int IconRetries = 6;

// The same number for every caller in the session, so it is asked for, not
// kept; registered messages are numbered from 0xC000, so only those need ask.
UINT TaskbarCreatedMessage() { return RegisterWindowMessageW(L"TaskbarCreated"); }

TrayIcon* IconOf(HWND listener) { return reinterpret_cast<TrayIcon*>(GetWindowLongPtrW(listener, GWLP_USERDATA)); }

void RetryIcon(HWND listener, TrayIcon& icon) {
  --icon.retriesLeft;
  if (icon.AddOrUpdate() || icon.retriesLeft <= 0) KillTimer(listener, IconRetryTimerId);
}

LRESULT CALLBACK TaskbarListenerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  if (TrayIcon* icon = IconOf(window)) {
    if (message >= 0xC000 && message == TaskbarCreatedMessage()) AddTrayIcon(*icon, window);
    if (message == WM_TIMER && wParam == IconRetryTimerId) RetryIcon(window, *icon);
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

HWND CreateTaskbarListener(HINSTANCE instance, TrayIcon& icon) {
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = TaskbarListenerProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = TaskbarListenerClass;
  RegisterClassExW(&windowClass);
  return CreateWindowExW(WS_EX_TOOLWINDOW, TaskbarListenerClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, instance,
                         &icon);
}

void AddTrayIcon(TrayIcon& icon, HWND listener) {
  if (icon.Add() || !listener || !FindWindowW(L"Shell_TrayWnd", nullptr)) return;
  icon.retriesLeft = IconRetries;
  SetTimer(listener, IconRetryTimerId, IconRetryPeriodMs, nullptr);
}

void LetUnelevatedSendersThrough(HWND tray, HWND listener, MessageFilterCall filter) {
  const UINT taskbarCreated = TaskbarCreatedMessage();
  if (listener && taskbarCreated != 0) filter(listener, taskbarCreated, MSGFLT_ALLOW, nullptr);
  if (tray) filter(tray, TrayHotkeyLeaseMessage, MSGFLT_ALLOW, nullptr);
}

}  // namespace snaplark
