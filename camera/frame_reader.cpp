// Reading one frame: a sample from the reader, its data as one buffer, and
// the conversion chosen by the subtype that SelectMediaType set. The buffer's
// length (or, for a 2-D buffer, the memory its rows span) is checked against
// what the conversion will read, so a short buffer is skipped, never overrun.
#include <mfapi.h>
#include <mferror.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <new>
#include <stdexcept>

#include "camera/camera.h"
#include "camera/frame_layout.h"
#include "camera/pixel_conversion.h"
#include "camera/read_channel.h"

namespace snaplark {

using Microsoft::WRL::ComPtr;

namespace {

constexpr DWORD FirstVideoStream = static_cast<DWORD>(MF_SOURCE_READER_FIRST_VIDEO_STREAM);

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
// `pitch` apart (negative: bottom-up in memory); NV12's chroma plane follows
// `lumaRows` rows of the luma plane, in the same direction. `start` and
// `length` bound the buffer's memory (length < 0: not known).
bool PitchedFits(Layout layout, int width, int height, std::int64_t lumaRows, const std::uint8_t* top, LONG pitch,
                 const std::uint8_t* start, std::int64_t length) {
  const std::int64_t rowBytes = RowBytesRead(layout, width);
  const std::int64_t distance = pitch < 0 ? -static_cast<std::int64_t>(pitch) : pitch;
  if (distance < rowBytes) return false;  // rows must not overlap
  if (length < 0) return true;
  const std::int64_t first = reinterpret_cast<std::intptr_t>(top) - reinterpret_cast<std::intptr_t>(start);
  if (!RowsFit(first, pitch, height, rowBytes, length)) return false;
  if (layout != Layout::Nv12) return true;
  const std::int64_t chromaFirst = first + static_cast<std::int64_t>(pitch) * lumaRows;
  const std::int64_t chromaBytes = (static_cast<std::int64_t>(width) + 1) & ~std::int64_t{1};
  return RowsFit(chromaFirst, pitch, (static_cast<std::int64_t>(height) + 1) / 2, chromaBytes, length);
}

void ConvertPacked(Layout layout, const std::uint8_t* source, std::uint8_t* pixels, int width, int height, int stride) {
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

void ConvertPitched(Layout layout, const std::uint8_t* top, LONG pitch, std::int64_t lumaRows, std::uint8_t* pixels,
                    int width, int height, int stride) {
  switch (layout) {
    case Layout::Rgb:
      CopyRgbRowsPitched(top, pitch, pixels, width, height, stride);
      break;
    case Layout::Nv12:
      ConvertNv12Pitched(top, pitch, top + static_cast<std::ptrdiff_t>(pitch) * static_cast<std::ptrdiff_t>(lumaRows),
                         pitch, pixels, width, height, stride);
      break;
    case Layout::Yuy2:
      ConvertYuy2Pitched(top, pitch, pixels, width, height, stride);
      break;
    case Layout::Unknown:
      break;
  }
}

// Sizes the caller's vector. One of another size is refilled with zeros so
// that the row tails, which no conversion writes, are zero; one of the right
// size is reused as it is, without allocating. False when the memory cannot
// be had: a failed read, not the end of the program.
bool SizeFrame(std::vector<std::uint8_t>& pixels, std::size_t bytes) {
  if (pixels.size() == bytes) return true;
  try {
    pixels.assign(bytes, 0);
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::length_error&) {
    return false;
  }
  return true;
}

}  // namespace

// Where a frame is converted to: the caller's vector, sized only once a
// buffer has proved usable, or the caller's memory of the frame's size.
struct FrameTarget {
  std::vector<std::uint8_t>* grown = nullptr;
  std::uint8_t* fixed = nullptr;

