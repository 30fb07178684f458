#pragma once
// A virtual video capture device: a live Media Foundation media source of our
// own with one video stream, driven by a script. Media Foundation's real
// source reader reads it exactly as it reads a webcam: it starts the source,
// asks the stream for samples and shuts the source down when it is released.
//
// Every COM object that the source hands out counts itself as a live virtual
// object (camera/virtual/live_objects.h): the source, its stream, every
// sample and buffer. (Its media types are copied by the reader before anyone
// sees them, so they are not counted.) When a reader that used it has been released
// and the platform's queues have drained, LiveVirtualObjects() is back where
// it started, so a test can tell that nothing was leaked.
#include <windows.h>
#include <mfidl.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace snaplark {

// One native media type of the device's stream.
struct VirtualMediaType {
  GUID subtype = GUID_NULL;  // GUID_NULL: the type carries no subtype at all
  UINT32 width = 0;          // 0 x 0: the type carries no frame size
  UINT32 height = 0;
  UINT32 framesPerSecond = 30;
  // Bytes from one row to the next in a contiguous buffer; negative for
  // bottom-up rows. 0: the type does not say.
  LONG defaultStride = 0;
  // Rows shown of a padded picture (its display aperture); 0: all of them.
  UINT32 apertureHeight = 0;
};

class VirtualFramePool;

// The memory of one media buffer. A plain buffer is locked as it is. A 2-D
// buffer holds `rows` rows of `rowBytes` meaningful bytes, `pitch` bytes apart
// (negative: the top row is the last one in memory, as in a bottom-up bitmap),
// the first in memory `offset` bytes into the buffer; it answers a 2-D lock
// with that pitch and a plain lock with a packed copy.
struct VirtualFrame {
  std::vector<std::uint8_t> bytes;
  bool twoDimensional = false;
  LONG pitch = 0;
  std::size_t offset = 0;
  DWORD rowBytes = 0;
  DWORD rows = 0;
  // Whether a 2-D buffer also offers the sized lock of newer systems, which
  // tells where the buffer's memory ends.
  bool sizedLock = true;
  // Where `bytes` go back when the buffer holding them is released; none: freed.
  std::shared_ptr<VirtualFramePool> pool;
};

// Blocks of one size that a stream's frames are written into and come back
// to when their samples are released, as a driver's buffer pool: once as many
// blocks exist as samples are out at a time, no frame allocates.
class VirtualFramePool {
 public:
  // A block of `size` bytes: a returned one as it was left, else the one
  // that `makeNew` makes.
  std::vector<std::uint8_t> Take(std::size_t size, const std::function<std::vector<std::uint8_t>()>& makeNew);
  void Give(std::vector<std::uint8_t> block);
  int BlocksAllocated() const { return allocated_.load(); }

 private:
  std::mutex mutex_;
  std::vector<std::vector<std::uint8_t>> free_;
  std::atomic<int> allocated_{0};
};

// A plain buffer holding these bytes.
VirtualFrame PackedFrame(std::vector<std::uint8_t> bytes);
// A 2-D buffer with the packed rows of `packed` (rows of `rowBytes`, top row
// first) laid out `pitch` bytes apart; the padding between rows is `filler`.
VirtualFrame PitchedFrame(const std::vector<std::uint8_t>& packed, DWORD rowBytes, LONG pitch,
                          std::uint8_t filler = 0xA5);

// What the stream does when the reader asks it for the next sample.
enum class VirtualStepKind {
  Frame,        // a sample with one buffer holding `frame`
  EmptySample,  // a sample without any buffer
  Tick,         // a stream tick (a gap: no sample); the request stays open
  Error,        // the request fails with `error`; later requests work again
  Removal,      // the device is gone: this and every later request fail
  EndOfStream,  // the stream ends
};

struct VirtualStep {
  VirtualStepKind kind = VirtualStepKind::Frame;
  VirtualFrame frame;
  HRESULT error = E_FAIL;
};

VirtualStep FrameStep(VirtualFrame frame);
VirtualStep EmptySampleStep();
VirtualStep TickStep();
VirtualStep ErrorStep(HRESULT error);
VirtualStep RemovalStep();
VirtualStep EndOfStreamStep();

// Counters a test can read while the source runs; shared with the script.
struct VirtualCameraStats {
  std::atomic<int> starts{0};
  std::atomic<int> requests{0};         // RequestSample calls, failed ones included
  std::atomic<int> framesDelivered{0};  // samples with a buffer
  std::atomic<int> stepsLeft{0};        // scripted steps not yet taken
  std::atomic<int> shutdowns{0};
  // While set, the stream answers no request and reports nothing, as a USB
  // camera that stalls or a closed privacy shutter: reads wait. Cleared, it
  // goes on where it stopped. Shutting the source down still ends the
  // stream for the requests left open, as the platform cancels them.
  std::atomic<bool> stalled{false};
};

struct VirtualCameraScript {
  // The stream's native types in the device's order. None: the stream has no
  // type, which no reader accepts.
  std::vector<VirtualMediaType> nativeTypes;
  // Taken in order, one per request (ticks do not use up the request).
  // Errors and removal take effect on the request made while they are next.
  std::deque<VirtualStep> steps;
  // After the steps: frame n (counted from 0 at the first frame delivered
  // after the source started) is made by this. Without it the stream ends.
  std::function<VirtualFrame(std::uint32_t n)> frameMaker;
  // The blocks the frame maker writes into, when it recycles them.
  std::shared_ptr<VirtualFramePool> framePool;
  // Pacing: at most one frame per interval (30 fps for a live demo). Zero
  // answers every request at once.
  std::chrono::microseconds frameInterval{0};
  // With pacing: frames come only on the interval's beat since the start, as
  // a real camera's do, instead of at once after the camera sat idle.
  bool freeRunning = false;
  // How long the device takes after it was started before its first frame
  // (many USB webcams take seconds); requests wait meanwhile.
  std::chrono::milliseconds firstFrameDelay{0};
  std::shared_ptr<VirtualCameraStats> stats = std::make_shared<VirtualCameraStats>();
};

// A new, stopped media source; *source holds one reference for the caller.
HRESULT CreateVirtualMediaSource(VirtualCameraScript script, IMFMediaSource** source);

// A sample of one step's frame (or no buffer for an empty sample), as the
// source and the scripted reader hand them out.
// The sample takes the step's frame over.
HRESULT CreateVirtualSample(VirtualStep step, LONGLONG time, LONGLONG duration, IMFSample** sample);

// A media type of the given description.
HRESULT CreateVirtualMediaType(const VirtualMediaType& description, IMFMediaType** type);

// Makes a platform-made object (sample, media type) count as a live virtual
// object until its last reference goes, by attaching a counted attribute.
// Not for media types that a reader compares: Wine's comparison of types
// fails on an object-valued attribute.
HRESULT TrackAsLiveObject(IMFAttributes* attributes);

// Media sources created and not (yet) shut down, over the whole process.
// Whoever creates a source must see it shut down: a device held otherwise.
long VirtualSourcesNotShutDown();

// Buffers destroyed while still locked (Lock or Lock2D without the matching
// unlock), over the whole process. A correct reader of frames leaves it at 0.
long VirtualBuffersReleasedLocked();

}  // namespace snaplark
