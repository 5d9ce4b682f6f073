// A fresh device with the debug log bound to it. The log's mutex is made
// before main, when no test device exists yet; and an open log file would
// keep the device from being removed afterwards. For tests of code that logs.
#pragma once

#include "shared/debuglog.h"
#include "tests/support/test_device.h"

class LogBoundDeviceTest : public DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    RestartLog();
  }
  void TearDown() override {
    RestartLog();
    DeviceTest::TearDown();
  }
};
