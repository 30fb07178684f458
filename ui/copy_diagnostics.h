#pragma once
// "Diagnostics": the support report onto the clipboard as Unicode text.
#include <windows.h>

#include "ui/capture_window_state.h"

namespace snaplark {

void CopyDiagnostics(CaptureWindowState& state, HWND hwnd);

}  // namespace snaplark
