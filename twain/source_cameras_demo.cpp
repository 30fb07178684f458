#include <windows.h>

#include <memory>

#include "camera/virtual/demo_devices.h"
#include "camera/virtual/live_objects.h"
#include "camera/virtual/virtual_camera.h"
#include "twain/source_cameras.h"

namespace snaplark {
namespace {

// One record for every opening, so that StallDemoCameras reaches the camera
// whichever session opened it. Never freed: a read stuck in a stalled camera
// may hold it after the file's last session.
const std::shared_ptr<VirtualCameraStats>& SharedStats() {
  static auto* stats = new std::shared_ptr<VirtualCameraStats>(std::make_shared<VirtualCameraStats>());
  return *stats;
}

}  // namespace

void UseSourceCameras() { UseDemoDevices(SharedStats()); }

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

// The demo build's own export: the demo cameras stop sending (TRUE) as a cheap
// USB camera stalls, or go on (FALSE), so that a host can try the source
// with a camera that hangs.
extern "C" void WINAPI StallDemoCameras(BOOL stalled) { snaplark::SharedStats()->stalled = stalled != FALSE; }
