#pragma once
// The capture window's camera chooser: the combo box filled from a fresh
// enumeration, and the chosen camera opened with its preview started.
#include "ui/capture_window_state.h"

namespace snaplark {

// Rebuilds the combo box and returns the entry to open: the device saved in
// the settings (by its symbolic link; the last of several matches; else the
// first device), or -1 when there is none.
int FillDeviceList(CaptureWindowState& state);

bool IsListed(const CaptureWindowState& state, int index);

// Opens device `index` of the list and starts its live preview; false when
// it cannot be opened. Any index outside the list (-1: nothing selected)
// only stops the capture thread.
bool OpenSelectedCamera(CaptureWindowState& state, int index);

}  // namespace snaplark
