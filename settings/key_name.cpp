#include "settings/key_name.h"

#include <cstddef>

namespace snaplark {
namespace {

struct FixedKeyName {
  unsigned code;
  const wchar_t* name;
};

// The keys a capture key is usually chosen from get fixed English names, so
// that the label, the tray notice and the diagnostics read the same on every
// keyboard layout. Codes 108 (the keypad separator), F13-F24 and the modifiers
// are left to the layout on purpose.
constexpr FixedKeyName FixedKeyNames[] = {
    {0x70, L"F1"},       {0x71, L"F2"},        {0x72, L"F3"},       {0x73, L"F4"},       {0x74, L"F5"},
    {0x75, L"F6"},       {0x76, L"F7"},        {0x77, L"F8"},       {0x78, L"F9"},       {0x79, L"F10"},
    {0x7A, L"F11"},      {0x7B, L"F12"},       {0x20, L"Space"},    {0x0D, L"Enter"},    {0x09, L"Tab"},
    {0x1B, L"Escape"},   {0x2D, L"Insert"},    {0x2E, L"Delete"},   {0x24, L"Home"},     {0x23, L"End"},
    {0x21, L"Page Up"},  {0x22, L"Page Down"}, {0x26, L"Up"},       {0x28, L"Down"},     {0x25, L"Left"},
    {0x27, L"Right"},    {0x60, L"Numpad 0"},  {0x61, L"Numpad 1"}, {0x62, L"Numpad 2"}, {0x63, L"Numpad 3"},
    {0x64, L"Numpad 4"}, {0x65, L"Numpad 5"},  {0x66, L"Numpad 6"}, {0x67, L"Numpad 7"}, {0x68, L"Numpad 8"},
    {0x69, L"Numpad 9"}, {0x6A, L"Numpad *"},  {0x6B, L"Numpad +"}, {0x6D, L"Numpad -"}, {0x6E, L"Numpad ."},
    {0x6F, L"Numpad /"},
};

// "VK 0x" and the code in capital hex, at least two digits. Built by hand
// rather than with swprintf, whose signature differs between the C runtimes
// the program is built against.
std::wstring HexFallbackName(unsigned code) {
  constexpr wchar_t Digits[] = L"0123456789ABCDEF";
  wchar_t hex[2 * sizeof(unsigned)];
  std::size_t count = 0;
  do {
    hex[count++] = Digits[code & 0xF];
    code >>= 4;
  } while (code != 0);
  if (count < 2) hex[count++] = L'0';

  wchar_t text[16] = L"VK 0x";  // the longest, "VK 0xFFFFFFFF", needs 14
  std::size_t length = 5;
  while (count > 0) text[length++] = hex[--count];
  return std::wstring(text, length);
}

}  // namespace

std::wstring ComposeKeyName(unsigned code, LayoutKeyNameLookup layoutName) {
  if (code == 0) return L"(none)";  // the Keybind that means "no capture key"
  for (const FixedKeyName& key : FixedKeyNames) {
    if (key.code == code) return key.name;
  }
  // Letter and main-block digit keys have their character as their code.
  if ((code >= 0x41 && code <= 0x5A) || (code >= 0x30 && code <= 0x39)) {
    return std::wstring(1, static_cast<wchar_t>(code));
  }
  if (layoutName) {
    std::wstring name = layoutName(code);
    if (!name.empty()) return name;
  }
  return HexFallbackName(code);
}

}  // namespace snaplark
