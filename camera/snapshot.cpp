// One fresh frame packed as a device-independent bitmap: a 40-byte header
// and the bottom-up rows right after it, with no colour table. This block is
// what the clipboard's CF_DIB holds and the body of a BMP file.
#include <cstring>

#include "handles/win_handles.h"
#include "camera/camera.h"
#include "camera/dib.h"

namespace snaplark {

HGLOBAL Camera::SnapshotDib() {
  if (!reader) return nullptr;
  std::vector<std::uint8_t> pixels;
  int frameWidth = 0;
  int frameHeight = 0;
  int frameStride = 0;
  if (!ReadFrame(pixels, frameWidth, frameHeight, frameStride)) return nullptr;

  const std::size_t imageBytes = pixels.size();
  GlobalMemory block(GlobalAlloc(GMEM_MOVEABLE, DibHeaderBytes + imageBytes));
  if (!block) return nullptr;
  {
    GlobalLockGuard lock(block.Get());
    if (!lock) return nullptr;  // the block is freed by its owner

    auto* bytes = static_cast<std::uint8_t*>(lock.Data());
    WriteDibHeader(PictureShapeFor(frameWidth, frameHeight), bytes);
    std::memcpy(bytes + DibHeaderBytes, pixels.data(), imageBytes);
  }
  return block.Release();
}

}  // namespace snaplark
