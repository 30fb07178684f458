#pragma once
// The source's hidden window: what the source must do after one of the
// application's calls has returned (show its window, announce a transfer)
// is posted here, and runs from the application's own message loop.
#include <windows.h>

namespace snaplark {

inline constexpr UINT EventShowWindow = WM_APP + 1;
inline constexpr UINT EventAcquire = WM_APP + 2;
inline constexpr UINT EventAnnounceClose = WM_APP + 3;
inline constexpr UINT EventWindowEnded = WM_APP + 4;  // wParam: the window's result

// What the window runs its messages on: the source's session. A session
// abandoned under the outermost message is deleted by the window once that
// message has returned.
class EventTarget {
 public:
  virtual ~EventTarget() = default;
  // True while one of the window's messages runs.
  virtual bool Busy() const = 0;
  virtual bool Abandoned() const = 0;
  virtual void OnEventWindowMessage(UINT message, WPARAM wParam) = 0;
};

// A message-only window of a class registered for `module`; null on failure.
HWND CreateEventWindow(HINSTANCE module, EventTarget* target);
// Destroys the window and unregisters its class: the module may be unloaded
// and loaded again at the same address, where a class left behind would
// make the next registration fail.
void DestroyEventWindow(HWND window, HINSTANCE module);

// Ends the capture window this thread shows, as its Cancel button would.
void CloseCaptureWindowOfThread();

}  // namespace snaplark
