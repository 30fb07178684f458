// Reading one frame: a sample from the reader, its data as one buffer, and
// the conversion chosen by the subtype that SelectMediaType set. The buffer's
// length (or, for a 2-D buffer, the memory its rows span) is checked against
// what the conversion will read, so a short buffer is skipped, never overrun.
#include <mfapi.h>
#include <mferror.h>

#include <cstddef>
#include <cstdint>

#include "camera/camera.h"
#include "camera/frame_layout.h"
#include "camera/pixel_conversion.h"

namespace snaplark {

using Microsoft::WRL::ComPtr;

namespace {

constexpr DWORD kFirstVideoStream = static_cast<DWORD>(MF_SOURCE_READER_FIRST_VIDEO_STREAM);

// How many samples one ReadFrame may ask for before it gives up.
constexpr int kMaxReadAttempts = 10;

enum class Layout { Rgb, Nv12, Yuy2, Unknown };

Layout LayoutOf(const GUID& subtype) {
  if (IsEqualGUID(subtype, MFVideoFormat_RGB24)) return Layout::Rgb;
  if (IsEqualGUID(subtype, MFVideoFormat_NV12)) return Layout::Nv12;
  if (IsEqualGUID(subtype, MFVideoFormat_YUY2)) return Layout::Yuy2;
  return Layout::Unknown;
}

std::int64_t PackedBytesNeeded(Layout layout, int width, int height) {
  switch (layout) {
    case Layout::Rgb:
      return RgbBytesNeeded(width, height);
    case Layout::Nv12:
      return Nv12BytesNeeded(width, height);
    case Layout::Yuy2:
      return Yuy2BytesNeeded(width, height);
    case Layout::Unknown:
      break;
  }
  return -1;
}

// Bytes read from each row of the (first) plane.
std::int64_t RowBytesRead(Layout layout, int width) {
  switch (layout) {
    case Layout::Rgb:
      return 3 * static_cast<std::int64_t>(width);
    case Layout::Nv12:
      return width;
    case Layout::Yuy2:
      return 4 * ((static_cast<std::int64_t>(width) + 1) / 2);
    case Layout::Unknown:
      break;
  }
  return 0;
}

// Unlocks on every path what Lock locked.
class PlainLock {
 public:
  explicit PlainLock(IMFMediaBuffer* buffer) : buffer_(buffer) {
    locked_ = SUCCEEDED(buffer->Lock(&data_, nullptr, &length_));
  }
  ~PlainLock() {
    if (locked_) buffer_->Unlock();
  }
  PlainLock(const PlainLock&) = delete;
  PlainLock& operator=(const PlainLock&) = delete;

  explicit operator bool() const { return locked_ && data_; }
  const std::uint8_t* Data() const { return data_; }
  DWORD Length() const { return length_; }

 private:
  IMFMediaBuffer* buffer_;
  BYTE* data_ = nullptr;
  DWORD length_ = 0;
  bool locked_ = false;
};

// Unlocks on every path what Lock2D or Lock2DSize locked.
class Lock2DScope {
 public:
  explicit Lock2DScope(IMF2DBuffer* buffer) : buffer_(buffer) {}
  ~Lock2DScope() {
    if (locked_) buffer_->Unlock2D();
  }
  Lock2DScope(const Lock2DScope&) = delete;
  Lock2DScope& operator=(const Lock2DScope&) = delete;

  void MarkLocked() { locked_ = true; }

