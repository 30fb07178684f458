#include "app/capture_window_from_tray.h"

#include <cwchar>

#include "app/app_state.h"
#include "app/tray_notices.h"
#include "app/tray_texts.h"
#include "camera/camera.h"
#include "settings/settings.h"
#include "settings/settings_store.h"
#include "ui/capture_window.h"

namespace snaplark {

bool CaptureWindowShowing = false;

namespace {

// The keyboard layout's own name of the key (numeric-keypad and arrow keys
// read as the layout calls them); empty when the layout has none.
void ShowStillRunning() {
  const UINT key = AppSettings->Keybind;
  if (key == 0) {
    ShowTrayNotice(ProgramTitle, StillRunningNoKeyNotice);
    return;
  }
  wchar_t name[64] = {};
  GetKeyNameTextW(static_cast<LONG>(MapVirtualKeyW(key, MAPVK_VK_TO_VSC) << 16), name, 64);
  wchar_t text[128];
  std::swprintf(text, 128, StillRunningNotice, name);
  ShowTrayNotice(ProgramTitle, text);
}

}  // namespace

void OpenCaptureWindowFromTray() {
  if (CaptureWindowShowing) return;
  CaptureWindowShowing = true;
  // The TWAIN source writes the same settings: read them afresh, so that
  // closing this window does not undo a camera or key saved there.
  *AppSettings = SettingsStore().Load();
  ShowCaptureWindow({nullptr, AppInstance, AppSettings, AppCamera, CaptureWindowMode::Standalone, SettingsStore()});
  // A key picked in the window becomes the global hotkey now.
  RegisterTrayHotkey();
  // The camera is not held while the program sits in the tray.
  AppCamera->Close();
  ShowStillRunning();
  CaptureWindowShowing = false;
}

}  // namespace snaplark
