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
TW_UINT32 RgbRowBytes(const PictureShape& shape) { return (3 * static_cast<TW_UINT32>(shape.width) + 3) & ~3u; }

// Rows `first` to `first + count` (from the top) of the DIB, turned from
// blue-green-red to red-green-blue, `rowBytes` apart into `out`, padding zeroed.
void CopyRows(const BYTE* pixels, const PictureShape& shape, TW_UINT32 first, TW_UINT32 count, BYTE* out,
              TW_UINT32 rowBytes) {
  for (TW_UINT32 row = 0; row < count; ++row) {
    const std::size_t fromBottom = static_cast<std::size_t>(shape.height) - 1 - (first + row);
    const BYTE* source = pixels + fromBottom * shape.stride;
    BYTE* target = out + static_cast<std::size_t>(row) * rowBytes;
    for (TW_INT32 x = 0; x < shape.width; ++x) {
      target[3 * x] = source[3 * x + 2];
      target[3 * x + 1] = source[3 * x + 1];
      target[3 * x + 2] = source[3 * x];
    }
    std::fill(target + 3 * static_cast<std::size_t>(shape.width), target + rowBytes, BYTE{0});
  }
}

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
  const auto* header = static_cast<const BITMAPINFOHEADER*>(locked.Data());
  if (!header || header->biBitCount != 24 || header->biWidth <= 0 || header->biHeight <= 0) return false;
  const auto stride = static_cast<TW_UINT32>((3 * header->biWidth + 3) & ~3);
  if (GlobalSize(block) < header->biSize + static_cast<SIZE_T>(stride) * header->biHeight) return false;
  shape = {header->biWidth, header->biHeight, stride};
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
  const auto* header = static_cast<const BITMAPINFOHEADER*>(picture.Data());
  if (!buffer.Data() || !header) return {TWRC_FAILURE, TWCC_LOWMEMORY};
  CopyRows(reinterpret_cast<const BYTE*>(header) + header->biSize, shape, nextRow, rows, buffer.Data(), rowBytes);

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