 private:
  IMF2DBuffer* buffer_;
  bool locked_ = false;
};

// Whether `rows` rows of `rowBytes` bytes, the first at byte offset `first`
// and each `pitch` bytes after the one before, all lie within [0, length).
bool RowsFit(std::int64_t first, std::int64_t pitch, std::int64_t rows, std::int64_t rowBytes, std::int64_t length) {
  const std::int64_t last = first + (rows - 1) * pitch;
  const std::int64_t lowest = first < last ? first : last;
  const std::int64_t highest = first < last ? last : first;
  return lowest >= 0 && highest + rowBytes <= length;
}

// The plane layout of a 2-D buffer: luma (or the only plane) at `top`, rows
// `pitch` apart; NV12's chroma plane follows the luma plane's `height` rows.
// `start` and `length` bound the buffer's memory (length < 0: not known).
bool PitchedFits(Layout layout, int width, int height, const std::uint8_t* top, LONG pitch,
                 const std::uint8_t* start, std::int64_t length) {
  const std::int64_t rowBytes = RowBytesRead(layout, width);
  const std::int64_t distance = pitch < 0 ? -static_cast<std::int64_t>(pitch) : pitch;
  // Rows must not overlap, and only RGB comes bottom-up.
  if (distance < rowBytes || (pitch < 0 && layout != Layout::Rgb)) return false;
  if (length < 0) return true;
  const std::int64_t first = reinterpret_cast<std::intptr_t>(top) - reinterpret_cast<std::intptr_t>(start);
  if (!RowsFit(first, pitch, height, rowBytes, length)) return false;
  if (layout != Layout::Nv12) return true;
  const std::int64_t chromaFirst = first + static_cast<std::int64_t>(pitch) * height;
  const std::int64_t chromaBytes = (static_cast<std::int64_t>(width) + 1) & ~std::int64_t{1};
  return RowsFit(chromaFirst, pitch, (static_cast<std::int64_t>(height) + 1) / 2, chromaBytes, length);
}

void ConvertPacked(Layout layout, const std::uint8_t* source, std::uint8_t* pixels, int width, int height,
                   int stride) {
  switch (layout) {
    case Layout::Rgb:
      CopyRgbRows(source, pixels, width, height, stride);
      break;
    case Layout::Nv12:
      ConvertNv12(source, pixels, width, height, stride);
      break;
    case Layout::Yuy2:
      ConvertYuy2(source, pixels, width, height, stride);
      break;
    case Layout::Unknown:
      break;
  }
}

void ConvertPitched(Layout layout, const std::uint8_t* top, LONG pitch, std::uint8_t* pixels, int width, int height,
                    int stride) {
  switch (layout) {
    case Layout::Rgb:
      CopyRgbRowsPitched(top, pitch, pixels, width, height, stride);
      break;
    case Layout::Nv12:
      ConvertNv12Pitched(top, pitch, top + static_cast<std::ptrdiff_t>(pitch) * height, pitch, pixels, width, height,
                         stride);
      break;
    case Layout::Yuy2:
      ConvertYuy2Pitched(top, pitch, pixels, width, height, stride);
      break;
    case Layout::Unknown:
      break;
  }
}

// Sizes the caller's frame. A vector of another size is refilled with zeros
// so that the row tails, which no conversion writes, are zero; one of the
// right size is reused as it is, without allocating.
void SizeFrame(std::vector<std::uint8_t>& pixels, std::size_t bytes) {
  if (pixels.size() != bytes) pixels.assign(bytes, 0);
}

}  // namespace

bool Camera::ConvertBuffer(IMFMediaBuffer* buffer, std::vector<std::uint8_t>& pixels) const {
  const Layout layout = LayoutOf(subtype);
  if (layout == Layout::Unknown || !IsUsableFrameSize(width, height)) return false;
  const int stride = FrameStride(width);
  const std::size_t frameBytes = static_cast<std::size_t>(stride) * static_cast<std::size_t>(height);

  // A 2-D buffer knows its own pitch (padded rows, bottom-up RGB); use it.
  ComPtr<IMF2DBuffer2> sized;
  if (SUCCEEDED(buffer->QueryInterface(IID_PPV_ARGS(&sized)))) {
    Lock2DScope scope(sized.Get());
    BYTE* top = nullptr;
    LONG pitch = 0;
    BYTE* start = nullptr;
    DWORD length = 0;
    if (FAILED(sized->Lock2DSize(MF2DBuffer_LockFlags_Read, &top, &pitch, &start, &length))) return false;
    scope.MarkLocked();
    if (!top || !PitchedFits(layout, width, height, top, pitch, start, length)) return false;
    SizeFrame(pixels, frameBytes);
    ConvertPitched(layout, top, pitch, pixels.data(), width, height, stride);
    return true;
  }
  ComPtr<IMF2DBuffer> planar;
  if (SUCCEEDED(buffer->QueryInterface(IID_PPV_ARGS(&planar)))) {
    // Without the sized lock the memory's end is not told; the frame's packed
    // length at least shows that the buffer was made for a frame this size.
    DWORD contiguous = 0;
    if (FAILED(planar->GetContiguousLength(&contiguous)) ||
        static_cast<std::int64_t>(contiguous) < PackedBytesNeeded(layout, width, height)) {
      return false;
    }
    Lock2DScope scope(planar.Get());
    BYTE* top = nullptr;
    LONG pitch = 0;
    if (FAILED(planar->Lock2D(&top, &pitch))) return false;
    scope.MarkLocked();
    if (!top || !PitchedFits(layout, width, height, top, pitch, nullptr, -1)) return false;
    SizeFrame(pixels, frameBytes);
    ConvertPitched(layout, top, pitch, pixels.data(), width, height, stride);
    return true;
  }

  PlainLock lock(buffer);
  if (!lock || static_cast<std::int64_t>(lock.Length()) < PackedBytesNeeded(layout, width, height)) return false;
  SizeFrame(pixels, frameBytes);
  ConvertPacked(layout, lock.Data(), pixels.data(), width, height, stride);
  return true;
}

bool Camera::ReadFrame(std::vector<std::uint8_t>& pixels, int& frameWidth, int& frameHeight, int& frameStride) {
  if (!reader) return false;
  for (int attempt = 0; attempt < kMaxReadAttempts; ++attempt) {
    DWORD flags = 0;
    ComPtr<IMFSample> sample;
    if (FAILED(reader->ReadSample(kFirstVideoStream, 0, nullptr, &flags, nullptr, &sample))) return false;
    if (flags & MF_SOURCE_READERF_ENDOFSTREAM) return false;
    if (!sample) continue;  // a stream tick: no picture this time

    ComPtr<IMFMediaBuffer> buffer;
    const HRESULT hr = sample->ConvertToContiguousBuffer(&buffer);
    sample.Reset();
    if (FAILED(hr) || !buffer) continue;
    if (!ConvertBuffer(buffer.Get(), pixels)) continue;

    frameWidth = width;
    frameHeight = height;
    frameStride = FrameStride(width);
    return true;
  }
  return false;
}

}  // namespace snaplark
