#include "twain/source_cameras.h"

namespace snaplark {

// The product reaches Media Foundation's own devices, which need no setting up.
void UseSourceCameras() {}

// Media Foundation's objects live in its own DLLs, not in this file.
bool SourceCamerasReleased() { return true; }

}  // namespace snaplark
