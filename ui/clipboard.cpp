#include "ui/clipboard.h"

namespace snaplark {

ClipboardOutcome PutOnClipboard(HWND owner, UINT format, const std::function<GlobalMemory()>& makeBlock) {
  const ClipboardScope clipboard(owner);
  if (!clipboard) return ClipboardOutcome::Busy;
  EmptyClipboard();
  GlobalMemory block = makeBlock();
  if (!block) return ClipboardOutcome::NoBlock;
  return GiveToClipboard(format, block) ? ClipboardOutcome::Placed : ClipboardOutcome::Refused;
}

}  // namespace snaplark
