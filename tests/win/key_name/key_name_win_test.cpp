#include <windows.h>
#include <gtest/gtest.h>

#include "settings/key_name.h"

namespace snaplark {
namespace {

TEST(WindowsKeyName, CodesWithoutAScanCodeFallBackToHex) {
  ASSERT_EQ(MapVirtualKeyW(255, MAPVK_VK_TO_VSC), 0u);
  EXPECT_EQ(KeyName(255), L"VK 0xFF");
  ASSERT_EQ(MapVirtualKeyW(0x1234, MAPVK_VK_TO_VSC), 0u);
  EXPECT_EQ(KeyName(0x1234), L"VK 0x1234");
}

TEST(WindowsKeyName, KeysWithoutAFixedNameAreNamedByTheLayout) {
  // The test prefix has the US layout; these names are the same on Windows.
  EXPECT_EQ(KeyName(VK_SHIFT), L"Shift");
  EXPECT_EQ(KeyName(VK_OEM_1), L";");
}

TEST(WindowsKeyName, FixedNamesWinOverTheLayout) {
  // The layout calls these "space" and "Return" (Wine) or "Space" and "Enter"
  // (Windows); the program's own names must not depend on it.
  EXPECT_EQ(KeyName(0), L"(none)");
  EXPECT_EQ(KeyName(VK_SPACE), L"Space");
  EXPECT_EQ(KeyName(VK_RETURN), L"Enter");
  EXPECT_EQ(KeyName(VK_F10), L"F10");
  EXPECT_EQ(KeyName(VK_ADD), L"Numpad +");
  EXPECT_EQ(KeyName('Q'), L"Q");
  EXPECT_EQ(KeyName('7'), L"7");
}

}  // namespace
}  // namespace snaplark
