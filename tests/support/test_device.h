// Every test runs on a device of its own. On the host build that is a fresh
// device folder in a temporary directory; on the win32 build it is the Wine
// registry with the system's keys emptied before the test.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace testing_device {

// Makes a fresh, empty device and makes it current for this process (and for
// the programs it starts). Returns a description of the device for messages.
std::string MakeFreshDevice();
// Removes what MakeFreshDevice made.
void RemoveDevice();

}  // namespace testing_device

class DeviceTest : public ::testing::Test {
 protected:
  void SetUp() override { device_name_ = testing_device::MakeFreshDevice(); }
  void TearDown() override { testing_device::RemoveDevice(); }
  std::string device_name_;
};
