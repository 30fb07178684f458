#pragma once
// The source's hidden window: what the source must do after one of the
// application's calls has returned (show its window, announce a transfer)
// is posted here, and runs from the application's own message loop.
#include <windows.h>

namespace snaplark {

inline constexpr UINT EventShowWindow = WM_APP + 1;
inline constexpr UINT EventAcquire = WM_APP + 2;
inline constexpr UINT EventAnnounceClose = WM_APP + 3;
inline constexpr UINT EventWindowEnded = WM_APP + 4;  // wParam: the window's outcome

// A message-only window of a class registered for `module`, run by
// `procedure`, with `context` as its creation parameter; null on failure.
HWND CreateEventWindow(HINSTANCE module, WNDPROC procedure, void* context);
// Destroys the window and unregisters its class: the module may be unloaded
// and loaded again at the same address, where a class left behind would
// make the next registration fail.
void DestroyEventWindow(HWND window, HINSTANCE module);

}  // namespace snaplark
