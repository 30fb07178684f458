#include "camera/media_platform.h"

#include <windows.h>
#include <mfapi.h>
#include <mfidl.h>
#include <objbase.h>
#include <wrl/client.h>

#include "camera/media_foundation.h"

namespace snaplark {
namespace {

// Main thread only, so plain flags. Each records that start itself succeeded
// in that step, so stop never undoes what someone else set up.
bool comInitialized = false;
// The calls that started Media Foundation, which must also stop it; null
// while it is not started.
const MediaFoundationCalls* mediaStartedWith = nullptr;

// The platform may report a length that runs past an embedded NUL; the text
// ends at the first NUL, whatever the length says.
std::wstring ReadString(IMFActivate* device, REFGUID key) {
  std::wstring text;
  WCHAR* value = nullptr;
  UINT32 length = 0;
  if (SUCCEEDED(device->GetAllocatedString(key, &value, &length))) {
    if (value) text = value;
    CoTaskMemFree(value);
  }
  return text;
}

}  // namespace

bool StartMediaPlatform() {
  if (!comInitialized) {
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (SUCCEEDED(hr)) {
      comInitialized = true;
    } else if (hr != RPC_E_CHANGED_MODE) {
      return false;
    }
    // RPC_E_CHANGED_MODE: the thread already has an apartment, which serves
    // Media Foundation as well; it is not ours to uninitialise later.
  }
  if (mediaStartedWith) return true;
  const MediaFoundationCalls* calls = MediaFoundation();
  if (!calls || FAILED(calls->startup(MF_VERSION, MFSTARTUP_NOSOCKET))) return false;
  mediaStartedWith = calls;
  return true;
}

void StopMediaPlatform() {
  if (mediaStartedWith) {
    mediaStartedWith->shutdown();
    mediaStartedWith = nullptr;
  }
  if (comInitialized) {
    CoUninitialize();
    comInitialized = false;
  }
}

std::vector<CameraDevice> EnumerateCameras() {
  std::vector<CameraDevice> devices;

  IMFActivate** activations = nullptr;
  UINT32 count = 0;
  {
    Microsoft::WRL::ComPtr<IMFAttributes> query;
    const MediaFoundationCalls* calls = MediaFoundation();
    if (!calls || FAILED(calls->createAttributes(&query, 1))) return devices;
    if (FAILED(query->SetGUID(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE, MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_GUID))) {
      return devices;
    }
    if (FAILED(calls->enumDeviceSources(query.Get(), &activations, &count))) return devices;
  }

  devices.reserve(count);
  for (UINT32 i = 0; i < count; ++i) {
    IMFActivate* device = activations[i];
    if (!device) {
      devices.push_back({});
      continue;
    }
    devices.push_back({ReadString(device, MF_DEVSOURCE_ATTRIBUTE_FRIENDLY_NAME),
                       ReadString(device, MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_SYMBOLIC_LINK)});
    // Nothing keeps a device object: the camera is opened later by its link.
    device->Release();
  }
  CoTaskMemFree(activations);
  return devices;
}

}  // namespace snaplark
