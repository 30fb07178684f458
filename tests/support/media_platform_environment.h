#pragma once
// COM and Media Foundation started once for a whole test program that
// includes this, and stopped after its last test.
#include <gtest/gtest.h>

#include "camera/media_platform.h"

namespace snaplark::test {

class MediaPlatformEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { ASSERT_TRUE(StartMediaPlatform()); }
  void TearDown() override { StopMediaPlatform(); }
};

// One registration per program, however many files include this.
inline ::testing::Environment* const kMediaPlatformEnvironment =
    ::testing::AddGlobalTestEnvironment(new MediaPlatformEnvironment);

}  // namespace snaplark::test
