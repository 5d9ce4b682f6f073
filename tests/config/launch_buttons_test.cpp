#include "config/model/launch_buttons.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/config/config_test_support.h"

namespace {

using namespace config_test;

std::u16string Text(const std::u16string* text) { return text ? *text : u"<none>"; }

class LaunchButtonsTest : public LoggedDeviceTest {};

TEST_F(LaunchButtonsTest, ButtonsSortByNameWithCapitalsFirst) {
  AddEntry(u"40C1", u"Button 2", u"\\Windows\\Contacts.lnk", nullptr);
  AddEntry(u"40C2", u"button 3", u"\"\\Windows\\Start Menu\\Notes.lnk\"", nullptr);
  AddEntry(u"40C3", u"Button 1", u"\\Windows\\Calendar.lnk", nullptr);
  AddEntry(u"40C4", nullptr, u"Tasks:Today.exe", nullptr);  // no name: sorts first

  LaunchButtons buttons;
  ASSERT_EQ(buttons.GetButtonCount(), 4u);
  EXPECT_EQ(buttons.GetButton(0).Name(), u"");
  EXPECT_EQ(buttons.GetButton(1).Name(), u"Button 1");
  EXPECT_EQ(buttons.GetButton(2).Name(), u"Button 2");
  EXPECT_EQ(buttons.GetButton(3).Name(), u"button 3");

  EXPECT_EQ(buttons.GetButton(1).KeyPath(), EntryPath(u"40C3"));
  EXPECT_EQ(buttons.GetButton(1).ResetCommand(), u"\\Windows\\Calendar.lnk");
  EXPECT_EQ(buttons.GetButton(0).Title(), u"Today");
  EXPECT_EQ(buttons.GetButton(1).Title(), u"Calendar");
  EXPECT_EQ(buttons.GetButton(3).Title(), u"Notes");  // quoted: the quote goes with the extension

  // Past the end there is nothing to read or write.
  EXPECT_EQ(buttons.GetButton(4).KeyPath(), u"");
  EXPECT_EQ(buttons.GetShortcut(4), nullptr);
}

TEST(ButtonOrder, CodeUnitsDecideNotLettersOrLocale) {
  const ButtonRecord lower(u"k", u"button", u"x");
  const ButtonRecord upper(u"k", u"Button", u"x");
  const ButtonRecord accented(u"k", u"\u00C4rger", u"x");  // above every ASCII unit
  const ButtonRecord wide(u"k", u"\uFF21", u"x");          // fullwidth A
  EXPECT_LT(upper.Compare(lower), 0);
  EXPECT_GT(lower.Compare(upper), 0);
  EXPECT_GT(accented.Compare(lower), 0);
  EXPECT_LT(accented.Compare(wide), 0);
  EXPECT_EQ(upper.Compare(ButtonRecord(u"other", u"Button", u"y")), 0);
}

TEST(ButtonTitle, FileNamePartOfTheResetCommand) {
  EXPECT_EQ(ButtonRecord::TitleOf(u"\"\\Windows\\AppButtons\\Record.lnk\" -b"), u"Record");
  EXPECT_EQ(ButtonRecord::TitleOf(u"/a.b/My.Prog.exe"), u"My.Prog");
  EXPECT_EQ(ButtonRecord::TitleOf(u"plain"), u"plain");
  EXPECT_EQ(ButtonRecord::TitleOf(u"\\Windows\\"), u"");
}

TEST_F(LaunchButtonsTest, EntriesThatAreNotButtons) {
  AddEntry(u"40C1", u"Button 1 (Hold)", u"\\Windows\\Calendar.lnk", u"\"x.exe\"");
  AddEntry(u"40C2", u"No reset", nullptr, u"\\Windows\\Notes.lnk");
  AddEntry(u"40C3", u"Button 1 (hold)", u"\\Windows\\Tasks.lnk", nullptr);  // case counts

  LaunchButtons buttons;
  ASSERT_EQ(buttons.GetButtonCount(), 1u);
  EXPECT_EQ(buttons.GetButton(0).Name(), u"Button 1 (hold)");

  // The skipped entry is still reported in full.
  const std::string hold = device::ToUtf8(EntryPath(u"40C1"));
  std::vector<std::string> lines = LogLines();
  auto at = std::find(lines.begin(), lines.end(), "  subkey: " + hold);
  ASSERT_NE(at, lines.end());
  ASSERT_GE(lines.end() - at, 4);
  EXPECT_EQ(at[1], "      origcmd: \\Windows\\Calendar.lnk");
  EXPECT_EQ(at[2], "      currcmd: \"x.exe\"");
  EXPECT_EQ(at[3], "      name: Button 1 (Hold)");
  EXPECT_EQ(at[4], "  subkey: " + device::ToUtf8(EntryPath(u"40C2")));
}

TEST_F(LaunchButtonsTest, MissingTableGivesNoButtons) {
  LaunchButtons buttons;
  EXPECT_EQ(buttons.GetButtonCount(), 0u);
  EXPECT_EQ(buttons.GetRecordCommand(), nullptr);
  EXPECT_EQ(buttons.ProbeVirtualKey(0), 0);
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"LaunchButtons::LaunchButtons() subkeys:", ""}));
}

