// Runs the real programs of the host build against a device folder of its
// own: devicesim to set the device up and press buttons, the device
// programs as the shell starts them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/journal_expect.h"

struct RunResult {
  int status = -1;  // exit code, or -1 when the program did not end normally
  std::string out;
  std::string err;
};

// Starts `argv` (argv[0] a path) with an argument vector, never a shell,
// with QUADRAKEY_DEVICE set to `device_folder` when it is not empty. Safe to
// call from several threads at once.
RunResult RunProgram(const std::vector<std::string>& argv, const std::string& device_folder);

// Several programs at once; waits for all.
std::vector<RunResult> RunTogether(const std::vector<std::vector<std::string>>& argvs,
                                   const std::string& device_folder);

using journal::Entry;

// A device made with devicesim init and the host programs installed.
class EndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Runs devicesim on this device; a failure is a test failure.
  std::string Sim(std::vector<std::string> args);
  void SetSetting(const std::string& name, const std::string& text);
  void SetSettingDword(const std::string& name, uint32_t value);
  std::string GetSetting(const std::string& name);
  // Takes the button table entry `entry` (e.g. "40C2") over for `button`,
  // as the configuration program does: the takeover shortcut, the table
  // entry pointing at it, and the button's virtual key.
  void TakeOver(const std::string& entry, int button);
  // A timed series through devicesim; the entries it printed, their times
  // counted from the first key down.
  std::vector<Entry> Series(const std::string& entry, const std::vector<int>& durations);
  // The device's whole journal.
  std::vector<Entry> Journal();
  // The content of a device file, or "<none>".
  std::string DeviceFile(const std::string& device_path);
  std::string Program(const std::string& name) const;

  std::string folder_;
};

// Key-down entries among `entries`.
std::vector<Entry> KeyDowns(const std::vector<Entry>& entries);
// The entries made by process `pid`.
std::vector<Entry> OfProcess(const std::vector<Entry>& entries, int64_t pid);
