// Starting programs and opening files through the emulated shell, with the
// journal it leaves.
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/host/device/device.h"
#include "tests/platform_host/host_support.h"
#include "tests/support/journal_expect.h"
#include "tests/support/test_device.h"

using namespace plat;
using host_test::Events;

namespace {

class HostShell : public DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    host_test::PutFile(u"\\Windows\\calendar.exe", "stock");
    host_test::PutFile(u"\\Windows\\pword.exe", "stock");
    host_test::PutFile(u"\\Windows\\Start Menu\\Programs\\Calendar.lnk", "23#\"\\Windows\\calendar.exe\"");
    host_test::PutFile(u"\\My Documents\\Letter.pwi", "text");
    host_test::SetDefault(RegRoot::ClassesRoot, u".pwi", u"pwifile");
    host_test::SetDefault(RegRoot::ClassesRoot, u"pwifile\\Shell\\Open\\Command",
                          u"\"\\Windows\\pword.exe\" -opendoc %1");
  }
  static std::string LastStart() {
    auto starts = Events("start");
    return starts.empty() ? "<none>" : starts.back().fields;
  }
};

TEST_F(HostShell, StockProgramIsOnlyJournalled) {
  size_t before = device::StartedProcesses().size();
  ASSERT_TRUE(CreateProcess(u"\\WINDOWS\\Calendar.exe", u"-today"));
  EXPECT_EQ(device::StartedProcesses().size(), before);
  EXPECT_EQ(LastStart(), "\"program\":\"\\\\WINDOWS\\\\Calendar.exe\",\"args\":\"-today\"");

  // Like the device's loader: ".exe" may be left out, a bare name is found in \Windows.
  ASSERT_TRUE(CreateProcess(u"\\Windows\\calendar", u""));
  EXPECT_EQ(LastStart(), "\"program\":\"\\\\Windows\\\\calendar.exe\",\"args\":\"\"");
  ASSERT_TRUE(CreateProcess(u"Calendar", u"x"));
  EXPECT_EQ(LastStart(), "\"program\":\"\\\\Windows\\\\Calendar.exe\",\"args\":\"x\"");

  int64_t before_failures = device::LastJournalId();
  EXPECT_FALSE(CreateProcess(u"\\Windows\\missing.exe", u""));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
  EXPECT_TRUE(Events("start", before_failures).empty()) << "a failed start is not journalled as one";
  EXPECT_FALSE(CreateProcess(u"\\Nowhere\\missing.exe", u""));
  EXPECT_EQ(GetLastError(), kErrorPathNotFound);
  EXPECT_FALSE(CreateProcess(u"\\Windows", u""));
  EXPECT_EQ(GetLastError(), kErrorAccessDenied);
}

TEST_F(HostShell, InstalledProgramRunsWithItsCommandLineExactly) {
  host_test::InstallHelper(u"\\Program Files\\Quadrakey\\helper.exe");
  const std::u16string args = u"echo \"quoted; $(not a shell)\" `x` \u00e9";
  ASSERT_TRUE(CreateProcess(u"\\program files\\quadrakey\\HELPER.exe", args));
  EXPECT_EQ(host_test::WaitAll({device::StartedProcesses().back()}), std::vector<int>{0});
  EXPECT_EQ(host_test::GetFile(u"\\echo.txt"), device::ToUtf8(args));

  // A binary the host may not run fails with its code and leaves no start.
  std::filesystem::permissions(device::HostPath(u"\\Program Files\\Quadrakey\\helper.exe"),
                               std::filesystem::perms::owner_exec | std::filesystem::perms::group_exec |
                                   std::filesystem::perms::others_exec,
                               std::filesystem::perm_options::remove);
  int64_t before = device::LastJournalId();
  EXPECT_FALSE(CreateProcess(u"\\Program Files\\Quadrakey\\helper.exe", u"echo x"));
  EXPECT_EQ(GetLastError(), kErrorAccessDenied);
  EXPECT_TRUE(Events("start", before).empty());
  host_test::InstallHelper(u"\\Program Files\\Quadrakey\\helper.exe");

  // No arguments: the program sees none, not an empty one.
  ASSERT_TRUE(CreateProcess(u"\\Program Files\\Quadrakey\\helper.exe", u""));
  EXPECT_EQ(host_test::WaitAll({device::StartedProcesses().back()}), std::vector<int>{0});
  EXPECT_EQ(host_test::GetFile(u"\\empty.txt"), "");
}

