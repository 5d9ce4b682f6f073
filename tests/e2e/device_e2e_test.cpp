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

// A registry.db cut short with its write-ahead log kept still opens, and
// what the log holds reads (the registry's newest pages), but the rest (the
// journal of what the device did) does not. A press that meets the damage
// fails as one refused at its start does: exit code 1, the reason on its
// error output and in a message, and no report that it went through.
TEST_F(DeviceE2E, ARegistryCutShortWithItsLogKeptFailsThePressThatMeetsIt) {
  SetSetting("ButtonB", "<Today>");
  ASSERT_GT(std::filesystem::file_size(folder_ + "/registry.db-wal"), 0u) << "the log holds the newest writes";
  const std::string whole = folder_ + ".whole";
  std::filesystem::copy(folder_, whole, std::filesystem::copy_options::recursive);
  for (const int kb : {4, 12, 20, 28, 36}) {
    SCOPED_TRACE(std::to_string(kb) + " KB");
    std::filesystem::remove_all(folder_);
    std::filesystem::copy(whole, folder_, std::filesystem::copy_options::recursive);
    std::filesystem::resize_file(folder_ + "/registry.db", static_cast<uintmax_t>(kb) * 1024);
    const RunResult press = RunBounded({Installed("TapdeckX.exe"), "1"});
    EXPECT_EQ(press.status, 1) << press.err;
    EXPECT_NE(press.err.find("error 1015: the registry is corrupt"), std::string::npos) << press.err;
    if (std::filesystem::exists(Installed("launch.log"))) {
      const std::string report = DeviceFile("\\Program Files\\Quadrakey\\launch.log");
      EXPECT_EQ(report.find("Success"), std::string::npos) << report;
      EXPECT_NE(report.find("Error: 1015"), std::string::npos) << report;
    }
  }
  std::filesystem::remove_all(whole);
}

}  // namespace
