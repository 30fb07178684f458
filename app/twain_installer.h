#pragma once
// The companion TWAIN data source "Glimmerdock.ds": copied from the
// program's folder into the Windows directory's "twain_32" folder by an
// elevated, hidden command interpreter, after asking the user.
#include <windows.h>

#include <string>

namespace snaplark {

struct TwainSourcePaths {
  std::wstring folder;       // <Windows>\twain_32
  std::wstring destination;  // <Windows>\twain_32\Glimmerdock.ds
  std::wstring source;       // Glimmerdock.ds beside the module
  bool fit = true;           // false when a path does not fit its 260-unit buffer
};

// The three paths for the program whose module is `module`.
TwainSourcePaths TwainPaths(HMODULE module);

// Whether the data source is in place (the tray menu greys its item then).
bool TwainSourceInstalled();

// Asks, installs and says how it went, in message boxes owned by `owner`.
void InstallTwainSource(HWND owner, HMODULE module);

}  // namespace snaplark
