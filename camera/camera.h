#pragma once
// The one live connection to a video capture device: a synchronous source
// reader on the device, the negotiated frame size, and at most one capture
// thread that hands every converted frame to a callback.
//
// Threads: every operation is called from the main thread. The capture thread
// runs only ReadFrame and the callback. The main thread's own reads (its
// snapshots) may run while the capture thread reads; no lock serialises the
// reads, and the reader, the size and the subtype change only in Open and
// Close, which stop the capture thread first.
#include <windows.h>
#include <mfidl.h>
#include <mfreadwrite.h>
#include <wrl/client.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "camera/capture_worker.h"

namespace snaplark {

struct FrameTarget;
struct ReadChannel;

class Camera {
 public:
  // How many samples one ReadFrame may ask for before it gives up.
  static constexpr int MaxReadAttempts = 10;
  // How long one ReadFrame waits in all for a camera that may have stopped
  // sending (a USB stall, a privacy shutter); then it fails like any read.
  static constexpr std::chrono::milliseconds ReadTimeLimit{3000};
  // The first frame after opening may take much longer: many USB webcams
  // need 2-5 s to start streaming, and that is no sign of a camera in use.
  static constexpr std::chrono::milliseconds FirstFrameTimeLimit{10000};

  Camera();
  ~Camera();
  Camera(const Camera&) = delete;
  Camera& operator=(const Camera&) = delete;

  // Closes whatever was open, then opens the device with this symbolic link
  // and negotiates its output. False leaves the camera closed. Never starts
  // capture.
  bool Open(const std::wstring& symbolicLink);
  // False once the device was found gone (unplugged), as if closed; the
  // reader is still released by Close or the next Open.
  bool IsOpen() const { return reader_ != nullptr && !lost_.load(); }
  // Opened, then found gone (unplugged, or its reader reported an error).
  bool IsLost() const { return reader_ != nullptr && lost_.load(); }

  // The negotiated frame size; 0 while closed.
  std::int32_t Width() const { return width_; }
  std::int32_t Height() const { return height_; }

  // Why the last failed opening or start of a device failed (S_OK if none
  // has failed since this object was made): support needs to tell a camera
  // blocked by the privacy setting from one held by another application.
  HRESULT LastOpenError() const { return lastOpenError_.load(); }

  // Starts the capture thread with this callback; false when the camera is
  // closed or a thread already runs (the stored callback is then kept).
  bool StartCapture(FrameCallback callback);
  // Stops and joins the capture thread, if any; the camera stays open.
  void StopCapture();
  // Stops capture and lets the device go.
  void Close();

  // Reads one frame and converts it into `pixels` (resized to stride * height):
  // blue-green-red, bottom row first, stride = 3 * width raised to a multiple
  // of 4. Gives up after a read error, the end of the stream, ten samples
  // without a usable buffer or ReadTimeLimit (FirstFrameTimeLimit until the
  // device has sent its first frame), and at once while an earlier read of
  // the same thread is still stuck in the device; on false nothing of the
  // caller's is changed. The interface thread's reads; the capture thread
  // reads through a channel of its own.
  bool ReadFrame(std::vector<std::uint8_t>& pixels, int& frameWidth, int& frameHeight, int& frameStride);
  // The same read, converted straight into the caller's memory, row padding
  // zeroed. False without reading unless `size` is FrameStride(width) * height.
  bool ReadFrameInto(std::uint8_t* pixels, std::size_t size);

 private:
  // Sets the output type of the reader's first video stream and records its
  // frame size and subtype. Called by Open; true when a usable size was set.
  bool SelectMediaType();
  // Converts one contiguous buffer of the negotiated subtype into `target`.
  // False, with the target untouched, when the buffer cannot hold a frame.
  bool ConvertBuffer(IMFMediaBuffer* buffer, FrameTarget& target) const;
  bool ReadFrameOn(ReadChannel& channel, std::vector<std::uint8_t>& pixels, int& frameWidth, int& frameHeight,
                   int& frameStride);
  bool ReadFrameOn(ReadChannel& channel, FrameTarget& target);
  // The channel for the current reader, made anew when the reader changed.
  ReadChannel& ChannelFor(std::unique_ptr<ReadChannel>& channel);

  // The device's source reader; null while closed.
  Microsoft::WRL::ComPtr<IMFSourceReader> reader_;
  std::int32_t width_ = 0;
  std::int32_t height_ = 0;
  // Rows of each plane in the camera's buffers: more than `height_` when the
  // type shows only the top of a padded picture (1080 of 1088 rows).
  std::int32_t bufferHeight_ = 0;
  // The output subtype set on the reader (RGB24, NV12 or YUY2): frames are
  // converted by it. GUID_NULL while closed.
  GUID subtype_ = GUID_NULL;
  // Bytes from one row to the next in a contiguous buffer, as the output
  // type declares it (negative: bottom-up rows); 0 when it declares none.
  // Read once at negotiation: a reader call per frame could block behind a
  // read stuck in the device.
  std::int32_t defaultStride_ = 0;
  std::atomic<bool> lost_{false};
  std::atomic<bool> streaming_{false};  // a frame has come since Open
  std::atomic<HRESULT> lastOpenError_{S_OK};
  // The device's media source, kept beside the reader that owns it so that
  // Close can shut it down without a call on a reader that may be blocked.
  Microsoft::WRL::ComPtr<IMFMediaSource> source_;
  std::unique_ptr<ReadChannel> captureReads_;   // used by the capture thread
  std::unique_ptr<ReadChannel> snapshotReads_;  // used by the interface thread
  CaptureWorker capture_;
};

}  // namespace snaplark
