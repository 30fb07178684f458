#pragma once
// Paths of the build tree as a Windows program under Wine sees them. The
// build hands tests Linux paths; Wine maps the Linux root to drive Z:.
#include <string>

namespace snaplark::test {

// "/a/b.exe" becomes "Z:\a\b.exe"; a path that is already a Windows one only
// has its slashes turned.
inline std::wstring WinePath(std::wstring path) {
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  return path.size() > 1 && path[0] == L'\\' ? L"Z:" + path : path;
}

#ifdef SNAPLARK_EXE
// The built Snaplark.exe, for tests whose build passes its path.
inline std::wstring ProgramPath() { return WinePath(L"" SNAPLARK_EXE); }
#endif

}  // namespace snaplark::test
