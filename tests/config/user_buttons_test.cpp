#include "shared/user_buttons.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "platform/faults.h"
#include "tests/config/config_test_support.h"

namespace {

using namespace config_test;

void Store(int position, const char16_t* name, uint32_t key_code) {
  const std::u16string number = device::FromUtf8(std::to_string(position));
  ASSERT_TRUE(WriteRegString(kHklm, kUserButtonsKey, u"B" + number, name));
  ASSERT_TRUE(WriteRegDword(kHklm, kUserButtonsKey, u"H" + number, key_code));
}

std::vector<std::pair<std::u16string, uint32_t>> Entries(const UserButtonList& list) {
  std::vector<std::pair<std::u16string, uint32_t>> entries;
  for (size_t i = 0; i < list.Count(); ++i) entries.emplace_back(list.NameAt(i), list.KeyCodeAt(i));
  return entries;
}

std::vector<std::u16string> StoredValueNames() {
  std::vector<device::RegValue> values;
  device::ListValues(kHklm, kUserButtonsKey, &values);
  std::vector<std::u16string> names;
  for (const auto& value : values) names.push_back(value.name);
  return names;
}

using UserButtonsTest = LoggedDeviceTest;

TEST_F(UserButtonsTest, LoadStopsAtTheFirstGap) {
  Store(0, u"Volume up", 0x75);
  Store(1, u"Volume down", 0x76);
  Store(3, u"Beyond the gap", 0x77);
  UserButtonList list;
  list.Add(1, u"stale");
  list.Load();
  EXPECT_EQ(Entries(list), (std::vector<std::pair<std::u16string, uint32_t>>{
                               {u"Volume up", 0x75}, {u"Volume down", 0x76}}));
}

// A list that ends where the registry could not be read is not the stored
// list: it says so, where a missing or odd value ends every read alike.
TEST_F(UserButtonsTest, AFailedReadIsToldFromTheListsEnd) {
  Store(0, u"First", 1);
  Store(1, u"Second", 2);
  UserButtonList list;
  list.Load();
  EXPECT_EQ(list.ReadError(), 0u) << "ended by the missing B2";
  const auto whole = Entries(list);
  // Each call of the load fails in turn: the entries before it stay, and the
  // failure tells.
  for (plat::faults::Op op : {plat::faults::Op::RegistryOpen, plat::faults::Op::RegistryRead}) {
    plat::faults::Clear();
    list.Load();
    const uint32_t calls = plat::faults::Calls(op);
    ASSERT_GT(calls, 2u);
    for (uint32_t k = 1; k < calls; ++k) {  // the last finds B2 missing
      SCOPED_TRACE(std::string(plat::faults::Name(op)) + " call " + std::to_string(k));
      plat::faults::Clear();
      plat::faults::FailCall(op, k, plat::kErrorRegistryIoFailed);
      list.Load();
      plat::faults::Clear();
      EXPECT_EQ(list.ReadError(), plat::kErrorRegistryIoFailed);
      const auto read = Entries(list);
      ASSERT_LT(read.size(), whole.size());
      EXPECT_TRUE(std::equal(read.begin(), read.end(), whole.begin()));
    }
  }
  list.Load();
  EXPECT_EQ(list.ReadError(), 0u);
  EXPECT_EQ(list.Count(), 2u);
}

TEST_F(UserButtonsTest, ANameWithoutItsKeyCodeEndsTheList) {
  Store(0, u"First", 1);
  ASSERT_TRUE(WriteRegString(kHklm, kUserButtonsKey, u"B1", u"Half"));
  Store(2, u"Third", 3);
  // A key code stored as text cannot be read as one.
  ASSERT_TRUE(WriteRegString(kHklm, kUserButtonsKey, u"H1", u"12"));
  UserButtonList list;
  list.Load();
  EXPECT_EQ(Entries(list), (std::vector<std::pair<std::u16string, uint32_t>>{{u"First", 1}}));
  // Nor is a name stored as a number one; either is the list's end, not a
  // failed read.
  ASSERT_TRUE(WriteRegDword(kHklm, kUserButtonsKey, u"B1", 5));
  ASSERT_TRUE(WriteRegDword(kHklm, kUserButtonsKey, u"H1", 2));
  list.Load();
  EXPECT_EQ(Entries(list), (std::vector<std::pair<std::u16string, uint32_t>>{{u"First", 1}}));
  EXPECT_EQ(list.ReadError(), 0u);
}

TEST_F(UserButtonsTest, ARepeatedKeyCodeKeepsTheLaterEntryAtTheEnd) {
  Store(0, u"Volume", 5);
  Store(1, u"Other", 6);
  Store(2, u"Volume 2", 5);
  Store(10, u"Far", 9);
  UserButtonList list;
  list.Load();
  EXPECT_EQ(Entries(list), (std::vector<std::pair<std::u16string, uint32_t>>{
                               {u"Other", 6}, {u"Volume 2", 5}}));
}

TEST_F(UserButtonsTest, MissingKeyIsAnEmptyList) {
  UserButtonList list;
  list.Load();
  EXPECT_EQ(list.Count(), 0u);
  EXPECT_EQ(list.NameAt(0), u"");
  EXPECT_EQ(list.KeyCodeAt(0), 0u);
}

TEST_F(UserButtonsTest, AddRemoveAndClear) {
  UserButtonList list;
  list.Add(1, u"One");
  list.Add(2, u"Two");
  list.Add(3, u"Same name");
  list.Add(4, u"Same name");
  list.Add(1, u"One again");
  list.Remove(3);
  list.Remove(42);
  EXPECT_EQ(Entries(list), (std::vector<std::pair<std::u16string, uint32_t>>{
                               {u"Two", 2}, {u"Same name", 4}, {u"One again", 1}}));
  list.Clear();
  EXPECT_EQ(list.Count(), 0u);
}

TEST_F(UserButtonsTest, SaveReplacesALongerStoredList) {
  Store(0, u"A", 1);
  Store(1, u"B", 2);
  Store(2, u"C", 3);
  ASSERT_TRUE(WriteRegString(kHklm, kUserButtonsKey, u"Unrelated", u"x"));
  UserButtonList list;
  list.Add(7, u"Only");
  EXPECT_TRUE(list.Save());
  EXPECT_EQ(StoredValueNames(), (std::vector<std::u16string>{u"B0", u"H0"}));

  UserButtonList loaded;
  loaded.Load();
  EXPECT_EQ(Entries(loaded), (std::vector<std::pair<std::u16string, uint32_t>>{{u"Only", 7}}));
}

TEST_F(UserButtonsTest, SaveRoundTripsTwelveEntriesAndEmptyLeavesNoKey) {
  UserButtonList list;
  for (uint32_t code = 100; code < 112; ++code)
    list.Add(code, u"Button " + device::FromUtf8(std::to_string(code)));
  ASSERT_TRUE(list.Save());
  UserButtonList loaded;
  loaded.Load();
  EXPECT_EQ(Entries(loaded), Entries(list));  // B10 and B11 come back after B9

  UserButtonList empty;
  EXPECT_TRUE(empty.Save());
  EXPECT_FALSE(device::KeyExists(kHklm, kUserButtonsKey));
}

TEST_F(UserButtonsTest, SaveReportsAFailedWrite) {
  UserButtonList list;
  list.Add(1, u"One");
  list.Add(2, u"Two");
  // The deletion finds no key; the first write then fails.
  plat::faults::FailCall(plat::faults::Op::RegistryDelete, 1, plat::kErrorFileNotFound);
  plat::faults::FailCall(plat::faults::Op::RegistryWrite, 1, plat::kErrorAccessDenied);
  EXPECT_FALSE(list.Save());
  plat::faults::Clear();
  // The writes after the failed one were still made.
  EXPECT_EQ(StoredValueNames(), (std::vector<std::u16string>{u"B1", u"H0", u"H1"}));
  // Only the failed write leaves a line; the missing key is no failure.
  EXPECT_EQ(LogLines(), std::vector<std::string>{"  Error writing reg string B0: 5"});

  // Every failure has a line of its own, with its own code.
  ClearLog();
  UserButtonList one;
  one.Add(3, u"Three");
  plat::faults::FailCall(plat::faults::Op::RegistryDelete, 1, plat::kErrorAccessDenied);
  plat::faults::FailCall(plat::faults::Op::RegistryWrite, 1, plat::kErrorInvalidHandle);
  plat::faults::FailCall(plat::faults::Op::RegistryWrite, 2, plat::kErrorGenFailure);
  EXPECT_FALSE(one.Save());
  plat::faults::Clear();
  EXPECT_EQ(LogLines(), (std::vector<std::string>{
                            "  Error deleting reg key Software\\Quadrakey\\Hotkeys: 5",
                            "  Error writing reg string B0: 6",
                            "  Error writing reg dword H0: 31",
                        }));
}

TEST_F(UserButtonsTest, SaveReportsAFailedDeletion) {
  Store(0, u"A", 1);
  Store(1, u"B", 2);
  UserButtonList list;
  list.Add(7, u"Only");
  plat::faults::FailCall(plat::faults::Op::RegistryDelete, 1, plat::kErrorAccessDenied);
  EXPECT_FALSE(list.Save());
  plat::faults::Clear();
  EXPECT_EQ(LogLines(),
            std::vector<std::string>{"  Error deleting reg key Software\\Quadrakey\\Hotkeys: 5"});
  UserButtonList loaded;
  loaded.Load();
  EXPECT_EQ(loaded.NameAt(0), u"Only");
}

}  // namespace
