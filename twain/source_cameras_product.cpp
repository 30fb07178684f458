#include "twain/source_cameras.h"

namespace snaplark {

// The product reaches Media Foundation's own device layer, which needs no setting up.
void UseSourceCameras() {}

}  // namespace snaplark
