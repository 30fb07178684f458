// SnaplarkSetupHelper.exe, which setup unpacks and runs for what its script
// cannot do itself:
//   start <program>    starts the program as the signed-in user, unelevated
//   remove-settings    deletes the signed-in user's settings
// Exit code 0 when done, 1 when no signed-in user is at hand (no desktop
// shell, SYSTEM, session 0) and nothing was done, 2 when it failed.
#include <windows.h>
#include <shellapi.h>

#include <string>

#include "setup/desk_user.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int count = 0;
  LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  const std::wstring command = arguments && count > 1 ? arguments[1] : L"";
  const std::wstring program = arguments && count > 2 ? arguments[2] : L"";
  LocalFree(arguments);

  const std::wstring user = snaplark::DeskUserSid();
  if (command == L"start" && !program.empty()) {
    if (user.empty()) return 1;
    return snaplark::StartThroughDesktopShell(program) ? 0 : 2;
  }
  if (command == L"remove-settings") {
    if (user.empty()) return 1;
    return snaplark::RemoveUserSettings(user) ? 0 : 2;
  }
  return 2;
}
