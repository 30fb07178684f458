#include "ui/hotkey_picker.h"

#include <algorithm>
#include <string>

#include "res/resource_ids.h"
#include "settings/key_name.h"
#include "settings/settings.h"
#include "settings/settings_store.h"
#include "ui/capture_window.h"
#include "ui/capture_window_texts.h"

namespace snaplark {

UniqueHook PickerHook;
CaptureWindowState* PickerTarget = nullptr;

namespace {

constexpr WPARAM ModifierKeys[] = {VK_SHIFT,  VK_CONTROL,  VK_MENU,     VK_LSHIFT, VK_RSHIFT,
                                   VK_LCONTROL, VK_RCONTROL, VK_LMENU, VK_RMENU};

bool IsModifier(WPARAM key) { return std::find(std::begin(ModifierKeys), std::end(ModifierKeys), key) != std::end(ModifierKeys); }

bool IsTwain(const CaptureWindowState& state) { return state.mode == CaptureWindowMode::Twain; }

const wchar_t* PickOutcomeText(const CaptureWindowState& state, bool changed) {
  if (!changed) return HotkeyUnchangedText;
  return IsTwain(state) ? CaptureKeyUpdatedText : HotkeyUpdatedText;
}

}  // namespace

void BeginHotkeyPick(CaptureWindowState& state, HWND hwnd) {
  if (IsTwain(state) && state.hotkeyRegistered) {
    UnregisterHotKey(hwnd, CaptureHotkeyId);
    state.hotkeyRegistered = false;
  }
  state.picking = true;
  SetDlgItemTextW(hwnd, IDC_KEY_LABEL, PressAnyKeyLabel);
  ShowStatus(state, PressAKeyText);
  // The window itself, not a control, takes the keys: the fallback without
  // a hook sees them there.
  SetFocus(hwnd);
  PickerTarget = &state;
  if (!PickerHook) PickerHook.Reset(SetWindowsHookExW(WH_KEYBOARD, PickerKeyboardProc, nullptr, GetCurrentThreadId()));
}

LRESULT CALLBACK PickerKeyboardProc(int code, WPARAM wParam, LPARAM lParam) {
  const bool keyGoingDown = (static_cast<DWORD>(lParam) & 0x80000000u) == 0;
  if (code == HC_ACTION && PickerTarget && keyGoingDown) {
    FinishHotkeyPick(*PickerTarget, PickerTarget->hwnd, wParam, wParam == VK_ESCAPE);
    return 1;  // the key goes no further
  }
  return CallNextHookEx(PickerHook.Get(), code, wParam, lParam);
}

void FinishHotkeyPick(CaptureWindowState& state, HWND hwnd, WPARAM key, bool cancel) {
  if (!state.picking) return;
  PickerHook.Reset();
  if (PickerTarget == &state) PickerTarget = nullptr;
  state.picking = false;
  const bool changed = !cancel && key != 0 && !IsModifier(key);
  if (changed) {
    state.settings->Keybind = static_cast<std::uint32_t>(key);
    state.store->Save(*state.settings);
  }
  RefreshHotkeyLabel(state, hwnd);
  // A key that another program holds keeps its warning: the user must know
  // that the key will not work here.
  if (IsTwain(state) && !RegisterWindowHotkey(state, hwnd)) return;
  ShowStatus(state, PickOutcomeText(state, changed));
}

void RefreshHotkeyLabel(CaptureWindowState& state, HWND hwnd) {
  std::wstring label = KeyName(state.settings->Keybind);
  if (state.mode == CaptureWindowMode::Standalone) label += GlobalHotkeySuffix;
  SetDlgItemTextW(hwnd, IDC_KEY_LABEL, label.c_str());
}

bool RegisterWindowHotkey(CaptureWindowState& state, HWND hwnd) {
  if (state.settings->Keybind == 0) return true;
  if (RegisterHotKey(hwnd, CaptureHotkeyId, 0, state.settings->Keybind)) {
    state.hotkeyRegistered = true;
    return true;
  }
  ShowStatus(state, HotkeyTakenText);
  return false;
}

}  // namespace snaplark
