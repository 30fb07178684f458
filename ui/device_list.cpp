#include "ui/device_list.h"

#include <cwchar>

#include "camera/camera.h"
#include "res/resource_ids.h"
#include "settings/settings.h"
#include "ui/capture_window_texts.h"
#include "ui/preview_control.h"

namespace snaplark {
namespace {

LRESULT SendToCombo(const CaptureWindowState& state, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
  return SendDlgItemMessageW(state.hwnd, IDC_DEVICE_COMBO, message, wParam, lParam);
}

void AddEntry(const CaptureWindowState& state, const wchar_t* text) {
  SendToCombo(state, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
}

void ShowResolution(const CaptureWindowState& state) {
  wchar_t line[64];
  std::swprintf(line, 64, L"Resolution: %d x %d", static_cast<int>(state.camera->Width()),
                static_cast<int>(state.camera->Height()));
  SetDlgItemTextW(state.hwnd, IDC_RESOLUTION, line);
}

}  // namespace

int FillDeviceList(CaptureWindowState& state) {
  SendToCombo(state, CB_RESETCONTENT);
  state.devices = EnumerateCameras();
  int chosen = 0;
  for (std::size_t i = 0; i < state.devices.size(); ++i) {
    AddEntry(state, state.devices[i].name.c_str());
    if (state.devices[i].symbolicLink == state.settings->DeviceSymLink) chosen = static_cast<int>(i);
  }
  if (!state.devices.empty()) {
    // A selection made here raises no CBN_SELCHANGE: the camera opens once.
    SendToCombo(state, CB_SETCURSEL, static_cast<WPARAM>(chosen));
    return chosen;
  }
  AddEntry(state, NoDevicesEntry);
  SendToCombo(state, CB_SETCURSEL, 0);
  return -1;
}

bool IsListed(const CaptureWindowState& state, int index) {
  return index >= 0 && static_cast<std::size_t>(index) < state.devices.size();
}

bool OpenSelectedCamera(CaptureWindowState& state, int index) {
  // Stopped before anything changes, so the previous device's callback never
  // runs after this point.
  state.camera->StopCapture();
  if (!IsListed(state, index)) return false;
  const CameraDevice& device = state.devices[static_cast<std::size_t>(index)];
  state.settings->DeviceSymLink = device.symbolicLink;
  state.settings->DeviceIndex = index;
  state.settings->DeviceName = device.name;
  state.camera->Close();
  state.lossShown = false;
  if (!state.camera->Open(device.symbolicLink)) return false;
  ShowResolution(state);
  state.camera->StartCapture(PreviewFrameCallback(state));
  return true;
}

}  // namespace snaplark
