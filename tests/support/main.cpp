// The test program; started again with --classic-helper it runs one helper
// of the cross-process cases instead of the tests.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/platform.h"
#include "platform/testing/testing.h"
#include "support/helper.h"

int main(int argc, char** argv) {
  int helper = run_helper_if_asked(argc, argv);
  if (helper >= 0) return helper;
  plat_stdout_binary();
  ::testing::InitGoogleMock(&argc, argv);
  return RUN_ALL_TESTS();
}
