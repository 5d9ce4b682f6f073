// The Settings page's rules and the rotation choice, driven through their
// models alone: no window system is linked into this test.
#include "config/model/assignment_model.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "config/model/catalogue.h"
#include "config/model/item_codes.h"
#include "config/model/rotation_choice.h"
#include "shared/text.h"
#include "tests/config/config_test_support.h"

namespace {

using namespace config_test;

constexpr char16_t kAppFolder[] = u"\\Program Files\\Quadrakey";
constexpr char16_t kStart[] = u"\\Windows\\Start Menu";
constexpr char16_t kRecordCommand[] = u"\"\\Windows\\AppButtons\\Record.lnk\"";
constexpr char16_t kTakeoverA[] = u"\\Program Files\\Quadrakey\\TapdeckA.lnk";

std::u16string At(const ComboContent& content, int line) {
  return line >= 0 && line < static_cast<int>(content.lines.size()) ? *content.lines[line].text : u"<none>";
}
std::u16string Selected(const ComboContent& content) { return At(content, content.selected); }

// The line showing `text`, as a person finds it.
int LineOf(const ComboContent& content, const std::u16string& text) {
  for (size_t i = 0; i < content.lines.size(); ++i)
    if (*content.lines[i].text == text) return static_cast<int>(i);
  return -1;
}

std::u16string Stored(const char16_t* name) {
  std::u16string text;
  if (!ReadRegString(kHklm, kSettingsKey, name, text)) return u"<missing>";
  return text;
}

// Button 1 and Button 2, and the Record button whose reset command is the
// Record command; a Start Menu of Calendar, Word and a program.
class AssignmentModelTest : public LoggedDeviceTest {
 protected:
  void SetUp() override {
    LoggedDeviceTest::SetUp();
    MakeDeviceFolder(kAppFolder);
    ASSERT_TRUE(WriteRegString(kHklm, kSettingsKey, u"AppFolder", kAppFolder));
    MakeDeviceFile(std::u16string(kStart) + u"\\Calendar.lnk");
    MakeDeviceFile(std::u16string(kStart) + u"\\Programs\\Word.lnk");
    MakeDeviceFile(std::u16string(kStart) + u"\\Programs\\setup.exe");
  }
  void TearDown() override {
    ClearCatalogue();
    LoggedDeviceTest::TearDown();
  }

