#pragma once
// The whole run of the tray program, from the single-instance check to the
// ordered shutdown; wWinMain of each executable calls it.
#include <windows.h>

namespace snaplark {

// Returns the process exit code, which is 0 on every path.
int RunTrayProgram(HINSTANCE instance);

}  // namespace snaplark
