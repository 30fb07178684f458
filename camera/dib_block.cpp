#include "camera/dib_block.h"

#include "camera/camera.h"
#include "camera/dib.h"

namespace snaplark {

GlobalMemory SnapshotDib(Camera& camera) {
  if (!camera.IsOpen()) return GlobalMemory();
  const PictureShape shape = PictureShapeFor(camera.Width(), camera.Height());
  const std::size_t imageBytes = ImageBytes(shape);
  GlobalMemory block(GlobalAlloc(GMEM_MOVEABLE, DibHeaderBytes + imageBytes));
  {
    const GlobalLockGuard locked(block.Get());
    if (!locked) return GlobalMemory();
    auto* bytes = static_cast<std::uint8_t*>(locked.Data());
    WriteDibHeader(shape, bytes);
    if (!camera.ReadFrameInto(bytes + DibHeaderBytes, imageBytes)) return GlobalMemory();
  }
  return block;
}

}  // namespace snaplark
