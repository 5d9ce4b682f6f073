// TapdeckX and Turnscreen as Windows programs under Wine, against the Wine
// registry: presses that act at once, the press counter, the closing report
// in launch.log, opening a program through the shell, and the rotation tool.
#include <windows.h>
// windows.h would rename these platform operations to their W variants.
#undef DeleteFile
#undef GetFileAttributes

#include <string>

#include "platform/platform.h"
#include "shared/settings.h"
#include "shared/text.h"
#include "tests/shared/device_file.h"
#include "tests/support/test_device.h"

namespace {

// The closing report goes to the user's folder for logs, wherever the
// launcher is.
std::u16string LaunchLog() { return GetLogFilePath(u"launch.log"); }

std::wstring WinePath(const char* linux_path) {
  std::wstring out = L"Z:";
  for (const char* p = linux_path; *p != '\0'; ++p) out += *p == '/' ? L'\\' : static_cast<wchar_t>(*p);
  return out;
}

// Runs a program with `arguments` from Q:\ and waits for it; its exit code,
// or -1 when it did not start or end within a minute.
long RunProgram(const std::wstring& program, const std::wstring& arguments) {
  std::wstring line = L"\"" + program + L"\"";
  if (!arguments.empty()) line += L" " + arguments;
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, L"Q:\\",
                      &startup, &process)) {
    ADD_FAILURE() << "cannot start the program, error " << GetLastError();
    return -1;
  }
  DWORD code = static_cast<DWORD>(-1);
  if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0) {
    GetExitCodeProcess(process.hProcess, &code);
  } else {
    TerminateProcess(process.hProcess, 1);
    ADD_FAILURE() << "the program did not end within a minute";
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<long>(code);
}

long Press(uint32_t button) { return RunProgram(WinePath(QK_TAPDECKX_EXE), std::to_wstring(button)); }

std::string Report(int button, int count, int hold, const std::string& assignment,
                   const std::string& outcome) {
  return "Launch button " + std::to_string(button) + ", press " + std::to_string(count) +
         ", hold " + std::to_string(hold) + "\n  shortcut: " + assignment + "\n  app: " +
         assignment + "\n  (no exe)\n  (no cmdline)\n" + outcome;
}

// Waits up to ten seconds for a file that a started program writes.
std::string AwaitFile(const std::u16string& path) {
  for (int i = 0; i < 100; ++i) {
    if (plat::GetFileAttributes(path) != plat::kInvalidFileAttributes) {
      plat::Sleep(100);  // let the writer finish
      return shared_test::ReadDeviceFile(path);
    }
    plat::Sleep(100);
  }
  return "<missing>";
}

bool InputPanelShown() {
  plat::SipInfo info{};
  info.size = sizeof info;
  EXPECT_TRUE(plat::ShSipInfo(plat::kSpiGetSipInfo, 0, &info, 0));
  return (info.flags & plat::kSipfOn) != 0;
}

class LauncherWineTest : public DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    ASSERT_TRUE(CreateDirectoryW(L"Q:\\Quadrakey", nullptr));
    // A stored folder, as the device has, moves nothing on a PC.
    ASSERT_TRUE(WriteRegString(plat::RegRoot::Product, kSettingsKey, u"AppFolder", u"\\Elsewhere"));
  }
  void PlaceMarkerProgram() {
    ASSERT_TRUE(CopyFileW(WinePath(QK_MARKER_EXE).c_str(), L"Q:\\Apps Folder\\marker.exe", FALSE) ||
                (CreateDirectoryW(L"Q:\\Apps Folder", nullptr) &&
                 CopyFileW(WinePath(QK_MARKER_EXE).c_str(), L"Q:\\Apps Folder\\marker.exe", FALSE)))
        << "error " << GetLastError();
  }
};

TEST_F(LauncherWineTest, PressesThatActAtOnceFollowTheCounterAndReport) {
  // Only the single press assigned: it acts at once and leaves the counter.
  SetShortcut(0, 1, false, u"<Do Nothing>");
  EXPECT_EQ(Press(0), 0);
  EXPECT_EQ(shared_test::ReadDeviceFile(LaunchLog()), Report(0, 1, 0, "<Do Nothing>", "Success"));
  EXPECT_EQ(GetState(0), 0u);

  // A second press (counter 1) with double-press-and-hold free acts at once.
  SetShortcut(1, 2, false, u"<Today>");
  SetState(1, 1);
  EXPECT_EQ(Press(1), 0);
  EXPECT_EQ(GetState(1), 0u) << "the counter is given back";
  EXPECT_EQ(shared_test::ReadDeviceFile(LaunchLog()), Report(1, 2, 0, "<Today>", "Success"));

  // A third press (counter 2) is the double press and hold.
  SetShortcut(1, 2, true, u"<Do Nothing>");
  SetState(1, 2);
  EXPECT_EQ(Press(1), 0);
  EXPECT_EQ(GetState(1), 0u);
  EXPECT_EQ(shared_test::ReadDeviceFile(LaunchLog()), Report(1, 2, 1, "<Do Nothing>", "Success"));
}

TEST_F(LauncherWineTest, ButtonIndexArrivesWhenTheProgramPathHasBlanks) {
  ASSERT_TRUE(CreateDirectoryW(L"Q:\\Program Files", nullptr));
  ASSERT_TRUE(CopyFileW(WinePath(QK_TAPDECKX_EXE).c_str(), L"Q:\\Program Files\\TapdeckX.exe", FALSE));
  SetShortcut(3, 1, false, u"<Do Nothing>");
  EXPECT_EQ(RunProgram(L"Q:\\Program Files\\TapdeckX.exe", L"3"), 0);
  EXPECT_EQ(shared_test::ReadDeviceFile(LaunchLog()), Report(3, 1, 0, "<Do Nothing>", "Success"));
}

