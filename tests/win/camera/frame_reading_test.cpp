// Negotiation and frame reading through Media Foundation's real source
// reader, fed by the virtual media source: which type is chosen, how each
// layout converts, and what a read does with ticks, short or empty samples,
// errors and the end of the stream.
#include "camera_test_support.h"

namespace snaplark::test {
namespace {

constexpr wchar_t kLink[] = L"\\\\?\\virtual#reading";

class FrameReading : public CameraTest {
 protected:
  void TearDown() override {
    camera_.Close();
    CameraTest::TearDown();
  }

  // Opens a device playing this script; its stats stay readable.
  void OpenWith(const VirtualCameraScript& script) {
    stats_ = script.stats;
    seam_.reset();
    InstallDevices({ScriptedDevice(kLink, script)});
    seam_.emplace();
    ASSERT_TRUE(camera_.Open(kLink));
  }

  Camera camera_;
  std::shared_ptr<VirtualCameraStats> stats_;
  std::vector<std::uint8_t> pixels_;
  int width_ = -1;
  int height_ = -1;
  int stride_ = -1;
};

TEST_F(FrameReading, RefusedRgbFallsBackToTheFirstUsableNativeTypeInDeviceOrder) {
  const auto picture = Nv12Bytes(64, 48, 1);
  VirtualCameraScript script;
  script.nativeTypes = {
      {MFVideoFormat_RGB32, 64, 48, 30}, {MFVideoFormat_NV12, 64, 48, 30}, {MFVideoFormat_YUY2, 64, 48, 30}};
  script.steps = {FrameStep(PackedFrame(picture))};
  OpenWith(script);
  EXPECT_TRUE(IsEqualGUID(seam_->Subtype(), MFVideoFormat_NV12));
  ASSERT_TRUE(camera_.ReadFrame(pixels_, width_, height_, stride_));
  EXPECT_EQ(FirstDifference(pixels_, ExpectedFromNv12(picture, 64, 48)), -1);
}

// Most webcams deliver YUY2: its two bytes a pixel would pass an NV12 length
// test and come out garbled; converted as YUY2 the picture is right.
TEST_F(FrameReading, Yuy2FramesConvertAsYuy2) {
  const auto picture = Yuy2Bytes(640, 480, 2);
  OpenWith(OneTypeScript(MFVideoFormat_YUY2, 640, 480, {FrameStep(PackedFrame(picture))}));
  EXPECT_TRUE(IsEqualGUID(seam_->Subtype(), MFVideoFormat_YUY2));
  ASSERT_TRUE(camera_.ReadFrame(pixels_, width_, height_, stride_));
  EXPECT_EQ(width_, 640);
  EXPECT_EQ(height_, 480);
  EXPECT_EQ(stride_, 1920);
  EXPECT_EQ(FirstDifference(pixels_, ExpectedFromYuy2(picture, 640, 480)), -1);
}

// A native RGB24 type satisfies the RGB24 request itself: the rows are copied
// unchanged, the top one into the last `stride` bytes, junk tails left out.
TEST_F(FrameReading, RgbFramesAreCopiedBottomUp) {
  const auto picture = RgbBytes(30, 20, 3);
  OpenWith(OneTypeScript(MFVideoFormat_RGB24, 30, 20, {FrameStep(PackedFrame(picture))}));
  EXPECT_TRUE(IsEqualGUID(seam_->Subtype(), MFVideoFormat_RGB24));
  ASSERT_TRUE(camera_.ReadFrame(pixels_, width_, height_, stride_));
  EXPECT_EQ(stride_, 92);
  EXPECT_EQ(FirstDifference(pixels_, ExpectedFromRgb(picture, 30, 20)), -1);
  EXPECT_TRUE(std::equal(picture.begin(), picture.begin() + 90, pixels_.end() - 92));
}

// Without a decoder (as under Wine) an MJPG type cannot become a picture and
// the walk goes on; a device with nothing but MJPG does not open.
TEST_F(FrameReading, CompressedTypesAreNeverSetAsTheyAre) {
  const auto picture = Yuy2Bytes(32, 16, 4);
  VirtualCameraScript script;
  script.nativeTypes = {{MFVideoFormat_MJPG, 32, 16, 30}, {MFVideoFormat_YUY2, 32, 16, 30}};
  script.steps = {FrameStep(PackedFrame(picture))};
  OpenWith(script);
  EXPECT_TRUE(IsEqualGUID(seam_->Subtype(), MFVideoFormat_YUY2));
  ASSERT_TRUE(camera_.ReadFrame(pixels_, width_, height_, stride_));
  EXPECT_EQ(FirstDifference(pixels_, ExpectedFromYuy2(picture, 32, 16)), -1);
  camera_.Close();

  InstallDevices({ScriptedDevice(kLink, OneTypeScript(MFVideoFormat_MJPG, 32, 16))});
  EXPECT_FALSE(camera_.Open(kLink));
  EXPECT_EQ(camera_.Width(), 0);
}

// 640 x 480: an NV12 frame needs 460,800 bytes and an RGB frame 921,600; one
// byte fewer and the sample is skipped. Nothing of the caller's changes on a
// failed read.
TEST_F(FrameReading, BuffersShorterThanTheFrameAreSkipped) {
  OpenWith(OneTypeScript(MFVideoFormat_NV12, 640, 480,
                         {FrameStep(PackedFrame(std::vector<std::uint8_t>(460'799, 50))), EndOfStreamStep()}));
  pixels_.assign(5, 7);
  EXPECT_FALSE(camera_.ReadFrame(pixels_, width_, height_, stride_));
  EXPECT_EQ(pixels_, std::vector<std::uint8_t>(5, 7));
  EXPECT_EQ(width_, -1);
  camera_.Close();

  OpenWith(
      OneTypeScript(MFVideoFormat_NV12, 640, 480, {FrameStep(PackedFrame(std::vector<std::uint8_t>(460'800, 50)))}));
  EXPECT_TRUE(camera_.ReadFrame(pixels_, width_, height_, stride_));
  EXPECT_EQ(pixels_.size(), 921'600u);
  camera_.Close();

  OpenWith(OneTypeScript(MFVideoFormat_RGB24, 640, 480,
                         {FrameStep(PackedFrame(std::vector<std::uint8_t>(921'599, 50))),
                          FrameStep(PackedFrame(std::vector<std::uint8_t>(921'600, 60)))}));
  ASSERT_TRUE(camera_.ReadFrame(pixels_, width_, height_, stride_));
  EXPECT_EQ(pixels_[0], 60) << "the short buffer was skipped, the next one taken";
  EXPECT_EQ(stats_->requests, 2);
}

// 641 x 480: rows of 1924 bytes of which the last is padding, always zero,
// also when the caller's vector held other bytes before.
TEST_F(FrameReading, OddWidthRowsEndInZeroPadding) {
  OpenWith(OneTypeScript(MFVideoFormat_RGB24, 641, 480, {FrameStep(PackedFrame(RgbBytes(641, 480, 5)))}));
  pixels_.assign(100, 0xFF);
  ASSERT_TRUE(camera_.ReadFrame(pixels_, width_, height_, stride_));
  EXPECT_EQ(stride_, 1924);
  ASSERT_EQ(pixels_.size(), 923'520u);
  for (int row = 0; row < 480; ++row) EXPECT_EQ(pixels_[row * 1924 + 1923], 0) << "row " << row;
  EXPECT_EQ(FirstDifference(pixels_, ExpectedFromRgb(RgbBytes(641, 480, 5), 641, 480)), -1);
}

// Stream ticks, empty samples and short buffers each use up one of the ten
// attempts; after the tenth the read fails without asking for an eleventh
// sample, and the next read gets the frame that came after them. (A tick is
// no answer to a request, so ten attempts here make seven requests.)
TEST_F(FrameReading, TenUselessSamplesFailTheReadWithoutAnEleventh) {
  const auto picture = Nv12Bytes(16, 8, 6);
  std::deque<VirtualStep> steps;
  for (int i = 0; i < 3; ++i) {
    steps.push_back(TickStep());
    steps.push_back(EmptySampleStep());
    steps.push_back(FrameStep(PackedFrame(std::vector<std::uint8_t>(191, 1))));  // one byte short
  }
  steps.push_back(FrameStep(PackedFrame(std::vector<std::uint8_t>(100, 1))));
  steps.push_back(FrameStep(PackedFrame(picture)));
  OpenWith(OneTypeScript(MFVideoFormat_NV12, 16, 8, std::move(steps)));

  EXPECT_FALSE(camera_.ReadFrame(pixels_, width_, height_, stride_));
  EXPECT_EQ(stats_->requests, 7);
  EXPECT_EQ(stats_->stepsLeft, 1);
  ASSERT_TRUE(camera_.ReadFrame(pixels_, width_, height_, stride_));
  EXPECT_EQ(FirstDifference(pixels_, ExpectedFromNv12(picture, 16, 8)), -1);
}

TEST_F(FrameReading, AFailedReadEndsTheReadAtOnce) {
  const auto picture = Nv12Bytes(16, 8, 8);
  // The first frame gets the stream going: Wine's reader asks again when a
  // request fails while the stream is still being announced.
  OpenWith(OneTypeScript(MFVideoFormat_NV12, 16, 8,
                         {FrameStep(PackedFrame(picture)), ErrorStep(E_FAIL), FrameStep(PackedFrame(picture))}));
  ASSERT_TRUE(camera_.ReadFrame(pixels_, width_, height_, stride_));
  EXPECT_FALSE(camera_.ReadFrame(pixels_, width_, height_, stride_));
  EXPECT_EQ(stats_->requests, 2);
  EXPECT_EQ(stats_->stepsLeft, 1);
  // The reader flags the error, after which it must not be asked again: the
  // camera counts as lost until it is opened anew.
  EXPECT_FALSE(camera_.IsOpen());
  EXPECT_FALSE(camera_.ReadFrame(pixels_, width_, height_, stride_));
  EXPECT_EQ(stats_->requests, 2) << "a lost camera is not read";
}

TEST_F(FrameReading, TheEndOfTheStreamEndsEveryRead) {
  OpenWith(OneTypeScript(MFVideoFormat_NV12, 16, 8, {FrameStep(PackedFrame(Nv12Bytes(16, 8, 9))), EndOfStreamStep()}));
  EXPECT_TRUE(camera_.ReadFrame(pixels_, width_, height_, stride_));
  EXPECT_FALSE(camera_.ReadFrame(pixels_, width_, height_, stride_));
  EXPECT_FALSE(camera_.ReadFrame(pixels_, width_, height_, stride_));
  EXPECT_EQ(stats_->requests, 2);
}

// Buffers with their own row pitch: padded rows, a bottom-up RGB buffer, and
// a buffer that offers only the older 2-D lock. A 2-D buffer whose memory is
// too short for its rows is skipped rather than overrun.
TEST_F(FrameReading, TwoDimensionalBuffersAreReadWithTheirOwnPitch) {
  const auto nv12 = Nv12Bytes(64, 32, 10);
  VirtualFrame paddedNv12 = PitchedFrame(nv12, 64, 96);
  VirtualFrame olderNv12 = PitchedFrame(nv12, 64, 80);
  olderNv12.sizedLock = false;
  VirtualFrame truncated = PitchedFrame(nv12, 64, 96);
  truncated.bytes.resize(truncated.bytes.size() - 33);  // the last chroma row lacks its end
  OpenWith(OneTypeScript(MFVideoFormat_NV12, 64, 32,
                         {FrameStep(paddedNv12), FrameStep(olderNv12), FrameStep(truncated), EndOfStreamStep()}));
  const auto expected = ExpectedFromNv12(nv12, 64, 32);
  ASSERT_TRUE(camera_.ReadFrame(pixels_, width_, height_, stride_));
  EXPECT_EQ(FirstDifference(pixels_, expected), -1);
  pixels_.clear();
  ASSERT_TRUE(camera_.ReadFrame(pixels_, width_, height_, stride_));
  EXPECT_EQ(FirstDifference(pixels_, expected), -1);
  EXPECT_FALSE(camera_.ReadFrame(pixels_, width_, height_, stride_));
  camera_.Close();

  const auto yuy2 = Yuy2Bytes(40, 10, 11);
  OpenWith(OneTypeScript(MFVideoFormat_YUY2, 40, 10, {FrameStep(PitchedFrame(yuy2, 80, 128))}));
  ASSERT_TRUE(camera_.ReadFrame(pixels_, width_, height_, stride_));
  EXPECT_EQ(FirstDifference(pixels_, ExpectedFromYuy2(yuy2, 40, 10)), -1);
  camera_.Close();

  const auto rgb = RgbBytes(10, 6, 12);
  std::vector<std::uint8_t> rgbRows;  // the 30 meaningful bytes of each row
  for (int y = 0; y < 6; ++y) rgbRows.insert(rgbRows.end(), rgb.begin() + y * 32, rgb.begin() + y * 32 + 30);
  OpenWith(OneTypeScript(MFVideoFormat_RGB24, 10, 6, {FrameStep(PitchedFrame(rgbRows, 30, -48))}));
  ASSERT_TRUE(camera_.ReadFrame(pixels_, width_, height_, stride_));
  EXPECT_EQ(FirstDifference(pixels_, ExpectedFromRgb(rgb, 10, 6)), -1);
}

// What real webcams hand over: planes stored bottom-up, an NV12 luma plane
// padded to a taller height (1080 rows in 1088), and RGB rows bottom-up in a
// contiguous buffer whose type says so with a negative default stride. Each
// must come out the right way up.
TEST_F(FrameReading, BottomUpAndPaddedBuffersComeOutTheRightWayUp) {
  const auto nv12 = Nv12Bytes(64, 32, 13);
  const auto yuy2 = Yuy2Bytes(40, 10, 14);
  std::vector<std::uint8_t> padded(nv12.begin(), nv12.begin() + 64 * 32);
  padded.resize(64 * 40, 0x11);  // eight rows of padding below the picture
  padded.insert(padded.end(), nv12.begin() + 64 * 32, nv12.end());
  padded.resize(64 * 60, 0x22);  // and four below the chroma rows
  std::vector<std::uint8_t> longer = nv12;
  longer.resize(64 * 60, 0x33);
  // A picture that starts partway into its buffer, at an odd pitch, through
  // either 2-D lock: the reader starts at the first row, not at the memory.
  const auto partwayIn = [&](bool sizedLock) {
    VirtualFrame frame = PitchedFrame(nv12, 64, 67, 0x44);
    frame.bytes.insert(frame.bytes.begin(), 29, 0x55);
    frame.offset = 29;
    frame.sizedLock = sizedLock;
    return frame;
  };
  struct Case {
    const char* name;
    GUID subtype;
    int width, height;
    UINT32 shownRows;  // the type's aperture; 0: none
    VirtualFrame frame;
    std::vector<std::uint8_t> expected;
  } const cases[] = {
      {"bottom-up NV12", MFVideoFormat_NV12, 64, 32, 0, PitchedFrame(nv12, 64, -96), ExpectedFromNv12(nv12, 64, 32)},
      {"bottom-up YUY2", MFVideoFormat_YUY2, 40, 10, 0, PitchedFrame(yuy2, 80, -128), ExpectedFromYuy2(yuy2, 40, 10)},
      {"padded NV12", MFVideoFormat_NV12, 64, 40, 32, PitchedFrame(padded, 64, 80), ExpectedFromNv12(nv12, 64, 32)},
      // Without an aperture the chroma plane follows the picture, however
      // long the buffer: here as long as a padded 40-row plane would be.
      {"NV12 in a longer buffer", MFVideoFormat_NV12, 64, 32, 0, PitchedFrame(longer, 64, 64),
       ExpectedFromNv12(nv12, 64, 32)},
      {"NV12 partway in", MFVideoFormat_NV12, 64, 32, 0, partwayIn(true), ExpectedFromNv12(nv12, 64, 32)},
      {"NV12 partway in, older lock", MFVideoFormat_NV12, 64, 32, 0, partwayIn(false), ExpectedFromNv12(nv12, 64, 32)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    VirtualCameraScript script = OneTypeScript(c.subtype, c.width, c.height, {FrameStep(c.frame)});
    script.nativeTypes[0].apertureHeight = c.shownRows;
    OpenWith(script);
    ASSERT_TRUE(camera_.ReadFrame(pixels_, width_, height_, stride_));
    EXPECT_EQ(FirstDifference(pixels_, c.expected), -1);
    camera_.Close();
  }

  // A type of 40 coded rows that shows 32 (its display aperture), delivered
  // contiguous: the chroma plane follows all 40 luma rows.
  VirtualCameraScript aperture = OneTypeScript(MFVideoFormat_NV12, 64, 40, {FrameStep(PackedFrame(padded))});
  aperture.nativeTypes[0].apertureHeight = 32;
  OpenWith(aperture);
  EXPECT_EQ(camera_.Height(), 32);
  ASSERT_TRUE(camera_.ReadFrame(pixels_, width_, height_, stride_));
  EXPECT_EQ(height_, 32);
  EXPECT_EQ(FirstDifference(pixels_, ExpectedFromNv12(nv12, 64, 32)), -1) << "NV12 shown through its aperture";
  camera_.Close();

  const auto rgb = RgbBytes(10, 6, 15);
  std::vector<std::uint8_t> bottomUp;
  for (int y = 5; y >= 0; --y) bottomUp.insert(bottomUp.end(), rgb.begin() + y * 32, rgb.begin() + (y + 1) * 32);
  VirtualCameraScript script = OneTypeScript(MFVideoFormat_RGB24, 10, 6, {FrameStep(PackedFrame(bottomUp))});
  script.nativeTypes[0].defaultStride = -32;
  OpenWith(script);
  ASSERT_TRUE(camera_.ReadFrame(pixels_, width_, height_, stride_));
  EXPECT_EQ(FirstDifference(pixels_, ExpectedFromRgb(rgb, 10, 6)), -1) << "RGB24 with a negative default stride";
}

// Contiguous buffers laid out by the type's default stride: rows padded past
// an odd width (as 1366 is), the chroma plane where the declared stride and
// height put it even in a buffer longer than the picture, and a buffer too
// short for the declared layout refused rather than read past its end.
TEST_F(FrameReading, ContiguousBuffersFollowTheirDeclaredStride) {
  const auto nv12 = Nv12Bytes(22, 8, 16);
  const auto yuy2 = Yuy2Bytes(22, 6, 17);
  const auto spread = [](const std::vector<std::uint8_t>& packed, std::size_t rowBytes, std::size_t stride,
                         std::size_t extra) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t at = 0; at < packed.size(); at += rowBytes) {
      bytes.insert(bytes.end(), packed.begin() + at, packed.begin() + at + rowBytes);
      bytes.resize(bytes.size() + stride - rowBytes, 0xC3);
    }
    bytes.resize(bytes.size() + extra, 0x5A);
    return bytes;
  };
  struct Case {
    const char* name;
    GUID subtype;
    int width, height;
    LONG stride;
    std::vector<std::uint8_t> bytes;
    std::vector<std::uint8_t> expected;  // empty: the read fails
  } const cases[] = {
      {"NV12 in rows of 32", MFVideoFormat_NV12, 22, 8, 32, spread(nv12, 22, 32, 0), ExpectedFromNv12(nv12, 22, 8)},
      {"NV12 with a longer buffer", MFVideoFormat_NV12, 22, 8, 32, spread(nv12, 22, 32, 96),
       ExpectedFromNv12(nv12, 22, 8)},
      {"YUY2 in rows of 48", MFVideoFormat_YUY2, 22, 6, 48, spread(yuy2, 44, 48, 0), ExpectedFromYuy2(yuy2, 22, 6)},
      {"NV12 a byte short", MFVideoFormat_NV12, 22, 8, 32, std::vector<std::uint8_t>(32 * 11 + 21, 1), {}},
      {"YUY2 short of its stride", MFVideoFormat_YUY2, 22, 6, 48, std::vector<std::uint8_t>(48 * 5 + 40, 1), {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    VirtualCameraScript script =
        OneTypeScript(c.subtype, c.width, c.height, {FrameStep(PackedFrame(c.bytes)), EndOfStreamStep()});
    script.nativeTypes[0].defaultStride = c.stride;
    OpenWith(script);
    EXPECT_EQ(camera_.ReadFrame(pixels_, width_, height_, stride_), !c.expected.empty());
    if (!c.expected.empty()) {
      EXPECT_EQ(FirstDifference(pixels_, c.expected), -1);
    }
    camera_.Close();
  }
}

TEST_F(FrameReading, FramesArePacedAsTheScriptAsks) {
  VirtualCameraScript script = OneTypeScript(MFVideoFormat_NV12, 8, 4);
  script.frameMaker = [](std::uint32_t) { return PackedFrame(std::vector<std::uint8_t>(48, 9)); };
  script.frameInterval = std::chrono::milliseconds(25);
  OpenWith(script);
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 6; ++i) ASSERT_TRUE(camera_.ReadFrame(pixels_, width_, height_, stride_));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(120));
}

}  // namespace
}  // namespace snaplark::test
