// Every test runs on a device of its own. On the host build that is a fresh
// device folder in a temporary directory; on the win32 build it is the Wine
// registry with the system's keys emptied before the test.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/faults.h"

namespace testing_device {

// Makes a fresh, empty device and makes it current for this process (and for
// the programs it starts). Returns a description of the device for messages.
std::string MakeFreshDevice();
// Removes what MakeFreshDevice made.
void RemoveDevice();

// Starts a device program (a path of the build) with `arguments` on this
// device, with QUADRAKEY_FAULTS set to `faults` for it alone, and waits for
// it. Its exit code, or -1 when it did not start or end within a minute.
int RunDeviceProgram(const std::string& program, const std::string& arguments,
                     const std::string& faults);

}  // namespace testing_device

// No fault of one test reaches the next.
class DeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plat::faults::Clear();
    device_name_ = testing_device::MakeFreshDevice();
  }
  void TearDown() override {
    plat::faults::Clear();
    testing_device::RemoveDevice();
  }
  std::string device_name_;
};
