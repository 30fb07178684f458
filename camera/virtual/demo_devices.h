#pragma once
// The two test-pattern cameras of the demo build. Their pictures are fixed, so
// that any captured frame can be checked pixel by pixel. Frame n counts from 0
// at the first frame delivered after the source starts; x and y count from the
// top-left pixel; p = x / 2 is the chroma pair; all values are modulo 256.
//
//   NV12, 640 x 480 at 30 fps:  Y = x + y + 3n;  chroma row r = y / 2:
//                               U = 4p + n, V = 4r + 2n
//   YUY2, 1280 x 720 at 30 fps: Y = x + y + 3n;  U = 4p + n, V = 4y + 2n
#include <memory>

#include "camera/virtual/virtual_camera.h"
#include "product_identity.h"

namespace snaplark {

inline constexpr wchar_t DemoNv12Name[] = L"" SNAPLARK_PRODUCT " Test Pattern (NV12)";
inline constexpr wchar_t DemoNv12Link[] = L"\\\\?\\snaplark-virtual#nv12";
inline constexpr wchar_t DemoYuy2Name[] = L"" SNAPLARK_PRODUCT " Test Pattern (YUY2)";
inline constexpr wchar_t DemoYuy2Link[] = L"\\\\?\\snaplark-virtual#yuy2";

// Installs the two demo cameras, NV12 first, in place of the platform's.
// With `sharedStats`, every opening of either camera counts into (and can be
// stalled through) that one record instead of a fresh one.
void UseDemoDevices(std::shared_ptr<VirtualCameraStats> sharedStats = nullptr);

// The scripts the two demo cameras play, for tests that show their pictures.
VirtualCameraScript DemoNv12Script();
VirtualCameraScript DemoYuy2Script();

}  // namespace snaplark
