#include "app/tray_hotkey.h"

#include <cwchar>
#include <string>

#include "app/tray_program.h"
#include "app/tray_texts.h"
#include "settings/key_name.h"

namespace snaplark {

void RegisterTrayHotkey(TrayProgram& program, HotkeyNotice notice) {
  if (!program.window || program.key.Holder() == KeyHolder::Borrower) return;
  const UINT key = program.settings.Keybind;
  if (key == 0) {
    program.key.Release();
    program.icon.ShowNotice(NoHotkeyNotice);
    return;
  }
  wchar_t text[128];
  if (program.key.Hold(KeyHolder::Tray, program.window, key)) {
    if (notice == HotkeyNotice::OnlyIfFailed) return;
    std::swprintf(text, 128, HotkeyRegisteredNotice, KeyName(key).c_str());
  } else {
    const DWORD error = GetLastError();
    std::swprintf(text, 128, HotkeyFailedNotice, static_cast<unsigned long>(error));
  }
  program.icon.ShowNotice(text);
}

}  // namespace snaplark
