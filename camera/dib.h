#pragma once
// The picture every capture hands out: a packed 24-bit device-independent
// bitmap, a 40-byte header and the frame's rows right after it, bottom row
// first, blue-green-red, with no colour table. The clipboard's CF_DIB holds
// it, a BMP file is it behind a 14-byte file header, and a TWAIN memory
// transfer hands its rows out top row first as red-green-blue.
// Platform-free: every field is written and read little-endian by hand.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace snaplark {

inline constexpr std::size_t DibHeaderBytes = 40;
inline constexpr std::size_t BmpFileHeaderBytes = 14;
// 96 dots per inch, as pixels per metre.
inline constexpr std::int32_t DibPixelsPerMetre = 3780;

struct PictureShape {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int32_t stride = 0;  // bytes from one row to the next: 3 * width raised to a multiple of 4
};

// The shape of a converted frame of this size.
PictureShape PictureShapeFor(int width, int height);
// stride * height: the bytes of the rows.
std::size_t ImageBytes(const PictureShape& shape);

// Writes the 40-byte header of a picture of this shape at `to`.
void WriteDibHeader(const PictureShape& shape, std::uint8_t* to);

// The shape of a packed DIB of `size` bytes; none unless it is a bottom-up
// 24-bit picture with a 40-byte header whose rows the block holds in full.
std::optional<PictureShape> ShapeOfDib(const std::uint8_t* dib, std::size_t size);

// The file header for a packed DIB: "BM", the file size and the pixels'
// offset. None when the block is not a picture ShapeOfDib accepts.
std::optional<std::array<std::uint8_t, BmpFileHeaderBytes>> BmpFileHeader(const std::uint8_t* dib, std::size_t size);

// Rows `first` to `first + count` (counted from the top) of the picture's
// `rows`, turned from blue-green-red to red-green-blue, `rowBytes` apart into
// `out`, the bytes after each row's pixels zeroed.
void CopyRowsTopDownRgb(const std::uint8_t* rows, const PictureShape& shape, std::uint32_t first, std::uint32_t count,
                        std::uint8_t* out, std::uint32_t rowBytes);

}  // namespace snaplark
