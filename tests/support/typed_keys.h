#pragma once
// A key typed as a person types it, through the input queue: keyboard hooks
// and registered hotkeys see it, which a posted key message would skip.
#include <windows.h>

namespace snaplark::test {

inline void TypeKey(WORD key) {
  INPUT inputs[2] = {};
  inputs[0].type = inputs[1].type = INPUT_KEYBOARD;
  inputs[0].ki.wVk = inputs[1].ki.wVk = key;
  inputs[1].ki.dwFlags = KEYEVENTF_KEYUP;
  SendInput(2, inputs, sizeof(INPUT));
}

}  // namespace snaplark::test
