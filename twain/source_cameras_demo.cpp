#include "camera/virtual/demo_devices.h"
#include "twain/source_cameras.h"

namespace snaplark {

void UseSourceCameras() { UseDemoDevices(); }

}  // namespace snaplark
