#include "shared/button_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "platform/faults.h"
#include "platform/platform.h"
#include "shared/press_rule.h"
#include "shared/settings.h"
#include "tests/support/log_bound_device_test.h"

namespace {

using plat::RegRoot;
namespace faults = plat::faults;

class ButtonModelTest : public LogBoundDeviceTest {
 protected:
  void TearDown() override {
    faults::Clear();
    LogBoundDeviceTest::TearDown();
  }

  static void AddEntry(const std::u16string& entry, const std::u16string& name, const std::u16string& reset) {
    const std::u16string path = std::u16string(plat::kButtonTableKey) + u"\\" + entry;
    ASSERT_TRUE(WriteRegString(RegRoot::LocalMachine, path, u"Name", name));
    if (!reset.empty()) {
      ASSERT_TRUE(WriteRegString(RegRoot::LocalMachine, path, u"ResetCmd", reset));
    }
    ASSERT_TRUE(WriteRegString(RegRoot::LocalMachine, path, u"", u"\"\""));
  }
};

bool Stored(const std::u16string& name) {
  std::u16string text;
  uint32_t number = 0;
  return ReadRegString(RegRoot::Product, kSettingsKey, name, text) ||
         ReadRegDword(RegRoot::Product, kSettingsKey, name, number);
}

// What the accessors write and what moves with a button must be one set:
// a value the model forgets would stay behind when the button moves.
TEST_F(ButtonModelTest, EveryValueTheAccessorsWriteMovesWithItsButton) {
  constexpr uint32_t kPosition = 5;
  std::vector<std::u16string> written;
  for (int32_t count : {1, 2}) {
    for (bool hold : {false, true}) {
      SetShortcut(kPosition, count, hold, u"<Rotate Screen>");
      SetLaunchParams(u"RotateScreen", kPosition, count, hold, u"3");
      written.push_back(SlotValueName(kPosition, count, hold));
      written.push_back(LaunchParamsValueName(u"RotateScreen", kPosition, count, hold));
    }
  }
  SetEnabled(kPosition, false);
  SetState(kPosition, 2);
  SetVirtualKey(kPosition, 0xC1);
  WriteSettingDword(u"HoldIntervalF", 300);
  WriteSettingDword(u"DblClickIntervalF", 700);
  for (const char16_t* name : {u"EnabledF", u"StateF", u"VirtualKeyF", u"HoldIntervalF", u"DblClickIntervalF"})
    written.push_back(name);

  std::vector<std::u16string> moving = ButtonSettingNames(kPosition);
  for (const std::u16string& name : moving) EXPECT_TRUE(Stored(name)) << "not a value of the button: " << name.size();
  std::sort(moving.begin(), moving.end());
  std::sort(written.begin(), written.end());
  EXPECT_EQ(moving, written);
  EXPECT_EQ(ButtonSettingName(kDoubleHoldRotation, kPosition), u"ButtonF-RotateScreen2h");
  EXPECT_EQ(&AssignmentSetting(2, true), &kDoubleHoldAssignment);
  EXPECT_EQ(&RotationSetting(1, true), &kHoldRotation);
}

TEST_F(ButtonModelTest, AButtonsIntervalIsItsOwnElseTheGlobalElseTheDefault) {
  EXPECT_EQ(ReadButtonSetting(kHoldIntervalSetting, 1), press_rule::kDefaultIntervalMs);
  WriteSettingDword(u"HoldInterval", 550);
  EXPECT_EQ(ReadButtonSetting(kHoldIntervalSetting, 1), 550u);
  WriteSettingDword(u"HoldIntervalB", 250);
  EXPECT_EQ(ReadButtonSetting(kHoldIntervalSetting, 1), 250u);
  EXPECT_EQ(ReadButtonSetting(kHoldIntervalSetting, 0), 550u) << "another button keeps the global one";
  EXPECT_EQ(ReadButtonSetting(kDoubleIntervalSetting, 1), press_rule::kDefaultIntervalMs);

  // A value of the wrong kind is no value: the next one down stands in.
  WriteRegString(RegRoot::Product, kSettingsKey, u"HoldIntervalB", u"250");
  EXPECT_EQ(ReadButtonSetting(kHoldIntervalSetting, 1), 550u);
  WriteRegString(RegRoot::Product, kSettingsKey, u"HoldInterval", u"550");
  EXPECT_EQ(ReadButtonSetting(kHoldIntervalSetting, 1), press_rule::kDefaultIntervalMs);
  EXPECT_EQ(ReadGlobalSetting(kHoldIntervalSetting), press_rule::kDefaultIntervalMs);

  EXPECT_EQ(ClampToRange(kHoldIntervalSetting, 50), kHoldIntervalSetting.minimum);
  EXPECT_EQ(ClampToRange(kDoubleIntervalSetting, 0xFFFFFFFF), kDoubleIntervalSetting.maximum);
  EXPECT_EQ(ClampToRange(kDoubleIntervalSetting, 640), 640u);
}

TEST_F(ButtonModelTest, TheTableGivesItsButtonsInNameOrderByCodeUnits) {
  DeleteRegKey(RegRoot::LocalMachine, plat::kButtonTableKey);
  AddEntry(u"40C1", u"button 1", u"\\Windows\\Calendar.lnk");
  AddEntry(u"40C2", u"Zed", u"\\Windows\\Contacts.lnk");
  AddEntry(u"40C3", u"Button 2", u"\\Windows\\Tasks.lnk");
  AddEntry(u"40C4", u"Button 2 (Hold)", u"\\Windows\\Notes.lnk");  // the shell's hold entry
  AddEntry(u"40C5", u"Keyboard", u"");                            // no reset command: not a button
  AddEntry(u"40C6", u"Zed", u"\\Windows\\Other.lnk");              // same name: table order
  const ButtonTable table = ReadButtonTable();
  EXPECT_EQ(table.read_error, 0u);
  EXPECT_EQ(table.entries.size(), 6u);
  std::vector<std::u16string> order;
  for (const ButtonTableEntry* button : table.Buttons()) order.push_back(button->Entry());
  EXPECT_EQ(order, (std::vector<std::u16string>{u"40C3", u"40C2", u"40C6", u"40C1"}));
  EXPECT_EQ(EntryVirtualKey(order.front()), 0xC3);
}

TEST_F(ButtonModelTest, ATableReadWithAGapSaysSo) {
  DeleteRegKey(RegRoot::LocalMachine, plat::kButtonTableKey);
  AddEntry(u"40C1", u"Button 1", u"\\Windows\\Calendar.lnk");
  AddEntry(u"40C2", u"Button 2", u"\\Windows\\Contacts.lnk");
  // The second entry's reset command cannot be read (each value read is a
  // size query and a data query): counting on would give every later
  // button another's position.
  faults::FailCall(faults::Op::RegistryRead, 7, plat::kErrorAccessDenied);
  const ButtonTable table = ReadButtonTable();
  EXPECT_EQ(table.read_error, plat::kErrorAccessDenied);
  ASSERT_EQ(table.entries.size(), 2u);
  EXPECT_EQ(table.entries[1].error, plat::kErrorAccessDenied);
  EXPECT_EQ(std::u16string(table.entries[1].failed_value), u"ResetCmd");

  faults::Clear();
  faults::FailCall(faults::Op::RegistryEnum, 2, plat::kErrorAccessDenied);
  EXPECT_EQ(ReadButtonTable().read_error, plat::kErrorAccessDenied);
  faults::Clear();
  DeleteRegKey(RegRoot::LocalMachine, plat::kButtonTableKey);
  EXPECT_EQ(ReadButtonTable().read_error, 0u) << "no table is an empty one";
}

TEST(ButtonPositions, UserButtonsFillThePositionsTheHardwareLeaves) {
  EXPECT_EQ(MaxUserButtons(0), 32u);
  EXPECT_EQ(MaxUserButtons(5), 27u);
  EXPECT_EQ(MaxUserButtons(32), 0u);
  EXPECT_EQ(MaxUserButtons(40), 0u);
}

}  // namespace
