#pragma once
// The BMP file a capture leaves in the Pictures folder: its name, and the
// saving of a snapshot block behind its file header under a name that no
// earlier capture holds. Platform-free: the file system comes in as a
// set of calls, the real ones on Windows and a fake in the tests.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace snaplark {

struct LocalTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// Paths are composed in buffers of 260 units, terminator included.
inline constexpr std::size_t MaxPathLength = 259;

// "<folder>\Snaplark_Capture_YYYYMMDD_HHMMSS.bmp"; from the second attempt
// on, "_<attempt>" before ".bmp". Empty when the path would not fit.
std::wstring CaptureFilePath(const std::wstring& folder, const LocalTime& time, int attempt = 1);

enum class CreateOutcome { Created, AlreadyExists, Failed };

struct CaptureFileSystem {
  // Creates `path` for writing; never replaces an existing file.
  std::function<CreateOutcome(const std::wstring& path)> createNew;
  // Appends to the file created last; false unless every byte was written.
  std::function<bool(const void* data, std::size_t size)> write;
  std::function<void()> close;
  std::function<void(const std::wstring& path)> remove;
};

// Writes the block behind its file header into a new file named from `time`
// in `folder`: the first free name of CaptureFilePath's attempts. Returns
// the path, or empty after any failure, with no partial file left behind.
std::wstring SaveCaptureFile(const std::wstring& folder, const LocalTime& time, const std::uint8_t* dib,
                             std::size_t dibSize, const CaptureFileSystem& files);

}  // namespace snaplark
