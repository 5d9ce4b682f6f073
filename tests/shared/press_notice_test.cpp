#include "shared/press_notice.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "shared/settings.h"
#include "tests/support/log_bound_device_test.h"

namespace {

using PressNoticeTest = LogBoundDeviceTest;

TEST(PressNoticeText, NamesTheButtonTheKindOfPressAndWhatItDid) {
  EXPECT_EQ(PressNoticeText(u"F13", 2, false, u"C:\\Users\\me\\Start Menu\\Notepad.lnk"),
            u"F13: double press \u2192 Notepad");
  EXPECT_EQ(PressNoticeText(u"F13", 1, false, u""), u"F13: single press \u2192 nothing assigned");
  EXPECT_EQ(PressNoticeText(u"Side", 1, true, u"<Page Up>"), u"Side: press and hold \u2192 <Page Up>");
  EXPECT_EQ(PressNoticeText(u"Side", 2, true, u"\\Windows\\notes.exe"),
            u"Side: double press and hold \u2192 notes.exe");
  // ".lnk" in any letter case goes; a name that is nothing but it stays whole.
  EXPECT_EQ(AssignmentShownName(u"/x/Mail.LNK"), u"Mail");
  EXPECT_EQ(AssignmentShownName(u"\\a\\.lnk"), u".lnk");
  EXPECT_EQ(AssignmentShownName(u"\\Windows\\Start Menu\\"), u"Start Menu");
  EXPECT_EQ(AssignmentShownName(u"Notes"), u"Notes");
}

TEST(PressNoticeText, OddAndOverLongNamesKeepToOneShortLine) {
  const std::u16string long_name(500, u'n');
  const std::u16string text = PressNoticeText(long_name, 1, false, u"\\x\\" + std::u16string(500, u'a') + u".lnk");
  EXPECT_EQ(text, std::u16string(kNoticeButtonChars - 1, u'n') + u"\u2026: single press \u2192 " +
                      std::u16string(kNoticeAssignmentChars - 1, u'a') + u"\u2026");
  // Line breaks and other control characters would break the line.
  EXPECT_EQ(PressNoticeText(u"Two\r\nlines\t", 1, false, u"A\x01" u"B"), u"Two  lines: single press \u2192 A B");
  // A blank name still says which press it was.
  EXPECT_EQ(PressNoticeText(u" \n ", 1, false, u""), u"A button: single press \u2192 nothing assigned");
  // A cut never leaves half of a character made of two code units.
  std::u16string emoji;
  for (int i = 0; i < 30; ++i) emoji += u"\U0001F600";
  const std::u16string cut = PressNoticeText(emoji, 1, false, u"");
  const size_t colon = cut.find(u": ");
  ASSERT_NE(colon, std::u16string::npos);
  EXPECT_EQ(cut[colon - 1], u'\u2026');
  EXPECT_FALSE(cut[colon - 2] >= 0xD800 && cut[colon - 2] <= 0xDBFF) << "a high surrogate left without its pair";
  EXPECT_LE(colon, kNoticeButtonChars);
}

TEST_F(PressNoticeTest, OnByDefaultOnAPcOffOnTheDeviceAndSwitchedByItsValue) {
  EXPECT_EQ(PressNoticeWanted(), plat::OnPc());
  ASSERT_TRUE(SetPressNoticeWanted(true));
  EXPECT_TRUE(PressNoticeWanted());
  ASSERT_TRUE(SetPressNoticeWanted(false));
  EXPECT_FALSE(PressNoticeWanted());
  EXPECT_EQ(ReadSettingDword(kPressNoticeValue, 7), 0u);
  // A value of another type reads as missing: the default.
  ASSERT_TRUE(WriteRegString(plat::RegRoot::Product, kSettingsKey, kPressNoticeValue, u"1"));
  EXPECT_EQ(PressNoticeWanted(), plat::OnPc());
}

}  // namespace
