// Cases that Wine's source reader cannot produce, played by a scripted reader
// set straight into the camera: a reader that makes RGB24 or decodes MJPG,
// one that refuses a type, reads that fail outright, and exact read counts.
#include <mferror.h>

#include "camera/virtual/scripted_source_reader.h"
#include "camera_test_support.h"

namespace snaplark::test {
namespace {

using Microsoft::WRL::ComPtr;

class ScriptedReader : public CameraTest {
 protected:
  void TearDown() override {
    camera_.Close();
    CameraTest::TearDown();
  }

  // Puts a reader playing this script into the camera and negotiates.
  bool Negotiate(ScriptedReaderScript script) {
    ComPtr<IMFSourceReader> reader;
    EXPECT_EQ(CreateScriptedSourceReader(std::move(script), log_, &reader), S_OK);
    return OpenOver(camera_, reader);
  }
  std::vector<GUID> SetRequests() {
    std::lock_guard<std::mutex> lock(log_->mutex);
    return log_->setRequests;
  }

  std::shared_ptr<ScriptedReaderLog> log_ = std::make_shared<ScriptedReaderLog>();
  Camera camera_;
  std::vector<std::uint8_t> pixels_;
  int width_ = 0;
  int height_ = 0;
  int stride_ = 0;
};

TEST_F(ScriptedReader, AReaderThatMakesRgbIsTakenWithoutLookingAtNativeTypes) {
  ScriptedReaderScript script;
  script.nativeTypes = {{MFVideoFormat_NV12, 20, 10, 30}};
  script.makesRgb24 = true;
  script.rgbWidth = 20;
  script.rgbHeight = 10;
  const auto picture = RgbBytes(20, 10, 1);
  script.reads = {ReadOf(PackedFrame(picture))};
  ASSERT_TRUE(Negotiate(std::move(script)));
  EXPECT_EQ(log_->nativeTypeRequests, 0);
  ASSERT_EQ(SetRequests().size(), 1u);
  EXPECT_TRUE(IsEqualGUID(SetRequests()[0], MFVideoFormat_RGB24));
  EXPECT_EQ(camera_.Width(), 20);
  EXPECT_EQ(camera_.Height(), 10);
  ASSERT_TRUE(camera_.ReadFrame(pixels_, width_, height_, stride_));
  EXPECT_EQ(FirstDifference(pixels_, ExpectedFromRgb(picture, 20, 10)), -1);
}

TEST_F(ScriptedReader, RefusedAndUnreadableTypesAreSkipped) {
  ScriptedReaderScript script;
  script.nativeTypes = {{GUID_NULL, 16, 8, 30}, {MFVideoFormat_NV12, 16, 8, 30}, {MFVideoFormat_YUY2, 16, 8, 30}};
  script.refusedNativeTypes = {1};
  ASSERT_TRUE(Negotiate(std::move(script)));
  EXPECT_TRUE(IsEqualGUID(seam_->Subtype(), MFVideoFormat_YUY2));
  const auto requests = SetRequests();
  ASSERT_EQ(requests.size(), 3u);  // RGB24, the refused NV12, YUY2; never the type without a subtype
  EXPECT_TRUE(IsEqualGUID(requests[1], MFVideoFormat_NV12));
}

// A compressed native type is decoded by the reader where it can: NV12 first,
// else YUY2, with the native frame size; where it cannot, the walk goes on.
TEST_F(ScriptedReader, MjpgIsAskedForAsADecodedPicture) {
  {
    ScriptedReaderScript script;
    script.nativeTypes = {{MFVideoFormat_MJPG, 1280, 720, 30}};
    script.decodesMjpgTo = {MFVideoFormat_NV12, MFVideoFormat_YUY2};
    ASSERT_TRUE(Negotiate(std::move(script)));
    EXPECT_TRUE(IsEqualGUID(seam_->Subtype(), MFVideoFormat_NV12));
    EXPECT_EQ(camera_.Width(), 1280);
    EXPECT_EQ(camera_.Height(), 720);
  }
  {
    log_ = std::make_shared<ScriptedReaderLog>();
    ScriptedReaderScript script;
    script.nativeTypes = {{MFVideoFormat_MJPG, 640, 360, 30}};
    script.decodesMjpgTo = {MFVideoFormat_YUY2};
    const auto picture = Yuy2Bytes(640, 360, 2);
    script.reads = {ReadOf(PackedFrame(picture))};
    ASSERT_TRUE(Negotiate(std::move(script)));
    EXPECT_TRUE(IsEqualGUID(seam_->Subtype(), MFVideoFormat_YUY2));
    EXPECT_EQ(SetRequests().size(), 3u);  // RGB24, NV12, YUY2
    ASSERT_TRUE(camera_.ReadFrame(pixels_, width_, height_, stride_));
    EXPECT_EQ(FirstDifference(pixels_, ExpectedFromYuy2(picture, 640, 360)), -1);
  }
  {
    // An MJPG-only camera whose first type cannot be decoded: its second is
    // made the device's current type before a decoded picture is asked for.
    log_ = std::make_shared<ScriptedReaderLog>();
    ScriptedReaderScript script;
    script.nativeTypes = {{MFVideoFormat_MJPG, 3840, 2160, 30}, {MFVideoFormat_MJPG, 1280, 720, 30}};
    script.refusedNativeTypes = {0};
    script.decodesMjpgTo = {MFVideoFormat_NV12};
    ASSERT_TRUE(Negotiate(std::move(script)));
    EXPECT_TRUE(IsEqualGUID(seam_->Subtype(), MFVideoFormat_NV12));
    EXPECT_EQ(camera_.Width(), 1280);
    EXPECT_EQ(camera_.Height(), 720);
  }
  {
    log_ = std::make_shared<ScriptedReaderLog>();
    ScriptedReaderScript script;
    script.nativeTypes = {{MFVideoFormat_MJPG, 640, 360, 30}, {MFVideoFormat_MJPG, 320, 180, 30}};
    EXPECT_FALSE(Negotiate(std::move(script)));
    for (const GUID& request : SetRequests()) EXPECT_FALSE(IsEqualGUID(request, MFVideoFormat_MJPG));
  }
}

// A camera whose fast types are MJPG and whose raw type of the same size runs
// at 5 fps: the decoded output is asked for at the MJPG type's own rate, so
// the reader decodes instead of falling back to the slow raw type.
TEST_F(ScriptedReader, MjpgKeepsItsFrameRateWhenDecoded) {
  ScriptedReaderScript script;
  script.nativeTypes = {{MFVideoFormat_MJPG, 1920, 1080, 30},
                        {MFVideoFormat_MJPG, 1280, 720, 30},
                        {MFVideoFormat_YUY2, 640, 480, 30},
                        {MFVideoFormat_YUY2, 1920, 1080, 5}};
  script.decodesMjpgTo = {MFVideoFormat_YUY2};
  ASSERT_TRUE(Negotiate(std::move(script)));
  EXPECT_TRUE(IsEqualGUID(seam_->Subtype(), MFVideoFormat_YUY2));
  EXPECT_EQ(camera_.Width(), 1920);
  EXPECT_EQ(camera_.Height(), 1080);
  ComPtr<IMFMediaType> current;
  ASSERT_EQ(seam_->Last()->GetCurrentMediaType(MF_SOURCE_READER_FIRST_VIDEO_STREAM, &current), S_OK);
  UINT32 numerator = 0, denominator = 0;
  ASSERT_EQ(MFGetAttributeRatio(current.Get(), MF_MT_FRAME_RATE, &numerator, &denominator), S_OK);
  EXPECT_EQ(numerator / denominator, 30u) << "the slow raw type was taken";
}

// Sizes whose frame would not fit in 32-bit byte counts are refused, like a
// missing size, rather than opened into a camera that can never convert.
TEST_F(ScriptedReader, AFrameSizeThatCannotBeHeldIsRefused) {
  // Beyond 32-bit byte counts; then sizes within them that a 32-bit process
  // still could not hold twice over (a side over 16384, or over 256 MiB).
  for (const auto& [width, height] : {std::pair{40000u, 40000u}, std::pair{20000u, 100u}, std::pair{12000u, 9000u}}) {
    SCOPED_TRACE(testing::Message() << width << " x " << height);
    log_ = std::make_shared<ScriptedReaderLog>();
    ScriptedReaderScript script;
    script.nativeTypes = {{MFVideoFormat_NV12, width, height, 30}};
    EXPECT_FALSE(Negotiate(std::move(script)));
  }
  ScriptedReaderScript script;
  script.nativeTypes = {{MFVideoFormat_NV12, 7680, 4320, 30}};
  EXPECT_TRUE(Negotiate(std::move(script))) << "an 8K camera is a real one";
}

TEST_F(ScriptedReader, AReadSampleFailureEndsTheReadWithoutASecondRead) {
  ScriptedReaderScript script;
  script.nativeTypes = {{MFVideoFormat_NV12, 16, 8, 30}};
  script.reads = {FailedRead(MF_E_HW_MFT_FAILED_START_STREAMING), ReadOf(PackedFrame(Nv12Bytes(16, 8, 3)))};
  ASSERT_TRUE(Negotiate(std::move(script)));
  pixels_.assign(3, 9);
  EXPECT_FALSE(camera_.ReadFrame(pixels_, width_, height_, stride_));
  EXPECT_EQ(log_->reads, 1);
  EXPECT_EQ(pixels_, std::vector<std::uint8_t>(3, 9));
  EXPECT_EQ(camera_.LastOpenError(), MF_E_HW_MFT_FAILED_START_STREAMING) << "a device that would not start";
}

// The end-of-stream flag ends the read even when a sample came with it; that
// sample is released like every other (the fixture counts them).
TEST_F(ScriptedReader, EndOfStreamWinsOverTheSampleThatCameWithIt) {
  ScriptedReaderScript script;
  script.nativeTypes = {{MFVideoFormat_NV12, 16, 8, 30}};
  ScriptedRead last = ReadOf(PackedFrame(Nv12Bytes(16, 8, 5)));
  last.streamFlags = MF_SOURCE_READERF_ENDOFSTREAM;
  script.reads = {last};
  ASSERT_TRUE(Negotiate(std::move(script)));
  EXPECT_FALSE(camera_.ReadFrame(pixels_, width_, height_, stride_));
  EXPECT_EQ(log_->reads, 1);
}

}  // namespace
}  // namespace snaplark::test
