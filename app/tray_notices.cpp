#include "app/tray_notices.h"

#include <cwchar>
#include <string>

#include "app/app_state.h"
#include "app/hotkey_lending.h"
#include "app/tray_texts.h"
#include "settings/key_name.h"
#include "settings/settings.h"

namespace snaplark {

NotifyShellCall NotifyShell = Shell_NotifyIconW;

void ShowTrayNotice(const wchar_t* title, const wchar_t* text) {
  NOTIFYICONDATAW notice = TrayIconData;
  notice.uFlags |= NIF_INFO;
  notice.dwInfoFlags = NIIF_INFO;
  lstrcpynW(notice.szInfoTitle, title, ARRAYSIZE(notice.szInfoTitle));
  lstrcpynW(notice.szInfo, text, ARRAYSIZE(notice.szInfo));
  notice.uTimeout = 3000;
  NotifyShell(NIM_MODIFY, &notice);
}

void RegisterTrayHotkey(HotkeyNotice notice) {
  if (!TrayWindow || TrayHotkeyLent()) return;
  UnregisterHotKey(TrayWindow, CaptureHotkeyId);
  if (!AppSettings || AppSettings->Keybind == 0) {
    ShowTrayNotice(ProgramTitle, NoHotkeyNotice);
    return;
  }
  wchar_t text[128];
  if (RegisterHotKey(TrayWindow, CaptureHotkeyId, 0, AppSettings->Keybind)) {
    if (notice == HotkeyNotice::OnlyIfFailed) return;
    std::swprintf(text, 128, HotkeyRegisteredNotice, KeyName(AppSettings->Keybind).c_str());
  } else {
    const DWORD error = GetLastError();
    std::swprintf(text, 128, HotkeyFailedNotice, static_cast<unsigned long>(error));
  }
  ShowTrayNotice(ProgramTitle, text);
}

}  // namespace snaplark
