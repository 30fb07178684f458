// The snapshot block: header byte for byte, sizes, row order, and failures
// that leave nothing allocated.
#include <cstring>

#include "camera/virtual/scripted_source_reader.h"
#include "camera_test_support.h"

namespace snaplark::test {
namespace {

constexpr wchar_t kLink[] = L"\\\\?\\virtual#snapshot";

std::uint32_t U32(const std::uint8_t* bytes, int offset) {
  std::uint32_t value;
  std::memcpy(&value, bytes + offset, 4);
  return value;
}
std::uint16_t U16(const std::uint8_t* bytes, int offset) {
  std::uint16_t value;
  std::memcpy(&value, bytes + offset, 2);
  return value;
}

// The block's bytes, copied out; the block itself is freed.
std::vector<std::uint8_t> TakeBlock(HGLOBAL block) {
  std::vector<std::uint8_t> bytes(GlobalSize(block));
  void* data = GlobalLock(block);
  EXPECT_NE(data, static_cast<void*>(block)) << "the block must be movable";
  std::memcpy(bytes.data(), data, bytes.size());
  GlobalUnlock(block);
  GlobalFree(block);
  return bytes;
}

class Snapshot : public CameraTest {};

TEST_F(Snapshot, HoldsAHeaderAndTheFrameRowsBottomUp) {
  const auto picture = RgbBytes(640, 480, 1);
  InstallDevices(
      {ScriptedDevice(kLink, OneTypeScript(MFVideoFormat_RGB24, 640, 480, {FrameStep(PackedFrame(picture))}))});
  Camera camera;
  ASSERT_TRUE(camera.Open(kLink));
  HGLOBAL block = SnapshotDib(camera).Release();
  ASSERT_NE(block, nullptr);
  const auto bytes = TakeBlock(block);
  ASSERT_EQ(bytes.size(), 921'640u);
  const std::uint8_t* header = bytes.data();
  EXPECT_EQ(U32(header, 0), 40u);
  EXPECT_EQ(U32(header, 4), 640u);
  EXPECT_EQ(U32(header, 8), 480u);  // positive: bottom-up
  EXPECT_EQ(U16(header, 12), 1);
  EXPECT_EQ(U16(header, 14), 24);
  EXPECT_EQ(U32(header, 16), 0u);  // BI_RGB
  EXPECT_EQ(U32(header, 20), 921'600u);
  EXPECT_EQ(U32(header, 24), 3780u);
  EXPECT_EQ(U32(header, 28), 3780u);
  EXPECT_EQ(U32(header, 32), 0u);
  EXPECT_EQ(U32(header, 36), 0u);
  const std::vector<std::uint8_t> rows(bytes.begin() + 40, bytes.end());
  EXPECT_EQ(FirstDifference(rows, ExpectedFromRgb(picture, 640, 480)), -1);
  // The top camera row is the last `stride` bytes of the block.
  EXPECT_TRUE(std::equal(picture.begin(), picture.begin() + 1920, bytes.end() - 1920));
}

TEST_F(Snapshot, OddWidthRowsArePaddedWithZeros) {
  const VirtualStep frame = FrameStep(PackedFrame(RgbBytes(641, 480, 2)));
  InstallDevices({ScriptedDevice(kLink, OneTypeScript(MFVideoFormat_RGB24, 641, 480, {frame, frame}))});
  Camera camera;
  ASSERT_TRUE(camera.Open(kLink));
  const auto bytes = TakeBlock(SnapshotDib(camera).Release());
  ASSERT_EQ(bytes.size(), 923'560u);
  EXPECT_EQ(U32(bytes.data(), 20), 923'520u);
  for (int row = 0; row < 480; ++row) EXPECT_EQ(bytes[40 + row * 1924 + 1923], 0) << "row " << row;
  // Read into memory that is not fresh: the padding is written, not assumed.
  std::vector<std::uint8_t> used(923'520, 0xAA);
  ASSERT_TRUE(camera.ReadFrameInto(used.data(), used.size()));
  EXPECT_TRUE(std::equal(used.begin(), used.end(), bytes.begin() + 40));
}

TEST_F(Snapshot, NoBlockWithoutAFrame) {
  Camera camera;
  EXPECT_EQ(SnapshotDib(camera).Release(), nullptr);  // closed: nothing is read

  auto log = std::make_shared<ScriptedReaderLog>();
  ScriptedReaderScript script;
  script.nativeTypes = {{MFVideoFormat_NV12, 16, 8, 30}};
  script.reads = {FailedRead(E_FAIL)};
  Microsoft::WRL::ComPtr<IMFSourceReader> reader;
  ASSERT_EQ(CreateScriptedSourceReader(std::move(script), log, &reader), S_OK);
  ASSERT_TRUE(OpenOver(camera, std::move(reader)));
  EXPECT_EQ(SnapshotDib(camera).Release(), nullptr);
  EXPECT_EQ(log->reads, 1);
  camera.Close();
  EXPECT_EQ(SnapshotDib(camera).Release(), nullptr);
  EXPECT_EQ(log->reads, 1) << "a closed camera is not read";
}

}  // namespace
}  // namespace snaplark::test