  void StockButtons() {
    AddEntry(u"40C1", u"Button 1", u"\\Windows\\Start Menu\\Calendar.lnk", nullptr);
    AddEntry(u"40C2", u"Button 2", u"\\Windows\\Start Menu\\Contacts.lnk", nullptr);
    AddEntry(u"40C5", u"Record", kRecordCommand, kRecordCommand);
  }
  void Set(const char16_t* name, const std::u16string& text) {
    ASSERT_TRUE(WriteRegString(kHklm, kSettingsKey, name, text));
  }
  void SetNumber(const char16_t* name, uint32_t number) {
    ASSERT_TRUE(WriteRegDword(kHklm, kSettingsKey, name, number));
  }
};

TEST_F(AssignmentModelTest, ButtonListShowsHardwareButtonsThenUserDefinedOnes) {
  StockButtons();
  ASSERT_TRUE(WriteRegString(kHklm, u"Software\\Quadrakey\\Hotkeys", u"B0", u"Camera"));
  ASSERT_TRUE(WriteRegDword(kHklm, u"Software\\Quadrakey\\Hotkeys", u"H0", 5));
  LaunchButtons buttons;
  AssignmentModel model(buttons);
  EXPECT_EQ(model.ButtonListLines(), (std::vector<std::u16string>{u"Button 1 (originally Calendar)",
                                                                   u"Button 2 (originally Contacts)",
                                                                   u"Record (originally Record)", u"Camera"}));
  EXPECT_EQ(model.CurrentButton(), 0);
  EXPECT_FALSE(model.IsUserDefined(2));
  EXPECT_TRUE(model.IsUserDefined(3));
  EXPECT_FALSE(model.IsUserDefined(-1));
}

TEST_F(AssignmentModelTest, ComboLinesOfferRecordOnlyInTheSinglePressOfADeviceWithTheRecordCommand) {
  StockButtons();
  BuildCatalogue();
  LaunchButtons buttons;
  AssignmentModel model(buttons);
  const ComboContent single = model.FillCombo(PressRow::kSingle);
  ASSERT_EQ(single.lines.size(), 14u + 3u);
  EXPECT_EQ(At(single, 0), u"<Record>");
  EXPECT_EQ(single.lines[0].code, 30000);
  EXPECT_EQ(At(single, 13), u"<Do Nothing>");
  EXPECT_EQ(At(single, 14), u"Calendar");
  EXPECT_EQ(single.lines[14].code, 0);
  EXPECT_EQ(single.selected, -1);
  for (PressRow row : {PressRow::kHold, PressRow::kDouble, PressRow::kDoubleHold}) {
    const ComboContent other = model.FillCombo(row);
    ASSERT_EQ(other.lines.size(), 13u + 3u);
    EXPECT_EQ(At(other, 0), u"<Today>");
    EXPECT_EQ(other.lines[0].code, 30001);
    EXPECT_EQ(LineOf(other, u"<Record>"), -1);
  }
}

TEST_F(AssignmentModelTest, NoRecordCommandOffersNoRecordAndAStoredOneShowsAsOpenLine) {
  AddEntry(u"40C1", u"Button 1", u"\\Windows\\Start Menu\\Calendar.lnk", nullptr);
  Set(u"ButtonA", u"<Record>");
  LaunchButtons buttons;
  AssignmentModel model(buttons);
  const ComboContent single = model.FillCombo(PressRow::kSingle);
  EXPECT_EQ(At(single, 0), u"<Today>");
  EXPECT_EQ(Selected(single), u"Open: <Record>");
  EXPECT_EQ(single.lines.back().code, kOpenEntryCode);
  // Not the Record function: the rows below show.
  const PageShows shows = model.Refresh(true);
  EXPECT_FALSE(shows.record_notice);
  EXPECT_TRUE(shows.rows[3]);
}

TEST_F(AssignmentModelTest, StoredAssignmentsSelectTheirLineOrAnOpenLine) {
  StockButtons();
  BuildCatalogue();
  const std::u16string start = kStart;
  Set(u"ButtonA", start + u"\\CALENDAR.LNK");
  Set(u"ButtonAh", start + u"\\Programs\\setup.exe");  // a program never matches its catalogue line
  Set(u"ButtonA2", u"<page up>");
  LaunchButtons buttons;
  AssignmentModel model(buttons);
  ClearLog();

  EXPECT_EQ(Selected(model.FillCombo(PressRow::kSingle)), u"Calendar");
  const ComboContent hold = model.FillCombo(PressRow::kHold);
  EXPECT_EQ(Selected(hold), u"Open: setup.exe");
  EXPECT_EQ(hold.selected, static_cast<int>(hold.lines.size()) - 1);
  EXPECT_EQ(Selected(model.FillCombo(PressRow::kDouble)), u"<Page Up>");
  const ComboContent unassigned = model.FillCombo(PressRow::kDoubleHold);
  EXPECT_EQ(unassigned.selected, -1);
  EXPECT_EQ(unassigned.lines.size(), 13u + 3u);  // no "Open: " line

  const std::vector<std::string> log = LogLines();
  const std::vector<std::string> found = {"loadShortcutCombo(combo, 0, 1, 0):", "  found CALENDAR", ""};
  EXPECT_TRUE(std::search(log.begin(), log.end(), found.begin(), found.end()) != log.end());
  EXPECT_TRUE(Logged("  didn't find \\Windows\\Start Menu\\Programs\\setup.exe"));
  EXPECT_TRUE(Logged("  found <page up>"));
  EXPECT_TRUE(Logged("  didn't find "));

  // Picking the "Open: " line again stores the same text unchanged.
  Set(u"ButtonAh", u"<Today>");
  const Choice again = model.Choose(PressRow::kHold, hold.selected, kOpenEntryCode);
  EXPECT_EQ(again.outcome, Choice::Outcome::kStored);
  EXPECT_EQ(Stored(u"ButtonAh"), start + u"\\Programs\\setup.exe");
}

TEST_F(AssignmentModelTest, WhatShowsForEachKindOfButton) {
  StockButtons();
  ASSERT_TRUE(WriteRegString(kHklm, u"Software\\Quadrakey\\Hotkeys", u"B0", u"Camera"));
  ASSERT_TRUE(WriteRegDword(kHklm, u"Software\\Quadrakey\\Hotkeys", u"H0", 5));
  SetNumber(u"EnabledB", 0);
  Set(u"ButtonC", u"<record>");
  SetNumber(u"EnabledE", 0);
  LaunchButtons buttons;
  AssignmentModel model(buttons);

  SetNumber(u"VirtualKeyA", 0xC1);  // Button 2's key is not known yet
  model.ButtonListLines();           // as the page opens: the user-defined buttons' keys

  struct Case {
    int32_t position;
    bool label, box, checked, single, lower, notice, tune, tune_enabled;
  };
  const Case cases[] = {
      {0, false, true, true, true, true, false, true, true},       // enabled, first use
      {1, false, true, false, false, false, false, false, false},  // not enabled: no press rows
      {2, false, true, true, true, false, true, false, false},     // "<Record>": the notice instead of the lower rows
      {3, true, false, true, true, true, false, true, true},       // user-defined
      {4, true, false, true, true, true, false, true, false},      // user-defined with "Enabled" 0: on, as the listener
                                                                   // has it; no key listed at 4
      {-1, false, false, false, false, false, false, false, false},
  };
  for (const Case& c : cases) {
    model.SelectButton(c.position);
    const PageShows shows = model.Refresh(true);
    const std::string where = "position " + std::to_string(c.position);
    EXPECT_EQ(shows.user_button_label, c.label) << where;
    EXPECT_EQ(shows.override_box, c.box) << where;
    EXPECT_EQ(shows.override_checked, c.checked) << where;
    EXPECT_EQ(shows.rows[0], c.single) << where;
    EXPECT_EQ(shows.filled[0], c.single) << where;
    for (int row = 1; row < kPressRowCount; ++row) {
      EXPECT_EQ(shows.rows[row], c.lower) << where << " row " << row;
      EXPECT_EQ(shows.filled[row], c.lower) << where << " row " << row;
    }
    EXPECT_EQ(shows.record_notice, c.notice) << where;
    EXPECT_EQ(shows.tune, c.tune) << where;
    EXPECT_EQ(shows.tune_enabled, c.tune_enabled) << where;
  }
  // A button whose key is not known cannot be tuned: the dialog could not
  // take its presses.
  SetNumber(u"EnabledB", 1);
  model.SelectButton(1);
  const PageShows unknown_key = model.Refresh(true);
  EXPECT_TRUE(unknown_key.tune);
  EXPECT_FALSE(unknown_key.tune_enabled);
  EXPECT_EQ(model.KeyCodeOf(3), 5u);
  EXPECT_EQ(model.KeyCodeOf(0), 0xC1u);
  // Without refilling the single press, the lower rows are filled all the same.
  model.SelectButton(0);
  model.Refresh(true);
  const PageShows again = model.Refresh(false);
  EXPECT_FALSE(again.filled[0]);
  EXPECT_TRUE(again.rows[0]);
  EXPECT_TRUE(again.filled[1] && again.filled[2] && again.filled[3]);
}

TEST_F(AssignmentModelTest, WithNoButtonsAtAllPositionZeroIsUserDefined) {
  LaunchButtons buttons;
  AssignmentModel model(buttons);
  EXPECT_TRUE(model.ButtonListLines().empty());
  const PageShows shows = model.Refresh(true);
  EXPECT_TRUE(shows.user_button_label);
  EXPECT_FALSE(shows.override_box);
  EXPECT_TRUE(shows.rows[0] && shows.rows[3]);
}

TEST_F(AssignmentModelTest, ChoosingStoresWhatTheLineStandsFor) {
  StockButtons();
  BuildCatalogue();
  LaunchButtons buttons;
  AssignmentModel model(buttons);
  const ComboContent hold = model.FillCombo(PressRow::kHold);
  ClearLog();

  Choice choice = model.Choose(PressRow::kHold, LineOf(hold, u"<Page Down>"), 30008);
  EXPECT_EQ(choice.outcome, Choice::Outcome::kStored);
  EXPECT_FALSE(choice.refill);
  EXPECT_EQ(Stored(u"ButtonAh"), u"<Page Down>");
  EXPECT_TRUE(Logged("unloadShortcutCombo(combo, 0, 1, 1):"));
  EXPECT_TRUE(Logged("  unloading <Page Down> (30008)"));

  const int word = LineOf(hold, u"Word");
  model.Choose(PressRow::kHold, word, hold.lines[word].code);
  EXPECT_EQ(Stored(u"ButtonAh"), u"\\Windows\\Start Menu\\Programs\\Word.lnk");

  // No line: the empty text.
  choice = model.Choose(PressRow::kDouble, -1, -1);
  EXPECT_EQ(choice.outcome, Choice::Outcome::kStored);
  EXPECT_EQ(choice.code, -1);
  EXPECT_EQ(Stored(u"ButtonA2"), u"");
  EXPECT_TRUE(Logged("  no current selection"));

  // A code no line of ours carries stores nothing.
  EXPECT_EQ(model.Choose(PressRow::kDouble, 0, 30500).outcome, Choice::Outcome::kIgnored);
  EXPECT_EQ(Stored(u"ButtonA2"), u"");

  // "<Open File>": the chosen file, or "<Do Nothing>"; never the name itself.
  EXPECT_EQ(model.Choose(PressRow::kDoubleHold, 10, kOpenFileCode).outcome, Choice::Outcome::kNeedsFile);
  EXPECT_EQ(Stored(u"ButtonA2h"), u"<missing>");
  const std::u16string letter = u"\\My Documents\\letter.psw";
  choice = model.FileChosen(PressRow::kDoubleHold, &letter);
  EXPECT_EQ(choice.outcome, Choice::Outcome::kStored);
  EXPECT_TRUE(choice.refill);
  EXPECT_EQ(Stored(u"ButtonA2h"), letter);
  const ComboContent shown = model.FillCombo(PressRow::kDoubleHold);
  EXPECT_EQ(Selected(shown), u"Open: letter.psw");
  EXPECT_EQ(shown.selected, static_cast<int>(shown.lines.size()) - 1);
  choice = model.FileChosen(PressRow::kDoubleHold, nullptr);
  EXPECT_EQ(Stored(u"ButtonA2h"), u"<Do Nothing>");
  EXPECT_EQ(Selected(model.FillCombo(PressRow::kDoubleHold)), u"<Do Nothing>");
  EXPECT_TRUE(Logged("  unloading <Do Nothing> (30011)"));
  EXPECT_FALSE(Logged("  unloading <Open File> (30011)"));
}

TEST_F(AssignmentModelTest, RecordInTheSinglePressHidesTheLowerRowsAndKeepsTheirAssignments) {
  StockButtons();
  Set(u"ButtonAh", u"<Today>");
  LaunchButtons buttons;
  AssignmentModel model(buttons);
  PageShows shows = model.Refresh(true);
  ASSERT_EQ(At(shows.combos[0], 0), u"<Record>");

  model.Choose(PressRow::kSingle, 0, 30000);
  shows = model.Refresh(false);
  EXPECT_TRUE(shows.record_notice);
  EXPECT_FALSE(shows.rows[1] || shows.rows[2] || shows.rows[3]);
  EXPECT_FALSE(shows.filled[1]);
  EXPECT_EQ(Stored(u"ButtonA"), u"<Record>");
  EXPECT_EQ(Stored(u"ButtonAh"), u"<Today>");

  model.Choose(PressRow::kSingle, 8, 30008);
  shows = model.Refresh(false);
  EXPECT_FALSE(shows.record_notice);
  EXPECT_TRUE(shows.rows[1]);
  EXPECT_EQ(Selected(shows.combos[1]), u"<Today>");

  // Stored "<Record>" opens the page with the notice.
  model.Choose(PressRow::kSingle, 0, 30000);
  model.SelectButton(1);
  model.Refresh(true);
  model.SelectButton(0);
  EXPECT_TRUE(model.Refresh(true).record_notice);
}

// A shortcut whose path the launcher cannot open is refused when it is
// chosen; the slot keeps the assignment that works.
TEST_F(AssignmentModelTest, AShortcutTooLongToLaunchIsNotStored) {
  StockButtons();
  // A deep Start Menu folder and a name: 300 characters, then 299.
  const std::u16string folder = std::u16string(kStart) + u"\\Programs\\" + std::u16string(150, u'f') + u"\\";
  const std::u16string too_long = folder + std::u16string(300 - folder.size() - 4, u'x') + u".lnk";
  const std::u16string longest = folder + std::u16string(299 - folder.size() - 4, u'y') + u".lnk";
  ASSERT_EQ(too_long.size(), 300u);
  MakeDeviceFile(too_long);
  MakeDeviceFile(longest);
  BuildCatalogue();
  Set(u"ButtonA", u"<Today>");
  LaunchButtons buttons;
  AssignmentModel model(buttons);
  const ComboContent single = model.FillCombo(PressRow::kSingle);
  const int x = LineOf(single, std::u16string(300 - folder.size() - 4, u'x'));
  ASSERT_GE(x, 0);

  Choice choice = model.Choose(PressRow::kSingle, x, single.lines[x].code);
  EXPECT_EQ(choice.outcome, Choice::Outcome::kTooLong);
  EXPECT_TRUE(choice.refill);
  EXPECT_EQ(choice.text, too_long);
  EXPECT_EQ(Stored(u"ButtonA"), u"<Today>");
  EXPECT_EQ(Selected(model.FillCombo(PressRow::kSingle)), u"<Today>");
  EXPECT_NE(AssignmentModel::TooLongNotice().find(u"299"), std::u16string::npos);

  // A slot that had nothing keeps nothing.
  model.Choose(PressRow::kHold, x, single.lines[x].code);
  EXPECT_EQ(Stored(u"ButtonAh"), u"<missing>");

  const int y = LineOf(single, std::u16string(299 - folder.size() - 4, u'y'));
  ASSERT_GE(y, 0);
  choice = model.Choose(PressRow::kSingle, y, single.lines[y].code);
  EXPECT_EQ(choice.outcome, Choice::Outcome::kStored);
  EXPECT_EQ(Stored(u"ButtonA"), longest);
}

TEST_F(AssignmentModelTest, TheOverrideBoxStoresTheEnabledFlag) {
  StockButtons();
  LaunchButtons buttons;
  AssignmentModel model(buttons);
  model.SelectButton(1);
  model.SetOverride(false);
  uint32_t enabled = 7;
  ASSERT_TRUE(ReadRegDword(kHklm, kSettingsKey, u"EnabledB", enabled));
  EXPECT_EQ(enabled, 0u);
  EXPECT_FALSE(model.Refresh(true).rows[0]);
  model.SetOverride(true);
  ASSERT_TRUE(ReadRegDword(kHklm, kSettingsKey, u"EnabledB", enabled));
  EXPECT_EQ(enabled, 1u);
  model.SelectButton(-1);
  model.SetOverride(false);  // no button: nothing to store
  EXPECT_FALSE(ReadRegDword(kHklm, kSettingsKey, u"EnabledA", enabled));
}

TEST_F(AssignmentModelTest, DonePlansEachHardwareButton) {
  StockButtons();
  AddEntry(u"40C3", u"Button 3", u"\\Windows\\Start Menu\\Tasks.lnk", u"\"\\Program Files\\QUADRAKEY\\TapdeckC.lnk\"");
  AddEntry(u"40C4", u"Button 4", u"\\Windows\\Start Menu\\Notes.lnk", u"\\Windows\\other.exe");
  Set(u"ButtonB", u"<RECORD>");
  SetNumber(u"EnabledC", 0);  // Button 3: taken over
  SetNumber(u"EnabledD", 0);  // Button 4: not ours
  LaunchButtons buttons;      // Button 1, 2, 3, 4, Record
  AssignmentModel model(buttons);

  ButtonDone done = model.PlanDone(0);
  EXPECT_EQ(done.kind, ButtonDone::Kind::kTakeOver);
  EXPECT_EQ(done.command, kTakeoverA);
  EXPECT_EQ(done.shortcut_target, u"\"\\Program Files\\Quadrakey\\TapdeckX.exe\" 0");
  done = model.PlanDone(1);
  EXPECT_EQ(done.kind, ButtonDone::Kind::kRecord);
  EXPECT_EQ(done.command, kRecordCommand);
  done = model.PlanDone(2);
  EXPECT_EQ(done.kind, ButtonDone::Kind::kGiveBack);
  EXPECT_EQ(done.command, u"\\Windows\\Start Menu\\Tasks.lnk");
  EXPECT_EQ(model.PlanDone(3).kind, ButtonDone::Kind::kLeave);
  done = model.PlanDone(4);
  EXPECT_EQ(done.kind, ButtonDone::Kind::kTakeOver);
  EXPECT_EQ(done.shortcut_target, u"\"\\Program Files\\Quadrakey\\TapdeckX.exe\" 4");
  // Planning wrote nothing.
  EXPECT_EQ(ReadValue(u"40C1", u""), u"<unreadable>");
  EXPECT_FALSE(FileExists(kTakeoverA));

  // An old takeover shortcut is made anew.
  MakeDeviceFile(kTakeoverA, u"old");
  model.Done();
  EXPECT_EQ(ReadValue(u"40C1", u""), std::u16string(u"\"") + kTakeoverA + u"\"");
  EXPECT_EQ(ReadDword(u"40C1", u"Flags"), 0u);
  EXPECT_EQ(ReadValue(u"40C2", u""), kRecordCommand);
  EXPECT_EQ(ReadValue(u"40C3", u""), u"\"\\Windows\\Start Menu\\Tasks.lnk\"");
  EXPECT_EQ(ReadValue(u"40C4", u""), u"\\Windows\\other.exe");  // not written at all
  plat::TextFile file = plat::OpenTextFile(kTakeoverA, "rt");
  ASSERT_NE(file, nullptr);
  std::string bytes;
  plat::ReadTextFile(file, &bytes);
  plat::CloseTextFile(file);
  EXPECT_EQ(bytes, "41#\"\\Program Files\\Quadrakey\\TapdeckX.exe\" 0");
  EXPECT_TRUE(Logged("LaunchButtons::SetShortcut(\\Program Files\\Quadrakey\\TapdeckA.lnk, 0)"));
}

std::string DeviceText(const std::u16string& path) {
  plat::TextFile file = plat::OpenTextFile(path, "rt");
  if (file == nullptr) return "<none>";
  std::string bytes;
  plat::ReadTextFile(file, &bytes);
  plat::CloseTextFile(file);
  return bytes;
}

// A takeover shortcut that cannot be made whole leaves the old one, and the
// button's command, as they were: the button works as before, and the log
// says why nothing changed.
TEST_F(AssignmentModelTest, DoneKeepsTheButtonWhenItsShortcutCannotBeMade) {
  namespace faults = plat::faults;
  const std::u16string takeover_a = std::u16string(u"\"") + kTakeoverA + u"\"";
  AddEntry(u"40C1", u"Button 1", u"\\Windows\\Start Menu\\Calendar.lnk", takeover_a.c_str());
  AddEntry(u"40C2", u"Button 2", u"\\Windows\\Start Menu\\Contacts.lnk", nullptr);
  MakeDeviceFile(kTakeoverA, u"41#\"\\Program Files\\Quadrakey\\TapdeckX.exe\" 7");
  const std::string old_shortcut = DeviceText(kTakeoverA);
  // Nothing is logged on the way to the shortcut: the fault meets it.
  Set(u"ButtonA", u"<Today>");
  Set(u"ButtonB", u"<Today>");
  LaunchButtons buttons;
  AssignmentModel model(buttons);
  for (faults::Op op : {faults::Op::FileOpen, faults::Op::FileWrite, faults::Op::FileMove}) {
    SCOPED_TRACE(faults::Name(op));
    ClearLog();
    LogText(u"");  // the log file is open before the fault is armed
    faults::FailCall(op, 1, plat::kErrorDiskFull);
    model.Done();
    faults::Clear();
    // The person is told, not only the log.
    EXPECT_EQ(model.KeptNotice(), u"Quadrakey could not change what Button 1 (error 112) start, so they start what "
                                  u"they did before. Start Quadrakey again and press Done to try again.");
    EXPECT_EQ(DeviceText(kTakeoverA), old_shortcut);
    EXPECT_EQ(ReadValue(u"40C1", u""), takeover_a);
    EXPECT_TRUE(Logged("  cannot make the takeover shortcut \\Program Files\\Quadrakey\\TapdeckA.lnk (error 112): "
                       "the button keeps its command"));
    EXPECT_FALSE(FileExists(std::u16string(kTakeoverA) + u".new"));
    // The next button was not hurt by this one's failure.
    EXPECT_EQ(ReadValue(u"40C2", u""), u"\"\\Program Files\\Quadrakey\\TapdeckB.lnk\"");
    EXPECT_EQ(DeviceText(u"\\Program Files\\Quadrakey\\TapdeckB.lnk"), "41#\"\\Program Files\\Quadrakey\\TapdeckX.exe\" 1");
  }
  // A shortcut left half made by an earlier Done is replaced.
  MakeDeviceFile(std::u16string(kTakeoverA) + u".new", u"3");
  model.Done();
  EXPECT_EQ(model.KeptNotice(), u"");
  EXPECT_EQ(DeviceText(kTakeoverA), "41#\"\\Program Files\\Quadrakey\\TapdeckX.exe\" 0");
  EXPECT_FALSE(FileExists(std::u16string(kTakeoverA) + u".new"));
}

// Without "AppFolder" (missing, empty or not text) a takeover would point at
// no file: the button keeps its command and the log says why.
TEST_F(AssignmentModelTest, DoneWithoutAnApplicationFolderTakesNothingOver) {
  AddEntry(u"40C1", u"Button 1", u"\\Windows\\Start Menu\\Calendar.lnk", nullptr);
  LaunchButtons buttons;
  AssignmentModel model(buttons);
  const std::pair<std::u16string, uint32_t> folders[] = {{u"", 2}, {u"dword", 13}};
  for (const auto& [folder, error] : folders) {
    if (folder == u"dword") {
      ASSERT_TRUE(WriteRegDword(kHklm, kSettingsKey, u"AppFolder", 1));
    } else {
      Set(u"AppFolder", folder);
    }
    ClearLog();
    EXPECT_EQ(model.PlanDone(0).kind, ButtonDone::Kind::kLeave);
    model.Done();
    EXPECT_EQ(ReadValue(u"40C1", u""), u"<unreadable>");
    EXPECT_TRUE(Logged("  button 0 keeps its command: no application folder (error " + std::to_string(error) + ")"));
    EXPECT_NE(model.KeptNotice().find(u"Button 1 (error " + DecimalText(error) + u")"), std::u16string::npos);
  }
  EXPECT_FALSE(FileExists(u"TapdeckA.lnk"));
}

// An override setting that cannot be read is no reason to take the button
// over, nor to give it back: it keeps its command. Missing, or of the wrong
// kind, it reads as set, and the button is taken over.
TEST_F(AssignmentModelTest, DoneLeavesAButtonWhoseOverrideCannotBeRead) {
  AddEntry(u"40C1", u"Button 1", u"\\Windows\\Start Menu\\Calendar.lnk", nullptr);
  LaunchButtons buttons;
  AssignmentModel model(buttons);
  Set(u"ButtonA", u"<Today>");
  for (plat::faults::Op op : {plat::faults::Op::RegistryOpen, plat::faults::Op::RegistryRead}) {
    SCOPED_TRACE(plat::faults::Name(op));
    ClearLog();
    plat::faults::FailCall(op, 1, plat::kErrorDiskFull);
    const ButtonDone done = model.PlanDone(0);
    plat::faults::Clear();
    EXPECT_EQ(done.kind, ButtonDone::Kind::kLeave);
    EXPECT_TRUE(Logged("  button 0 keeps its command: its override setting could not be read (error 112)"));
  }
  ASSERT_TRUE(WriteRegString(kHklm, kSettingsKey, u"EnabledA", u"0"));
  EXPECT_EQ(model.PlanDone(0).kind, ButtonDone::Kind::kTakeOver) << "text is of the wrong kind: set";
  model.SelectButton(0);
  model.SetOverride(false);
  EXPECT_EQ(model.PlanDone(0).kind, ButtonDone::Kind::kLeave) << "not taken over, nothing to give back";
}

// Lost writes of the enabled flag and of the timings are logged.
TEST_F(AssignmentModelTest, LostSettingWritesAreLogged) {
  StockButtons();
  LaunchButtons buttons;
  AssignmentModel model(buttons);
  model.SelectButton(2);
  plat::faults::FailCall(plat::faults::Op::RegistryWrite, 1, plat::kErrorDiskFull);
  model.SetOverride(false);
  plat::faults::FailCall(plat::faults::Op::RegistryWrite, 1, plat::kErrorAccessDenied);
  EXPECT_FALSE(WriteSettingDword(u"HoldInterval", 300));
  EXPECT_TRUE(Logged("Error writing reg dword EnabledC: 112"));
  EXPECT_TRUE(Logged("Error writing reg dword HoldInterval: 5"));
}

TEST_F(AssignmentModelTest, RecordWithoutARecordCommandGivesTheEmptyCommand) {
  AddEntry(u"40C1", u"Button 1", u"\\Windows\\Start Menu\\Calendar.lnk", nullptr);
  Set(u"ButtonA", u"<Record>");
  LaunchButtons buttons;
  AssignmentModel model(buttons);
  const ButtonDone done = model.PlanDone(0);
  EXPECT_EQ(done.kind, ButtonDone::Kind::kRecord);
  EXPECT_EQ(done.command, u"");
  model.NoteRecordButtons();
  EXPECT_FALSE(model.Done());  // no Record command: never the notice
  EXPECT_EQ(ReadValue(u"40C1", u""), u"\"\"");
}

// The reboot notice shows exactly when the Record command moved to or from a
// button since the page opened.
TEST_F(AssignmentModelTest, RebootNoticeWhenTheRecordButtonsChange) {
  struct Case {
    const char* name;
    const char16_t* single_a;  // Button 1's single press
    const char16_t* single_c;  // the Record button's single press
    bool notice;
  };
  const Case cases[] = {
      {"first use takes the Record button over", nullptr, nullptr, true},
      {"the Record button keeps it", nullptr, u"<Record>", false},
      {"it moves to Button 1", u"<Record>", nullptr, true},
      {"Button 1 gets it too", u"<Record>", u"<Record>", true},
  };
  for (const Case& c : cases) {
    DeleteRegKey(kHklm, kSettingsKey);  // each case on a device that has not been used
    DeleteRegKey(kHklm, plat::kButtonTableKey);
    Set(u"AppFolder", kAppFolder);
    StockButtons();
    if (c.single_a != nullptr) Set(u"ButtonA", c.single_a);
    if (c.single_c != nullptr) Set(u"ButtonC", c.single_c);
    LaunchButtons buttons;
    AssignmentModel model(buttons);
    model.NoteRecordButtons();
    EXPECT_EQ(model.Done(), c.notice) << c.name;
  }
}

// ---- The rotation choice ----------------------------------------------------------

TEST_F(AssignmentModelTest, RotationChoiceOpensWithTheStoredMaskOrZeroDegrees) {
  const RotationSlot slot = {0, 1, false};
  EXPECT_EQ(RotationMaskToShow(slot), 1);  // nothing stored
  for (const auto& [stored, shown] : std::vector<std::pair<std::u16string, int32_t>>{
           {u"5", 5}, {u"  7x", 7}, {u"abc", 1}, {u"0", 1}, {u"-3", 1}, {u"", 1}, {u"16", 16}}) {
    Set(u"ButtonA-RotateScreen", stored);
    EXPECT_EQ(RotationMaskToShow(slot), shown) << device::ToUtf8(stored);
  }
  // Bits above 270 degrees check no box.
  for (int bit = 0; bit < kOrientationCount; ++bit) {
    EXPECT_FALSE(HasOrientation(16, bit));
    EXPECT_EQ(HasOrientation(5, bit), bit == 0 || bit == 2);
  }
  const bool ninety_and_270[kOrientationCount] = {false, true, false, true};
  EXPECT_EQ(RotationMaskOf(ninety_and_270), 10);
  const bool none[kOrientationCount] = {};
  EXPECT_EQ(RotationMaskOf(none), 0);
}

TEST_F(AssignmentModelTest, RotationChoiceStoresOnlyAChosenSetAndOnlyForItsSlot) {
  Set(u"ButtonB-RotateScreen2", u"5");
  const RotationSlot double_press = {1, 2, false};
  EXPECT_FALSE(StoreRotationChoice(double_press, 0));   // every box cleared
  EXPECT_FALSE(StoreRotationChoice(double_press, -1));  // cancelled
  EXPECT_EQ(Stored(u"ButtonB-RotateScreen2"), u"5");
  EXPECT_TRUE(StoreRotationChoice(double_press, 10));
  EXPECT_EQ(Stored(u"ButtonB-RotateScreen2"), u"10");
  EXPECT_EQ(Stored(u"ButtonB-RotateScreen"), u"<missing>");
  EXPECT_TRUE(StoreRotationChoice({2, 2, true}, 15));
  EXPECT_EQ(Stored(u"ButtonC-RotateScreen2h"), u"15");
}

}  // namespace
