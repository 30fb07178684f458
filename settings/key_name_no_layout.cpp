// KeyName for builds without a Windows keyboard layout: keys without a fixed
// name go straight to the hexadecimal fallback.
#include "settings/key_name.h"

namespace snaplark {

std::wstring KeyName(unsigned code) { return ComposeKeyName(code, nullptr); }

}  // namespace snaplark
