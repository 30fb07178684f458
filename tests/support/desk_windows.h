#pragma once
// What a test can read of the desk with ordinary Win32 calls: the shell's
// tray icons, the windows a thread shows and the contents of a dialog or a
// message box.
#include <windows.h>
#include <shellapi.h>

#include <string>

namespace snaplark::test {

// Whether the shell still holds an icon (owner window, id). Modifying an icon
// with no flags changes nothing and succeeds exactly when the icon exists.
inline bool TrayIconExists(HWND owner, UINT id) {
  NOTIFYICONDATAW data = {};
  data.cbSize = sizeof(data);
  data.hWnd = owner;
  data.uID = id;
  return Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
}

inline std::wstring WindowText(HWND window) {
  wchar_t text[512] = {};
  GetWindowTextW(window, text, 512);
  return text;
}

inline std::wstring DialogItemText(HWND dialog, int id) {
  wchar_t text[512] = {};
  GetDlgItemTextW(dialog, id, text, 512);
  return text;
}

struct WindowSearch {
  const wchar_t* className;
  HWND found;
};

inline BOOL CALLBACK MatchVisibleOfClass(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<WindowSearch*>(param);
  wchar_t name[32] = {};
  GetClassNameW(window, name, 32);
  if (lstrcmpW(name, search->className) != 0 || !IsWindowVisible(window)) return TRUE;
  search->found = window;
  return FALSE;
}

// A visible top-level window of the thread, of the class given (dialogs
// and message boxes are "#32770"); null when it shows none.
inline HWND VisibleWindowOfThread(DWORD thread, const wchar_t* className = L"#32770") {
  WindowSearch search{className, nullptr};
  EnumThreadWindows(thread, MatchVisibleOfClass, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// The message box's own controls: its text (id 0xFFFF), its buttons and
// whether it shows an icon.
struct BoxContents {
  std::wstring text;
  int buttons = 0;
  bool icon = false;
};

inline BOOL CALLBACK CollectBoxChild(HWND child, LPARAM param) {
  auto* contents = reinterpret_cast<BoxContents*>(param);
  wchar_t className[32] = {};
  GetClassNameW(child, className, 32);
  const LONG style = GetWindowLongW(child, GWL_STYLE);
  if (lstrcmpiW(className, L"Button") == 0) ++contents->buttons;
  if (lstrcmpiW(className, L"Static") == 0 && (style & SS_TYPEMASK) == SS_ICON && IsWindowVisible(child) &&
      SendMessageW(child, STM_GETICON, 0, 0) != 0)
    contents->icon = true;
  if (GetDlgCtrlID(child) == 0xFFFF) contents->text = WindowText(child);
  return TRUE;
}

inline BoxContents ReadBox(HWND box) {
  BoxContents contents;
  EnumChildWindows(box, CollectBoxChild, reinterpret_cast<LPARAM>(&contents));
  return contents;
}

}  // namespace snaplark::test
