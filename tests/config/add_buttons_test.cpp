#include "config/model/add_buttons.h"

#include <gtest/gtest.h>

#include "config/model/user_button_changes.h"
#include "platform/faults.h"
#include "tests/config/config_test_support.h"

namespace {

using namespace config_test;

TEST(ButtonNames, TypedNamesAreCleanedAndBounded) {
  EXPECT_EQ(CleanButtonName(u"  Volume\tup\r\n", u"F6"), u"Volume up");
  EXPECT_EQ(CleanButtonName(u"\x01\x7F  ", u"F6"), u"F6");
  EXPECT_EQ(CleanButtonName(u"", u"Side Key"), u"Side Key");
  EXPECT_EQ(CleanButtonName(std::u16string(1000, u'n'), u"F6"), std::u16string(kMaxButtonNameLength, u'n'));
  // A cut never leaves half of a character outside the basic plane.
  const std::u16string emoji = u"\U0001F3B9";
  const std::u16string typed = std::u16string(kMaxButtonNameLength - 1, u'k') + emoji + u"tail";
  EXPECT_EQ(CleanButtonName(typed, u"F6"), std::u16string(kMaxButtonNameLength - 1, u'k'));
}

using InterceptTest = LoggedDeviceTest;

TEST_F(InterceptTest, TheFirstKeyThatCanBeAButtonIsTakenAndNamed) {
  UserButtonList listed;
  listed.Add(0xC7, u"Camera");
  InterceptModel intercept(listed);
  // Escape still cancels, modifiers and auto-repeat are no new press.
  EXPECT_FALSE(intercept.OnKey(0x1B, false));
  EXPECT_FALSE(intercept.OnKey(0x10, false));
  EXPECT_FALSE(intercept.OnKey(0xA5, false));
  EXPECT_FALSE(intercept.OnKey(0x75, true));
  EXPECT_FALSE(intercept.Detected());
  EXPECT_TRUE(intercept.OnKey(0x75, false));
  EXPECT_EQ(intercept.KeyCode(), 0x75u);
  EXPECT_EQ(intercept.OfferedName(), plat::GetKeyName(0x75));
  // Afterwards keys are the name being typed.
  EXPECT_FALSE(intercept.OnKey(0x41, false));
  EXPECT_EQ(intercept.KeyCode(), 0x75u);

  InterceptModel again(listed);
  EXPECT_TRUE(again.OnKey(0xC7, false));
  EXPECT_EQ(again.OfferedName(), u"Camera");  // a listed key offers its own name
}

// A list read short is never the base of a change: stored, the entries
// past the failed read would be gone.
using AddButtonsModelTest = LoggedDeviceTest;

// Accept with the offered name of a listed key unchanged keeps the name as
// stored, however long; a name typed is still cut.
TEST_F(AddButtonsModelTest, ALongStoredNameAcceptedUnchangedStaysWhole) {
  const std::u16string long_name(100, u'n');
  UserButtonList list;
  list.Add(0x75, long_name);
  ASSERT_TRUE(list.Save());
  LaunchButtons buttons;
  AddButtonsModel model(buttons, nullptr, 0);
  EXPECT_EQ(model.Accept(0x75, long_name), AddButtonsModel::Accepted::kRenamed);
  UserButtonList stored;
  stored.Load();
  ASSERT_EQ(stored.Count(), 1u);
  EXPECT_EQ(stored.NameAt(0), long_name);
  EXPECT_EQ(model.Accept(0x75, long_name + u"x"), AddButtonsModel::Accepted::kRenamed);
  stored.Load();
  EXPECT_EQ(stored.NameAt(0), std::u16string(kMaxButtonNameLength, u'n'));
}

TEST_F(AddButtonsModelTest, AListReadShortIsNotChanged) {
  UserButtonList two;
  two.Add(0x75, u"Up");
  two.Add(0x76, u"Down");
  ASSERT_TRUE(two.Save());
  LaunchButtons buttons;
  AddButtonsModel model(buttons, nullptr, 0);
  const auto stored = [] {
    UserButtonList list;
    list.Load();
    std::vector<std::u16string> names;
    for (size_t i = 0; i < list.Count(); ++i) names.push_back(list.NameAt(i));
    return names;
  };
  const std::vector<std::u16string> both{u"Up", u"Down"};
  plat::faults::FailCall(plat::faults::Op::RegistryOpen, 2, plat::kErrorRegistryIoFailed);  // H0
  EXPECT_EQ(model.Accept(0x77, u"Third"), AddButtonsModel::Accepted::kFailed);
  plat::faults::Clear();
  EXPECT_EQ(stored(), both);
  // Refused, nothing waits for the next start: the notice must not promise it.
  EXPECT_EQ(AddButtonsModel::FailedNotice().find(u"next time"), std::u16string::npos);

  plat::faults::FailCall(plat::faults::Op::RegistryOpen, 3, plat::kErrorRegistryIoFailed);  // B1
  EXPECT_EQ(model.Lines().size(), 1u);
  plat::faults::Clear();
  // The person is told the list shows short, and why nothing is removed.
  EXPECT_EQ(model.ReadNotice().rfind(u"The list of buttons could not be read whole (error 1016)", 0), 0u);
  EXPECT_EQ(model.RemoveQuestion(0), u"") << "nothing is asked that Remove then refuses";
  EXPECT_EQ(model.Remove(0), AddButtonsModel::Removed::kUnread) << "the line shown may not be the stored one";
  EXPECT_EQ(stored(), both);
  EXPECT_EQ(model.Lines().size(), 2u);
  EXPECT_EQ(model.ReadNotice(), u"");
  // The question names the button of the line, and says Cancel keeps no copy.
  EXPECT_EQ(model.RemoveQuestion(1),
            u"Remove the button \"Down\"? Its four presses are forgotten, and its key starts nothing. This happens "
            u"at once: Cancel does not bring the button back.");
  EXPECT_EQ(model.RemoveQuestion(2), u"");
  EXPECT_EQ(model.RemoveQuestion(-1), u"");
  EXPECT_EQ(stored(), both) << "asking changes nothing";
  EXPECT_EQ(model.Remove(0), AddButtonsModel::Removed::kRemoved);
  EXPECT_EQ(stored(), std::vector<std::u16string>{u"Down"});
  EXPECT_EQ(model.Remove(5), AddButtonsModel::Removed::kNoLine);
}

// One failed write while a removal moves the settings: the change is
// finished at once, not left half done until the next start.
TEST_F(AddButtonsModelTest, ARemovalCutShortByOneFailedWriteIsFinishedAtOnce) {
  UserButtonList list;
  list.Add(0x75, u"Up");
  list.Add(0x76, u"Down");
  list.Add(0xC7, u"Side");
  LaunchButtons buttons;
  const uint32_t down = static_cast<uint32_t>(buttons.GetButtonCount()) + 1, side = down + 1;
  AddButtonsModel model(buttons, nullptr, 0);
  int finished = 0;
  for (uint32_t write = 1; write < 60; ++write) {
    ASSERT_TRUE(list.Save());
    SetShortcut(down, 1, false, u"<Page Up>");
    SetShortcut(side, 1, false, u"<Today>");
    ASSERT_EQ(model.Lines().size(), 3u);
    plat::faults::FailCall(plat::faults::Op::RegistryWrite, write, plat::kErrorRegistryIoFailed);
    const AddButtonsModel::Removed removed = model.Remove(1);
    plat::faults::Clear();
    EXPECT_FALSE(UserButtonChangePending()) << "write " << write;
    UserButtonList now;
    now.Load();
    if (removed == AddButtonsModel::Removed::kRemoved) {
      ++finished;
      ASSERT_EQ(now.Count(), 2u) << "write " << write;
      EXPECT_EQ(GetShortcut(down, 1, false), u"<Today>") << "Side moves with its own, write " << write;
      EXPECT_EQ(GetShortcut(side, 1, false), u"") << "write " << write;
    } else {
      // Refused whole: the person is told, nothing moved.
      EXPECT_EQ(removed, AddButtonsModel::Removed::kFailed);
      EXPECT_EQ(now.Count(), 3u) << "write " << write;
      EXPECT_EQ(GetShortcut(down, 1, false), u"<Page Up>") << "write " << write;
    }
  }
  EXPECT_GT(finished, 0);
}

}  // namespace
