#pragma once
// What a showing of the capture window is given, and how it ended.
#include <windows.h>

#include "settings/settings_store.h"
#include "ui/capture_window_mode.h"

namespace snaplark {

struct Settings;
class Camera;

// Accepted: "Scan" (Twain mode). NotShown: the dialog could not be created.
enum class CaptureOutcome { Accepted, Dismissed, NotShown };

// Settings and camera are shared, not owned, and must outlive the window;
// the camera is left open with its capture thread stopped, and the settings
// are saved through `store` when the window ends.
struct CaptureWindowInputs {
  HWND owner = nullptr;
  HINSTANCE instance = nullptr;  // holds the dialog template and the icon
  Settings* settings = nullptr;
  Camera* camera = nullptr;
  CaptureWindowMode mode = CaptureWindowMode::Standalone;
  SettingsStore store;
};

}  // namespace snaplark