TEST_F(LaunchButtonsTest, RecordCommandFollowsTheRecordLinkButtonThroughTheSort) {
  AddEntry(u"40C1", u"Zed", u"\\Windows\\AppButtons\\Record.lnk", nullptr);
  AddEntry(u"40C2", u"Alpha", u"\\Windows\\Calendar.lnk", nullptr);
  LaunchButtons buttons;
  EXPECT_EQ(buttons.GetButton(1).Name(), u"Zed");
  EXPECT_EQ(Text(buttons.GetRecordCommand()), u"\\Windows\\AppButtons\\Record.lnk");
  EXPECT_TRUE(Logged("      found Record link at button number 0"));
}

TEST_F(LaunchButtonsTest, TheLaterOfTwoRecordLinksWins) {
  AddEntry(u"40C1", u"A", u"\\Windows\\First\\RECORD.lnk", nullptr);
  AddEntry(u"40C2", u"B", u"\\Windows\\Second\\record.lnk -x", nullptr);
  // The file exists too, but a button's link comes first.
  MakeDeviceFile(u"\\Windows\\AppButtons\\Record.lnk");
  LaunchButtons buttons;
  EXPECT_EQ(Text(buttons.GetRecordCommand()), u"\\Windows\\Second\\record.lnk -x");
  EXPECT_TRUE(Logged("      found Record link at button number 0"));
  EXPECT_TRUE(Logged("      found Record link at button number 1"));
}

TEST_F(LaunchButtonsTest, RecordCommandFromTheLinkFileOrNone) {
  AddEntry(u"40C1", u"Button 1", u"\\Windows\\Calendar.lnk", nullptr);
  {
    LaunchButtons buttons;
    EXPECT_EQ(buttons.GetRecordCommand(), nullptr);
  }
  MakeDeviceFolder(u"\\Windows\\AppButtons");
  ASSERT_TRUE(plat::CreateShortcut(u"\\Windows\\AppButtons\\Record.lnk", u"\\Windows\\record.exe"));
  LaunchButtons buttons;
  EXPECT_EQ(Text(buttons.GetRecordCommand()), u"\"\\Windows\\AppButtons\\Record.lnk\" -b");
}

