#pragma once
// The tray's way of showing the capture window: one at a time, and the
// camera let go when it closes.
namespace snaplark {

struct TrayProgram;

// Shows the capture window in Standalone mode and returns when it closes;
// does nothing while one already shows.
void OpenCaptureWindowFromTray(TrayProgram& program);

}  // namespace snaplark
