// The tray, the window class and the elevated installer hand these structures
// to the system by size; a header or packing mismatch would make those calls
// fail silently, so the sizes the system expects are pinned per pointer size.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

namespace {

constexpr bool k64Bit = sizeof(void*) == 8;

TEST(StructSizes, MatchWhatTheSystemExpects) {
  EXPECT_EQ(sizeof(NOTIFYICONDATAW), k64Bit ? 976u : 956u);
  EXPECT_EQ(sizeof(WNDCLASSEXW), k64Bit ? 80u : 48u);
  EXPECT_EQ(sizeof(SHELLEXECUTEINFOW), k64Bit ? 112u : 60u);
}

TEST(StructSizes, DialogUserSlotFollowsTwoPointerSizedSlots) {
  // The capture window keeps its state pointer at DWLP_USER.
  EXPECT_EQ(DWLP_USER, k64Bit ? 16 : 8);
}

}  // namespace
