#pragma once
// The tray's way of showing the capture window: one at a time, and the
// camera let go when it closes.
namespace snaplark {

// True while the tray shows the capture window. Its modal loop keeps
// dispatching the tray's messages, so a click meanwhile must not open a
// second window.
extern bool CaptureWindowShowing;

// Shows the capture window in Standalone mode and returns when it closes;
// does nothing while one already shows.
void OpenCaptureWindowFromTray();

}  // namespace snaplark