TEST_F(LaunchButtonsTest, ReadingCommands) {
  AddEntry(u"40C1", u"A", u"\\Windows\\Calendar.lnk", u"\"\"");
  AddEntry(u"40C2", u"B", u"\\Windows\\Contacts.lnk", nullptr);
  AddEntry(u"40C3", u"C", u"\\Windows\\Tasks.lnk", u"\"\\Apps\\Mine.lnk\"");
  LaunchButtons buttons;
  ClearLog();

  EXPECT_EQ(Text(buttons.GetShortcut(0)), u"\\Windows\\Calendar.lnk");
  EXPECT_EQ(Text(buttons.GetShortcut(1)), u"\\Windows\\Contacts.lnk");
  EXPECT_EQ(Text(buttons.GetShortcut(2)), u"\"\\Apps\\Mine.lnk\"");
  EXPECT_EQ(LogLines(), (std::vector<std::string>{
                            "  returning original \\Windows\\Calendar.lnk",
                            "  returning original \\Windows\\Contacts.lnk",
                            "  returning curr \"\\Apps\\Mine.lnk\"",
                        }));

  // The answer lives in one buffer that the next read replaces.
  const std::u16string* first = buttons.GetShortcut(0);
  buttons.GetShortcut(2);
  EXPECT_EQ(Text(first), u"\"\\Apps\\Mine.lnk\"");
}

TEST_F(LaunchButtonsTest, WritingCommandsQuotesAndResetsTheShellValues) {
  AddEntry(u"40C1", u"A", u"\\Windows\\Calendar.lnk", nullptr);
  WriteRegDword(kHklm, EntryPath(u"40C1"), u"Flags", 8);
  WriteRegString(kHklm, EntryPath(u"40C1"), u"WndCls", u"SomeClass");
  WriteRegDword(kHklm, EntryPath(u"40C1"), u"BtnWnd", 77);
  LaunchButtons buttons;
  ClearLog();

  buttons.SetShortcut(0, u"\\Program Files\\Quadrakey\\TapdeckA.lnk");
  EXPECT_EQ(ReadValue(u"40C1", u""), u"\"\\Program Files\\Quadrakey\\TapdeckA.lnk\"");
  EXPECT_EQ(ReadDword(u"40C1", u"Flags"), 0u);
  EXPECT_EQ(ReadValue(u"40C1", u"WndCls"), u"");
  EXPECT_EQ(ReadDword(u"40C1", u"BtnWnd"), 0u);
  EXPECT_EQ(ReadValue(u"40C1", u"ResetCmd"), u"\\Windows\\Calendar.lnk");
  EXPECT_EQ(LogLines(), (std::vector<std::string>{
                            "LaunchButtons::SetShortcut(\\Program Files\\Quadrakey\\TapdeckA.lnk, 0)"}));

  buttons.SetShortcut(0, u"\"\\Windows\\AppButtons\\Record.lnk\" -b");
  EXPECT_EQ(ReadValue(u"40C1", u""), u"\"\\Windows\\AppButtons\\Record.lnk\" -b");

  // An empty command reads back as the reset command.
  buttons.SetShortcut(0, u"");
  EXPECT_EQ(ReadValue(u"40C1", u""), u"\"\"");
  EXPECT_EQ(Text(buttons.GetShortcut(0)), u"\\Windows\\Calendar.lnk");

  // No button there: logged, nothing written anywhere.
  buttons.SetShortcut(1, u"x.exe");
  EXPECT_TRUE(Logged("LaunchButtons::SetShortcut(x.exe, 1)"));
  std::vector<std::u16string> entries;
  device::ListSubkeys(kHklm, plat::kButtonTableKey, &entries);
  EXPECT_EQ(entries, std::vector<std::u16string>{u"40C1"});
}

TEST_F(LaunchButtonsTest, AFailedWriteIsLoggedAndTheOthersStillMade) {
  AddEntry(u"40C1", u"A", u"\\Windows\\Calendar.lnk", u"old");
  WriteRegDword(kHklm, EntryPath(u"40C1"), u"Flags", 8);
  WriteRegDword(kHklm, EntryPath(u"40C1"), u"BtnWnd", 77);
  LaunchButtons buttons;
  ClearLog();

  plat::faults::FailCall(plat::faults::Op::RegistryWrite, 1, plat::kErrorAccessDenied);
  buttons.WriteCommand(EntryPath(u"40C1"), u"new");
  plat::faults::Clear();
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"  Error writing reg string " +
                                                  device::ToUtf8(EntryPath(u"40C1")) + ": 5"}));
  EXPECT_EQ(ReadValue(u"40C1", u""), u"old");
  EXPECT_EQ(ReadDword(u"40C1", u"Flags"), 0u);
  EXPECT_EQ(ReadDword(u"40C1", u"BtnWnd"), 0u);
}

