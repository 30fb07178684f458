#pragma once
// What "Capture" does: one frame onto the clipboard, a second one into the
// Pictures folder as a BMP file, a white flash of the preview, and the
// outcome in the status line.
#include <windows.h>

#include "ui/capture_window_state.h"

namespace snaplark {

// The camera must be open (TriggerCapture sees to it).
void CaptureImage(CaptureWindowState& state, HWND hwnd);

}  // namespace snaplark
