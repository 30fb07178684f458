#pragma once
// Display names of virtual-key codes, as the program shows the capture key to
// the user: fixed English names for the usual capture keys, the character
// itself for letters and digits, the keyboard layout's name for the rest and a
// hexadecimal fallback that always works.
#include <string>

namespace snaplark {

// Asks the active keyboard layout for a key's name; empty when it has none.
using LayoutKeyNameLookup = std::wstring (*)(unsigned code);

// The name of any code; never empty. On Windows the layout is asked for keys
// without a fixed name; elsewhere there is no layout and such keys get the
// "VK 0x.." fallback.
std::wstring KeyName(unsigned code);

// KeyName with the layout step supplied by the caller, so that the fixed part
// can be exercised anywhere. layoutName may be null: no layout names at all.
std::wstring ComposeKeyName(unsigned code, LayoutKeyNameLookup layoutName);

}  // namespace snaplark
