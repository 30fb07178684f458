#include "captures.h"

#include <shlobj.h>

#include <algorithm>
#include <cstring>

#include "handles/win_handles.h"
#include "support/under_wine.h"

namespace snaplark::test {
namespace {

constexpr wchar_t kShellFolders[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
constexpr wchar_t kPictures[] = L"My Pictures";
// While a redirect lasts: the folder's own value ("Original", of its own type)
// or "Absent" when it had none.
constexpr wchar_t kRedirectNote[] = L"Software\\Tollendale\\SnaplarkTests\\PicturesRedirect";

std::vector<std::uint8_t> ReadValue(const wchar_t* key, const wchar_t* name, DWORD& type) {
  DWORD size = 0;
  if (RegGetValueW(HKEY_CURRENT_USER, key, name, RRF_RT_ANY | RRF_NOEXPAND, &type, nullptr, &size) != ERROR_SUCCESS)
    return {};
  std::vector<std::uint8_t> data(size);
  if (RegGetValueW(HKEY_CURRENT_USER, key, name, RRF_RT_ANY | RRF_NOEXPAND, &type, data.data(), &size) != ERROR_SUCCESS)
    return {};
  data.resize(size);
  return data;
}

// The window's thread may hold the clipboard for a moment.
bool OpenClipboardSoon() {
  for (int attempt = 0; attempt < 100; ++attempt) {
    if (OpenClipboard(nullptr)) return true;
    Sleep(10);
  }
  return false;
}

}  // namespace

std::vector<std::uint8_t> ClipboardBytes(UINT format) {
  std::vector<std::uint8_t> bytes;
  if (!OpenClipboardSoon()) return bytes;
  if (HANDLE data = GetClipboardData(format)) {
    const GlobalLockGuard locked(data);
    if (locked) {
      const auto* begin = static_cast<const std::uint8_t*>(locked.Data());
      bytes.assign(begin, begin + GlobalSize(data));
    }
  }
  CloseClipboard();
  return bytes;
}

std::wstring PicturesFolder() {
  wchar_t folder[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, CSIDL_MYPICTURES, nullptr, SHGFP_TYPE_CURRENT, folder);
  return folder;
}

std::vector<std::wstring> CaptureFiles() {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found{};
  HANDLE search = FindFirstFileW((PicturesFolder() + L"\\Snaplark_Capture_*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    names.emplace_back(found.cFileName);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  std::sort(names.begin(), names.end());
  return names;
}

void DeleteCaptureFiles() {
  if (!RunningUnderWine()) return;
  for (const std::wstring& name : CaptureFiles()) DeleteFileW((PicturesFolder() + L"\\" + name).c_str());
}

std::vector<std::uint8_t> ReadWholeFile(const std::wstring& path) {
  const UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  std::vector<std::uint8_t> bytes(file ? GetFileSize(file.Get(), nullptr) : 0);
  DWORD read = 0;
  if (!bytes.empty() && !ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr))
    bytes.clear();
  return bytes;
}

void RestorePicturesFolder() {
  if (!RunningUnderWine()) return;
  DWORD type = 0;
  const std::vector<std::uint8_t> original = ReadValue(kRedirectNote, L"Original", type);
  if (!original.empty()) {
    RegSetKeyValueW(HKEY_CURRENT_USER, kShellFolders, kPictures, type, original.data(),
                    static_cast<DWORD>(original.size()));
  } else if (!ReadValue(kRedirectNote, L"Absent", type).empty()) {
    RegDeleteKeyValueW(HKEY_CURRENT_USER, kShellFolders, kPictures);
  }
  RegDeleteTreeW(HKEY_CURRENT_USER, kRedirectNote);
}

PicturesFolderRedirect::PicturesFolderRedirect(const std::wstring& path) {
  if (!RunningUnderWine()) return;
  RestorePicturesFolder();
  DWORD type = 0;
  const std::vector<std::uint8_t> original = ReadValue(kShellFolders, kPictures, type);
  const DWORD absent = 1;
  const LSTATUS noted = original.empty() ? RegSetKeyValueW(HKEY_CURRENT_USER, kRedirectNote, L"Absent", REG_DWORD,
                                                           &absent, sizeof(absent))
                                         : RegSetKeyValueW(HKEY_CURRENT_USER, kRedirectNote, L"Original", type,
                                                           original.data(), static_cast<DWORD>(original.size()));
  // Unnoted, a crash could not be undone: then the folder stays as it is.
  if (noted != ERROR_SUCCESS) return;
  RegSetKeyValueW(HKEY_CURRENT_USER, kShellFolders, kPictures, REG_SZ, path.c_str(),
                  static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)));
}

PicturesFolderRedirect::~PicturesFolderRedirect() { RestorePicturesFolder(); }

}  // namespace snaplark::test
