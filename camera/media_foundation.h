#pragma once
// Media Foundation's functions, loaded from the system at run time. Windows
// editions without the media features (the N editions) have no such DLLs: a
// program that imported them would not start at all there, where this one
// starts, finds no platform and lists no camera.
//
// They are also the camera engine's one seam: the demo and the tests put
// other calls in their place (virtual devices, a scripted reader, a platform
// that refuses). Nothing above this seam knows whether a device is real.
#include <windows.h>
#include <mfidl.h>
#include <mfreadwrite.h>

namespace snaplark {

struct MediaFoundationCalls {
  HRESULT(WINAPI* startup)(ULONG version, DWORD flags);
  HRESULT(WINAPI* shutdown)();
  HRESULT(WINAPI* createAttributes)(IMFAttributes** attributes, UINT32 initialSize);
  HRESULT(WINAPI* createMediaType)(IMFMediaType** type);
  // An array of activation objects allocated with CoTaskMemAlloc, each
  // holding one reference for the caller.
  HRESULT(WINAPI* enumDeviceSources)(IMFAttributes* attributes, IMFActivate*** devices, UINT32* count);
  HRESULT(WINAPI* createDeviceSource)(IMFAttributes* attributes, IMFMediaSource** source);
  HRESULT(WINAPI* createSourceReaderFromMediaSource)
  (IMFMediaSource* source, IMFAttributes* attributes, IMFSourceReader** reader);
};

// The calls, loaded on first use and kept for the life of the process; null
// when any of them is missing.
const MediaFoundationCalls* MediaFoundation();

// The system's own calls, whatever is in use; null when any is missing.
const MediaFoundationCalls* SystemMediaFoundation();

// Puts other calls in their place (`calls` must outlive their use): null
// makes Media Foundation missing. UseSystemMediaFoundation goes back.
void UseMediaFoundationCalls(const MediaFoundationCalls* calls);
void UseSystemMediaFoundation();

}  // namespace snaplark
