#pragma once
// "Diagnostics": the support report onto the clipboard as Unicode text.
#include "ui/capture_window_state.h"

namespace snaplark {

// Returns the status line's text for the outcome.
const wchar_t* CopyDiagnostics(const CaptureWindowState& state);

}  // namespace snaplark
