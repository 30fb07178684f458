#include "camera/dib.h"

#include <algorithm>

#include "camera/frame_layout.h"

namespace snaplark {
namespace {

constexpr std::uint16_t BitsPerPixel = 24;

std::uint32_t Read32(const std::uint8_t* at) {
  return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
         static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

void Write32(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void Write16(std::uint8_t* at, std::uint16_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
}

}  // namespace

PictureShape PictureShapeFor(int width, int height) { return {width, height, FrameStride(width)}; }

std::size_t ImageBytes(const PictureShape& shape) {
  return static_cast<std::size_t>(shape.stride) * static_cast<std::size_t>(shape.height);
}

void WriteDibHeader(const PictureShape& shape, std::uint8_t* to) {
  std::fill(to, to + DibHeaderBytes, std::uint8_t{0});  // BI_RGB, no colours
  Write32(to, DibHeaderBytes);
  Write32(to + 4, static_cast<std::uint32_t>(shape.width));
  Write32(to + 8, static_cast<std::uint32_t>(shape.height));  // positive: rows bottom-up
  Write16(to + 12, 1);                                        // planes
  Write16(to + 14, BitsPerPixel);
  Write32(to + 20, static_cast<std::uint32_t>(ImageBytes(shape)));
  Write32(to + 24, DibPixelsPerMetre);
  Write32(to + 28, DibPixelsPerMetre);
}

std::optional<PictureShape> ShapeOfDib(const std::uint8_t* dib, std::size_t size) {
  if (!dib || size < DibHeaderBytes || Read32(dib) != DibHeaderBytes) return std::nullopt;
  const auto width = static_cast<std::int32_t>(Read32(dib + 4));
  const auto height = static_cast<std::int32_t>(Read32(dib + 8));
  const unsigned bits = dib[14] | dib[15] << 8;
  if (bits != BitsPerPixel || !IsUsableFrameSize(width, height)) return std::nullopt;
  const PictureShape shape = PictureShapeFor(width, height);
  if (size - DibHeaderBytes < ImageBytes(shape)) return std::nullopt;
  return shape;
}

std::optional<std::array<std::uint8_t, BmpFileHeaderBytes>> BmpFileHeader(const std::uint8_t* dib, std::size_t size) {
  const std::optional<PictureShape> shape = ShapeOfDib(dib, size);
  if (!shape) return std::nullopt;
  const std::size_t offset = BmpFileHeaderBytes + DibHeaderBytes;
  std::array<std::uint8_t, BmpFileHeaderBytes> header{};
  header[0] = 'B';
  header[1] = 'M';
  Write32(&header[2], static_cast<std::uint32_t>(offset + ImageBytes(*shape)));
  Write32(&header[10], offset);
  return header;
}

void CopyRowsTopDownRgb(const std::uint8_t* rows, const PictureShape& shape, std::uint32_t first, std::uint32_t count,
                        std::uint8_t* out, std::uint32_t rowBytes) {
  const std::size_t pixelBytes = 3 * static_cast<std::size_t>(shape.width);
  for (std::uint32_t row = 0; row < count; ++row) {
    const std::size_t fromBottom = static_cast<std::size_t>(shape.height) - 1 - (first + row);
    const std::uint8_t* source = rows + fromBottom * static_cast<std::size_t>(shape.stride);
    std::uint8_t* target = out + static_cast<std::size_t>(row) * rowBytes;
    for (std::size_t x = 0; x < pixelBytes; x += 3) {
      target[x] = source[x + 2];
      target[x + 1] = source[x + 1];
      target[x + 2] = source[x];
    }
    std::fill(target + pixelBytes, target + rowBytes, std::uint8_t{0});
  }
}

}  // namespace snaplark
