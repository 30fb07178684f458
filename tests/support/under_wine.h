#pragma once
// Tests that rewrite the program's own registry key may do so only in a
// throwaway Wine prefix, never on a Windows desk with a user's settings.
#include <windows.h>

namespace snaplark::test {

inline bool RunningUnderWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace snaplark::test
