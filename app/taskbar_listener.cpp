#include "app/taskbar_listener.h"

#include "app/app_state.h"
#include "app/tray_notices.h"

namespace snaplark {
namespace {

UINT TaskbarCreatedMessage = 0;

LRESULT CALLBACK TaskbarListenerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (TaskbarCreatedMessage != 0 && message == TaskbarCreatedMessage) NotifyShell(NIM_ADD, &TrayIconData);
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
  HWND listener = CreateWindowExW(WS_EX_TOOLWINDOW, TaskbarListenerClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                                  nullptr, instance, nullptr);
  // An elevated program would otherwise not hear the shell, which runs unelevated.
  if (listener && TaskbarCreatedMessage != 0) {
    ChangeWindowMessageFilterEx(listener, TaskbarCreatedMessage, MSGFLT_ALLOW, nullptr);
  }
  return listener;
}

}  // namespace snaplark
