#pragma once
// The tray program: one object, made by wWinMain, that owns everything the
// run needs, from the single-instance check to the ordered shutdown. The
// tray window's and the listener's procedures reach it through their window.
#include <windows.h>

#include "app/tray_icon.h"
#include "camera/camera.h"
#include "handles/win_handles.h"
#include "settings/capture_key.h"
#include "settings/settings.h"

namespace snaplark {

class TrayProgram {
 public:
  explicit TrayProgram(HINSTANCE instance, NotifyShellCall notify = Shell_NotifyIconW);
  TrayProgram(const TrayProgram&) = delete;
  TrayProgram& operator=(const TrayProgram&) = delete;

  // The whole run; returns the process exit code, which is 0 on every path.
  // The settings and the camera outlive it, and go with the object, the
  // camera first.
  int Run();

  // The program whose tray window `tray` is; null once the run has ended.
  static TrayProgram* Of(HWND tray);
  // Owns the tray menu: a window that can come to the front (see tray_menu.h).
  HWND MenuOwner() const;

  const HINSTANCE instance;
  // Loaded at start-up; the capture window and the key work on this copy.
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

 private:
  void Start();
  void Stop();

  UniqueHandle mutex_;
};

}  // namespace snaplark
