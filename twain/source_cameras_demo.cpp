#include <windows.h>

#include <atomic>
#include <memory>
#include <vector>

#include "camera/virtual/demo_devices.h"
#include "camera/virtual/live_objects.h"
#include "camera/virtual/virtual_camera.h"
#include "camera/virtual/virtual_devices.h"
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

// Whether the NV12 camera shows only the top left 322 x 242 pixels of its
// pattern: rows of 966 bytes, which a DIB pads and a careless copy does not.
std::atomic<bool>& Narrowed() {
  static auto* narrowed = new std::atomic<bool>(false);
  return *narrowed;
}

constexpr int NarrowWidth = 322;
constexpr int NarrowHeight = 242;

// The top left corner of an NV12 frame: its luma rows, then its chroma rows.
VirtualFrame Corner(const VirtualFrame& frame, int height) {
  std::vector<std::uint8_t> packed;
  const auto copyRows = [&](int first, int count) {
    for (int row = first; row < first + count; ++row) {
      const std::uint8_t* from = frame.bytes.data() + frame.offset + static_cast<std::size_t>(row) * frame.pitch;
      packed.insert(packed.end(), from, from + NarrowWidth);
    }
  };
  copyRows(0, NarrowHeight);
  copyRows(height, NarrowHeight / 2);
  return PitchedFrame(packed, NarrowWidth, NarrowWidth + 64);
}

VirtualCameraScript NarrowableNv12Script() {
  VirtualCameraScript script = DemoNv12Script();
  script.stats = SharedStats();
  if (!Narrowed().load()) return script;
  const UINT32 height = script.nativeTypes.front().height;
  script.nativeTypes.front().width = NarrowWidth;
  script.nativeTypes.front().height = NarrowHeight;
  script.frameMaker = [whole = script.frameMaker, height](std::uint32_t n) {
    return Corner(whole(n), static_cast<int>(height));
  };
  return script;
}

}  // namespace

// The demo cameras, counted into (and stalled through) one shared record.
void UseSourceCameras() {
  std::vector<VirtualDevice> devices(2);
  devices[0].name = DemoNv12Name;
  devices[0].symbolicLink = DemoNv12Link;
  devices[0].script = NarrowableNv12Script;
  devices[1].name = DemoYuy2Name;
  devices[1].symbolicLink = DemoYuy2Link;
  devices[1].script = [] {
    VirtualCameraScript script = DemoYuy2Script();
    script.stats = SharedStats();
    return script;
  };
  UseVirtualDevices(std::move(devices));
}

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

// And its NV12 camera gives a frame of 322 x 242 (TRUE) or its own (FALSE),
// for a width whose rows need padding; from the camera's next opening on.
extern "C" void WINAPI NarrowDemoCameras(BOOL narrowed) { snaplark::Narrowed() = narrowed != FALSE; }
