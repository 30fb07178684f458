#pragma once
// The one seam between the camera engine and Media Foundation's device layer:
// listing the video capture devices and creating the media source of one.
// Production uses Media Foundation itself; tests and the demo install a layer
// of virtual cameras. Nothing above this seam knows whether a device is real.
#include <windows.h>
#include <mfidl.h>

namespace snaplark {

struct DeviceLayer {
  // Both use the platform calling convention (stdcall on 32-bit), as the
  // Media Foundation functions do.
  // Same contract as MFEnumDeviceSources: an array of activation objects
  // allocated with CoTaskMemAlloc, each holding one reference for the caller.
  HRESULT(WINAPI* enumDeviceSources)(IMFAttributes* attributes, IMFActivate*** devices, UINT32* count);
  // Same contract as MFCreateDeviceSource: the attributes carry the source type
  // and the device's symbolic link.
  HRESULT(WINAPI* createDeviceSource)(IMFAttributes* attributes, IMFMediaSource** source);
};

// The layer in use; Media Foundation's unless another was installed.
const DeviceLayer& CurrentDeviceLayer();

// Installs `layer` (which must outlive its use), or Media Foundation's for null.
void UseDeviceLayer(const DeviceLayer* layer);

}  // namespace snaplark
