#include "config/model/user_button_changes.h"

#include <gtest/gtest.h>

#include "platform/faults.h"
#include "tests/config/config_test_support.h"

namespace {

using namespace config_test;

// A button's settings in a form a test can compare: every value that is
// there, by its name without the letter's position.
struct Settings {
  std::vector<std::u16string> texts;
  std::vector<int64_t> numbers;  // -1: missing
  bool operator==(const Settings&) const = default;
};

// Every value a button has, named here rather than by the code under test,
// so that a value the change forgets to move shows.
std::vector<std::u16string> ExpectedNames(uint32_t position) {
  const std::u16string letter(1, static_cast<char16_t>(u'A' + position));
  std::vector<std::u16string> names;
  for (const char16_t* press : {u"", u"h", u"2", u"2h"}) {
    names.push_back(u"Button" + letter + press);
    names.push_back(u"Button" + letter + u"-RotateScreen" + press);
  }
  for (const char16_t* value : {u"Enabled", u"State", u"VirtualKey", u"HoldInterval", u"DblClickInterval"})
    names.push_back(value + letter);
  return names;
}

Settings Read(uint32_t position) {
  Settings settings;
  for (const std::u16string& name : ExpectedNames(position)) {
    std::u16string text = u"<missing>";
    uint32_t number = 0;
    if (ReadRegDword(kHklm, kSettingsKey, name, number)) {
      settings.numbers.push_back(number);
    } else {
      settings.numbers.push_back(-1);
      if (!ReadRegString(kHklm, kSettingsKey, name, text)) text = u"<missing>";
      settings.texts.push_back(text);
    }
  }
  return settings;
}

// Distinct settings for each entry, so that a mix-up shows.
void Give(uint32_t position, const std::u16string& tag, uint32_t number) {
  const std::u16string letter(1, static_cast<char16_t>(u'A' + position));
  for (const char16_t* press : {u"", u"h", u"2", u"2h"}) {
    WriteRegString(kHklm, kSettingsKey, u"Button" + letter + press, u"\\Windows\\" + tag + press + u".lnk");
    WriteRegString(kHklm, kSettingsKey, u"Button" + letter + u"-RotateScreen" + press, tag + press);
  }
  SetEnabled(position, number % 2 == 0);
  SetState(position, number);
  SetVirtualKey(position, number);
  WriteRegDword(kHklm, kSettingsKey, u"HoldInterval" + letter, 300 + number);
  WriteRegDword(kHklm, kSettingsKey, u"DblClickInterval" + letter, 600 + number);
}

UserButtonList List(std::initializer_list<std::pair<uint32_t, const char16_t*>> entries) {
  UserButtonList list;
  for (const auto& [code, name] : entries) list.Add(code, name);
  return list;
}

std::vector<std::u16string> StoredValues(const std::u16string& key) {
  std::vector<device::RegValue> values;
  device::ListValues(kHklm, key, &values);
  std::vector<std::u16string> names;
  for (const auto& value : values) names.push_back(value.name);
  std::sort(names.begin(), names.end());
  return names;
}

using UserButtonChanges = LoggedDeviceTest;

TEST_F(UserButtonChanges, RemovingAnEntryMovesTheLaterOnesWithTheirSettings) {
  constexpr uint32_t kHardware = 3;
  // The middle of three: the third takes the second's place with its own settings.
  ASSERT_TRUE(List({{0x75, u"Up"}, {0x76, u"Down"}, {0xC7, u"Side"}}).Save());
  Give(3, u"up", 4);
  Give(4, u"down", 5);
  Give(5, u"side", 6);
  const Settings up = Read(3), side = Read(5), empty = Read(6);
  ASSERT_TRUE(ChangeUserButtons(kHardware, List({{0x75, u"Up"}, {0xC7, u"Side"}})));
  EXPECT_EQ(Read(3), up);
  EXPECT_EQ(Read(4), side);
  EXPECT_EQ(Read(5), empty);  // the removed entry's settings are gone
  EXPECT_EQ(StoredValues(kUserButtonsKey), (std::vector<std::u16string>{u"B0", u"B1", u"H0", u"H1"}));
  EXPECT_TRUE(StoredValues(kUserButtonChangeKey).empty());

  // The first of two, with no hardware buttons: position 0 is 'A'.
  ASSERT_TRUE(ChangeUserButtons(0, List({{0x75, u"Up"}, {0xC7, u"Side"}})));
  Give(0, u"first", 8);
  Give(1, u"second", 9);
  const Settings second = Read(1);
  ASSERT_TRUE(ChangeUserButtons(0, List({{0xC7, u"Side"}})));
  EXPECT_EQ(Read(0), second);
  EXPECT_EQ(Read(1), empty);
  UserButtonList stored;
  stored.Load();
  ASSERT_EQ(stored.Count(), 1u);
  EXPECT_EQ(stored.NameAt(0), u"Side");
}

// Named here, not through the list the code moves: a value left out of it
// would stay behind at the old position.
TEST_F(UserButtonChanges, AButtonsOwnTimingAndKeyMoveWithIt) {
  ASSERT_TRUE(List({{0x75, u"Up"}, {0xC7, u"Side"}}).Save());
  // Three hardware buttons: Up is D, Side is E.
  ASSERT_TRUE(WriteRegDword(kHklm, kSettingsKey, u"HoldIntervalE", 250));
  ASSERT_TRUE(WriteRegDword(kHklm, kSettingsKey, u"DblClickIntervalE", 700));
  ASSERT_TRUE(WriteRegDword(kHklm, kSettingsKey, u"VirtualKeyE", 0xC7));
  ASSERT_TRUE(WriteRegString(kHklm, kSettingsKey, u"ButtonE2h", u"<Today>"));
  ASSERT_TRUE(WriteRegDword(kHklm, kSettingsKey, u"HoldIntervalD", 900));
  ASSERT_TRUE(ChangeUserButtons(3, List({{0xC7, u"Side"}})));
  uint32_t number = 0;
  std::u16string text;
  for (const auto& [name, expected] : {std::pair{u"HoldIntervalD", 250u}, {u"DblClickIntervalD", 700u},
                                       {u"VirtualKeyD", 0xC7u}}) {
    EXPECT_TRUE(ReadRegDword(kHklm, kSettingsKey, name, number)) << device::ToUtf8(name);
    EXPECT_EQ(number, expected) << device::ToUtf8(name);
  }
  EXPECT_TRUE(ReadRegString(kHklm, kSettingsKey, u"ButtonD2h", text));
  EXPECT_EQ(text, u"<Today>");
  for (const char16_t* gone : {u"HoldIntervalE", u"DblClickIntervalE", u"VirtualKeyE", u"ButtonE2h"})
    EXPECT_FALSE(ReadRegDword(kHklm, kSettingsKey, gone, number) || ReadRegString(kHklm, kSettingsKey, gone, text))
        << device::ToUtf8(gone);
}

TEST_F(UserButtonChanges, AddingAndRenamingLeaveEverySettingWhereItIs) {
  ASSERT_TRUE(List({{0x75, u"Up"}}).Save());
  Give(2, u"up", 4);
  // What is stored at the next position is the new button's: an assignment
  // made there before the button was added stays.
  Give(3, u"before", 9);
  const Settings before = Read(3);
  const Settings up = Read(2);
  ASSERT_TRUE(ChangeUserButtons(2, List({{0x75, u"Up"}, {0xC7, u"Side"}})));
  EXPECT_EQ(Read(2), up);
  EXPECT_EQ(Read(3), before);
  Give(3, u"side", 7);
  const Settings side = Read(3);

  UserButtonList renamed = List({{0x75, u"Up"}, {0xC7, u"Side"}});
  ASSERT_TRUE(renamed.Rename(0x75, u"Volume Up"));
  EXPECT_FALSE(renamed.Rename(0x10, u"nothing"));
  ASSERT_TRUE(ChangeUserButtons(2, renamed));
  EXPECT_EQ(Read(2), up);
  EXPECT_EQ(Read(3), side);
  std::u16string name;
  ASSERT_TRUE(ReadRegString(kHklm, kUserButtonsKey, u"B0", name));
  EXPECT_EQ(name, u"Volume Up");
}

TEST_F(UserButtonChanges, PositionsWhoseLettersNameLowerOnesAreNeverTouched) {
  // 40 stored entries beside 2 hardware buttons: positions 32 on ('a'...)
  // would name the values of positions 0 on, the hardware buttons'.
  UserButtonList forty;
  for (uint32_t k = 0; k < 40; ++k) forty.Add(0x30 + k, u"Key");
  ASSERT_TRUE(forty.Save());
  Give(0, u"hardware", 2);
  Give(1, u"hardware2", 3);
  const Settings hardware = Read(0), hardware2 = Read(1);
  UserButtonList fewer;
  for (uint32_t k = 1; k < 40; ++k) fewer.Add(0x30 + k, u"Key");
  ASSERT_TRUE(ChangeUserButtons(2, fewer));
  EXPECT_EQ(Read(0), hardware);
  EXPECT_EQ(Read(1), hardware2);
  UserButtonList stored;
  stored.Load();
  EXPECT_EQ(stored.Count(), 39u);
}

// No read that fails while a change reads the lists loses an entry: the
// change is refused, or the staged list waits for the next run.
TEST_F(UserButtonChanges, AListReadShortIsNeverStored) {
  ASSERT_TRUE(List({{0x75, u"Up"}, {0x76, u"Down"}, {0xC7, u"Side"}}).Save());
  const UserButtonList four = List({{0x75, u"Up"}, {0x76, u"Down"}, {0xC7, u"Side"}, {0x77, u"Fourth"}});
  for (uint32_t call = 1;; ++call) {
    ASSERT_LT(call, 500u);
    plat::faults::Clear();
    const uint32_t reads = plat::faults::Calls(plat::faults::Op::RegistryRead);
    plat::faults::FailCall(plat::faults::Op::RegistryRead, call, plat::kErrorRegistryIoFailed);
    const bool done = ChangeUserButtons(0, four);
    const bool fired = plat::faults::Calls(plat::faults::Op::RegistryRead) - reads >= call;
    plat::faults::Clear();
    ASSERT_TRUE(FinishUserButtonChange()) << "call " << call;
    UserButtonList stored;
    stored.Load();
    ASSERT_EQ(stored.ReadError(), 0u);
    // Before or after, never shorter than either.
    EXPECT_TRUE(stored.Count() == 3 || stored.Count() == 4) << "call " << call << ": " << stored.Count();
    if (!fired) {
      EXPECT_TRUE(done);
      EXPECT_EQ(stored.Count(), 4u);
      break;
    }
    ASSERT_TRUE(List({{0x75, u"Up"}, {0x76, u"Down"}, {0xC7, u"Side"}}).Save());
  }
}

TEST_F(UserButtonChanges, AChangeCutShortIsCompletedByTheNextRun) {
  const auto three = [] {
    ASSERT_TRUE(List({{0x75, u"Up"}, {0x76, u"Down"}, {0xC7, u"Side"}}).Save());
    Give(1, u"up", 4);
    Give(2, u"down", 5);
    Give(3, u"side", 6);
  };
  three();
  const Settings up = Read(1), down = Read(2), side = Read(3), empty = Read(9);
  // Every write of the change fails in turn, as a kill there would end it.
  // Before the change is staged whole nothing has changed; after, the next
  // run completes it: never a mix.
  int before = 0, after = 0;
  for (uint32_t call = 1;; ++call) {
    ASSERT_LT(call, 500u);
    plat::faults::Clear();
    three();
    const uint32_t writes = plat::faults::Calls(plat::faults::Op::RegistryWrite);
    plat::faults::FailCall(plat::faults::Op::RegistryWrite, call, plat::kErrorRegistryIoFailed);
    const bool done = ChangeUserButtons(1, List({{0x75, u"Up"}, {0xC7, u"Side"}}));
    const bool fired = plat::faults::Calls(plat::faults::Op::RegistryWrite) - writes >= call;
    plat::faults::Clear();
    if (!fired) {
      EXPECT_TRUE(done);
      break;
    }
    EXPECT_FALSE(done) << "call " << call;
    // What the person is told: pending exactly when the next run completes it.
    const bool pending = UserButtonChangePending();
    ASSERT_TRUE(FinishUserButtonChange()) << "call " << call;
    EXPECT_TRUE(StoredValues(kUserButtonChangeKey).empty()) << "call " << call;
    UserButtonList stored;
    stored.Load();
    EXPECT_EQ(Read(1), up) << "call " << call;
    if (stored.Count() == 3) {
      ++before;
      EXPECT_FALSE(pending) << "call " << call;
      EXPECT_EQ(Read(2), down) << "call " << call;
      EXPECT_EQ(Read(3), side) << "call " << call;
    } else {
      ++after;
      EXPECT_TRUE(pending) << "call " << call;
      ASSERT_EQ(stored.Count(), 2u) << "call " << call;
      EXPECT_EQ(stored.NameAt(1), u"Side");
      EXPECT_EQ(Read(2), side) << "call " << call;
      EXPECT_EQ(Read(3), empty) << "call " << call;
    }
  }
  EXPECT_GT(before, 0);
  EXPECT_GT(after, 0);
  EXPECT_EQ(Read(2), side);
}

// A change staged whole and cut short is finished by a later run, or kept
// for the one after: a read that fails on the way never drops it.
TEST_F(UserButtonChanges, AStagedChangeIsFinishedOrKeptNeverDropped) {
  namespace faults = plat::faults;
  const auto staged_and_cut_short = [](uint32_t failing_write) {
    faults::Clear();
    DeleteRegKey(kHklm, kUserButtonChangeKey);  // each trial from the same start
    ASSERT_TRUE(List({{0x75, u"Up"}, {0x76, u"Down"}, {0xC7, u"Side"}}).Save());
    Give(1, u"up", 4);
    Give(2, u"down", 5);
    Give(3, u"side", 6);
    faults::FailCallsFrom(faults::Op::RegistryWrite, failing_write,
                          plat::kErrorRegistryIoFailed);
    ChangeUserButtons(1, List({{0x75, u"Up"}, {0xC7, u"Side"}}));
    faults::Clear();
  };
  staged_and_cut_short(1000);  // no write fails: the change as it should end
  const Settings side = Read(2), empty = Read(3);
  ASSERT_NE(side, empty);
  // The first write whose failure leaves the change staged.
  uint32_t cut = 1;
  for (staged_and_cut_short(cut); !UserButtonChangePending(); staged_and_cut_short(++cut)) ASSERT_LT(cut, 500u);

  int kept = 0;
  for (uint32_t read = 1;; ++read) {
    ASSERT_LT(read, 500u);
    staged_and_cut_short(cut);
    ASSERT_TRUE(UserButtonChangePending());
    const uint32_t reads = faults::Calls(faults::Op::RegistryRead);
    faults::FailCall(faults::Op::RegistryRead, read, plat::kErrorRegistryIoFailed);
    const bool finished = FinishUserButtonChange();
    const bool fired = faults::Calls(faults::Op::RegistryRead) - reads >= read;
    faults::Clear();
    if (!fired) break;
    if (!finished) {
      ++kept;
      EXPECT_TRUE(UserButtonChangePending()) << "read " << read;
    }
    ASSERT_TRUE(FinishUserButtonChange()) << "read " << read;
    UserButtonList stored;
    stored.Load();
    ASSERT_EQ(stored.Count(), 2u) << "read " << read;
    EXPECT_EQ(Read(2), side) << "read " << read;
    EXPECT_EQ(Read(3), empty) << "read " << read;
  }
  EXPECT_GT(kept, 0);
}

}  // namespace
