#include "app/capture_window_from_tray.h"

#include <cwchar>

#include "app/tray_hotkey.h"
#include "app/tray_program.h"
#include "app/tray_texts.h"
#include "settings/settings_store.h"
#include "ui/capture_window.h"

namespace snaplark {
namespace {

// The keyboard layout's own name of the key (numeric-keypad and arrow keys
// read as the layout calls them); empty when the layout has none.
void ShowStillRunning(TrayProgram& program) {
  const UINT key = program.settings.Keybind;
  if (key == 0) {
    program.icon.ShowNotice(StillRunningNoKeyNotice);
    return;
  }
  wchar_t name[64] = {};
  GetKeyNameTextW(static_cast<LONG>(MapVirtualKeyW(key, MAPVK_VK_TO_VSC) << 16), name, 64);
  wchar_t text[128];
  std::swprintf(text, 128, StillRunningNotice, name);
  program.icon.ShowNotice(text);
}

}  // namespace

void OpenCaptureWindowFromTray(TrayProgram& program) {
  if (program.captureWindowShowing) return;
  program.captureWindowShowing = true;
  // The TWAIN source writes the same settings: read them afresh, so that
  // closing this window does not undo a camera or key saved there.
  program.settings = SettingsStore().Load();
  ShowCaptureWindow(
      {nullptr, program.instance, &program.settings, &program.camera, CaptureWindowMode::Standalone, SettingsStore()});
  // A key picked in the window becomes the global hotkey now.
  RegisterTrayHotkey(program);
  program.camera.Close();
  ShowStillRunning(program);
  program.captureWindowShowing = false;
}

}  // namespace snaplark