TEST_F(LaunchButtonsTest, EveryFailedWriteIsLoggedWithItsOwnCode) {
  AddEntry(u"40C1", u"A", u"\\Windows\\Calendar.lnk", nullptr);
  LaunchButtons buttons;
  ClearLog();
  // The four value writes fail in turn, each with its own code.
  uint32_t call = 0;
  for (uint32_t code : {plat::kErrorAccessDenied, plat::kErrorInvalidHandle,
                        plat::kErrorGenFailure, plat::kErrorInvalidParameter})
    plat::faults::FailCall(plat::faults::Op::RegistryWrite, ++call, code);
  buttons.SetShortcut(0, u"x.exe");
  plat::faults::Clear();
  EXPECT_EQ(LogLines(), (std::vector<std::string>{
                            "LaunchButtons::SetShortcut(x.exe, 0)",
                            "  Error writing reg string " + device::ToUtf8(EntryPath(u"40C1")) + ": 5",
                            "  Error writing reg dword Flags: 6",
                            "  Error writing reg string WndCls: 31",
                            "  Error writing reg dword BtnWnd: 87",
                        }));
}

TEST_F(LaunchButtonsTest, ProbeFindsTheKeyAndPutsTheCommandBack) {
  AddEntry(u"40C1", u"Button 1", u"\\Windows\\Calendar.lnk", nullptr);
  AddEntry(u"40C2", u"Button 2", u"\"\\Windows\\Notes.lnk\"", u"\"\\Apps\\Mine.lnk\" 3");
  AddEntry(u"Other", u"Button 3", u"\\Windows\\Tasks.lnk", u"\\Windows\\Tasks.lnk");
  WriteRegDword(kHklm, EntryPath(u"40C1"), u"Flags", 8);
  WriteRegString(kHklm, EntryPath(u"40C1"), u"WndCls", u"SomeClass");
  LaunchButtons buttons;
  ClearLog();

  EXPECT_EQ(buttons.ProbeVirtualKey(0), 0xC1);
  EXPECT_EQ(ReadValue(u"40C1", u""), u"\"\\Windows\\Calendar.lnk\"");
  EXPECT_EQ(ReadDword(u"40C1", u"Flags"), 0u);
  EXPECT_EQ(ReadValue(u"40C1", u"WndCls"), u"");
  EXPECT_EQ(ReadDword(u"40C1", u"BtnWnd"), 0u);

  EXPECT_EQ(buttons.ProbeVirtualKey(1), 0xC2);
  EXPECT_EQ(ReadValue(u"40C2", u""), u"\"\\Apps\\Mine.lnk\" 3");

  // An entry name that is no key code: the shell names no key.
  EXPECT_EQ(buttons.ProbeVirtualKey(2), 0);
  EXPECT_EQ(ReadValue(u"Other", u""), u"\"\\Windows\\Tasks.lnk\"");
  EXPECT_EQ(buttons.ProbeVirtualKey(3), 0);

  for (const std::string& line : LogLines())
    EXPECT_EQ(line.find("LaunchButtons::SetShortcut"), std::string::npos) << line;
}