  // Room for `height` rows of `stride` bytes with zero row tails, which no
  // conversion writes; null when it cannot be had.
  std::uint8_t* Reserve(int width, int height, int stride) const {
    if (grown) return SizeFrame(*grown, static_cast<std::size_t>(stride) * height) ? grown->data() : nullptr;
    const std::size_t tail = static_cast<std::size_t>(stride) - 3 * static_cast<std::size_t>(width);
    for (int row = 1; tail > 0 && row <= height; ++row) {
      std::fill_n(fixed + static_cast<std::size_t>(row) * stride - tail, tail, std::uint8_t{0});
    }
    return fixed;
  }
};

namespace {

// Bytes from one row to the next in a packed contiguous buffer.
std::int64_t PackedPitch(Layout layout, int width) {
  switch (layout) {
    case Layout::Rgb:
      return FrameStride64(width);
    case Layout::Nv12:
      return width;
    case Layout::Yuy2:
      return 2 * static_cast<std::int64_t>(width);
    case Layout::Unknown:
      break;
  }
  return 0;
}

// Whether a read's outcome says the device is gone rather than late.
bool DeviceLost(const SampleSlot& slot) {
  return slot.result == MF_E_VIDEO_RECORDING_DEVICE_INVALIDATED || (slot.flags & MF_SOURCE_READERF_ERROR) != 0;
}

}  // namespace

bool Camera::ConvertBuffer(IMFMediaBuffer* buffer, FrameTarget& target) const {
  const Layout layout = LayoutOf(subtype_);
  if (layout == Layout::Unknown || !IsUsableFrameSize(width_, height_) || bufferHeight_ < height_) return false;
  const int stride = FrameStride(width_);
  // NV12's chroma plane follows all the rows the type declares (1088 for a
  // 1080-row picture shown through its aperture), never a guess from the
  // buffer's length.
  const std::int64_t lumaRows = bufferHeight_;

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
    if (!top || !PitchedFits(layout, width_, height_, lumaRows, top, pitch, start, length)) return false;
    std::uint8_t* pixels = target.Reserve(width_, height_, stride);
    if (!pixels) return false;
    ConvertPitched(layout, top, pitch, lumaRows, pixels, width_, height_, stride);
    return true;
  }
  ComPtr<IMF2DBuffer> planar;
  if (SUCCEEDED(buffer->QueryInterface(IID_PPV_ARGS(&planar)))) {
    // The older lock does not tell where the memory starts or ends: the
    // buffer's allocated length, in whole rows of the pitch ending at the
    // bottom-up buffer's top row, bounds it instead.
    DWORD allocated = 0;
    if (FAILED(buffer->GetMaxLength(&allocated))) return false;
    Lock2DScope scope(planar.Get());
    BYTE* top = nullptr;
    LONG pitch = 0;
    if (FAILED(planar->Lock2D(&top, &pitch))) return false;
    scope.MarkLocked();
    const std::int64_t distance = pitch < 0 ? -static_cast<std::int64_t>(pitch) : pitch;
    if (!top || distance == 0) return false;
    const std::int64_t rowsAbove = pitch < 0 ? static_cast<std::int64_t>(allocated) / distance - 1 : 0;
    const std::uint8_t* start = top - static_cast<std::ptrdiff_t>(rowsAbove * distance);
    if (rowsAbove < 0 || !PitchedFits(layout, width_, height_, lumaRows, top, pitch, start, allocated)) return false;
    std::uint8_t* pixels = target.Reserve(width_, height_, stride);
    if (!pixels) return false;
    ConvertPitched(layout, top, pitch, lumaRows, pixels, width_, height_, stride);
    return true;
  }

