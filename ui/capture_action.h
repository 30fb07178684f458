#pragma once
// What "Capture" does: one frame onto the clipboard, a second one into the
// Pictures folder as a BMP file, and a white flash of the preview.
#include <string>

#include "ui/capture_window_state.h"

namespace snaplark {

// The camera must be open. Returns the status line's text for the outcome.
std::wstring CaptureImage(CaptureWindowState& state);

}  // namespace snaplark
