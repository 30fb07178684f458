#include "camera/virtual/virtual_devices.h"

#include <mfapi.h>
#include <mferror.h>
#include <objbase.h>

#include <mutex>
#include <utility>

#include "camera/media_foundation.h"
#include "camera/virtual/virtual_activate.h"

namespace snaplark {
namespace {

std::mutex devicesMutex;
std::vector<VirtualDevice> installedDevices;

HRESULT WINAPI EnumerateVirtualDevices(IMFAttributes*, IMFActivate*** devices, UINT32* count) {
  std::vector<VirtualDeviceInfo> infos;
  {
    std::lock_guard<std::mutex> lock(devicesMutex);
    for (const VirtualDevice& device : installedDevices) infos.push_back({device.name, device.symbolicLink});
  }
  return CreateVirtualActivateArray(infos, devices, count);
}

HRESULT WINAPI CreateVirtualDeviceSource(IMFAttributes* attributes, IMFMediaSource** source) {
  if (!attributes || !source) return E_POINTER;
  *source = nullptr;
  GUID sourceType = GUID_NULL;
  HRESULT hr = attributes->GetGUID(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE, &sourceType);
  if (FAILED(hr)) return hr;
  if (!IsEqualGUID(sourceType, MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_GUID)) return MF_E_INVALIDREQUEST;
  WCHAR* link = nullptr;
  UINT32 length = 0;
  hr = attributes->GetAllocatedString(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_SYMBOLIC_LINK, &link, &length);
  if (FAILED(hr)) return hr;
  const std::wstring wanted(link, length);
  CoTaskMemFree(link);

  std::function<VirtualCameraScript()> script;
  {
    std::lock_guard<std::mutex> lock(devicesMutex);
    for (const VirtualDevice& device : installedDevices) {
      if (device.symbolicLink && *device.symbolicLink == wanted) {
        if (FAILED(device.openError)) return device.openError;
        script = device.script;
        break;
      }
    }
  }
  // The path of a device that is not (or no longer) there.
  if (!script) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  return CreateVirtualMediaSource(script(), source);
}

// The system's calls with the devices replaced: the virtual sources are read
// through the platform's own source reader. Null without Media Foundation.
const MediaFoundationCalls* VirtualDeviceCalls() {
  static const MediaFoundationCalls* const calls = []() -> const MediaFoundationCalls* {
    static MediaFoundationCalls replaced{};
    const MediaFoundationCalls* system = SystemMediaFoundation();
    if (!system) return nullptr;
    replaced = *system;
    replaced.enumDeviceSources = EnumerateVirtualDevices;
    replaced.createDeviceSource = CreateVirtualDeviceSource;
    return &replaced;
  }();
  return calls;
}

}  // namespace

void UseVirtualDevices(std::vector<VirtualDevice> devices) {
  {
    std::lock_guard<std::mutex> lock(devicesMutex);
    installedDevices = std::move(devices);
  }
  UseMediaFoundationCalls(VirtualDeviceCalls());
}

void UseMediaFoundationDevices() {
  UseSystemMediaFoundation();
  std::lock_guard<std::mutex> lock(devicesMutex);
  installedDevices.clear();
}

}  // namespace snaplark
