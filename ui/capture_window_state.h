#pragma once
// The record of one showing of the capture window, private to the window's
// own files: made by CaptureWindow, bound to the dialog at its creation.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <vector>

#include "camera/media_platform.h"
#include "handles/win_handles.h"
#include "settings/capture_key.h"
#include "ui/capture_window_inputs.h"
#include "ui/preview.h"

namespace snaplark {

struct CaptureWindowState {
  HWND hwnd = nullptr;  // null until the dialog initialises
  HWND owner;
  HINSTANCE instance;
  Settings* settings;
  Camera* camera;
  CaptureWindowMode mode;
  SettingsStore store;
  CaptureOutcome outcome = CaptureOutcome::Dismissed;
  // Waiting for a new capture key, through a thread keyboard hook while it
  // could be set.
  bool picking = false;
  UniqueHook pickerHook;
  PreviewSlot preview;
  HWND previewControl = nullptr;
  // The preview control's client size (width << 16 | height) as last
  // painted, which the capture thread shrinks frames to.
  std::atomic<std::uint32_t> previewClientSize{0};
  // Entry i of the combo box is device i.
  std::vector<CameraDevice> devices;
  // Held by the window itself in Twain mode only.
  CaptureKey key;
  bool lossShown = false;  // the open camera was found gone and the window says so
  std::int32_t captureCount = 0;
  GdiObject titleFont;
  GdiObject bodyFont;
  GdiObject captionFont;
  // Used only on the capture thread, and destroyed with the state, after the
  // capture thread has stopped.
  PreviewScratch previewScratch;
  // A window without a loop of its own posts `endedMessage` to `endedNotify`
  // once it is gone.
  HWND endedNotify = nullptr;
  UINT endedMessage = 0;

  explicit CaptureWindowState(const CaptureWindowInputs& inputs)
      : owner(inputs.owner),
        instance(inputs.instance),
        settings(inputs.settings),
        camera(inputs.camera),
        mode(inputs.mode),
        store(inputs.store) {}
  bool IsTwain() const { return mode == CaptureWindowMode::Twain; }
};

}  // namespace snaplark
