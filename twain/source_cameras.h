#pragma once
// The cameras a build of the source sees: the machine's own in the product,
// the virtual test-pattern ones in the demo build.
namespace snaplark {

// Called when a session opens.
void UseSourceCameras();

// Called when a session has closed: whether nothing of the cameras' own
// code is still in use, so that the file may be unloaded.
bool SourceCamerasReleased();

}  // namespace snaplark
