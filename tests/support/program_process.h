#pragma once
// Starts the built program as a process of its own, under the same Wine
// server as the test, and finds its windows with ordinary Win32 calls.
#include <windows.h>
#include <shellapi.h>

#include <string>

#include "support/desk_windows.h"
#include "support/wait_for.h"
#include "support/wine_paths.h"

namespace snaplark::test {

inline DWORD WindowProcessId(HWND window) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  return pid;
}

// The program's hidden tray window in the given process, if it has one.
inline HWND TrayWindowOf(DWORD pid) {
  HWND window = nullptr;
  while ((window = FindWindowExW(HWND_MESSAGE, window, L"GlimmerdockTray", nullptr)) != nullptr) {
    if (WindowProcessId(window) == pid) return window;
  }
  return nullptr;
}

// The shell's tray comes up with Wine's desktop process, which ends a while
// after the last program and starts again when a program asks for the desktop
// window. An icon added before the tray exists is lost, so tests bring the
// desktop up and wait for the tray before they start the program.
inline HWND WaitForShellTray() {
  GetDesktopWindow();
  return WaitFor([] { return FindWindowW(L"Shell_TrayWnd", nullptr); });
}

class ProgramProcess {
 public:
  ProgramProcess() = default;
  ProgramProcess(const ProgramProcess&) = delete;
  ProgramProcess& operator=(const ProgramProcess&) = delete;
  // A test that fails half-way must not leave an instance behind for the next one.
  ~ProgramProcess() {
    if (info_.hProcess) {
      if (Running()) {
        TerminateProcess(info_.hProcess, 99);
        WaitForSingleObject(info_.hProcess, 5000);
      }
      CloseHandle(info_.hProcess);
      CloseHandle(info_.hThread);
    }
  }

  bool Start(const std::wstring& program = ProgramPath()) {
    std::wstring commandLine = L"\"" + program + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    return CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &info_) != FALSE;
  }

  DWORD Id() const { return info_.dwProcessId; }
  bool Running() const { return WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT; }

  // The exit code, or STILL_ACTIVE if the process has not ended in time.
  DWORD WaitForExit(DWORD milliseconds = 15000) const {
    if (WaitForSingleObject(info_.hProcess, milliseconds) != WAIT_OBJECT_0) return STILL_ACTIVE;
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(info_.hProcess, &code);
    return code;
  }

  // The hidden tray window of this process, if it has one.
  HWND TrayWindow() const { return TrayWindowOf(Id()); }

  HWND WaitForTrayWindow() const {
    return WaitFor([this] { return TrayWindow(); });
  }

  // The tray window once the icon has been added to it, which comes a moment
  // after the window itself.
  HWND WaitForTrayIcon(UINT iconId) const {
    HWND window = WaitForTrayWindow();
    return window && WaitFor([&] { return TrayIconExists(window, iconId); }) ? window : nullptr;
  }

  // A top-level dialog (message boxes are dialogs) shown by this process.
  HWND WaitForDialog() const {
    return WaitFor([this]() -> HWND {
      DialogSearch search{Id()};
      EnumWindows(MatchDialog, reinterpret_cast<LPARAM>(&search));
      return search.found;
    });
  }

  // How many visible top-level dialogs this process shows now.
  int DialogCount() const {
    DialogSearch search{Id()};
    EnumWindows(MatchDialog, reinterpret_cast<LPARAM>(&search));
    return search.count;
  }

 private:
  struct DialogSearch {
    DWORD pid;
    HWND found = nullptr;
    int count = 0;
  };
  static BOOL CALLBACK MatchDialog(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<DialogSearch*>(param);
    wchar_t className[32] = {};
    GetClassNameW(window, className, 32);
    if (WindowProcessId(window) == search->pid && std::wstring(className) == L"#32770" && IsWindowVisible(window)) {
      if (!search->found) search->found = window;
      ++search->count;
    }
    return TRUE;
  }

  PROCESS_INFORMATION info_ = {};
};

// Starts the program and closes the window it shows at start: its tray
// window once the icon (id 1) is in the tray, or null.
inline HWND StartToTray(ProgramProcess& program, const std::wstring& path) {
  if (!program.Start(path)) return nullptr;
  HWND window = program.WaitForDialog();
  HWND tray = program.WaitForTrayIcon(1);
  if (!window || !tray) return nullptr;
  PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
  return WaitFor([&] { return !IsWindow(window); }) ? tray : nullptr;
}

}  // namespace snaplark::test
