#pragma once
// The capture window's side of the live preview: the frame callback bound
// to one window's state, and the subclass procedure that paints the control.
#include <windows.h>

#include "camera/capture_worker.h"
#include "ui/capture_window_state.h"

namespace snaplark {

// The FrameCallback that turns each frame into the state's preview bitmap.
// Runs on the capture thread; the state must outlive the capture thread.
FrameCallback PreviewFrameCallback(CaptureWindowState& state);

// Paints the preview control (subclass id 1, reference data = the state):
// the latest frame fitted into the control, or "No preview".
LRESULT CALLBACK PreviewSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                     DWORD_PTR state);

}  // namespace snaplark
