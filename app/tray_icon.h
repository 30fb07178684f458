#pragma once
// The tray icon's record, added once and kept for the whole run, and the
// balloon notices sent from copies of it.
#include <windows.h>
#include <shellapi.h>

namespace snaplark {

// Everything the program hands to the shell's tray goes through this call
// (Shell_NotifyIconW), so that a test can see exactly what was handed over.
using NotifyShellCall = BOOL(WINAPI*)(DWORD message, PNOTIFYICONDATAW data);

class TrayIcon {
 public:
  explicit TrayIcon(NotifyShellCall notify) : notify_(notify) {}

  // The icon of `tray`'s messages, with the program's title as its tip.
  void Fill(HWND tray, HICON icon);
  const NOTIFYICONDATAW& Record() const { return record_; }

  bool Add() { return notify_(NIM_ADD, &record_) != FALSE; }
  // A shell that timed out on an earlier NIM_ADD may have added the icon all
  // the same: then only a NIM_MODIFY succeeds.
  bool AddOrUpdate() { return Add() || notify_(NIM_MODIFY, &record_); }
  void Remove() { notify_(NIM_DELETE, &record_); }
  // A balloon notice, titled with the program's name.
  void ShowNotice(const wchar_t* text);

  // Asked again a few times by the taskbar listener when the shell was busy.
  int retriesLeft = 0;

 private:
  NOTIFYICONDATAW record_{};
  NotifyShellCall notify_;
};

}  // namespace snaplark
