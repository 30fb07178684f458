#pragma once
// The capture window: a modal dialog (template 101) with the camera chooser,
// the live preview, the capture key and the status line. One body of code
// serves this program (Standalone) and a TWAIN acquisition host (Twain).
#include <windows.h>

#include "settings/settings_store.h"
#include "ui/capture_window_state.h"

namespace snaplark {

// Shows the window modally and returns when it has ended: 0 when accepted
// ("Scan" in Twain mode), 1 in every other case, a dialog that could not be
// created included. The camera is left open with its capture thread stopped;
// settings and camera must outlive the call. The settings are saved through
// `store` when the window ends.
int ShowCaptureWindow(HWND owner, HINSTANCE instance, Settings* settings, Camera* camera, CaptureWindowMode mode,
                      const SettingsStore& store = SettingsStore());

// The same window without a loop of its own, for a host whose own loop must
// go on: that loop hands the window its keys (IsDialogMessage). The window
// ends as the modal one does, then posts state.endedMessage to
// state.endedNotify; `state` (with the fields ShowCaptureWindow would set)
// must outlive it. Null when the dialog cannot be created.
HWND OpenCaptureWindow(CaptureWindowState& state);

// The dialog procedure; the state comes with WM_INITDIALOG and is kept in the
// window's dialog user data.
INT_PTR CALLBACK CaptureWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// End the window saving the settings: accepted (result 0) or dismissed (1).
void Accept(CaptureWindowState& state);
void Dismiss(CaptureWindowState& state);

// Replaces the text of the status line, through which every operation of
// the window reports its outcome.
void ShowStatus(const CaptureWindowState& state, const wchar_t* text);

}  // namespace snaplark