TEST_F(LauncherWineTest, WaitingPressActsAfterTheIntervalsWhenNoOtherPressCame) {
  WriteRegDword(plat::RegRoot::Product, kSettingsKey, u"HoldInterval", 50);
  WriteRegDword(plat::RegRoot::Product, kSettingsKey, u"DblClickInterval", 100);
  SetShortcut(2, 1, false, u"<Do Nothing>");
  SetShortcut(2, 2, false, u"<Today>");
  EXPECT_EQ(Press(2), 0);
  EXPECT_EQ(GetState(2), 0u);
  EXPECT_EQ(shared_test::ReadDeviceFile(LaunchLog()), Report(2, 1, 0, "<Do Nothing>", "Success"));
}

TEST_F(LauncherWineTest, AssignedProgramAndShortcutOpenThroughTheShell) {
  PlaceMarkerProgram();
  SetShortcut(0, 1, false, u"\\Apps Folder\\marker.exe");
  EXPECT_EQ(Press(0), 0);
  EXPECT_EQ(AwaitFile(u"\\Apps Folder\\marker.txt"), "");

  // A shortcut in the device's own form runs its target with its arguments.
  ASSERT_TRUE(plat::DeleteFile(u"\\Apps Folder\\marker.txt"));
  const std::u16string target = u"\"\\Apps Folder\\marker.exe\" from the shortcut";
  ASSERT_TRUE(plat::CreateShortcut(u"\\Apps Folder\\Marker.lnk", target));
  SetShortcut(0, 1, false, u"\\Apps Folder\\Marker.lnk");
  EXPECT_EQ(Press(0), 0);
  EXPECT_EQ(AwaitFile(u"\\Apps Folder\\marker.txt"), "from the shortcut");
}

TEST_F(LauncherWineTest, MissingAssignmentIsReportedAndNothingStarts) {
  // Without a display the message box returns at once.
  SetShortcut(0, 1, false, u"\\Apps Folder\\gone.exe");
  EXPECT_EQ(Press(0), 0);
  std::string log = shared_test::ReadDeviceFile(LaunchLog());
  EXPECT_EQ(log.rfind("Launch button 0, press 1, hold 0\n  shortcut: \\Apps Folder\\gone.exe\n", 0), 0u)
      << log;
}

// A PC has no input panel and is not turned off at a key press: a stored
// assignment of either keeps, and its press only says so (the message box
// returns at once without a display) and reports.
TEST_F(LauncherWineTest, ActionsAPcLeavesOutKeepTheirAssignmentAndOnlySaySo) {
  for (const char16_t* action : {u"<Input Panel>", u"<Power Off>"}) {
    const std::string name = action == std::u16string(u"<Power Off>") ? "<Power Off>" : "<Input Panel>";
    SetShortcut(0, 1, false, action);
    EXPECT_EQ(Press(0), 0) << name;
    EXPECT_EQ(Press(0), 0) << name;
    EXPECT_FALSE(InputPanelShown()) << name;
    EXPECT_EQ(GetShortcut(0, 1, false), action);
    EXPECT_EQ(shared_test::ReadDeviceFile(LaunchLog()),
              Report(0, 1, 0, name, "Success") + "\n  " + name + " does nothing on a PC\n");
  }
}

TEST_F(LauncherWineTest, RotationToolEndsWithZeroForEveryCommandLine) {
  // Wine may not rotate the display: the tool then shows its message (which
  // returns at once without a display) and still ends with 0.
  for (const wchar_t* mask : {L"3", L"15", L"", L"0", L"abc", L"16", L"99999999999999999999"})
    EXPECT_EQ(RunProgram(WinePath(QK_TURNSCREEN_EXE), mask), 0) << "mask \"" << mask << "\"";
  uint32_t orientation = 99;
  if (plat::QueryDisplayOrientation(&orientation)) {
    EXPECT_TRUE(orientation == plat::kDmdo0 || orientation == plat::kDmdo90 ||
                orientation == plat::kDmdo180 || orientation == plat::kDmdo270)
        << orientation;
  }
}

// The tool beside the launcher is the one that starts, wherever the
// programs were installed: here a stand-in that notes its command line.
TEST_F(LauncherWineTest, RotateActionStartsTheToolBesideTheLauncher) {
  ASSERT_TRUE(CopyFileW(WinePath(QK_TAPDECKX_EXE).c_str(), L"Q:\\Quadrakey\\TapdeckX.exe", FALSE));
  ASSERT_TRUE(CopyFileW(WinePath(QK_MARKER_EXE).c_str(), L"Q:\\Quadrakey\\Turnscreen.exe", FALSE));
  SetShortcut(0, 1, false, u"<Rotate Screen>");
  SetLaunchParams(u"RotateScreen", 0, 1, false, u"15");
  EXPECT_EQ(RunProgram(L"Q:\\Quadrakey\\TapdeckX.exe", L"0"), 0);
  EXPECT_EQ(AwaitFile(u"\\Quadrakey\\marker.txt"), "15");
  EXPECT_EQ(shared_test::ReadDeviceFile(LaunchLog()), Report(0, 1, 0, "<Rotate Screen>", "Success"));
  EXPECT_EQ(GetFileAttributesW(L"Q:\\Quadrakey\\launch.log"), INVALID_FILE_ATTRIBUTES)
      << "the log is the user's, not beside the programs";
}

}  // namespace
