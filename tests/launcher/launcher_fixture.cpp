#include "tests/launcher/launcher_fixture.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "shared/debuglog.h"
#include "shared/settings.h"

void LauncherTest::SetUp() {
  LogBoundDeviceTest::SetUp();
  WriteRegString(plat::RegRoot::Product, kSettingsKey, u"AppFolder", kAppFolder);
  std::filesystem::create_directories(device::HostPath(kAppFolder));
  journal_start_ = device::LastJournalId();
}

void LauncherTest::TearDown() { LogBoundDeviceTest::TearDown(); }

void LauncherTest::MakeDeviceFile(const std::u16string& device_path) {
  std::filesystem::path host = device::HostPath(device_path);
  std::filesystem::create_directories(host.parent_path());
  std::ofstream(host) << "";
}

std::string LauncherTest::LaunchLog() {
  std::ifstream file(device::HostPath(std::u16string(kAppFolder) + u"\\launch.log"));
  if (!file) return "<none>";
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}
