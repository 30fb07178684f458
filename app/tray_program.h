#pragma once
// The tray program: one object, made by wWinMain and run by RunTrayProgram,
// that owns its settings, camera, capture key, tray icon and windows. The
// tray window's and the listener's procedures reach it through their window.
#include <windows.h>

#include "app/tray_icon.h"
#include "camera/camera.h"
#include "settings/capture_key.h"
#include "settings/settings.h"

namespace snaplark {

struct TrayProgram {
  explicit TrayProgram(HINSTANCE instance, NotifyShellCall notify = Shell_NotifyIconW);
  TrayProgram(const TrayProgram&) = delete;
  TrayProgram& operator=(const TrayProgram&) = delete;

  // The program whose tray window `tray` is; null once the run has ended.
  static TrayProgram* Of(HWND tray);
  // Owns the tray menu: a window that can come to the front (see tray_menu.h).
  HWND MenuOwner() const;

  const HINSTANCE instance;
  // Loaded at start-up; the capture window and the key work on this record.
  Settings settings;
  // The one camera, owned for the whole run. The capture window opens it
  // and the tray closes it when that window closes; while the program sits
  // in the tray, a hotkey capture opens the saved camera and keeps it open
  // for the next press, until the window next closes or the program ends.
  Camera camera;
  CaptureKey key;
  TrayIcon icon;
  // The hidden message-only window that owns the icon and hears the hotkey.
  HWND window = nullptr;
  // Hears the shell's "TaskbarCreated" (see taskbar_listener.h).
  HWND listener = nullptr;
  // The capture window's modal loop keeps dispatching the tray's messages,
  // so a click meanwhile must not open a second window.
  bool captureWindowShowing = false;
};

}  // namespace snaplark
