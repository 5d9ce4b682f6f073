// The page scenarios on the host: tapdeck's main runs in this process on a
// fresh emulated device per scenario, the person acts through the host's
// control model.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/host/device/device.h"
#include "platform/host/ui/window_system.h"
#include "config/tapdeck.h"
#include "platform/person.h"
#include "platform/platform.h"
#include "shared/settings.h"
#include "tests/support/log_bound_device_test.h"
#include "tests/tapdeck/refusal_contract.h"
#include "tests/tapdeck/scenario.h"
#include "tests/tapdeck/scenario_runner.h"

namespace {

using tapdeck_scenario::PageScenarios;

bool MakeFolder(const std::u16string& path) {
  std::error_code error;
  std::filesystem::create_directories(device::HostPath(path), error);
  return !error;
}

// A host shortcut holds the target's length, '#' and the target.
bool ShortcutTarget(const std::u16string& path, std::u16string* target) {
  plat::TextFile file = plat::OpenTextFile(path, "rt");
  if (file == nullptr) return false;
  std::string bytes;
  plat::ReadTextFile(file, &bytes);
  plat::CloseTextFile(file);
  const size_t hash = bytes.find('#');
  if (hash == std::string::npos || hash == 0) return false;
  *target = device::FromUtf8(bytes.substr(hash + 1));
  return std::to_string(target->size()) == bytes.substr(0, hash);
}

std::u16string LogText(const std::string& bytes) { return device::FromUtf8(bytes); }

// As the device's shell hands a key no one else takes to the foreground
// window's program.
void PressKey(uint32_t virtual_key) {
  bool taken = false;
  EXPECT_TRUE(device::PostKeyToForeground(static_cast<int>(virtual_key), false, &taken) && taken);
  EXPECT_TRUE(device::PostKeyToForeground(static_cast<int>(virtual_key), true, &taken) && taken);
}

const tapdeck_scenario::ScenarioBackend kHost = {tapdeck_scenario::On::kHost, MakeFolder, ShortcutTarget, LogText,
                                                 PressKey};

// Each test starts with no window of an earlier one.
class TapdeckHost : public LogBoundDeviceTest {
 protected:
  void SetUp() override {
    LogBoundDeviceTest::SetUp();
    device::ResetWindowSystem();
  }
  void TearDown() override {
    device::ResetWindowSystem();
    LogBoundDeviceTest::TearDown();
  }
};

class TapdeckPages : public TapdeckHost, public ::testing::WithParamInterface<size_t> {};

TEST_P(TapdeckPages, Scenario) { tapdeck_scenario::RunScenario(PageScenarios()[GetParam()], kHost); }

INSTANTIATE_TEST_SUITE_P(Host, TapdeckPages, ::testing::Range(size_t{0}, PageScenarios().size()),
                         [](const ::testing::TestParamInfo<size_t>& info) {
                           return PageScenarios()[info.param].name;
                         });

TEST_F(TapdeckHost, PersonActionsAreRefusedAsOnWin32) { refusal_contract::RunRefusalContract(); }

// What only the host can see: the main window's place, and the start of
// the log with the host's version.
TEST_F(TapdeckHost, MainWindowAndTheStartOfTheLog) {
  const std::u16string folder = u"\\Program Files\\Quadrakey";
  ASSERT_TRUE(MakeFolder(folder));
  ASSERT_TRUE(WriteRegString(plat::RegRoot::Product, kSettingsKey, u"AppFolder", folder));
  plat::TextFile old_log = plat::OpenTextFile(folder + u"\\tapdeck.log", "wt");
  ASSERT_NE(old_log, nullptr);
  plat::WriteTextFile(old_log, u"the last run\n");
  plat::CloseTextFile(old_log);

  std::string screen;
  plat::person::SetIdleHook(
      [](void* context) {
        *static_cast<std::string*>(context) = device::ScreenJson(false);
        plat::person::Action cancel;
        cancel.kind = plat::person::ActionKind::kCancel;
        std::u16string error;
        EXPECT_TRUE(plat::person::Act(cancel, &error));
      },
      &screen);
  EXPECT_EQ(RunTapdeck(), 0);
  plat::person::SetIdleHook(nullptr, nullptr);

  // The work area less the menu bar's 26 pixels.
  const plat::WorkArea area = plat::GetWorkArea();
  const std::string main = "\"main\":{\"window\":";
  ASSERT_NE(screen.find(main), std::string::npos) << screen;
  EXPECT_NE(screen.find("\"class\":\"Velbrook_QuadrakeyMainWindowClassname\",\"title\":\"Quadrakey\",\"area\":{"
                        "\"left\":" + std::to_string(area.left) + ",\"top\":" + std::to_string(area.top) +
                        ",\"width\":" + std::to_string(area.width) + ",\"height\":" +
                        std::to_string(area.height - 26) + "}"),
            std::string::npos)
      << screen;

  plat::TextFile log = plat::OpenTextFile(folder + u"\\tapdeck.log", "rt");
  ASSERT_NE(log, nullptr);
  std::string bytes;
  plat::ReadTextFile(log, &bytes);
  plat::CloseTextFile(log);
  EXPECT_EQ(bytes.rfind("CE 4.20, build 1081, platform 3\n\\Program Files\\Quadrakey\nShortcut list:\n\n", 0), 0u)
      << bytes.substr(0, 200);
  EXPECT_EQ(bytes.find("the last run"), std::string::npos);
}

}  // namespace