// The letter slots show only in the construction log.
TEST_F(LaunchButtonsTest, TakeoverCommandClaimsItsLetterOverTheResetPattern) {
  AddEntry(u"40C1", u"A", u"\\Windows\\Calendar.lnk", u"\\Program Files\\Quadrakey\\tapdeck b");
  AddEntry(u"40C2", u"B", u"\\Windows\\Calendar.lnk", u"\\Quadrakey\\TAPDECK B");
  AddEntry(u"40C3", u"C", u"\\Windows\\Contacts.lnk", u"\\Quadrakey\\tapdeck e");
  AddEntry(u"40C4", u"D", u"\\Windows\\Calendar.lnk", u"\\Windows\\Calendar.lnk");
  LaunchButtons buttons;
  const std::vector<std::string> lines = LogLines();
  const std::vector<std::string> claims = [&] {
    std::vector<std::string> found;
    for (const std::string& line : lines)
      if (line.find("found") != std::string::npos || line.find("unused") != std::string::npos ||
          line.find("assigning") != std::string::npos || line.find("subkey:") != std::string::npos)
        found.push_back(line);
    return found;
  }();
  const std::string table = device::ToUtf8(std::u16string(plat::kButtonTableKey));
  EXPECT_EQ(claims, (std::vector<std::string>{
                        "  subkey: " + table + "\\40C1",
                        "    found tapdeck match for 1",
                        "  subkey: " + table + "\\40C2",  // slot 1 taken: nothing
                        "  unused key: " + table + "\\40C2",
                        "  subkey: " + table + "\\40C3",  // 'e' is no letter slot
                        "  unused key: " + table + "\\40C3",
                        "  subkey: " + table + "\\40C4",
                        "    found orig match for 0",
                        "  assigning unused key " + table + "\\40C2 to 2",
                        "  assigning unused key " + table + "\\40C3 to 3",
                    }));
}

TEST_F(LaunchButtonsTest, OneResetCommandCanClaimTwoSlots) {
  AddEntry(u"40C1", u"A", u"\\X\\calendar.lnk;\\X\\NOTES.LNK", nullptr);
  AddEntry(u"40C2", u"B", u"\\Windows\\Notes.lnk", nullptr);
  LaunchButtons buttons;
  const std::string table = device::ToUtf8(std::u16string(plat::kButtonTableKey));
  const std::vector<std::string> lines = LogLines();
  auto first = std::find(lines.begin(), lines.end(), "  subkey: " + table + "\\40C1");
  auto second = std::find(lines.begin(), lines.end(), "  subkey: " + table + "\\40C2");
  ASSERT_NE(first, lines.end());
  ASSERT_NE(second, lines.end());
  EXPECT_EQ(std::vector<std::string>(first + 4, second),
            (std::vector<std::string>{"    found orig match for 0", "    found orig match for 3"}));
  // Slot 3 is gone, so the second entry claims nothing and is spare.
  EXPECT_EQ(second[4], "  unused key: " + table + "\\40C2");
}

TEST_F(LaunchButtonsTest, OnlyTheFirstTakeoverMarkCounts) {
  // The letter after the first mark is 'e'; a later "a" must not claim
  // slot 0, nor may the reset pattern once the mark is there.
  AddEntry(u"40C1", u"A", u"\\Windows\\Calendar.lnk", u"\\q\\tapdeck e \\r\\tapdeck a");
  // A mark at the very end has no letter at all.
  AddEntry(u"40C2", u"B", u"\\Windows\\Notes.lnk", u"\\q\\TAPDECK ");
  LaunchButtons buttons;
  const std::string t = device::ToUtf8(std::u16string(plat::kButtonTableKey)) + "\\";
  std::vector<std::string> claims;
  for (const std::string& line : LogLines())
    if (line.find("found") != std::string::npos || line.find("unused") != std::string::npos ||
        line.find("assigning") != std::string::npos)
      claims.push_back(line);
  EXPECT_EQ(claims, (std::vector<std::string>{
                        "  unused key: " + t + "40C1",
                        "  unused key: " + t + "40C2",
                        "  assigning unused key " + t + "40C1 to 0",
                        "  assigning unused key " + t + "40C2 to 1",
                    }));
}

