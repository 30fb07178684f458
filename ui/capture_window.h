#pragma once
// The capture window: a modal dialog (template 101) with the camera chooser,
// the live preview, the capture key and the status line. One body of code
// serves this program (Standalone) and a TWAIN acquisition host (Twain).
#include <windows.h>

#include <memory>

#include "ui/capture_window_inputs.h"

namespace snaplark {

struct CaptureWindowState;

// One showing of the window; the object must outlive it.
class CaptureWindow {
 public:
  explicit CaptureWindow(const CaptureWindowInputs& inputs);
  // A window still open ends as dismissed.
  ~CaptureWindow();
  CaptureWindow(const CaptureWindow&) = delete;
  CaptureWindow& operator=(const CaptureWindow&) = delete;

  // Shows the window modally and returns when it has ended.
  CaptureOutcome Show();
  // The same window without a loop of its own, for a host whose own loop
  // must go on and hand the window its keys (TakeDialogMessage). Once it has
  // ended it posts `endedMessage` to `notify`, with the outcome as wParam.
  // False when the dialog cannot be created.
  bool Open(HWND notify, UINT endedMessage);
  bool TakeDialogMessage(MSG* message);
  // Ends the window as its Cancel button does, from its own loop.
  void Close();

 private:
  std::unique_ptr<CaptureWindowState> state_;
};

inline CaptureOutcome ShowCaptureWindow(const CaptureWindowInputs& inputs) { return CaptureWindow(inputs).Show(); }

}  // namespace snaplark
