#include "app/capture_window_from_tray.h"

#include "app/app_state.h"
#include "camera/camera.h"
#include "ui/capture_window.h"

namespace snaplark {

bool CaptureWindowShowing = false;

void OpenCaptureWindowFromTray() {
  if (CaptureWindowShowing) return;
  CaptureWindowShowing = true;
  ShowCaptureWindow(nullptr, AppInstance, AppSettings, AppCamera, CaptureWindowMode::Standalone);
  // The camera is not held while the program sits in the tray.
  AppCamera->Close();
  CaptureWindowShowing = false;
}

}  // namespace snaplark
