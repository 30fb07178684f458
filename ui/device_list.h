#pragma once
// The capture window's camera chooser: the combo box filled from a fresh
// enumeration, the chosen camera opened and its preview started, and the
// guard in front of every capture request.
#include "ui/capture_window_state.h"

namespace snaplark {

// Rebuilds the combo box and opens the device saved in the settings (by its
// symbolic link; the last of several matches; else the first device).
void FillDeviceList(CaptureWindowState& state);

// Opens device `index` of the list and starts its live preview. Any index
// outside the list (-1: nothing selected) only stops the capture thread.
void OpenSelectedCamera(CaptureWindowState& state, int index);

// Captures when a camera is open; otherwise says that none is.
void TriggerCapture(CaptureWindowState& state);

}  // namespace snaplark
