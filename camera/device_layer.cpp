#include "camera/device_layer.h"

#include "camera/media_foundation.h"

namespace snaplark {
namespace {

HRESULT WINAPI EnumSystemDevices(IMFAttributes* attributes, IMFActivate*** devices, UINT32* count) {
  const MediaFoundationCalls* calls = MediaFoundation();
  return calls ? calls->enumDeviceSources(attributes, devices, count) : E_NOTIMPL;
}

HRESULT WINAPI CreateSystemDeviceSource(IMFAttributes* attributes, IMFMediaSource** source) {
  const MediaFoundationCalls* calls = MediaFoundation();
  return calls ? calls->createDeviceSource(attributes, source) : E_NOTIMPL;
}

const DeviceLayer MediaFoundationLayer = {EnumSystemDevices, CreateSystemDeviceSource};
const DeviceLayer* currentLayer = &MediaFoundationLayer;

}  // namespace

const DeviceLayer& CurrentDeviceLayer() { return *currentLayer; }

void UseDeviceLayer(const DeviceLayer* layer) { currentLayer = layer ? layer : &MediaFoundationLayer; }

}  // namespace snaplark
