#include "twain/event_window.h"

#include "product_identity.h"

namespace snaplark {
namespace {

constexpr auto& EventWindowClass = identity::SourceEventsClass;

}  // namespace

HWND CreateEventWindow(HINSTANCE module, WNDPROC procedure, void* context) {
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = procedure;
  windowClass.hInstance = module;
  windowClass.lpszClassName = EventWindowClass;
  if (!RegisterClassExW(&windowClass)) return nullptr;
  HWND window = CreateWindowExW(0, EventWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, module, context);
  if (!window) UnregisterClassW(EventWindowClass, module);
  return window;
}

void DestroyEventWindow(HWND window, HINSTANCE module) {
  if (!window) return;
  DestroyWindow(window);
  UnregisterClassW(EventWindowClass, module);
}

}  // namespace snaplark
