#include "camera/camera.h"

#include <mfapi.h>

#include <utility>

#include "camera/media_foundation.h"
#include "camera/read_channel.h"

namespace snaplark {

using Microsoft::WRL::ComPtr;

Camera::Camera()
    : capture_(
          [this](std::vector<std::uint8_t>& pixels, int& frameWidth, int& frameHeight, int& frameStride) {
            return ReadFrameOn(*captureReads_, pixels, frameWidth, frameHeight, frameStride);
          },
          [this] { return lost_.load(); }) {}

Camera::~Camera() {
  StopCapture();
  Close();
}

bool Camera::Open(const std::wstring& symbolicLink) {
  Close();
  const MediaFoundationCalls* calls = MediaFoundation();
  if (!calls) return false;

  ComPtr<IMFMediaSource> source;
  {
    ComPtr<IMFAttributes> device;
    if (FAILED(calls->createAttributes(&device, 2))) return false;
    HRESULT hr = device->SetGUID(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE, MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_GUID);
    if (SUCCEEDED(hr))
      hr = device->SetString(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_SYMBOLIC_LINK, symbolicLink.c_str());
    if (SUCCEEDED(hr)) hr = calls->createDeviceSource(device.Get(), &source);
    if (FAILED(hr) || !source) {
      if (FAILED(hr)) lastOpenError_ = hr;
      return false;
    }
  }

  HRESULT hr;
  {
    // With disconnection off, releasing the reader shuts the device down, so
    // that Close really lets the camera go.
    ComPtr<IMFAttributes> options;
    if (SUCCEEDED(calls->createAttributes(&options, 1))) {
      options->SetUINT32(MF_SOURCE_READER_DISCONNECT_MEDIASOURCE_ON_SHUTDOWN, FALSE);
    }
    hr = calls->createSourceReaderFromMediaSource(source.Get(), options.Get(), &reader_);
  }
  if (FAILED(hr) || !reader_) {
    // No reader took the source: shutting it down is ours to do, or the
    // device stays held until the process ends.
    reader_.Reset();
    source->Shutdown();
    return false;
  }
  source_ = std::move(source);  // from here on the reader owns the source

  if (SelectMediaType()) return true;
  Close();
  return false;
}

bool Camera::StartCapture(FrameCallback callback) {
  if (capture_.IsRunning() || !IsOpen()) return false;
  ChannelFor(captureReads_);
  return capture_.Start(std::move(callback));
}

void Camera::StopCapture() {
  // A read that the camera never answers must not hold the join up.
  if (captureReads_) captureReads_->read.Cancel();
  capture_.Stop();
  if (captureReads_) captureReads_->read.Resume();
}

void Camera::Close() {
  StopCapture();
  // A read still pending keeps the reader until the device answers it, so
  // releasing the reader would not let the device go: shutting the source
  // down does (a second shutdown after the reader's own is harmless), and
  // cancels the pending request.
  captureReads_.reset();
  snapshotReads_.reset();
  reader_.Reset();
  if (source_) source_->Shutdown();
  source_.Reset();
  streaming_ = false;
  lost_ = false;
  width_ = 0;
  height_ = 0;
  bufferHeight_ = 0;
  defaultStride_ = 0;
  subtype_ = GUID_NULL;
}

}  // namespace snaplark
