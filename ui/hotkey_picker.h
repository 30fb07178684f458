#pragma once
// The capture key as the window shows it and, in TWAIN mode, holds it.
#include <windows.h>

#include "ui/capture_window_state.h"

namespace snaplark {

// Shows the capture key's name in the key label; in Standalone mode marked
// as the global hotkey that the tray holds.
void RefreshHotkeyLabel(CaptureWindowState& state, HWND hwnd);

// Registers the capture key on the window itself (TWAIN mode); a key that
// another program holds leaves a warning in the status line.
void RegisterWindowHotkey(CaptureWindowState& state, HWND hwnd);

}  // namespace snaplark
