// A fresh device with the program's process-wide objects (the debug log's
// state and mutex among them) made on it, as the platform's entry makes them
// before DeviceMain; they are released before the device goes, since an open
// log file would keep it from being removed. For tests of code that logs.
#pragma once

#include "platform/platform.h"
#include "tests/support/test_device.h"

class LogBoundDeviceTest : public DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    DeviceStartUp();
  }
  void TearDown() override {
    DeviceShutDown();
    DeviceTest::TearDown();
  }
};
