#pragma once
// One fresh frame of the camera as a packed DIB (camera/dib.h) in a movable
// global block: what the clipboard's CF_DIB takes, the body of a BMP file and
// the picture a TWAIN transfer hands over.
#include <windows.h>

#include "handles/win_handles.h"

namespace snaplark {

class Camera;

// The frame is converted straight into the block, behind its header. Empty
// when the camera is closed (it is then not read), the read fails or the
// block cannot be had.
GlobalMemory SnapshotDib(Camera& camera);

}  // namespace snaplark
