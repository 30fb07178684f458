// One fresh frame packed as a device-independent bitmap: a 40-byte header
// and the bottom-up rows right after it, with no colour table. This block is
// what the clipboard's CF_DIB holds and the body of a BMP file.
#include <cstring>

#include "handles/win_handles.h"
#include "camera/camera.h"

namespace snaplark {

static_assert(sizeof(BITMAPINFOHEADER) == 40, "the DIB header is 40 bytes");

namespace {

// 96 dots per inch, as pixels per metre.
constexpr LONG kPixelsPerMetre = 3780;

}  // namespace

HGLOBAL Camera::SnapshotDib() {
  if (!reader_) return nullptr;
  std::vector<std::uint8_t> pixels;
  int frameWidth = 0;
  int frameHeight = 0;
  int frameStride = 0;
  if (!ReadFrame(pixels, frameWidth, frameHeight, frameStride)) return nullptr;

  const std::size_t imageBytes = pixels.size();
  GlobalMemory block(GlobalAlloc(GMEM_MOVEABLE, sizeof(BITMAPINFOHEADER) + imageBytes));
  if (!block) return nullptr;
  {
    GlobalLockGuard lock(block.Get());
    if (!lock) return nullptr;  // the block is freed by its owner

    BITMAPINFOHEADER header = {};
    header.biSize = sizeof(BITMAPINFOHEADER);
    header.biWidth = frameWidth;
    header.biHeight = frameHeight;  // positive: rows bottom-up
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    header.biSizeImage = static_cast<DWORD>(imageBytes);
    header.biXPelsPerMeter = kPixelsPerMetre;
    header.biYPelsPerMeter = kPixelsPerMetre;
    header.biClrUsed = 0;
    header.biClrImportant = 0;

    auto* bytes = static_cast<std::uint8_t*>(lock.Data());
    std::memcpy(bytes, &header, sizeof(header));
    std::memcpy(bytes + sizeof(header), pixels.data(), imageBytes);
  }
  return block.Release();
}

}  // namespace snaplark
