#include "ui/hotkey_picker.h"

#include <string>

#include "res/resource_ids.h"
#include "settings/key_name.h"
#include "settings/settings.h"
#include "ui/capture_window.h"
#include "ui/capture_window_texts.h"

namespace snaplark {

void RefreshHotkeyLabel(CaptureWindowState& state, HWND hwnd) {
  std::wstring label = KeyName(state.settings->Keybind);
  if (state.mode == CaptureWindowMode::Standalone) label += GlobalHotkeySuffix;
  SetDlgItemTextW(hwnd, IDC_KEY_LABEL, label.c_str());
}

void RegisterWindowHotkey(CaptureWindowState& state, HWND hwnd) {
  if (state.settings->Keybind == 0) return;
  if (RegisterHotKey(hwnd, CaptureHotkeyId, 0, state.settings->Keybind)) {
    state.hotkeyRegistered = true;
  } else {
    ShowStatus(state, HotkeyTakenText);
  }
}

}  // namespace snaplark
