#pragma once
// COM and Media Foundation for the whole process, and the list of the
// machine's video capture devices.
#include <string>
#include <vector>

namespace snaplark {

// One video capture device as the platform reports it. The link is the
// device's identity: it is what opens the device and what the settings keep.
struct CameraDevice {
  std::wstring name;          // friendly name; empty when the platform gives none
  std::wstring symbolicLink;  // empty when the platform gives none
};

// Joins the calling thread to the multithreaded apartment (unless it already
// belongs to another apartment) and starts Media Foundation. Safe to call again:
// only the parts not yet started are attempted. True when both are usable.
bool StartMediaPlatform();

// Undoes only what StartMediaPlatform did, Media Foundation before COM.
void StopMediaPlatform();

// The video capture devices in the platform's order; empty on any failure.
std::vector<CameraDevice> EnumerateCameras();

}  // namespace snaplark