TEST_F(LaunchButtonsTest, HoldEntriesAndRecordKeys) {
  // A hold entry is skipped before the Record link test.
  AddEntry(u"40C1", u"Rec (Hold)", u"\\Windows\\AppButtons\\Record.lnk", nullptr);
  AddEntry(u"40C2", u"Voice", u"\\Windows\\Recorder.exe", nullptr);
  AddEntry(u"40C3", u"Voice 2", u"\\Windows\\RECORDER2.exe", nullptr);
  AddEntry(u"40C4", u"Spare", u"\\Windows\\x.exe", nullptr);
  LaunchButtons buttons;
  EXPECT_EQ(buttons.GetButtonCount(), 3u);
  EXPECT_EQ(buttons.GetRecordCommand(), nullptr);
  const std::string t = device::ToUtf8(std::u16string(plat::kButtonTableKey)) + "\\";
  std::vector<std::string> claims;
  for (const std::string& line : LogLines())
    if (line.find("found") != std::string::npos || line.find("unused") != std::string::npos ||
        line.find("assigning") != std::string::npos)
      claims.push_back(line);
  // The later record key replaces the earlier one, which is no spare key.
  EXPECT_EQ(claims, (std::vector<std::string>{
                        "  unused key: " + t + "40C4",
                        "  unused record key: " + t + "40C3",
                        "  assigning unused key " + t + "40C4 to 0",
                        "  assigning unused key " + t + "40C3 to 1",
                    }));
}

TEST_F(LaunchButtonsTest, PatternsFarIntoALongCommandStillMatch) {
  const std::u16string deep = u"\\" + std::u16string(700, u'x') + u"\\Record.lnk";
  AddEntry(u"40C1", u"A", deep.c_str(), nullptr);
  LaunchButtons buttons;
  EXPECT_EQ(Text(buttons.GetRecordCommand()), deep);
}

TEST_F(LaunchButtonsTest, WholeConstructionLog) {
  // Four spare keys and a record key fill the four empty slots; the record
  // key comes last and is left over.
  AddEntry(u"40C5", u"Record", u"\\Windows\\SoundRecorder.exe", nullptr);
  AddEntry(u"40C1", u"Button 4", u"\\Windows\\pword.exe", u"\"\"");
  AddEntry(u"40C2", u"Button 3", u"\\Windows\\pxl.exe", nullptr);
  AddEntry(u"40C3", u"Button 2 (Hold)", u"\\Windows\\x.exe", nullptr);
  AddEntry(u"40C4", u"Button 2", u"\\Windows\\solitare.exe", u"\\Windows\\solitare.exe");
  AddEntry(u"40C6", u"Button 1", u"\\Windows\\iexplore.exe", nullptr);
  AddEntry(u"40C7", u"Button 5", nullptr, u"\\x.exe");
  LaunchButtons buttons;
  ASSERT_EQ(buttons.GetButtonCount(), 5u);
  EXPECT_EQ(buttons.GetButton(0).Name(), u"Button 1");
  EXPECT_EQ(buttons.GetButton(4).Name(), u"Record");

  const std::string t = device::ToUtf8(std::u16string(plat::kButtonTableKey)) + "\\";
  const std::vector<std::string> expected = {
      "LaunchButtons::LaunchButtons() subkeys:",
      "  subkey: " + t + "40C5",
      "      origcmd: \\Windows\\SoundRecorder.exe",
      "      currcmd: ",
      "      name: Record",
      "  subkey: " + t + "40C1",
      "      origcmd: \\Windows\\pword.exe",
      "      currcmd: \"\"",
      "      name: Button 4",
      "  unused key: " + t + "40C1",
      "  subkey: " + t + "40C2",
      "      origcmd: \\Windows\\pxl.exe",
      "      currcmd: ",
      "      name: Button 3",
      "  unused key: " + t + "40C2",
      "  subkey: " + t + "40C3",
      "      origcmd: \\Windows\\x.exe",
      "      currcmd: ",
      "      name: Button 2 (Hold)",
      "  subkey: " + t + "40C4",
      "      origcmd: \\Windows\\solitare.exe",
      "      currcmd: \\Windows\\solitare.exe",
      "      name: Button 2",
      "  unused key: " + t + "40C4",
      "  subkey: " + t + "40C6",
      "      origcmd: \\Windows\\iexplore.exe",
      "      currcmd: ",
      "      name: Button 1",
      "  unused key: " + t + "40C6",
      "  subkey: " + t + "40C7",
      "      origcmd: ",
      "      currcmd: \\x.exe",
      "      name: Button 5",
      "  unused record key: " + t + "40C5",
      "  assigning unused key " + t + "40C1 to 0",
      "  assigning unused key " + t + "40C2 to 1",
      "  assigning unused key " + t + "40C4 to 2",
      "  assigning unused key " + t + "40C6 to 3",
      "",
  };
  EXPECT_EQ(LogLines(), expected);
}