  PlainLock lock(buffer);
  if (!lock) return false;
  // A contiguous buffer's rows lie as the type's default stride says:
  // padded for odd widths (1366 pixels in rows of 1376 bytes), negative for
  // bottom-up rows. A stride narrower than a row is no layout at all.
  const std::int64_t packed = PackedPitch(layout, width_);
  const std::int64_t declared = defaultStride_;
  const std::int64_t declaredDistance = declared < 0 ? -declared : declared;
  if (declared == 0 || declared == packed || declaredDistance < RowBytesRead(layout, width_)) {
    if (static_cast<std::int64_t>(lock.Length()) < PackedBytesNeeded(layout, width_, bufferHeight_)) return false;
    std::uint8_t* pixels = target.Reserve(width_, height_, stride);
    if (!pixels) return false;
    if (layout == Layout::Nv12 && bufferHeight_ > height_) {
      ConvertNv12Pitched(lock.Data(), width_, lock.Data() + static_cast<std::ptrdiff_t>(width_) * bufferHeight_, width_,
                         pixels, width_, height_, stride);
    } else {
      ConvertPacked(layout, lock.Data(), pixels, width_, height_, stride);
    }
    return true;
  }
  // Bottom-up rows: the picture's top row is the last of its plane.
  const std::int64_t topOffset = declared < 0 ? (lumaRows - 1) * declaredDistance : 0;
  if (!RowsFit(topOffset, declared, height_, RowBytesRead(layout, width_), lock.Length())) return false;
  const std::uint8_t* top = lock.Data() + static_cast<std::ptrdiff_t>(topOffset);
  if (!PitchedFits(layout, width_, height_, lumaRows, top, static_cast<LONG>(declared), lock.Data(), lock.Length())) {
    return false;
  }
  std::uint8_t* pixels = target.Reserve(width_, height_, stride);
  if (!pixels) return false;
  ConvertPitched(layout, top, static_cast<LONG>(declared), lumaRows, pixels, width_, height_, stride);
  return true;
}

ReadChannel::ReadChannel(IMFSourceReader* forReader)
    : madeFor(forReader), slot(std::make_shared<SampleSlot>()), read([slot = slot] {
        slot->sample.Reset();
        slot->flags = 0;
        slot->result = slot->reader->ReadSample(FirstVideoStream, 0, nullptr, &slot->flags, nullptr, &slot->sample);
      }) {
  slot->reader = forReader;
}

ReadChannel& Camera::ChannelFor(std::unique_ptr<ReadChannel>& channel) {
  if (!channel || channel->madeFor != reader_.Get()) channel = std::make_unique<ReadChannel>(reader_.Get());
  return *channel;
}

bool Camera::ReadFrame(std::vector<std::uint8_t>& pixels, int& frameWidth, int& frameHeight, int& frameStride) {
  if (!IsOpen()) return false;
  return ReadFrameOn(ChannelFor(snapshotReads_), pixels, frameWidth, frameHeight, frameStride);
}

bool Camera::ReadFrameInto(std::uint8_t* pixels, std::size_t size) {
  if (!IsOpen() || !IsUsableFrameSize(width_, height_)) return false;
  if (size != static_cast<std::size_t>(FrameStride(width_)) * static_cast<std::size_t>(height_)) return false;
  FrameTarget target{nullptr, pixels};
  return ReadFrameOn(ChannelFor(snapshotReads_), target);
}

bool Camera::ReadFrameOn(ReadChannel& channel, std::vector<std::uint8_t>& pixels, int& frameWidth, int& frameHeight,
                         int& frameStride) {
  FrameTarget target{&pixels};
  if (!ReadFrameOn(channel, target)) return false;
  frameWidth = width_;
  frameHeight = height_;
  frameStride = FrameStride(width_);
  return true;
}

bool Camera::ReadFrameOn(ReadChannel& channel, FrameTarget& target) {
  if (!IsOpen()) return false;
  // A read of this thread that timed out is still waiting on the device: a
  // camera that has not answered it will not answer another one sooner.
  if (channel.read.Busy()) return false;
  const auto deadline = std::chrono::steady_clock::now() + (streaming_ ? ReadTimeLimit : FirstFrameTimeLimit);
  for (int attempt = 0; attempt < MaxReadAttempts; ++attempt) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || channel.read.Run(left) != StallableCall::Outcome::Finished) return false;
    SampleSlot& slot = *channel.slot;
    ComPtr<IMFSample> sample = std::move(slot.sample);
    const DWORD flags = slot.flags;
    if (DeviceLost(slot)) lost_ = true;
    // The device is started by the first read: what stops it starting (the
    // privacy setting, another application) arrives here.
    if (FAILED(slot.result) && !streaming_) lastOpenError_ = slot.result;
    if (FAILED(slot.result) || (flags & MF_SOURCE_READERF_ERROR)) return false;
    if (flags & MF_SOURCE_READERF_ENDOFSTREAM) return false;
    if (!sample) continue;  // a stream tick: no picture this time

    ComPtr<IMFMediaBuffer> buffer;
    const HRESULT hr = sample->ConvertToContiguousBuffer(&buffer);
    sample.Reset();
    if (FAILED(hr) || !buffer) continue;
    if (!ConvertBuffer(buffer.Get(), target)) continue;

    streaming_ = true;
    return true;
  }
  return false;
}

}  // namespace snaplark
