#pragma once
// The capture key: shown in the window, picked anew with "Change", and in
// TWAIN mode held by the window itself.
#include <windows.h>

#include "ui/capture_window_state.h"

namespace snaplark {

// "Change": the next key pressed in the window becomes the capture key. A
// thread keyboard hook takes it before the dialog's own keyboard handling
// (Enter does not press the default button) and hands it to the window as
// a key-down.
void BeginHotkeyPick(CaptureWindowState& state);

// Ends picking. Unless cancelled, a key other than a modifier becomes the
// capture key and is saved at once. Returns the status line's text, or null
// when the window was not picking.
const wchar_t* FinishHotkeyPick(CaptureWindowState& state, WPARAM key, bool cancel);

// Shows the capture key's name in the key label; in Standalone mode marked
// as the global hotkey that the tray holds.
void RefreshHotkeyLabel(const CaptureWindowState& state);

// Registers the capture key on the window itself (TWAIN mode). False when
// another program holds the key.
bool RegisterWindowHotkey(CaptureWindowState& state);

}  // namespace snaplark