// ---- A table that cannot be read, a probe cut short ---------------------------

std::vector<std::u16string> Names(const LaunchButtons& buttons) {
  std::vector<std::u16string> names;
  for (size_t i = 0; i < buttons.GetButtonCount(); ++i) names.push_back(buttons.GetButton(i).Name());
  return names;
}

// Any failed read while the table is read either leaves the numbering as it
// is, or is reported: never a shorter or reordered list that passes for whole.
TEST_F(LaunchButtonsTest, NoFailedReadRenumbersTheButtonsUnseen) {
  namespace faults = plat::faults;
  AddEntry(u"40C1", u"Button 1", u"\\Windows\\Calendar.lnk", nullptr);
  AddEntry(u"40C2", u"Button 2", u"\\Windows\\Contacts.lnk", u"\"\\Program Files\\Quadrakey\\TapdeckB.lnk\"");
  AddEntry(u"80C1", u"Button 1 (Hold)", u"\\Windows\\Calculator.lnk", nullptr);
  AddEntry(u"40C3", u"Button 3", u"\\Windows\\Tasks.lnk", nullptr);
  faults::Clear();
  const std::vector<std::u16string> whole = Names(LaunchButtons());
  ASSERT_EQ(whole.size(), 3u);
  for (faults::Op op : {faults::Op::RegistryOpen, faults::Op::RegistryRead, faults::Op::RegistryEnum}) {
    faults::Clear();
    { LaunchButtons counted; }
    const uint32_t calls = faults::Calls(op);
    ASSERT_GT(calls, 0u) << faults::Name(op);
    for (uint32_t k = 1; k <= calls; ++k) {
      SCOPED_TRACE(std::string(faults::Name(op)) + " call " + std::to_string(k));
      faults::Clear();
      faults::FailCall(op, k, plat::kErrorRegistryIoFailed);
      ClearLog();
      LaunchButtons buttons;
      faults::Clear();
      // Every read of the table is needed to number it: each failure tells.
      EXPECT_EQ(buttons.ReadError(), plat::kErrorRegistryIoFailed);
      bool logged = false;
      for (const std::string& line : LogLines()) logged = logged || line.find("  cannot read ") == 0;
      EXPECT_TRUE(logged);
    }
  }
  faults::Clear();
  LaunchButtons again;
  EXPECT_EQ(again.ReadError(), 0u);
  EXPECT_EQ(Names(again), whole);
}

// Missing values and values of another type read as empty, as every run
// reads them: the same numbering each time, so no read error.
TEST_F(LaunchButtonsTest, MissingTableAndOddValuesAreNoReadError) {
  EXPECT_EQ(LaunchButtons().ReadError(), 0u);
  AddEntry(u"40C1", nullptr, u"\\Windows\\Calendar.lnk", nullptr);
  ASSERT_TRUE(WriteRegDword(kHklm, EntryPath(u"40C2"), u"ResetCmd", 5));
  ASSERT_TRUE(WriteRegDword(kHklm, EntryPath(u"40C1"), u"Name", 7));
  LaunchButtons buttons;
  EXPECT_EQ(buttons.ReadError(), 0u);
  EXPECT_EQ(buttons.GetButtonCount(), 1u);
  // A command that cannot be read is none, and the probe leaves the entry.
  plat::faults::FailCallsFrom(plat::faults::Op::RegistryRead, 1, plat::kErrorRegistryIoFailed);
  EXPECT_EQ(buttons.GetShortcut(0), nullptr);
  EXPECT_EQ(buttons.ProbeVirtualKey(0), 0);
  plat::faults::Clear();
  EXPECT_EQ(ReadValue(u"40C1", u""), u"<unreadable>");
  EXPECT_EQ(ReadDword(u"40C1", u"Flags"), 0xDEADBEEFu);
}