TEST_F(HostShell, OpeningShortcutsProgramsAndDocuments) {
  ASSERT_TRUE(ShellOpen(u"\\Windows\\Start Menu\\Programs\\calendar.lnk"));
  EXPECT_EQ(LastStart(), "\"program\":\"\\\\Windows\\\\calendar.exe\",\"args\":\"\"");

  ASSERT_TRUE(ShellOpen(u"\\Windows\\pword.exe"));
  EXPECT_EQ(LastStart(), "\"program\":\"\\\\Windows\\\\pword.exe\",\"args\":\"\"");

  ASSERT_TRUE(ShellOpen(u"\\My Documents\\letter.PWI"));
  EXPECT_EQ(LastStart(),
            "\"program\":\"\\\\Windows\\\\pword.exe\",\"args\":\"-opendoc \\\\My Documents\\\\letter.PWI\"");

  auto opens = Events("open");
  ASSERT_EQ(opens.size(), 3u);
  EXPECT_EQ(opens[2].fields, "\"file\":\"\\\\My Documents\\\\letter.PWI\",\"ok\":true,\"error\":0");
  EXPECT_EQ(opens[2].pid, getpid());
}

TEST_F(HostShell, OpeningFailuresCarryTheirCodes) {
  EXPECT_FALSE(ShellOpen(u"\\Windows\\gone.lnk"));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
  EXPECT_FALSE(ShellOpen(u"\\Gone\\gone.lnk"));
  EXPECT_EQ(GetLastError(), kErrorPathNotFound);

  host_test::PutFile(u"\\My Documents\\data.xyz", "?");
  EXPECT_FALSE(ShellOpen(u"\\My Documents\\data.xyz"));
  EXPECT_EQ(GetLastError(), kErrorNoAssociation);
  host_test::PutFile(u"\\My Documents\\noext", "?");
  EXPECT_FALSE(ShellOpen(u"\\My Documents\\noext"));
  EXPECT_EQ(GetLastError(), kErrorNoAssociation);

  for (const char* corrupt : {"", "#\\Windows\\calendar.exe", "x2#ab", "no count", "5#", "5#  \r\nnext", "12345678901#x"}) {
    host_test::PutFile(u"\\Windows\\bad.lnk", corrupt);
    EXPECT_FALSE(ShellOpen(u"\\Windows\\bad.lnk")) << corrupt;
    EXPECT_EQ(GetLastError(), kErrorBadFormat) << corrupt;
  }
  // A miscounted shortcut still runs its target; a missing program fails with its code.
  host_test::PutFile(u"\\Windows\\stale.lnk", "20#\\Windows\\absent.exe");
  EXPECT_FALSE(ShellOpen(u"\\Windows\\stale.lnk"));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);

  auto opens = Events("open");
  ASSERT_FALSE(opens.empty());
  EXPECT_EQ(opens.back().fields, "\"file\":\"\\\\Windows\\\\stale.lnk\",\"ok\":false,\"error\":2");
}

TEST_F(HostShell, ShortcutsThatLeadBackToThemselvesFail) {
  host_test::PutFile(u"\\Windows\\loop.lnk", "18#\\Windows\\LOOP.lnk");
  EXPECT_FALSE(ShellOpen(u"\\Windows\\loop.lnk"));
  EXPECT_EQ(GetLastError(), kErrorCantResolveFilename);
  host_test::PutFile(u"\\My Documents\\a.cyc", "");
  host_test::SetDefault(RegRoot::ClassesRoot, u".cyc", u"cycfile");
  host_test::SetDefault(RegRoot::ClassesRoot, u"cycfile\\shell\\open\\command", u"%1");
  EXPECT_FALSE(ShellOpen(u"\\My Documents\\a.cyc"));
  EXPECT_EQ(GetLastError(), kErrorCantResolveFilename);
  EXPECT_TRUE(Events("start").empty());
}

TEST_F(HostShell, ShortcutWithALineEndStillOpens) {
  host_test::PutFile(u"\\Windows\\crlf.lnk", "23#\"\\Windows\\calendar.exe\"\r\n");
  ASSERT_TRUE(ShellOpen(u"\\Windows\\crlf.lnk"));
  EXPECT_EQ(LastStart(), "\"program\":\"\\\\Windows\\\\calendar.exe\",\"args\":\"\"");
}

