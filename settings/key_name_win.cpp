// KeyName on Windows: keys without a fixed name are named by the active
// keyboard layout.
#include <windows.h>

#include "settings/key_name.h"

namespace snaplark {
namespace {

std::wstring WindowsLayoutKeyName(unsigned code) {
  // Only the scan code's own byte goes into bits 16-23: the extended-key bit
  // and the "don't care" bit stay clear, as for a key pressed on the main block.
  const UINT scanCode = MapVirtualKeyW(code, MAPVK_VK_TO_VSC) & 0xFF;
  if (scanCode == 0) return {};
  wchar_t name[64] = {};
  const int length = GetKeyNameTextW(static_cast<LONG>(scanCode << 16), name, 64);
  if (length <= 0) return {};
  name[63] = L'\0';
  return name;
}

}  // namespace

std::wstring KeyName(unsigned code) { return ComposeKeyName(code, WindowsLayoutKeyName); }

}  // namespace snaplark