// The second write of a probe fails: the right key for that button, no key
// for the next (the shell would name the first entry), and the next start
// puts the entry's own command back, not its reset command.
TEST_F(LaunchButtonsTest, ProbeCutShortIsMendedAtTheNextStart) {
  const std::u16string takeover = u"\"\\Program Files\\Quadrakey\\TapdeckA.lnk\"";
  AddEntry(u"40C1", u"Button 1", u"\\Windows\\Calendar.lnk", takeover.c_str());
  AddEntry(u"40C2", u"Button 2", u"\\Windows\\Contacts.lnk", nullptr);
  {
    LaunchButtons buttons;
    // Kept entry and command, the dummy with its three shell values, then
    // the command put back: the seventh write.
    plat::faults::FailCall(plat::faults::Op::RegistryWrite, 7, plat::kErrorDiskFull);
    EXPECT_EQ(buttons.ProbeVirtualKey(0), 0xC1);
    EXPECT_EQ(ReadValue(u"40C1", u""), u"\"QuadrakeyDummyExeName.exe\"");
    EXPECT_EQ(buttons.ProbeVirtualKey(1), 0);
    EXPECT_EQ(ReadValue(u"40C2", u""), u"<unreadable>");
  }
  ClearLog();
  LaunchButtons buttons;
  buttons.RepairAfterProbe();
  EXPECT_EQ(ReadValue(u"40C1", u""), takeover);
  EXPECT_TRUE(Logged("Putting back the command of " + device::ToUtf8(EntryPath(u"40C1")) +
                     ", left at the probe's program:"));
  std::u16string kept;
  EXPECT_FALSE(ReadRegString(kHklm, u"Software\\Quadrakey\\Probe", u"Entry", kept));
  EXPECT_EQ(buttons.ProbeVirtualKey(1), 0xC2);
  EXPECT_EQ(ReadValue(u"40C2", u""), u"\"\\Windows\\Contacts.lnk\"");
  // A kept command whose entry was rewritten since (Done took it over) is
  // only dropped.
  ASSERT_TRUE(WriteRegString(kHklm, u"Software\\Quadrakey\\Probe", u"Entry", EntryPath(u"40C2")));
  ASSERT_TRUE(WriteRegString(kHklm, u"Software\\Quadrakey\\Probe", u"Command", u"old"));
  LaunchButtons later;
  later.RepairAfterProbe();
  EXPECT_EQ(ReadValue(u"40C2", u""), u"\"\\Windows\\Contacts.lnk\"");
  EXPECT_FALSE(ReadRegString(kHklm, u"Software\\Quadrakey\\Probe", u"Entry", kept));
}

// A dummy with nothing kept (an earlier version's probe was killed): the
// button gets its reset command, and until then no probe asks the shell.
TEST_F(LaunchButtonsTest, DummyLeftWithNothingKeptGetsTheResetCommand) {
  AddEntry(u"40C1", u"Button 1", u"\\Windows\\Calendar.lnk", u"\"QuadrakeyDummyExeName.exe\"");
  AddEntry(u"40C2", u"Button 2", u"\\Windows\\Contacts.lnk", nullptr);
  LaunchButtons buttons;
  EXPECT_EQ(buttons.ProbeVirtualKey(1), 0);
  LogText(u"\n");  // the probe's note ends within the caller's line
  EXPECT_EQ(ReadValue(u"40C2", u""), u"<unreadable>");
  buttons.RepairAfterProbe();
  EXPECT_EQ(ReadValue(u"40C1", u""), u"\"\\Windows\\Calendar.lnk\"");
  EXPECT_TRUE(Logged(device::ToUtf8(EntryPath(u"40C1")) + " lost its command at a probe: putting back its reset command"));
  EXPECT_EQ(buttons.ProbeVirtualKey(1), 0xC2);
}

}  // namespace
