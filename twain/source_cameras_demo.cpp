#include <windows.h>

#include "camera/virtual/demo_devices.h"
#include "camera/virtual/live_objects.h"
#include "camera/virtual/virtual_camera.h"
#include "twain/source_cameras.h"

namespace snaplark {

void UseSourceCameras() { UseDemoDevices(); }

// The virtual cameras are COM objects of this file, which Media Foundation's
// queues may still hold for a moment after the reader has gone.
bool SourceCamerasReleased() {
  constexpr DWORD LimitMs = 2000;
  const DWORD start = GetTickCount();
  while (LiveVirtualObjects() != 0 || VirtualSourcesNotShutDown() != 0) {
    if (GetTickCount() - start > LimitMs) return false;
    Sleep(10);
  }
  return true;
}

}  // namespace snaplark
