#include "captures.h"

#include <shlobj.h>

#include <algorithm>
#include <cstring>

#include "handles/win_handles.h"

namespace snaplark::test {
namespace {

constexpr wchar_t kShellFolders[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

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
  for (const std::wstring& name : CaptureFiles()) DeleteFileW((PicturesFolder() + L"\\" + name).c_str());
}

std::vector<std::uint8_t> ReadWholeFile(const std::wstring& path) {
  const UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  std::vector<std::uint8_t> bytes(file ? GetFileSize(file.Get(), nullptr) : 0);
  DWORD read = 0;
  if (!bytes.empty() && !ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr)) bytes.clear();
  return bytes;
}

PicturesFolderRedirect::PicturesFolderRedirect(const std::wstring& path) {
  DWORD size = 0;
  hadValue_ = RegGetValueW(HKEY_CURRENT_USER, kShellFolders, L"My Pictures", RRF_RT_ANY | RRF_NOEXPAND, &savedType_,
                           nullptr, &size) == ERROR_SUCCESS;
  if (hadValue_) {
    saved_.resize(size);
    RegGetValueW(HKEY_CURRENT_USER, kShellFolders, L"My Pictures", RRF_RT_ANY | RRF_NOEXPAND, &savedType_,
                 saved_.data(), &size);
  }
  RegSetKeyValueW(HKEY_CURRENT_USER, kShellFolders, L"My Pictures", REG_SZ, path.c_str(),
                  static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)));
}

PicturesFolderRedirect::~PicturesFolderRedirect() {
  if (hadValue_) {
    RegSetKeyValueW(HKEY_CURRENT_USER, kShellFolders, L"My Pictures", savedType_, saved_.data(),
                    static_cast<DWORD>(saved_.size()));
  } else {
    RegDeleteKeyValueW(HKEY_CURRENT_USER, kShellFolders, L"My Pictures");
  }
}

}  // namespace snaplark::test
