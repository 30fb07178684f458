#include "camera/camera.h"

#include <mfapi.h>

#include <utility>

#include "camera/device_layer.h"

namespace snaplark {

using Microsoft::WRL::ComPtr;

Camera::Camera()
    : capture_([this](std::vector<std::uint8_t>& pixels, int& frameWidth, int& frameHeight, int& frameStride) {
        return ReadFrame(pixels, frameWidth, frameHeight, frameStride);
      }) {}

Camera::~Camera() {
  StopCapture();
  Close();
}

bool Camera::Open(const std::wstring& symbolicLink) {
  Close();

  ComPtr<IMFMediaSource> source;
  {
    ComPtr<IMFAttributes> device;
    if (FAILED(MFCreateAttributes(&device, 2))) return false;
    HRESULT hr = device->SetGUID(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE, MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_GUID);
    if (SUCCEEDED(hr)) hr = device->SetString(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_SYMBOLIC_LINK, symbolicLink.c_str());
    if (SUCCEEDED(hr)) hr = CurrentDeviceLayer().createDeviceSource(device.Get(), &source);
    if (FAILED(hr) || !source) return false;
  }

  HRESULT hr;
  {
    // With disconnection off, releasing the reader shuts the device down, so
    // that Close really lets the camera go.
    ComPtr<IMFAttributes> options;
    if (SUCCEEDED(MFCreateAttributes(&options, 1))) {
      options->SetUINT32(MF_SOURCE_READER_DISCONNECT_MEDIASOURCE_ON_SHUTDOWN, FALSE);
    }
    hr = MFCreateSourceReaderFromMediaSource(source.Get(), options.Get(), &reader);
  }
  source.Reset();  // from here on the reader holds the source
  if (FAILED(hr) || !reader) {
    reader.Reset();
    return false;
  }

  if (SelectMediaType()) return true;
  Close();
  return false;
}

bool Camera::StartCapture(FrameCallback callback) {
  if (capture_.IsRunning() || !reader) return false;
  return capture_.Start(std::move(callback));
}

void Camera::StopCapture() { capture_.Stop(); }

void Camera::Close() {
  StopCapture();
  reader.Reset();
  width = 0;
  height = 0;
  subtype = GUID_NULL;
}

}  // namespace snaplark
