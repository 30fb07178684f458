#pragma once
// A hidden top-level window that exists only to hear "TaskbarCreated": the
// shell announces a new tray (after Explorer restarts, or when the program
// started before the shell's tray existed) to top-level windows alone, and
// the tray window is message-only. The icon is added again when it arrives.
#include <windows.h>

namespace snaplark {

inline constexpr wchar_t TaskbarListenerClass[] = L"GlimmerdockTaskbarListener";

// Creates the listener (never shown); null if it cannot be made.
HWND CreateTaskbarListener(HINSTANCE instance);

}  // namespace snaplark
