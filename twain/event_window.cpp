#include "twain/event_window.h"

#include "product_identity.h"
#include "res/resource_ids.h"
#include "twain/module_hold.h"

namespace snaplark {
namespace {

constexpr auto& EventWindowClass = identity::SourceEventsClass;

// The application may close the source, and its manager unload the file,
// from inside what runs here (the capture window's loop dispatches the
// application's own messages; the news calls the application). The
// outermost message holds the file until it has returned, and deletes a
// session closed under it: the window this runs in goes with it.
void RunEvent(EventTarget* source, UINT message, WPARAM wParam) {
  if (source->Busy()) {
    source->OnEventWindowMessage(message, wParam);
    return;
  }
  const HMODULE hold = HoldOwnModule();
  source->OnEventWindowMessage(message, wParam);
  if (!source->Abandoned()) {
    // Still open, so the manager still holds the file.
    if (hold) FreeLibrary(hold);
    return;
  }
  delete source;
  StayLoadedWhileInUse();
  ReleaseAfterReturn(hold);
}

LRESULT CALLBACK EventWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* source = reinterpret_cast<EventTarget*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (source && message >= EventShowWindow && message <= EventWindowEnded) {
    RunEvent(source, message, wParam);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

BOOL CALLBACK CloseIfCaptureWindow(HWND window, LPARAM) {
  wchar_t className[16] = {};
  GetClassNameW(window, className, 16);
  if (lstrcmpW(className, L"#32770") == 0 && GetDlgItem(window, IDC_PREVIEW) && GetDlgItem(window, IDC_DEVICE_COMBO)) {
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  }
  return TRUE;
}

}  // namespace

HWND CreateEventWindow(HINSTANCE module, EventTarget* source) {
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = EventWindowProc;
  windowClass.hInstance = module;
  windowClass.lpszClassName = EventWindowClass;
  if (!RegisterClassExW(&windowClass)) return nullptr;
  HWND window = CreateWindowExW(0, EventWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, module, source);
  if (!window) UnregisterClassW(EventWindowClass, module);
  return window;
}

void DestroyEventWindow(HWND window, HINSTANCE module) {
  if (!window) return;
  DestroyWindow(window);
  UnregisterClassW(EventWindowClass, module);
}

void CloseCaptureWindowOfThread() { EnumThreadWindows(GetCurrentThreadId(), CloseIfCaptureWindow, 0); }

}  // namespace snaplark
