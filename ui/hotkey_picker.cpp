#include "ui/hotkey_picker.h"

#include <algorithm>
#include <string>

#include "res/resource_ids.h"
#include "settings/key_name.h"
#include "settings/settings.h"
#include "ui/capture_window_texts.h"

namespace snaplark {
namespace {

// A hook procedure gets no context of its own: the window that is picking
// carries this mark, and the hook finds it among the thread's windows.
constexpr wchar_t PickingMark[] = L"" SNAPLARK_PRODUCT "PickingKey";

constexpr WPARAM ModifierKeys[] = {VK_SHIFT,    VK_CONTROL,  VK_MENU,  VK_LSHIFT, VK_RSHIFT,
                                   VK_LCONTROL, VK_RCONTROL, VK_LMENU, VK_RMENU};

bool IsModifier(WPARAM key) {
  return std::find(std::begin(ModifierKeys), std::end(ModifierKeys), key) != std::end(ModifierKeys);
}

const wchar_t* PickOutcomeText(const CaptureWindowState& state, bool changed) {
  if (!changed) return HotkeyUnchangedText;
  return state.IsTwain() ? CaptureKeyUpdatedText : HotkeyUpdatedText;
}

BOOL CALLBACK FindPickingWindow(HWND window, LPARAM found) {
  if (!GetPropW(window, PickingMark)) return TRUE;
  *reinterpret_cast<HWND*>(found) = window;
  return FALSE;
}

LRESULT CALLBACK PickerKeyboardProc(int code, WPARAM wParam, LPARAM lParam) {
  const bool keyGoingDown = (static_cast<DWORD>(lParam) & 0x80000000u) == 0;
  HWND picking = nullptr;
  if (code == HC_ACTION && keyGoingDown) {
    EnumThreadWindows(GetCurrentThreadId(), FindPickingWindow, reinterpret_cast<LPARAM>(&picking));
  }
  if (!picking) return CallNextHookEx(nullptr, code, wParam, lParam);
  SendMessageW(picking, WM_KEYDOWN, wParam, 0);
  return 1;  // the key goes no further
}

}  // namespace

void BeginHotkeyPick(CaptureWindowState& state) {
  if (state.IsTwain()) state.key.Release();
  state.picking = true;
  SetDlgItemTextW(state.hwnd, IDC_KEY_LABEL, PressAnyKeyLabel);
  // The window itself, not a control, takes the keys: the fallback without
  // a hook sees them there.
  SetFocus(state.hwnd);
  SetPropW(state.hwnd, PickingMark, reinterpret_cast<HANDLE>(1));
  if (!state.pickerHook) {
    state.pickerHook.Reset(SetWindowsHookExW(WH_KEYBOARD, PickerKeyboardProc, nullptr, GetCurrentThreadId()));
  }
}

const wchar_t* FinishHotkeyPick(CaptureWindowState& state, WPARAM key, bool cancel) {
  if (!state.picking) return nullptr;
  state.pickerHook.Reset();
  RemovePropW(state.hwnd, PickingMark);
  state.picking = false;
  const bool changed = !cancel && key != 0 && !IsModifier(key);
  if (changed) {
    state.settings->Keybind = static_cast<std::uint32_t>(key);
    state.store.Save(*state.settings);
  }
  RefreshHotkeyLabel(state);
  // A key that another program holds keeps its warning: the user must know
  // that the key will not work here.
  if (state.IsTwain() && !RegisterWindowHotkey(state)) return HotkeyTakenText;
  return PickOutcomeText(state, changed);
}

void RefreshHotkeyLabel(const CaptureWindowState& state) {
  std::wstring label = KeyName(state.settings->Keybind);
  if (state.mode == CaptureWindowMode::Standalone) label += GlobalHotkeySuffix;
  SetDlgItemTextW(state.hwnd, IDC_KEY_LABEL, label.c_str());
}

bool RegisterWindowHotkey(CaptureWindowState& state) {
  if (state.settings->Keybind == 0) return true;
  return state.key.Hold(KeyHolder::Window, state.hwnd, state.settings->Keybind);
}

}  // namespace snaplark
