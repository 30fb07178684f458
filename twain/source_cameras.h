#pragma once
// The cameras a build of the source sees: the machine's own in the product,
// the virtual test-pattern ones in the demo build. Called when a session opens.
namespace snaplark {

void UseSourceCameras();

}  // namespace snaplark
