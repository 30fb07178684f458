#pragma once
// The plain-text report that the "Diagnostics" button puts on the clipboard
// for a support ticket.
#include <string>

#include "settings/settings.h"
#include "ui/capture_window_mode.h"

namespace snaplark {

// What the report says of the camera.
struct CameraSummary {
  bool open = false;
  int width = 0;
  int height = 0;
};

// One line per fact, each ending in a line feed alone (no carriage return):
// mode, chosen device, index, whether the camera is open and, only while it
// is, its frame size, the capture key and the device link. Empty values
// read "(none)".
std::wstring DiagnosticsReport(CaptureWindowMode mode, const Settings& settings, const CameraSummary& camera);

}  // namespace snaplark
