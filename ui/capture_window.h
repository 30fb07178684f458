#pragma once
// The capture window: a modal dialog (template 101) with the camera chooser,
// the live preview, the capture key and the status line. One body of code
// serves this program (Standalone) and a TWAIN acquisition host (Twain).
#include <windows.h>

#include <memory>

#include "settings/settings_store.h"
#include "ui/capture_window_mode.h"

namespace snaplark {

struct Settings;
class Camera;
struct CaptureWindowState;

// Accepted: "Scan" (Twain mode). NotShown: the dialog could not be created.
enum class CaptureOutcome { Accepted, Dismissed, NotShown };

// What one showing works on. Settings and camera are shared, not owned, and
// must outlive the window; the camera is left open with its capture thread
// stopped, and the settings are saved through `store` when the window ends.
struct CaptureWindowInputs {
  HWND owner = nullptr;
  HINSTANCE instance = nullptr;  // holds the dialog template and the icon
  Settings* settings = nullptr;
  Camera* camera = nullptr;
  CaptureWindowMode mode = CaptureWindowMode::Standalone;
  SettingsStore store;
};

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
