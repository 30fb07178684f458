#pragma once
// Virtual cameras: installed in place of Media Foundation's devices, they are
// listed as given and each opens by its symbolic link as a virtual media
// source playing a fresh copy of its script.
#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "camera/virtual/virtual_camera.h"

namespace snaplark {

struct VirtualDevice {
  std::optional<std::wstring> name;
  std::optional<std::wstring> symbolicLink;
  // Called on every opening; each opening plays its own script.
  std::function<VirtualCameraScript()> script;
  // Not S_OK: opening fails with this, as an unplugged device would.
  HRESULT openError = S_OK;
};

// Installs the virtual layer with these devices, in this order, replacing any
// devices installed before. Sources already open keep playing.
void UseVirtualDevices(std::vector<VirtualDevice> devices);

// Goes back to Media Foundation's own devices.
void UseMediaFoundationDevices();

}  // namespace snaplark
