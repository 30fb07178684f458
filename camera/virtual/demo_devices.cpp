#include "camera/virtual/demo_devices.h"

#include <mfapi.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <vector>

#include "camera/virtual/virtual_camera.h"
#include "camera/virtual/virtual_devices.h"

namespace snaplark {
namespace {

constexpr std::chrono::microseconds ThirtyFramesPerSecond{33'333};

// The patterns are written row by row from tables made once per stream into
// blocks of the stream's pool, as a driver fills its buffers: a frame costs at
// most a write of its memory, with no allocation and no loop per pixel.
// Widths are even.
std::uint8_t* RowOf(std::vector<std::uint8_t>& block, std::size_t pitch, int row) {
  return block.data() + pitch * static_cast<std::size_t>(row);
}

std::vector<std::uint8_t> CountingBlock(std::size_t size) {
  std::vector<std::uint8_t> block(size);
  for (std::size_t i = 0; i < size; ++i) block[i] = static_cast<std::uint8_t>(i);
  return block;
}

class Nv12Painter {
 public:
  Nv12Painter(int width, int height) : width_(width), height_(height) {
    // Four pairs (8 bytes) at a time, as the YUY2 pattern's tables: table b
    // holds, for i = 0, 1, ..., the blues 16i + b, + 4, + 8, + 12 in their
    // places; frame n's chroma rows start at word n / 16 of table n mod 16.
    for (std::uint64_t b = 0; b < 16; ++b) {
      blueWords_[b].resize(Words() + 16);
      for (std::uint64_t i = 0; i < blueWords_[b].size(); ++i) {
        const std::uint64_t k = 16 * i + b;
        blueWords_[b][i] = (k & 0xFF) | ((k + 4) & 0xFF) << 16 | ((k + 8) & 0xFF) << 32 | ((k + 12) & 0xFF) << 48;
      }
    }
  }

  // The luma is never written per frame. A block's bytes count up (byte i
  // is i mod 256) and the pitch is 1 more than a multiple of 256, so the
  // rows of a picture that starts at byte 3n mod 256 hold frame n's diagonal
  // ramp: moving the picture's start moves the ramp. Only the chroma rows,
  // which follow the luma, are written. Each row's spare bytes outnumber the
  // start's largest move, so no frame's chroma reaches into a later frame's
  // luma in the same block, nor do a row's whole words reach the next row.
  VirtualFrame Paint(std::uint32_t n, const std::shared_ptr<VirtualFramePool>& pool) const {
    VirtualFrame frame;
    frame.twoDimensional = true;
    frame.pitch = static_cast<LONG>(Pitch());
    frame.rowBytes = static_cast<DWORD>(width_);
    frame.rows = static_cast<DWORD>(height_ + height_ / 2);
    frame.offset = (3 * n) & 0xFF;
    const std::size_t size = 255 + Pitch() * frame.rows;
    frame.bytes = pool->Take(size, [size] { return CountingBlock(size); });
    frame.pool = pool;
    const std::uint64_t* blues = blueWords_[n & 15].data() + ((n >> 4) & 15);
    std::uint8_t* chromaPlane = frame.bytes.data() + frame.offset + Pitch() * height_;
    for (int r = 0; r < height_ / 2; ++r) {
      const std::uint64_t reds = ((4u * r + 2 * n) & 0xFF) * 0x0100010001000100u;
      std::uint8_t* row = chromaPlane + Pitch() * r;
      for (std::size_t j = 0; j < Words(); ++j) {
        const std::uint64_t word = blues[j] | reds;
        std::memcpy(row + 8 * j, &word, sizeof(word));
      }
    }
    return frame;
  }

 private:
  // One more than a multiple of 256, and at least 256 bytes longer than a row.
  std::size_t Pitch() const { return (static_cast<std::size_t>(width_) + 255 + 255) / 256 * 256 + 1; }
  std::size_t Words() const { return (static_cast<std::size_t>(width_) + 7) / 8; }

  int width_;
  int height_;
  std::vector<std::uint64_t> blueWords_[16];
};

class Yuy2Painter {
 public:
  Yuy2Painter(int width, int height) : width_(width), height_(height) {
    // Two pairs (8 bytes) at a time: table b holds, for i = 0, 1, ..., the
    // lumas of k = 4i + b, k + 1, k + 2, k + 3 in their places; a row whose
    // first luma is s starts at word s / 4 of table s mod 4.
    const auto lumas = [](std::uint64_t k) {
      return (k & 0xFF) | ((k + 1) & 0xFF) << 16 | ((k + 2) & 0xFF) << 32 | ((k + 3) & 0xFF) << 48;
    };
    for (std::uint64_t b = 0; b < 4; ++b) {
      lumaWords_[b].resize(Words() + 64);
      for (std::uint64_t i = 0; i < lumaWords_[b].size(); ++i) lumaWords_[b][i] = lumas(4 * i + b);
    }
    // Likewise the blues of two pairs, 8i + b and 8i + b + 4: frame n starts
    // at word n / 8 of table n mod 8.
    for (std::uint64_t b = 0; b < 8; ++b) {
      blueWords_[b].resize(Words() + 32);
      for (std::uint64_t i = 0; i < blueWords_[b].size(); ++i) {
        blueWords_[b][i] = ((8 * i + b) & 0xFF) << 8 | ((8 * i + b + 4) & 0xFF) << 40;
      }
    }
  }

  VirtualFrame Paint(std::uint32_t n, const std::shared_ptr<VirtualFramePool>& pool) const {
    const std::size_t pitch = 2 * static_cast<std::size_t>(width_);
    VirtualFrame frame;
    frame.twoDimensional = true;
    frame.pitch = static_cast<LONG>(pitch);
    frame.rowBytes = static_cast<DWORD>(pitch);
    frame.rows = static_cast<DWORD>(height_);
    frame.bytes = pool->Take(pitch * frame.rows, [&] { return std::vector<std::uint8_t>(pitch * frame.rows); });
    frame.pool = pool;
    const std::uint64_t* blues = blueWords_[n & 7].data() + ((n >> 3) & 31);
    const std::size_t words = Words();
    for (int y = 0; y < height_; ++y) {
      const std::uint32_t s = (y + 3 * n) & 0xFF;
      const std::uint64_t red = (4u * y + 2 * n) & 0xFF;
      const std::uint64_t reds = red << 24 | red << 56;
      const std::uint64_t* lumas = lumaWords_[s & 3].data() + s / 4;
      std::uint8_t* row = RowOf(frame.bytes, pitch, y);
      for (std::size_t j = 0; j < words; ++j) {
        const std::uint64_t word = lumas[j] | blues[j] | reds;
        std::memcpy(row + 8 * j, &word, sizeof(word));
      }
    }
    return frame;
  }

 private:
  std::size_t Words() const { return static_cast<std::size_t>(width_) / 4; }

  int width_;
  int height_;
  std::vector<std::uint64_t> lumaWords_[4];
  std::vector<std::uint64_t> blueWords_[8];
};

template <typename Painter>
VirtualCameraScript PatternScript(const GUID& subtype, int width, int height) {
  VirtualCameraScript script;
  script.nativeTypes = {{subtype, static_cast<UINT32>(width), static_cast<UINT32>(height), 30}};
  auto painter = std::make_shared<const Painter>(width, height);
  auto pool = std::make_shared<VirtualFramePool>();
  script.frameMaker = [painter, pool](std::uint32_t n) { return painter->Paint(n, pool); };
  script.framePool = pool;
  script.frameInterval = ThirtyFramesPerSecond;
  return script;
}

}  // namespace

VirtualCameraScript DemoNv12Script() { return PatternScript<Nv12Painter>(MFVideoFormat_NV12, 640, 480); }
VirtualCameraScript DemoYuy2Script() { return PatternScript<Yuy2Painter>(MFVideoFormat_YUY2, 1280, 720); }

void UseDemoDevices(std::shared_ptr<VirtualCameraStats> sharedStats) {
  const auto playing = [sharedStats](VirtualCameraScript (*script)()) {
    return [sharedStats, script] {
      VirtualCameraScript played = script();
      if (sharedStats) played.stats = sharedStats;
      return played;
    };
  };
  std::vector<VirtualDevice> devices(2);
  devices[0].name = DemoNv12Name;
  devices[0].symbolicLink = DemoNv12Link;
  devices[0].script = playing(DemoNv12Script);
  devices[1].name = DemoYuy2Name;
  devices[1].symbolicLink = DemoYuy2Link;
  devices[1].script = playing(DemoYuy2Script);
  UseVirtualDevices(std::move(devices));
}

}  // namespace snaplark
