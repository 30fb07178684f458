#include "settings/key_name.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace snaplark {
namespace {

struct ExpectedName {
  unsigned code;
  const wchar_t* name;
};

// Written out again from the product's list, not copied from the code, so a
// slip in either shows up.
const ExpectedName FixedNames[] = {
    {112, L"F1"},       {113, L"F2"},       {114, L"F3"},       {115, L"F4"},       {116, L"F5"},
    {117, L"F6"},       {118, L"F7"},       {119, L"F8"},       {120, L"F9"},       {121, L"F10"},
    {122, L"F11"},      {123, L"F12"},      {32, L"Space"},     {13, L"Enter"},     {9, L"Tab"},
    {27, L"Escape"},    {45, L"Insert"},    {46, L"Delete"},    {36, L"Home"},      {35, L"End"},
    {33, L"Page Up"},   {34, L"Page Down"}, {38, L"Up"},        {40, L"Down"},      {37, L"Left"},
    {39, L"Right"},     {96, L"Numpad 0"},  {97, L"Numpad 1"},  {98, L"Numpad 2"},  {99, L"Numpad 3"},
    {100, L"Numpad 4"}, {101, L"Numpad 5"}, {102, L"Numpad 6"}, {103, L"Numpad 7"}, {104, L"Numpad 8"},
    {105, L"Numpad 9"}, {106, L"Numpad *"}, {107, L"Numpad +"}, {109, L"Numpad -"}, {110, L"Numpad ."},
    {111, L"Numpad /"},
};

// A stand-in keyboard layout that names every key and remembers what it was asked.
std::vector<unsigned> layoutQueries;
std::wstring NamingLayout(unsigned code) {
  layoutQueries.push_back(code);
  return L"Layout key";
}
std::wstring SilentLayout(unsigned code) {
  layoutQueries.push_back(code);
  return {};
}

class KeyNameTest : public ::testing::Test {
 protected:
  void SetUp() override { layoutQueries.clear(); }
};

TEST_F(KeyNameTest, FixedNamesComeFirstAndNeverAskTheLayout) {
  ASSERT_EQ(std::size(FixedNames), 41u);
  for (const ExpectedName& row : FixedNames) {
    EXPECT_EQ(ComposeKeyName(row.code, nullptr), row.name) << "code " << row.code;
    EXPECT_EQ(ComposeKeyName(row.code, NamingLayout), row.name) << "code " << row.code;
  }
  EXPECT_EQ(ComposeKeyName(0, NamingLayout), L"(none)");
  EXPECT_EQ(ComposeKeyName(0x41, NamingLayout), L"A");
  EXPECT_EQ(ComposeKeyName(0x4D, NamingLayout), L"M");
  EXPECT_EQ(ComposeKeyName(0x5A, NamingLayout), L"Z");
  EXPECT_EQ(ComposeKeyName(0x30, NamingLayout), L"0");
  EXPECT_EQ(ComposeKeyName(0x35, NamingLayout), L"5");
  EXPECT_EQ(ComposeKeyName(0x39, NamingLayout), L"9");
  EXPECT_TRUE(layoutQueries.empty());
}

TEST_F(KeyNameTest, OtherKeysAreNamedByTheLayoutWhenItKnowsThem) {
  // 108 is the keypad separator, deliberately missing from the fixed names;
  // the others sit just outside the letter and digit ranges, or are a
  // modifier, F13 and a code beyond one byte.
  for (unsigned code : {108u, 0x2Fu, 0x3Au, 0x40u, 0x5Bu, 0x10u, 0x7Cu, 0x1234u}) {
    layoutQueries.clear();
    EXPECT_EQ(ComposeKeyName(code, NamingLayout), L"Layout key") << "code " << code;
    EXPECT_EQ(layoutQueries, std::vector<unsigned>{code});
  }
}

TEST_F(KeyNameTest, KeysWithoutAnyNameFallBackToHex) {
  EXPECT_EQ(ComposeKeyName(108, SilentLayout), L"VK 0x6C");
  EXPECT_EQ(layoutQueries, std::vector<unsigned>{108});
  EXPECT_EQ(ComposeKeyName(108, nullptr), L"VK 0x6C");
  // At least two capital digits, more when the code needs them.
  EXPECT_EQ(ComposeKeyName(1, nullptr), L"VK 0x01");
  EXPECT_EQ(ComposeKeyName(7, nullptr), L"VK 0x07");
  EXPECT_EQ(ComposeKeyName(0x10, nullptr), L"VK 0x10");
  EXPECT_EQ(ComposeKeyName(0x5B, nullptr), L"VK 0x5B");
  EXPECT_EQ(ComposeKeyName(255, nullptr), L"VK 0xFF");
  EXPECT_EQ(ComposeKeyName(0x100, nullptr), L"VK 0x100");
  EXPECT_EQ(ComposeKeyName(0x1234, nullptr), L"VK 0x1234");
  EXPECT_EQ(ComposeKeyName(0xABCDEF01u, nullptr), L"VK 0xABCDEF01");
  EXPECT_EQ(ComposeKeyName(0xFFFFFFFFu, nullptr), L"VK 0xFFFFFFFF");
}

#if !defined(_WIN32)
// Off Windows there is no layout: KeyName itself goes straight to the fallback.
TEST_F(KeyNameTest, NativeKeyNameHasNoLayout) {
  EXPECT_EQ(KeyName(0), L"(none)");
  EXPECT_EQ(KeyName(121), L"F10");
  EXPECT_EQ(KeyName(0x6B), L"Numpad +");
  EXPECT_EQ(KeyName(0x41), L"A");
  EXPECT_EQ(KeyName(0x35), L"5");
  EXPECT_EQ(KeyName(108), L"VK 0x6C");
  EXPECT_EQ(KeyName(0x10), L"VK 0x10");
  EXPECT_EQ(KeyName(255), L"VK 0xFF");
}
#endif

}  // namespace
}  // namespace snaplark
