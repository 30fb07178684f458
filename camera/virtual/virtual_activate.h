#pragma once
// Activation objects of virtual cameras, as an enumeration of devices hands
// them out. They carry a friendly name and a symbolic link, either of which
// may be missing, and cannot be activated: the engine opens a camera from its
// link, never from the activation object.
#include <windows.h>
#include <mfidl.h>

#include <optional>
#include <string>
#include <vector>

namespace snaplark {

struct VirtualDeviceInfo {
  std::optional<std::wstring> friendlyName;
  std::optional<std::wstring> symbolicLink;
};

// One activation object; *activate holds one reference for the caller.
// The two texts are answered exactly as given, embedded NULs included, with
// their full length, the way a badly terminated driver string would be.
HRESULT CreateVirtualActivate(const VirtualDeviceInfo& device, IMFActivate** activate);

// What MFEnumDeviceSources hands back: an array allocated with CoTaskMemAlloc
// (allocated even for no devices) holding one reference to each activation
// object. On failure nothing is left allocated, *devices is null and *count 0.
HRESULT CreateVirtualActivateArray(const std::vector<VirtualDeviceInfo>& infos, IMFActivate*** devices, UINT32* count);

}  // namespace snaplark
