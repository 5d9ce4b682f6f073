// Runs the real programs of the host build against a device folder of its
// own: devicesim to set the device up and press buttons, the device
// programs as the shell starts them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

struct RunResult {
  int status = -1;  // exit code, or -1 when the program did not end normally
  std::string out;
  std::string err;
};

// Starts `argv` (argv[0] a path) with an argument vector, never a shell,
// with QUADRAKEY_DEVICE set to `device_folder` when it is not empty.
RunResult RunProgram(const std::vector<std::string>& argv, const std::string& device_folder);

// Several programs at once; waits for all.
std::vector<RunResult> RunTogether(const std::vector<std::vector<std::string>>& argvs,
                                   const std::string& device_folder);

// One line of devicesim's JSON journal output.
struct Event {
  int64_t t = 0;
  int64_t pid = 0;
  std::string event;
  std::string line;
  nlohmann::ordered_json object;  // the whole line
  // A member as JSON text ("33", "true", "\"text\""), or "" when absent.
  std::string Member(const std::string& name) const;
  bool Is(const std::string& name, const std::string& raw) const { return Member(name) == raw; }
};
std::vector<Event> ParseEvents(const std::string& json_lines);

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
  // A timed series through devicesim; the events it printed.
  std::vector<Event> Series(const std::string& entry, const std::vector<int>& durations);
  // The content of a device file, or "<none>".
  std::string DeviceFile(const std::string& device_path);
  std::string Program(const std::string& name) const;

  std::string folder_;
};

// Key-down events among `events`.
std::vector<Event> KeyDowns(const std::vector<Event>& events);
std::vector<Event> OfKind(const std::vector<Event>& events, const std::string& kind);
