// A fresh device with the application folder in place and the launcher's
// log state started over, plus small helpers to read what the device did.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/host/device/device.h"
#include "tests/support/journal_expect.h"
#include "tests/support/log_bound_device_test.h"

class LauncherTest : public LogBoundDeviceTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Writes an empty file at a device path, making its folders.
  static void MakeDeviceFile(const std::u16string& device_path);
  // The content of launch.log, or "<none>" when it does not exist.
  static std::string LaunchLog();
  // Journal entries made since SetUp, all of them or of one event kind.
  std::vector<journal::Entry> Journal() const { return journal::Read(journal_start_); }
  std::vector<journal::Entry> Events(const char* event) const { return journal::OfKind(Journal(), event); }

  int64_t journal_start_ = 0;
};

inline const char16_t kAppFolder[] = u"\\Program Files\\Quadrakey";
