#include "camera/device_layer.h"

#include <mfapi.h>

namespace snaplark {
namespace {

const DeviceLayer kMediaFoundationLayer = {MFEnumDeviceSources, MFCreateDeviceSource};
const DeviceLayer* currentLayer = &kMediaFoundationLayer;

}  // namespace

const DeviceLayer& CurrentDeviceLayer() { return *currentLayer; }

void UseDeviceLayer(const DeviceLayer* layer) { currentLayer = layer ? layer : &kMediaFoundationLayer; }

}  // namespace snaplark
