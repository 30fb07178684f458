#include "app/tray_icon.h"

#include "app/app_state.h"

namespace snaplark {

// The system takes the record by size, so a header or packing mismatch
// would make the calls fail silently. The full record, balloon fields
// included, so that notices can use it as is.
static_assert(sizeof(NOTIFYICONDATAW) == (sizeof(void*) == 4 ? 956 : 976));

void TrayIcon::Fill(HWND tray, HICON icon) {
  record_ = {};
  record_.cbSize = sizeof(NOTIFYICONDATAW);
  record_.hWnd = tray;
  record_.uID = TrayIconId;
  record_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  record_.uCallbackMessage = TrayCallbackMessage;
  record_.hIcon = icon;
  lstrcpynW(record_.szTip, ProgramTitle, ARRAYSIZE(record_.szTip));
}

void TrayIcon::ShowNotice(const wchar_t* text) {
  NOTIFYICONDATAW notice = record_;
  notice.uFlags |= NIF_INFO;
  notice.dwInfoFlags = NIIF_INFO;
  lstrcpynW(notice.szInfoTitle, ProgramTitle, ARRAYSIZE(notice.szInfoTitle));
  lstrcpynW(notice.szInfo, text, ARRAYSIZE(notice.szInfo));
  notice.uTimeout = 3000;
  notify_(NIM_MODIFY, &notice);
}

}  // namespace snaplark
