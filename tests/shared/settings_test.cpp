#include "shared/settings.h"

#include <gtest/gtest.h>

#include <list>
#include <string>

#include "platform/platform.h"
#include "shared/debuglog.h"
#include "tests/shared/device_file.h"
#include "tests/support/log_bound_device_test.h"

namespace {

using plat::RegRoot;
const std::u16string kKey = kSettingsKey;

// Stores raw bytes of any type, as another program or a damaged registry might.
void StoreRaw(const std::u16string& name, uint32_t type, const void* data, uint32_t size) {
  plat::RegKey key = plat::RegCreateKey(RegRoot::Product, kKey, plat::kKeySetValue);
  ASSERT_NE(key, nullptr);
  EXPECT_TRUE(plat::RegSetValue(key, name, type, data, size));
  plat::RegCloseKey(key);
}

uint32_t StoredDword(const std::u16string& name) {
  uint32_t value = 0xDEADBEEF;
  EXPECT_TRUE(ReadRegDword(RegRoot::Product, kKey, name, value));
  return value;
}

bool SettingsKeyExists() {
  plat::RegKey key = plat::RegOpenKey(RegRoot::Product, kKey, plat::kKeyQueryValue);
  if (key != nullptr) plat::RegCloseKey(key);
  return key != nullptr;
}

class SettingsTest : public LogBoundDeviceTest {
 protected:
  void StartLog() {
    SetLogFile(kLog);
    SetLogFlush(true);
    ResetLogFile();
    EnableLog(true);
  }
  const std::u16string kLog = u"\\settings.log";
};

TEST(ValueNames, SlotNamesCarryLetterCountAndHold) {
  EXPECT_EQ(SlotValueName(0, 1, false), u"ButtonA");
  EXPECT_EQ(SlotValueName(0, 1, true), u"ButtonAh");
  EXPECT_EQ(SlotValueName(0, 2, false), u"ButtonA2");
  EXPECT_EQ(SlotValueName(1, 2, true), u"ButtonB2h");
  EXPECT_EQ(SlotValueName(3, 1, true), u"ButtonDh");
  // Letters continue past Z, and only the low 16 bits of the index count.
  EXPECT_EQ(SlotValueName(25, 1, false), u"ButtonZ");
  EXPECT_EQ(SlotValueName(26, 1, false), u"Button[");
  EXPECT_EQ(SlotValueName(0x10001, 1, false), u"ButtonB");
}

TEST(ValueNames, LaunchParamsAndPerButtonNames) {
  EXPECT_EQ(LaunchParamsValueName(u"RotateScreen", 0, 1, false), u"ButtonA-RotateScreen");
  EXPECT_EQ(LaunchParamsValueName(u"RotateScreen", 2, 2, true), u"ButtonC-RotateScreen2h");
  EXPECT_EQ(ButtonValueName(u"EnabledA", 0), u"EnabledA");
  EXPECT_EQ(ButtonValueName(u"StateA", 2), u"StateC");
  EXPECT_EQ(ButtonValueName(u"VirtualKeyA", 27), u"VirtualKey\\");
}

TEST(ValueNames, OverlongParameterKeyAndWrappedLetterAreRefused) {
  const std::u16string longest(79, u'k');
  const std::u16string name = LaunchParamsValueName(longest, 0, 2, true);
  EXPECT_EQ(name, u"ButtonA-" + longest + u"2h");
  EXPECT_EQ(name.size(), 89u);  // fills the 90-character buffer exactly
  EXPECT_EQ(LaunchParamsValueName(std::u16string(80, u'k'), 0, 1, false), u"");
  // 'A' + 0xFFBF wraps to a zero, which would cut the name short.
  EXPECT_EQ(SlotValueName(0xFFBF, 1, false), u"");
  EXPECT_EQ(ButtonValueName(u"StateA", 0xFFBF), u"");
}

TEST_F(SettingsTest, MissingValuesGiveTheirDefaults) {
  EXPECT_EQ(GetShortcut(0, 1, false), u"");
  EXPECT_EQ(GetLaunchParams(u"RotateScreen", 0, 1, false), u"");
  EXPECT_TRUE(GetEnabled(0));
  EXPECT_EQ(GetState(0), 0u);
  EXPECT_EQ(GetVirtualKey(0), 0u);
  EXPECT_EQ(ReadSettingDword(u"HoldInterval", 400), 400u);
  EXPECT_EQ(ReadSettingDword(u"DblClickInterval", 400), 400u);
  EXPECT_FALSE(SettingsKeyExists()) << "reads must not create the key";
}

TEST_F(SettingsTest, WritesCreateTheKeyAndReadBackPerSlot) {
  ASSERT_FALSE(SettingsKeyExists());
  SetShortcut(1, 1, false, u"\\Windows\\Start Menu\\Notes.lnk");
  EXPECT_TRUE(SettingsKeyExists());
  SetShortcut(1, 1, true, u"<Today>");
  SetShortcut(1, 2, false, u"\\My Documents\\a.txt");
  SetShortcut(1, 2, true, u"<Rotate Screen>");
  SetLaunchParams(u"RotateScreen", 1, 2, true, u"5");
  EXPECT_EQ(GetShortcut(1, 1, false), u"\\Windows\\Start Menu\\Notes.lnk");
  EXPECT_EQ(GetShortcut(1, 1, true), u"<Today>");
  EXPECT_EQ(GetShortcut(1, 2, false), u"\\My Documents\\a.txt");
  EXPECT_EQ(GetShortcut(1, 2, true), u"<Rotate Screen>");
  EXPECT_EQ(GetShortcut(0, 1, false), u"") << "another button's slot";
  EXPECT_EQ(GetLaunchParams(u"RotateScreen", 1, 2, true), u"5");
  EXPECT_EQ(GetLaunchParams(u"RotateScreen", 1, 1, false), u"");

  // An empty assignment is stored, and reads back empty.
  SetShortcut(1, 1, false, u"");
  EXPECT_EQ(GetShortcut(1, 1, false), u"");

  SetState(2, 5);
  EXPECT_EQ(GetState(2), 5u);
  EXPECT_EQ(GetState(1), 0u);
  EXPECT_EQ(StoredDword(u"StateC"), 5u);

  const std::u16string fresh_key = u"Software\\Quadrakey\\Fresh";
  EXPECT_TRUE(WriteRegDword(RegRoot::Product, fresh_key, u"N", 9));
  uint32_t n = 0;
  EXPECT_TRUE(ReadRegDword(RegRoot::Product, fresh_key, u"N", n));
  EXPECT_EQ(n, 9u);
}

TEST_F(SettingsTest, ButtonsWhoseLettersAreSurrogatesKeepTheirOwnSettings) {
  // 'A' + these indexes are lone surrogates: names the registry must keep apart.
  const uint32_t first = 0xD800 - u'A', second = 0xD801 - u'A', low = 0xDC00 - u'A';
  SetShortcut(first, 1, false, u"first");
  SetShortcut(second, 1, false, u"second");
  SetShortcut(low, 1, false, u"low");
  SetState(first, 1);
  SetState(second, 2);
  EXPECT_EQ(GetShortcut(first, 1, false), u"first");
  EXPECT_EQ(GetShortcut(second, 1, false), u"second");
  EXPECT_EQ(GetShortcut(low, 1, false), u"low");
  EXPECT_EQ(GetState(first), 1u);
  EXPECT_EQ(GetState(second), 2u);
}

TEST_F(SettingsTest, VirtualKeyKeepsLowEightBitsBothWays) {
  ASSERT_TRUE(WriteRegDword(RegRoot::Product, kKey, u"VirtualKeyA", 453));
  EXPECT_EQ(GetVirtualKey(0), 197u);
  SetVirtualKey(1, 453);
  EXPECT_EQ(StoredDword(u"VirtualKeyB"), 197u);
  EXPECT_EQ(GetVirtualKey(1), 197u);
}

TEST_F(SettingsTest, EnabledStoresOneOrZeroAndReadsAnyNonzeroAsTrue) {
  SetEnabled(0, false);
  EXPECT_EQ(StoredDword(u"EnabledA"), 0u);
  EXPECT_FALSE(GetEnabled(0));
  SetEnabled(0, true);
  EXPECT_EQ(StoredDword(u"EnabledA"), 1u);
  ASSERT_TRUE(WriteRegDword(RegRoot::Product, kKey, u"EnabledA", 7));
  EXPECT_TRUE(GetEnabled(0));
}

TEST_F(SettingsTest, StringReadsOfUnusualStoredData) {
  std::u16string value = u"left over";
  // A zero-length value is an empty text and a success.
  StoreRaw(u"Empty", plat::kRegSz, nullptr, 0);
  EXPECT_TRUE(ReadRegString(RegRoot::Product, kKey, u"Empty", value));
  EXPECT_EQ(value, u"");

  // Stored without its terminating zero.
  const char16_t bare[] = {u'a', u'b', u'c'};
  StoreRaw(u"Bare", plat::kRegSz, bare, sizeof(bare));
  EXPECT_TRUE(ReadRegString(RegRoot::Product, kKey, u"Bare", value));
  EXPECT_EQ(value, u"abc");

  // Only the text up to the first zero counts.
  const char16_t two[] = {u'x', u'y', 0, u'z', 0};
  StoreRaw(u"Two", plat::kRegSz, two, sizeof(two));
  EXPECT_TRUE(ReadRegString(RegRoot::Product, kKey, u"Two", value));
  EXPECT_EQ(value, u"xy");

  // A missing value fails with the platform's code and leaves the text empty.
  value = u"left over";
  EXPECT_FALSE(ReadRegString(RegRoot::Product, kKey, u"Nothing", value));
  EXPECT_EQ(plat::GetLastError(), plat::kErrorFileNotFound);
  EXPECT_EQ(value, u"");

  // A number is not a text: no made-up characters from its bytes.
  const uint32_t number = 400;
  StoreRaw(u"ButtonA", plat::kRegDword, &number, sizeof(number));
  value = u"left over";
  EXPECT_FALSE(ReadRegString(RegRoot::Product, kKey, u"ButtonA", value));
  EXPECT_EQ(value, u"");
  EXPECT_EQ(GetShortcut(0, 1, false), u"");
}

TEST_F(SettingsTest, DwordReadsOfWrongSizeOrTypeKeepTheDefault) {
  const uint8_t one_byte[] = {0x05};
  StoreRaw(u"HoldInterval", plat::kRegBinary, one_byte, sizeof(one_byte));
  EXPECT_EQ(ReadSettingDword(u"HoldInterval", 400), 400u) << "no mix of stored byte and default";

  const uint8_t eight[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  StoreRaw(u"DblClickInterval", plat::kRegBinary, eight, sizeof(eight));
  uint32_t value = 400;
  EXPECT_FALSE(ReadRegDword(RegRoot::Product, kKey, u"DblClickInterval", value));
  EXPECT_EQ(value, 400u);

  // "7" with its zero is four bytes, but text is not a number.
  const char16_t text[] = u"7";
  StoreRaw(u"StateA", plat::kRegSz, text, sizeof(text));
  EXPECT_EQ(GetState(0), 0u);

  // Four raw bytes are a number.
  const uint32_t raw = 250;
  StoreRaw(u"HoldInterval", plat::kRegBinary, &raw, sizeof(raw));
  EXPECT_EQ(ReadSettingDword(u"HoldInterval", 400), 250u);
}

TEST_F(SettingsTest, ResultStringIsOverwrittenByTheNextCall) {
  SetShortcut(0, 1, false, u"first");
  SetShortcut(1, 1, false, u"second");
  const std::u16string& shown = GetShortcut(0, 1, false);
  const std::u16string copy = shown;
  GetShortcut(1, 1, false);
  EXPECT_EQ(shown, u"second");
  EXPECT_EQ(copy, u"first");
  GetShortcut(2, 1, false);
  EXPECT_EQ(shown, u"") << "a failed read empties the result";

  SetLaunchParams(u"RotateScreen", 0, 1, false, u"3");
  SetLaunchParams(u"RotateScreen", 0, 2, false, u"12");
  const std::u16string& params = GetLaunchParams(u"RotateScreen", 0, 1, false);
  const std::u16string params_copy = params;
  GetLaunchParams(u"RotateScreen", 0, 2, false);
  EXPECT_EQ(params, u"12");
  EXPECT_EQ(params_copy, u"3");
  EXPECT_EQ(shown, u"") << "the two results are separate strings";
}

TEST_F(SettingsTest, ListSubkeysAppendsNamesOrFullPaths) {
  const std::u16string keys = u"SOFTWARE\\Microsoft\\Shell\\Keys";
  const std::u16string long_name(255, u'n');
  for (const std::u16string& sub : {std::u16string(u"40C1"), std::u16string(u"40C2"), long_name}) {
    ASSERT_TRUE(WriteRegString(RegRoot::LocalMachine, keys + u"\\" + sub, u"Name", u"x"));
  }
  std::list<std::u16string> full = {u"kept"};
  ASSERT_TRUE(ListRegSubkeys(RegRoot::LocalMachine, keys, true, full));
  ASSERT_EQ(full.size(), 4u);
  EXPECT_EQ(full.front(), u"kept");
  std::list<std::u16string> expected_full = {u"kept", keys + u"\\40C1", keys + u"\\40C2",
                                             keys + u"\\" + long_name};
  full.sort();
  expected_full.sort();
  EXPECT_EQ(full, expected_full);

  std::list<std::u16string> names;
  ASSERT_TRUE(ListRegSubkeys(RegRoot::LocalMachine, keys, false, names));
  names.sort();
  std::list<std::u16string> expected = {u"40C1", u"40C2", long_name};
  expected.sort();
  EXPECT_EQ(names, expected);

  // A key without subkeys lists nothing; a missing key fails silently.
  std::list<std::u16string> none = {u"kept"};
  EXPECT_TRUE(ListRegSubkeys(RegRoot::LocalMachine, keys + u"\\40C1", true, none));
  EXPECT_FALSE(ListRegSubkeys(RegRoot::LocalMachine, u"Software\\Missing", true, none));
  EXPECT_EQ(none, std::list<std::u16string>{u"kept"});
}

TEST_F(SettingsTest, DeleteKeyRemovesValuesAndSubkeys) {
  const std::u16string hotkeys = u"Software\\Quadrakey\\Hotkeys";
  ASSERT_TRUE(WriteRegString(RegRoot::Product, hotkeys, u"0", u"a"));
  ASSERT_TRUE(WriteRegString(RegRoot::Product, hotkeys + u"\\Inner", u"1", u"b"));
  EXPECT_TRUE(DeleteRegKey(RegRoot::Product, hotkeys));
  std::u16string value;
  EXPECT_FALSE(ReadRegString(RegRoot::Product, hotkeys, u"0", value));
  std::list<std::u16string> names;
  EXPECT_TRUE(ListRegSubkeys(RegRoot::Product, kKey, false, names));
  EXPECT_TRUE(names.empty());
  // Writing again starts from an empty list.
  ASSERT_TRUE(WriteRegString(RegRoot::Product, hotkeys, u"0", u"c"));
  EXPECT_FALSE(ReadRegString(RegRoot::Product, hotkeys + u"\\Inner", u"1", value));
}

TEST_F(SettingsTest, FailedStringReadsAreLoggedWithNameAndCode) {
  StartLog();
  GetShortcut(1, 2, true);
  GetLaunchParams(u"RotateScreen", 2, 2, true);
  SetShortcut(0, 1, false, u"x");
  GetShortcut(0, 1, false);  // succeeds: no line
  EXPECT_EQ(shared_test::ReadDeviceFile(kLog),
            "GetShortcut() Error reading reg string ButtonB2h: 2\n"
            "GetLaunchParams() Error reading reg string ButtonC-RotateScreen2h: 2\n");
}

TEST_F(SettingsTest, OverlongParameterKeyWritesAndLogsNothing) {
  StartLog();
  const std::u16string key(80, u'k');
  SetLaunchParams(key, 0, 1, false, u"5");
  EXPECT_FALSE(SettingsKeyExists());
  EXPECT_EQ(GetLaunchParams(key, 0, 1, false), u"");
  EXPECT_EQ(shared_test::ReadDeviceFile(kLog), "<missing>");
}

}  // namespace
