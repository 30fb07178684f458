#pragma once
// The capture key: shown in the window, picked anew with "Change", and in
// TWAIN mode held by the window itself.
#include <windows.h>

#include "handles/win_handles.h"
#include "ui/capture_window_state.h"

namespace snaplark {

// A hook procedure gets no context of its own, and one capture window exists
// at a time: the hook and the window that is picking are process-wide.
extern UniqueHook PickerHook;
extern CaptureWindowState* PickerTarget;

// "Change": the next key pressed in the window becomes the capture key.
void BeginHotkeyPick(CaptureWindowState& state, HWND hwnd);

// A thread keyboard hook: it takes the picked key before the dialog's own
// keyboard handling (Enter does not press the default button).
LRESULT CALLBACK PickerKeyboardProc(int code, WPARAM wParam, LPARAM lParam);

// Ends picking. Unless cancelled, a key other than a modifier becomes the
// capture key and is saved at once.
void FinishHotkeyPick(CaptureWindowState& state, HWND hwnd, WPARAM key, bool cancel);

// Shows the capture key's name in the key label; in Standalone mode marked
// as the global hotkey that the tray holds.
void RefreshHotkeyLabel(CaptureWindowState& state, HWND hwnd);

// Registers the capture key on the window itself (TWAIN mode). False, with a
// warning in the status line, when another program holds the key.
bool RegisterWindowHotkey(CaptureWindowState& state, HWND hwnd);

}  // namespace snaplark
