#pragma once
// The three source layouts a camera buffer can hold, named once for every
// pixel test: how many bytes a frame of each needs, and its conversion.
#include <cstdint>

#include "camera/frame_layout.h"
#include "camera/pixel_conversion.h"

namespace snaplark::test {

enum class Layout { Rgb, Nv12, Yuy2 };
constexpr Layout kLayouts[] = {Layout::Rgb, Layout::Nv12, Layout::Yuy2};

inline const char* Name(Layout layout) {
  return layout == Layout::Rgb ? "RGB" : layout == Layout::Nv12 ? "NV12" : "YUY2";
}

inline std::int64_t BytesNeeded(Layout layout, int width, int height) {
  switch (layout) {
    case Layout::Rgb:
      return RgbBytesNeeded(width, height);
    case Layout::Nv12:
      return Nv12BytesNeeded(width, height);
    default:
      return Yuy2BytesNeeded(width, height);
  }
}

// Converts a packed source of `layout` into a frame with the usual stride.
inline void Convert(Layout layout, const std::uint8_t* source, std::uint8_t* pixels, int width, int height) {
  const int stride = FrameStride(width);
  switch (layout) {
    case Layout::Rgb:
      CopyRgbRows(source, pixels, width, height, stride);
      break;
    case Layout::Nv12:
      ConvertNv12(source, pixels, width, height, stride);
      break;
    case Layout::Yuy2:
      ConvertYuy2(source, pixels, width, height, stride);
      break;
  }
}

}  // namespace snaplark::test
