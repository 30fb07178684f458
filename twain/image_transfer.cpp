#include "twain/image_transfer.h"

#include <algorithm>
#include <cstddef>

#include "handles/win_handles.h"

namespace snaplark {
namespace {

using namespace twain;

constexpr TW_INT16 Dpi = 96;
// A row of an 8K frame: wide enough for any webcam.
constexpr TW_UINT32 WidestRowBytes = 3 * 8192;
constexpr TW_UINT32 PreferredStripBytes = 64 * 1024;

TW_FIX32 Fix32(double value) {
  const auto whole = static_cast<TW_INT16>(value);
  return {whole, static_cast<TW_UINT16>((value - whole) * 65536.0 + 0.5)};
}

// Rows padded to whole 32-bit words, as in a DIB: many applications copy
// strips straight into one and take that for granted.
TW_UINT32 RgbRowBytes(const PictureShape& shape) { return static_cast<TW_UINT32>(shape.stride); }

// The application's buffer, locked if it came as a handle.
class StripBuffer {
 public:
  StripBuffer(const TW_MEMORY& memory, const ManagerLink& manager)
      : manager_(manager), handle_(memory.Flags & TWMF_HANDLE ? memory.TheMem : nullptr) {
    data_ = static_cast<BYTE*>(handle_ ? manager.Lock(handle_) : memory.TheMem);
  }
  ~StripBuffer() {
    if (handle_ && data_) manager_.Unlock(handle_);
  }
  StripBuffer(const StripBuffer&) = delete;
  StripBuffer& operator=(const StripBuffer&) = delete;
  BYTE* Data() const { return data_; }

 private:
  const ManagerLink& manager_;
  HANDLE handle_;
  BYTE* data_;
};

}  // namespace

bool ShapeOfSnapshot(HGLOBAL block, PictureShape& shape) {
  const GlobalLockGuard locked(block);
  const auto shapeOf = ShapeOfDib(static_cast<const std::uint8_t*>(locked.Data()), GlobalSize(block));
  if (!shapeOf) return false;
  shape = *shapeOf;
  return true;
}

TW_IMAGEINFO ImageInfoFor(const PictureShape& shape) {
  TW_IMAGEINFO info{};
  info.XResolution = Fix32(Dpi);
  info.YResolution = Fix32(Dpi);
  info.ImageWidth = shape.width;
  info.ImageLength = shape.height;
  info.SamplesPerPixel = 3;
  for (int sample = 0; sample < 3; ++sample) info.BitsPerSample[sample] = 8;
  info.BitsPerPixel = 24;
  info.Planar = 0;
  info.PixelType = TWPT_RGB;
  info.Compression = TWCP_NONE;
  return info;
}

TW_IMAGELAYOUT ImageLayoutFor(const PictureShape& shape) {
  TW_IMAGELAYOUT layout{};
  layout.Frame.Left = Fix32(0);
  layout.Frame.Top = Fix32(0);
  layout.Frame.Right = Fix32(static_cast<double>(shape.width) / Dpi);
  layout.Frame.Bottom = Fix32(static_cast<double>(shape.height) / Dpi);
  layout.DocumentNumber = 1;
  layout.PageNumber = 1;
  layout.FrameNumber = 1;
  return layout;
}

TW_SETUPMEMXFER MemorySetupFor(const PictureShape& shape) {
  if (shape.width <= 0) return {WidestRowBytes, TWON_DONTCARE32, std::max(WidestRowBytes, PreferredStripBytes)};
  const TW_UINT32 row = RgbRowBytes(shape);
  const TW_UINT32 whole = row * static_cast<TW_UINT32>(shape.height);
  const TW_UINT32 preferred = std::min(whole, std::max(row, PreferredStripBytes / row * row));
  return {row, whole, preferred};
}

TwainAnswer CopyNextStrip(HGLOBAL block, const PictureShape& shape, TW_IMAGEMEMXFER& request, TW_UINT32& nextRow,
                          const ManagerLink& memory) {
  const TW_UINT32 rowBytes = RgbRowBytes(shape);
  const TW_UINT32 rowsLeft = static_cast<TW_UINT32>(shape.height) - nextRow;
  const TW_UINT32 rows = std::min(request.Memory.Length / rowBytes, rowsLeft);
  if (rows == 0 || !request.Memory.TheMem) return {TWRC_FAILURE, TWCC_BADVALUE};

  const StripBuffer buffer(request.Memory, memory);
  const GlobalLockGuard picture(block);
  const auto* dib = static_cast<const std::uint8_t*>(picture.Data());
  if (!buffer.Data() || !dib) return {TWRC_FAILURE, TWCC_LOWMEMORY};
  CopyRowsTopDownRgb(dib + DibHeaderBytes, shape, nextRow, rows, buffer.Data(), rowBytes);

  request.Compression = TWCP_NONE;
  request.BytesPerRow = rowBytes;
  request.Columns = static_cast<TW_UINT32>(shape.width);
  request.Rows = rows;
  request.XOffset = 0;
  request.YOffset = nextRow;
  request.BytesWritten = rows * rowBytes;
  nextRow += rows;
  return {nextRow == static_cast<TW_UINT32>(shape.height) ? TWRC_XFERDONE : TWRC_SUCCESS, TWCC_SUCCESS};
}

}  // namespace snaplark
