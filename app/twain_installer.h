#pragma once
// The companion TWAIN data source "Glimmerdock.ds": copied from the
// program's folder into the Windows directory's "twain_32" folder by an
// elevated, hidden command interpreter, after asking the user.
#include <windows.h>

#include <string>

namespace snaplark {

// A path that does not fit its 260-unit buffer is cut short: it names
// another file, and is used for nothing.
struct TwainSourcePaths {
  std::wstring folder;          // <Windows>\twain_32
  std::wstring destination;     // <Windows>\twain_32\Glimmerdock.ds
  std::wstring source;          // Glimmerdock.ds beside the module
  bool destinationFits = true;  // the folder and the destination
  bool sourceFits = true;
};

// The three paths for the program whose module is `module`.
TwainSourcePaths TwainPaths(HMODULE module);

// Whether the data source is in place (the tray menu greys its item then).
bool TwainSourceInstalled();

// Asks, installs and says how it went, in message boxes owned by `owner`.
// The administrator prompt is owned by `owner`, or by `promptOwner` when the
// boxes have none. A second request while one runs is ignored.
void InstallTwainSource(HWND owner, HMODULE module, HWND promptOwner = nullptr);
void InstallTwainSource(HWND owner, const TwainSourcePaths& paths, HWND promptOwner = nullptr);

}  // namespace snaplark
