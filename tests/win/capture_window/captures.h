#pragma once
// What a capture leaves outside the window: the clipboard's contents and the
// files in the Pictures folder (the test's own HOME under Wine).
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace snaplark::test {

// The bytes of one clipboard format, as large as its block; empty if none.
std::vector<std::uint8_t> ClipboardBytes(UINT format);

std::wstring PicturesFolder();
// The names of the captures in the Pictures folder, sorted.
std::vector<std::wstring> CaptureFiles();
void DeleteCaptureFiles();
std::vector<std::uint8_t> ReadWholeFile(const std::wstring& path);

// Points the user's Pictures folder elsewhere for the life of the object.
class PicturesFolderRedirect {
 public:
  explicit PicturesFolderRedirect(const std::wstring& path);
  ~PicturesFolderRedirect();
  PicturesFolderRedirect(const PicturesFolderRedirect&) = delete;
  PicturesFolderRedirect& operator=(const PicturesFolderRedirect&) = delete;

 private:
  std::vector<std::uint8_t> saved_;
  DWORD savedType_ = 0;
  bool hadValue_ = false;
};

}  // namespace snaplark::test
