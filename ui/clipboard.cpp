#include "ui/clipboard.h"

#include <utility>

#include "camera/dib_block.h"

namespace snaplark {

ClipboardOutcome PutOnClipboard(HWND owner, UINT format, const std::function<GlobalMemory()>& makeBlock) {
  const ClipboardScope clipboard(owner);
  if (!clipboard) return ClipboardOutcome::Busy;
  EmptyClipboard();
  GlobalMemory block = makeBlock();
  if (!block) return ClipboardOutcome::NoBlock;
  return GiveToClipboard(format, block) ? ClipboardOutcome::Placed : ClipboardOutcome::Refused;
}

ClipboardOutcome PutSnapshotOnClipboard(HWND owner, Camera& camera) {
  GlobalMemory block = SnapshotDib(camera);
  if (!block) return ClipboardOutcome::NoBlock;
  return PutOnClipboard(owner, CF_DIB, [&block] { return std::move(block); });
}

}  // namespace snaplark
