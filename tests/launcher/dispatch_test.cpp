// The dispatch of one press slot on a fresh emulated device: what the device
// did (the journal) and what the closing report says (launch.log).
#include <cstring>
#include <string>
#include <vector>

#include "launcher/dispatch.h"
#include "platform/host/device/device.h"
#include "shared/settings.h"
#include "shared/text.h"
#include "tests/launcher/launcher_fixture.h"

namespace {

constexpr uint32_t kButton = 1;

std::string Report(const std::string& head, const std::string& assignment, const std::string& ending) {
  return head + "  shortcut: " + assignment + "\n  app: " + assignment +
         "\n  (no exe)\n  (no cmdline)\n" + ending;
}

const char kMissingText[] =
    "Cannot find the shortcut or program assigned to this key press. It may have been moved or "
    "deleted since you last assigned it. Please run Quadrakey and make an assignment for this key "
    "press again.";
constexpr int kExclamationTopmost = 0x40030;
constexpr int kStopTopmost = 0x40010;

journal::Expected MissingFileMessage() {
  return {"message", {{"text", kMissingText}, {"caption", "Quadrakey"}, {"flags", kExclamationTopmost}}};
}

using DispatchTest = LauncherTest;

TEST_F(DispatchTest, KeyActionsSendKeyDownThenUp) {
  struct Case {
    const char16_t* name;
    int vk;
  };
  const Case cases[] = {{u"<Start Menu>", 91}, {u"<Scroll Up>", 38},  {u"<Scroll Down>", 40},
                        {u"<page up>", 33},    {u"<PAGE DOWN>", 34},  {u"<OK/Enter>", 13},
                        {u"<ESC/Cancel>", 27}};
  for (const Case& c : cases) {
    SetShortcut(kButton, 1, false, c.name);
    int64_t before = device::LastJournalId();
    EXPECT_TRUE(DispatchPressSlot(kButton, 1, false));
    EXPECT_TRUE(journal::Matches(journal::Read(before),
                                 {{"key", {{"vk", c.vk}, {"up", false}, {"flags", 4}}},
                                  {"key", {{"vk", c.vk}, {"up", true}, {"flags", 6}}}}))
        << device::ToUtf8(c.name);
  }
  EXPECT_EQ(LaunchLog(), Report("Launch button 1, press 1, hold 0\n", "<ESC/Cancel>", "Success"));
}

TEST_F(DispatchTest, PowerOffSendsOnlyKeyDown) {
  SetShortcut(kButton, 2, true, u"<Power Off>");
  EXPECT_TRUE(DispatchPressSlot(kButton, 2, true));
  EXPECT_TRUE(journal::Matches(Journal(), {{"key", {{"vk", 223}, {"up", false}, {"flags", 4}}}}));
  EXPECT_EQ(LaunchLog(), Report("Launch button 1, press 2, hold 1\n", "<Power Off>", "Success"));
}

TEST_F(DispatchTest, InputPanelToggles) {
  SetShortcut(kButton, 1, true, u"<Input Panel>");
  ASSERT_TRUE(device::SetSipShown(false));
  bool shown = false;
  EXPECT_TRUE(DispatchPressSlot(kButton, 1, true));
  EXPECT_TRUE(device::IsSipShown(&shown) && shown);
  EXPECT_TRUE(DispatchPressSlot(kButton, 1, true));
  EXPECT_TRUE(device::IsSipShown(&shown) && !shown);
  EXPECT_TRUE(journal::Matches(Journal(), {{"sip", {{"request", 0}, {"shown", true}}},
                                           {"sip", {{"request", 2}, {"shown", false}}}}));
}

TEST_F(DispatchTest, TodayBringsTheDesktopForwardOrFails) {
  SetShortcut(kButton, 1, false, u"<Today>");
  device::SetHasDesktopWindow(true);
  EXPECT_TRUE(DispatchPressSlot(kButton, 1, false));
  EXPECT_EQ(plat::GetForegroundWindow(), plat::GetDesktopWindow());
  const journal::Expected brought_forward = {"foreground", {{"window", plat::GetDesktopWindow()}}};
  EXPECT_TRUE(journal::Matches(Journal(), {brought_forward}));
  EXPECT_EQ(LaunchLog(), Report("Launch button 1, press 1, hold 0\n", "<Today>", "Success"));

  // Without a desktop window nothing happens, and nothing is shown.
  device::SetHasDesktopWindow(false);
  EXPECT_FALSE(DispatchPressSlot(kButton, 1, false));
  EXPECT_TRUE(journal::Matches(Journal(), {brought_forward}));
  EXPECT_EQ(LaunchLog(), Report("Launch button 1, press 1, hold 0\n", "<Today>", "Error: 0"));
}

TEST_F(DispatchTest, RotateScreenStartsTheToolWithTheSlotsMask) {
  MakeDeviceFile(std::u16string(kAppFolder) + u"\\Turnscreen.exe");
  SetShortcut(kButton, 2, false, u"<Rotate Screen>");
  SetLaunchParams(u"RotateScreen", kButton, 2, false, u"10");
  SetLaunchParams(u"RotateScreen", kButton, 1, false, u"4");  // another slot's mask
  EXPECT_TRUE(DispatchPressSlot(kButton, 2, false));
  // Without stored parameters the command line is empty.
  SetShortcut(kButton, 2, true, u"<rotate screen>");
  EXPECT_TRUE(DispatchPressSlot(kButton, 2, true));
  const std::string program = "\\Program Files\\Quadrakey\\Turnscreen.exe";
  EXPECT_TRUE(journal::Matches(Journal(), {{"start", {{"program", program}, {"args", "10"}}},
                                           {"start", {{"program", program}, {"args", ""}}}}));
}

TEST_F(DispatchTest, RotateScreenWithoutTheToolStillReportsSuccess) {
  SetShortcut(kButton, 1, false, u"<Rotate Screen>");
  EXPECT_TRUE(DispatchPressSlot(kButton, 1, false));
  EXPECT_TRUE(Events("message").empty());
  EXPECT_EQ(LaunchLog(), Report("Launch button 1, press 1, hold 0\n", "<Rotate Screen>", "Success"));
}

TEST_F(DispatchTest, UnassignedAndDoNothingOnlyReport) {
  MakeDeviceFile(std::u16string(kAppFolder) + u"\\launch.log");  // an old report goes
  EXPECT_TRUE(DispatchPressSlot(kButton, 2, true));
  EXPECT_EQ(LaunchLog(), Report("Launch button 1, press 2, hold 1\n", "", "Success"));
  SetShortcut(3, 1, false, u"<Do Nothing>");
  EXPECT_TRUE(DispatchPressSlot(3, 1, false));
  EXPECT_EQ(LaunchLog(), Report("Launch button 3, press 1, hold 0\n", "<Do Nothing>", "Success"));
  EXPECT_TRUE(device::ReadJournal(journal_start_).empty());
}

TEST_F(DispatchTest, MissingFileShowsTheMessageAndReportsSuccess) {
  const char16_t* const paths[] = {u"\\My Documents\\gone.txt", u"<Record>", u"<Open File>"};
  for (const char16_t* path : paths) {
    SetShortcut(kButton, 1, false, path);
    EXPECT_TRUE(DispatchPressSlot(kButton, 1, false));
    EXPECT_EQ(LaunchLog(), Report("Launch button 1, press 1, hold 0\n", device::ToUtf8(path), "Success"));
  }
  // Nothing is opened: only the three messages.
  EXPECT_TRUE(journal::Matches(Journal(), {MissingFileMessage(), MissingFileMessage(), MissingFileMessage()}));
}

TEST_F(DispatchTest, ExistingFileOpensThroughTheShellWithoutReport) {
  MakeDeviceFile(u"\\Windows\\viewer.exe");
  SetShortcut(kButton, 1, false, u"\\Windows\\viewer.exe");
  EXPECT_TRUE(DispatchPressSlot(kButton, 1, false));
  EXPECT_TRUE(journal::Matches(journal::OfKind(Journal(), {"open", "message"}),
                               {{"open", {{"file", "\\Windows\\viewer.exe"}, {"ok", true}}}}));
  EXPECT_EQ(LaunchLog(), "<none>");
}

TEST_F(DispatchTest, AssignedFolderCountsAsExistingAndIsOpened) {
  MakeDeviceFile(u"\\My Documents\\Trips\\plan.txt");
  SetShortcut(kButton, 1, false, u"\\My Documents\\Trips");
  EXPECT_TRUE(DispatchPressSlot(kButton, 1, false));
  EXPECT_TRUE(journal::Matches(journal::OfKind(Journal(), {"open", "message"}),
                               {{"open", {{"file", "\\My Documents\\Trips"}}}}));
}

TEST_F(DispatchTest, ShellFailureBeepsAndShowsTheErrorInHex) {
  MakeDeviceFile(u"\\Windows\\viewer.exe");
  SetShortcut(kButton, 1, false, u"\\Windows\\viewer.exe");
  plat::faults::FailCall(plat::faults::Op::ShellOpen, 1, plat::kErrorGenFailure);
  EXPECT_FALSE(DispatchPressSlot(kButton, 1, false));
  EXPECT_TRUE(journal::Matches(
      Journal(), {{"open", {{"file", "\\Windows\\viewer.exe"}, {"ok", false}, {"error", 31}}},
                  {"beep", {{"type", 48}}},
                  {"message", {{"text", "Error opening shortcut \"\\Windows\\viewer.exe\": 1f"},
                               {"caption", "Quadrakey"},
                               {"flags", kStopTopmost}}}}));
  EXPECT_EQ(LaunchLog(), "<none>");
}

TEST(ShellFailureText, LowerCaseHexWithoutPrefixOrPadding) {
  EXPECT_EQ(ShellFailureText(u"\\a.lnk", 2), u"Error opening shortcut \"\\a.lnk\": 2");
  EXPECT_EQ(ShellFailureText(u"x", 31), u"Error opening shortcut \"x\": 1f");
  EXPECT_EQ(ShellFailureText(u"x", 0), u"Error opening shortcut \"x\": 0");
  EXPECT_EQ(ShellFailureText(u"x", 0xDEADBEEF), u"Error opening shortcut \"x\": deadbeef");
}

TEST(WorkingBuffer, NeverWritesPastItsEnd) {
  char16_t buffer[8 + 2];
  std::memset(buffer, 0x55, sizeof buffer);
  EXPECT_TRUE(CopyToBuffer(buffer, 8, u"1234567"));
  EXPECT_EQ(std::u16string(buffer), u"1234567");
  EXPECT_FALSE(CopyToBuffer(buffer, 8, u"123456789abc"));
  EXPECT_EQ(std::u16string(buffer), u"1234567");
  EXPECT_EQ(buffer[8], char16_t{0x5555});
  EXPECT_EQ(buffer[9], char16_t{0x5555});
}

TEST_F(DispatchTest, OverlongAssignmentIsRefusedNotCut) {
  // 299 characters fit and take the normal path route.
  // Built of short folder names: the host's file names have a length limit.
  std::u16string fits = u"\\My Documents";
  for (int i = 0; i < 14; ++i) fits += u"\\" + std::u16string(19, u'a');
  fits += u"\\aaaaa";
  ASSERT_EQ(fits.size(), kWorkingBufferChars - 1);
  SetShortcut(kButton, 1, false, fits);
  EXPECT_TRUE(DispatchPressSlot(kButton, 1, false));
  EXPECT_TRUE(journal::Matches(Journal(), {MissingFileMessage()}));

  // One more, and even an existing file is not opened under a cut name.
  std::u16string too_long = fits + u"b";
  std::u16string cut = too_long.substr(0, kWorkingBufferChars - 1);
  MakeDeviceFile(cut);
  MakeDeviceFile(too_long);
  ASSERT_TRUE(FileExists(cut) && FileExists(too_long));
  SetShortcut(kButton, 1, false, too_long);
  EXPECT_FALSE(DispatchPressSlot(kButton, 1, false));
  EXPECT_TRUE(journal::Matches(
      Journal(), {MissingFileMessage(),
                  {"message",
                   {{"text", "The shortcut or program assigned to this key press has too long a path to be "
                             "opened. Please run Quadrakey and make an assignment for this key press again."},
                    {"caption", "Quadrakey"},
                    {"flags", kExclamationTopmost}}}}));
  EXPECT_EQ(LaunchLog(), Report("Launch button 1, press 1, hold 0\n", device::ToUtf8(cut), "Error: 0"));
}

}  // namespace
