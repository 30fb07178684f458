#pragma once
// The one live connection to a video capture device: a synchronous source
// reader on the device, the negotiated frame size, and at most one capture
// thread that hands every converted frame to a callback.
//
// Threads: every operation is called from the main thread. The capture thread
// runs only ReadFrame and the callback. SnapshotDib (main thread) may read
// frames while the capture thread does; no lock serialises the reads, and
// reader, width, height and subtype change only in Open and Close, which stop
// the capture thread first.
#include <windows.h>
#include <mfidl.h>
#include <mfreadwrite.h>
#include <wrl/client.h>

#include <cstdint>
#include <string>
#include <vector>

#include "camera/capture_worker.h"

namespace snaplark {

class Camera {
 public:
  Camera();
  ~Camera();
  Camera(const Camera&) = delete;
  Camera& operator=(const Camera&) = delete;

  // Closes whatever was open, then opens the device with this symbolic link
  // and negotiates its output. False leaves the camera closed. Never starts
  // capture.
  bool Open(const std::wstring& symbolicLink);
  bool IsOpen() const { return reader != nullptr; }

  // Starts the capture thread with this callback; false when the camera is
  // closed or a thread already runs (the stored callback is then kept).
  bool StartCapture(FrameCallback callback);
  // Stops and joins the capture thread, if any; the camera stays open.
  void StopCapture();
  // Stops capture and lets the device go.
  void Close();

  // Sets the output type of the reader's first video stream and records its
  // frame size and subtype. Called by Open; true when a usable size was set.
  bool SelectMediaType();

  // Reads one frame and converts it into `pixels` (resized to stride * height):
  // blue-green-red, bottom row first, stride = 3 * width raised to a multiple
  // of 4. Gives up after a read error, the end of the stream, or ten samples
  // without a usable buffer; on false nothing of the caller's is changed.
  bool ReadFrame(std::vector<std::uint8_t>& pixels, int& frameWidth, int& frameHeight, int& frameStride);

  // One fresh frame as a packed 24-bit DIB in a movable global block (what the
  // clipboard's CF_DIB holds), owned by the caller; null on any failure.
  HGLOBAL SnapshotDib();

  // The device's source reader; null while closed.
  Microsoft::WRL::ComPtr<IMFSourceReader> reader;
  // The negotiated frame size; 0 while closed.
  std::int32_t width = 0;
  std::int32_t height = 0;
  // The output subtype set on the reader (RGB24, NV12 or YUY2): frames are
  // converted by it. GUID_NULL while closed.
  GUID subtype = GUID_NULL;

 private:
  // Converts one contiguous buffer of the negotiated subtype into `pixels`.
  // False, with `pixels` untouched, when the buffer cannot hold a frame.
  bool ConvertBuffer(IMFMediaBuffer* buffer, std::vector<std::uint8_t>& pixels) const;

  CaptureWorker capture_;
};

}  // namespace snaplark
