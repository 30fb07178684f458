#pragma once
// What an elevated setup needs to know of the desk it runs on. Setup may run
// as another account than the signed-in user (a standard user who typed an
// administrator's password), as SYSTEM, or in session 0 (a managed
// deployment): the user is then the owner of this session's desktop shell,
// or there is none at hand.
#include <windows.h>

#include <string>

namespace snaplark {

// The SID ("S-1-5-21-...") of the user who owns this session's desktop shell;
// empty when there is no shell, or this process runs as SYSTEM or in session 0.
std::wstring DeskUserSid();

// Starts `program` through the running desktop shell, so that it runs as the
// shell's user, unelevated. False when the shell could not be asked.
bool StartThroughDesktopShell(const std::wstring& program);

// Deletes the program's settings from the hive of the user `sid`, and the
// maker's key if that is left empty. True when no settings are left.
bool RemoveUserSettings(const std::wstring& sid);

}  // namespace snaplark
