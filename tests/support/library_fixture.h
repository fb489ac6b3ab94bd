// A fixture for tests that drive the library through its exports against a
// recording device: installs the test OS seam and ends any session after
// each test.
#pragma once

#include <gtest/gtest.h>

#include "orvik/orvik.h"
#include "support/scripted_device.h"
#include "support/test_os.h"

namespace orvik::testing {

class LibraryTest : public ::testing::Test {
 protected:
  ~LibraryTest() override { OrvikDDCloseDriver(); }

  // Opens the scripted device without the description read or any record write.
  void OpenQuietly() { ASSERT_EQ(OrvikDDOpenDriverNoBlock(0, 0, DEVICE_STATUS_NORMAL), 1); }

  TestOs os_;
  ScriptedDevice device_{"TEMBROr0"};
};

}  // namespace orvik::testing
