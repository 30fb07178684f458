#pragma once
// The plain-text report that the "Diagnostics" button puts on the clipboard
// for a support ticket.
#include <cstdint>
#include <string>

#include "settings/settings.h"
#include "ui/capture_window_mode.h"

namespace snaplark {

// What the report says of the camera.
struct CameraSummary {
  bool open = false;
  int width = 0;
  int height = 0;
  // The HRESULT of the last failed opening or start of a camera since the
  // program started; 0 when none failed.
  std::uint32_t lastError = 0;
};

// One line per fact, each ending in a line feed alone (no carriage return):
// mode, chosen device, index, whether the camera is open and, only while it
// is, its frame size, the capture key and the device link. Empty values
// read "(none)". Only after a camera failed to open or start, one more line
// names the failure, "Last camera error: 0x80070005 (access denied by
// privacy settings)", so that support can tell the privacy setting from
// another application holding the camera.
std::wstring DiagnosticsReport(CaptureWindowMode mode, const Settings& settings, const CameraSummary& camera);

}  // namespace snaplark
