#pragma once
// The one way a block reaches the clipboard: the tray's hotkey and the
// window's capture put a snapshot there, the window's diagnostics a text.
#include <windows.h>

#include <functional>

#include "handles/win_handles.h"

namespace snaplark {

class Camera;

enum class ClipboardOutcome { Placed, Busy, NoBlock, Refused };

// Opens the clipboard for `owner`, empties it and hands it the block that
// `makeBlock` gives, as `format`. The block is made only once the clipboard
// is open; whatever the clipboard does not take is freed before it closes.
ClipboardOutcome PutOnClipboard(HWND owner, UINT format, const std::function<GlobalMemory()>& makeBlock);

// One fresh frame of `camera` onto the clipboard as CF_DIB; NoBlock when the
// camera gave none. The frame is read before the clipboard is opened: a slow
// camera must not keep every other program from the clipboard meanwhile.
ClipboardOutcome PutSnapshotOnClipboard(HWND owner, Camera& camera);

}  // namespace snaplark