TEST_F(HostShell, CommandsSplitIntoProgramAndArguments) {
  host_test::PutFile(u"\\Program Files\\Quadrakey\\TapdeckX.exe", "stock");
  struct Case {
    const char16_t *command, *program, *args;
  } cases[] = {
      {u"\"\\Program Files\\Quadrakey\\TapdeckX.exe\" 1", u"\\Program Files\\Quadrakey\\TapdeckX.exe", u"1"},
      {u"  \"\\a b\\c.exe\"   x y ", u"\\a b\\c.exe", u"x y"},
      {u"\\Program Files\\Quadrakey\\TapdeckX.exe 2", u"\\Program Files\\Quadrakey\\TapdeckX.exe", u"2"},
      {u"\\Windows\\calendar.exe", u"\\Windows\\calendar.exe", u""},
      {u"\\Windows\\missing.exe -x", u"\\Windows\\missing.exe", u"-x"},
      {u"\"unclosed", u"unclosed", u""},
      {u"", u"", u""},
  };
  for (const Case& c : cases) {
    std::u16string program, args;
    device::SplitCommand(c.command, &program, &args);
    EXPECT_EQ(program, c.program) << device::ToUtf8(c.command);
    EXPECT_EQ(args, c.args) << device::ToUtf8(c.command);
  }
}

TEST_F(HostShell, ShellCommandsRunProgramsShortcutsAndDocuments) {
  ASSERT_TRUE(device::RunShellCommand(u"\"\\Windows\\calendar.exe\" -week"));
  ASSERT_TRUE(device::RunShellCommand(u"\\Windows\\Start Menu\\Programs\\Calendar.lnk"));
  ASSERT_TRUE(device::RunShellCommand(u"\\My Documents\\Letter.pwi"));
  EXPECT_FALSE(device::RunShellCommand(u"   "));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
  // A program starts; a shortcut and a document start theirs, and each open
  // is journalled when it is done.
  EXPECT_TRUE(journal::Matches(
      journal::Read(),
      {{"start", {{"program", "\\Windows\\calendar.exe"}, {"args", "-week"}}},
       {"start", {{"program", "\\Windows\\calendar.exe"}, {"args", ""}}},
       {"open", {{"file", "\\Windows\\Start Menu\\Programs\\Calendar.lnk"}, {"ok", true}}},
       {"start", {{"program", "\\Windows\\pword.exe"}, {"args", "-opendoc \\My Documents\\Letter.pwi"}}},
       {"open", {{"file", "\\My Documents\\Letter.pwi"}, {"ok", true}}}}));
}

TEST_F(HostShell, AppKeyComesFromTheButtonTable) {
  const std::u16string keys = u"SOFTWARE\\Microsoft\\Shell\\Keys\\";
  host_test::SetDefault(RegRoot::LocalMachine, keys + u"40C1", u"\"\\Windows\\calendar.exe\"");
  host_test::SetDefault(RegRoot::LocalMachine, keys + u"40C2", u"\"\\Program Files\\Quadrakey\\TapdeckA.lnk\"");
  host_test::SetDefault(RegRoot::LocalMachine, keys + u"Junk", u"\\Windows\\pword.exe");
  EXPECT_EQ(GetAppKey(u"Calendar.exe"), 0xC1);
  EXPECT_EQ(GetAppKey(u"\\Windows\\CALENDAR.EXE"), 0xC1);
  EXPECT_EQ(GetAppKey(u"tapdecka.lnk"), 0xC2);
  EXPECT_EQ(GetAppKey(u"pword.exe"), 0);  // its entry name is not a key code
  EXPECT_EQ(GetAppKey(u"notes.exe"), 0);
  EXPECT_EQ(GetAppKey(u""), 0);
}

TEST_F(HostShell, AnOpenFailedByTheFaultTableIsJournalledAsFailed) {
  plat::faults::FailCall(plat::faults::Op::ShellOpen, 1, kErrorAccessDenied);
  EXPECT_FALSE(ShellOpen(u"\\Windows\\calendar.exe"));
  EXPECT_EQ(GetLastError(), kErrorAccessDenied);
  EXPECT_EQ(Events("open").back().fields, "\"file\":\"\\\\Windows\\\\calendar.exe\",\"ok\":false,\"error\":5");
  EXPECT_TRUE(Events("start").empty());
  EXPECT_TRUE(ShellOpen(u"\\Windows\\calendar.exe"));
}

}  // namespace
