// What every program does with a device it cannot use: it says why and ends
// with a failure, rather than reading the device as an empty one.
#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/e2e_support.h"

namespace {

class DeviceE2E : public EndToEndTest {
 protected:
  std::string Installed(const std::string& name) const {
    return folder_ + "/fs/Program Files/Quadrakey/" + name;
  }
  // Runs the program on the device, bounded: a program that waited forever
  // would be killed and fail with the time-out's status.
  RunResult RunBounded(std::vector<std::string> argv) {
    argv.insert(argv.begin(), {"/usr/bin/timeout", "-s", "KILL", "30"});
    return RunProgram(argv, folder_);
  }
};

TEST_F(DeviceE2E, ACorruptRegistryIsRefusedByEveryProgram) {
  SetSetting("ButtonA", "<Page Up>");
  std::filesystem::resize_file(folder_ + "/registry.db", 0);
  const std::vector<std::vector<std::string>> programs = {
      {Installed("TapdeckX.exe"), "0"},
      {Installed("Turnscreen.exe"), "3"},
      {Installed("tapdeck.exe")},
  };
  for (const std::vector<std::string>& program : programs) {
    const RunResult run = RunBounded(program);
    EXPECT_EQ(run.status, 1) << program[0] << ": " << run.err;
    EXPECT_NE(run.err.find("cannot use the emulated device in " + folder_ + ": error 1015: the registry is corrupt"),
              std::string::npos)
        << program[0] << ": " << run.err;
    EXPECT_EQ(run.out.find("Success"), std::string::npos) << program[0];
  }
  // devicesim says the same of every command.
  const RunResult shown = RunProgram({Program("devicesim"), "--device", folder_, "buttons"}, "");
  EXPECT_EQ(shown.status, 1);
  EXPECT_NE(shown.err.find("error 1015"), std::string::npos) << shown.err;
  // No report claims the press went through, where the application folder
  // is or, with the folder unread, at the top of the file system.
  EXPECT_FALSE(std::filesystem::exists(Installed("launch.log"))) << "a closing report was written";
  EXPECT_FALSE(std::filesystem::exists(folder_ + "/fs/launch.log")) << "a closing report was written";
}

}  // namespace
