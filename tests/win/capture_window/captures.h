#pragma once
// What a capture leaves outside the window: the clipboard's contents and the
// files in the Pictures folder (the test's own HOME under Wine). Deleting
// pictures and pointing the Pictures folder elsewhere happen only in a
// throwaway Wine prefix, never in a user's own folder and registry.
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
// Deletes them; does nothing outside Wine.
void DeleteCaptureFiles();
std::vector<std::uint8_t> ReadWholeFile(const std::wstring& path);

// Points the Pictures folder elsewhere for the life of the object (under
// Wine only; elsewhere it changes nothing). The folder's own setting is noted
// in the tests' key first, so that a test that crashed half-way is undone by
// the next redirect or RestorePicturesFolder.
class PicturesFolderRedirect {
 public:
  explicit PicturesFolderRedirect(const std::wstring& path);
  ~PicturesFolderRedirect();
  PicturesFolderRedirect(const PicturesFolderRedirect&) = delete;
  PicturesFolderRedirect& operator=(const PicturesFolderRedirect&) = delete;
};

// Puts back a Pictures folder that a crashed test left pointing elsewhere.
void RestorePicturesFolder();

}  // namespace snaplark::test
