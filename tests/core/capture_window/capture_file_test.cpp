// The capture's BMP file: its header, its name, and that saving never
// replaces an earlier picture nor leaves a half-written one behind.
#include "ui/capture_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <vector>

#include "camera/dib.h"

namespace snaplark {
namespace {

// A packed 24-bit DIB as the camera's snapshot makes it.
std::vector<std::uint8_t> Dib(std::int32_t width, std::int32_t height) {
  const std::uint32_t stride = (3 * width + 3) & ~3u;
  const std::uint32_t image = stride * height;
  std::vector<std::uint8_t> dib(40 + image, 0x5A);
  const std::uint32_t fields[] = {
      40, static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height), 1 | 24u << 16, 0, image, 3780, 3780, 0,
      0};
  std::memcpy(dib.data(), fields, sizeof(fields));
  return dib;
}

std::uint32_t At32(const std::uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

TEST(BmpFileHeader, TellsTheFileSizeAndWhereThePixelsStart) {
  for (const auto& [width, bytes] : {std::pair{640, 921654u}, std::pair{641, 923574u}}) {
    SCOPED_TRACE(width);
    const auto dib = Dib(width, 480);
    const auto header = BmpFileHeader(dib.data(), dib.size());
    ASSERT_TRUE(header);
    EXPECT_EQ((*header)[0], 'B');
    EXPECT_EQ((*header)[1], 'M');
    EXPECT_EQ(At32(&(*header)[2]), bytes);
    EXPECT_EQ(At32(&(*header)[6]), 0u) << "reserved";
    EXPECT_EQ(At32(&(*header)[10]), 54u);
    std::uint8_t written[40];
    WriteDibHeader(PictureShapeFor(width, 480), written);
    EXPECT_EQ(std::memcmp(written, dib.data(), 40), 0) << "the header every snapshot carries";
  }
  // A block shorter than its header claims makes no file.
  const auto dib = Dib(640, 480);
  EXPECT_FALSE(BmpFileHeader(dib.data(), dib.size() - 1));
  EXPECT_FALSE(BmpFileHeader(dib.data(), 20));
}

TEST(CaptureFilePath, NamesTheFileFromTheLocalTimeAndNumbersTheLaterOnesOfASecond) {
  const LocalTime time{2026, 1, 5, 9, 7, 3};
  EXPECT_EQ(CaptureFilePath(L"C:\\Users\\ana\\Pictures", time),
            L"C:\\Users\\ana\\Pictures\\Snaplark_Capture_20260105_090703.bmp");
  EXPECT_EQ(CaptureFilePath(L"P:", time, 2), L"P:\\Snaplark_Capture_20260105_090703_2.bmp");
  EXPECT_EQ(CaptureFilePath(L"P:", time, 12), L"P:\\Snaplark_Capture_20260105_090703_12.bmp");
  // 259 units fit the 260-unit buffer with its terminator; one more does not.
  const std::wstring name = L"\\Snaplark_Capture_20260105_090703.bmp";
  EXPECT_EQ(CaptureFilePath(std::wstring(259 - name.size(), L'x'), time).size(), 259u);
  EXPECT_EQ(CaptureFilePath(std::wstring(260 - name.size(), L'x'), time), L"");
  EXPECT_EQ(CaptureFilePath(std::wstring(259 - name.size(), L'x'), time, 2), L"") << "the suffix must fit too";
}

// An in-memory folder whose writes can be made to fail.
struct FakeFolder {
  std::map<std::wstring, std::vector<std::uint8_t>> files;
  std::wstring open;
  int writesBeforeFailure = -1;  // -1: never fail
  bool createFails = false;
  bool closed = true;

  CaptureFileSystem Calls() {
    return {[this](const std::wstring& path) {
              if (createFails) return CreateOutcome::Failed;
              if (files.count(path)) return CreateOutcome::AlreadyExists;
              files[path];
              open = path;
              closed = false;
              return CreateOutcome::Created;
            },
            [this](const void* data, std::size_t size) {
              if (writesBeforeFailure == 0) return false;
              if (writesBeforeFailure > 0) --writesBeforeFailure;
              const auto* bytes = static_cast<const std::uint8_t*>(data);
              files[open].insert(files[open].end(), bytes, bytes + size);
              return true;
            },
            [this] { closed = true; }, [this](const std::wstring& path) { files.erase(path); }};
  }
};

TEST(SaveCaptureFile, KeepsEveryPictureOfOneSecondAndLeavesNothingHalfWritten) {
  const LocalTime time{2026, 1, 5, 9, 7, 3};
  const auto dib = Dib(7, 5);
  FakeFolder folder;
  const std::wstring first = SaveCaptureFile(L"P:", time, dib.data(), dib.size(), folder.Calls());
  const std::wstring second = SaveCaptureFile(L"P:", time, dib.data(), dib.size(), folder.Calls());
  EXPECT_EQ(first, L"P:\\Snaplark_Capture_20260105_090703.bmp");
  EXPECT_EQ(second, L"P:\\Snaplark_Capture_20260105_090703_2.bmp");
  ASSERT_EQ(folder.files.size(), 2u);
  const std::vector<std::uint8_t>& file = folder.files[first];
  ASSERT_EQ(file.size(), 54 + 5 * 24u);
  EXPECT_EQ(std::vector<std::uint8_t>(file.begin() + 14, file.end()), dib) << "the block follows the header as is";
  EXPECT_TRUE(folder.closed);

  // A write that fails after the file was created: closed, removed, nothing
  // reported as saved. Either write may be the one.
  for (int writes : {0, 1}) {
    SCOPED_TRACE(writes);
    folder.writesBeforeFailure = writes;
    EXPECT_EQ(SaveCaptureFile(L"P:", time, dib.data(), dib.size(), folder.Calls()), L"");
    EXPECT_TRUE(folder.closed);
    EXPECT_EQ(folder.files.size(), 2u) << "a partial file was left behind";
  }
  folder.writesBeforeFailure = -1;
  folder.createFails = true;
  EXPECT_EQ(SaveCaptureFile(L"P:", time, dib.data(), dib.size(), folder.Calls()), L"");
  folder.createFails = false;
  EXPECT_EQ(SaveCaptureFile(std::wstring(240, L'x'), time, dib.data(), dib.size(), folder.Calls()), L"")
      << "a path too long for its buffer is not cut into another one";
  EXPECT_EQ(folder.files.size(), 2u);
}

}  // namespace
}  // namespace snaplark
