#include "keylistener/listener_icon.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/log_bound_device_test.h"

namespace {

using ListenerIconTest = LogBoundDeviceTest;  // key names come from the device

ListenedButton Button(const std::u16string& name, uint32_t key, bool listening, bool held) {
  ListenedButton button;
  button.name = name;
  button.key_code = key;
  button.listening = listening;
  button.held_elsewhere = held;
  return button;
}

std::vector<std::u16string> Texts(const ListenerIcon& icon) {
  std::vector<std::u16string> texts;
  for (const plat::TrayMenuItem& item : icon.menu) texts.push_back(item.text);
  return texts;
}

TEST_F(ListenerIconTest, TheTipAndMenuTellWhichKeysAreListenedToHeldOrPaused) {
  const std::vector<ListenedButton> buttons = {Button(u"Notes", 0x7C, true, false),
                                               Button(u"Media", 0x7D, false, true),
                                               Button(u"Off", 0x7E, false, false),  // a hardware button's key
                                               Button(u"Mail", 0x7F, true, false)};
  const ListenerIcon icon = DescribeListener(buttons, false);
  EXPECT_EQ(icon.tip, u"Quadrakey: listening to 2 keys, 1 held by another program");
  const std::vector<std::u16string> expected = {u"Notes (F13)", u"Media (F14): held by another program, tried again",
                                                u"Mail (F16)", u"", kOpenTapdeckText, kPauseText, kQuitText};
  EXPECT_EQ(Texts(icon), expected);
  // Only the three actions can be chosen, each with its own command.
  EXPECT_EQ(icon.menu[0].command, 0u);
  EXPECT_EQ(icon.menu[4].command, kIconOpenTapdeck);
  EXPECT_EQ(icon.menu[5].command, kIconPause);
  EXPECT_EQ(icon.menu[6].command, kIconQuit);

  const ListenerIcon paused = DescribeListener(buttons, true);
  EXPECT_EQ(paused.tip, u"Quadrakey: paused");
  EXPECT_EQ(paused.menu[0].text, u"Notes (F13): paused");
  EXPECT_EQ(paused.menu[paused.menu.size() - 2].text, kResumeText);
  EXPECT_EQ(paused.menu[paused.menu.size() - 2].command, kIconPause);

  EXPECT_EQ(DescribeListener({buttons[0]}, false).tip, u"Quadrakey: listening to 1 key");
  // No key: no separator before the actions.
  EXPECT_EQ(DescribeListener({}, false).menu.size(), 3u);
}

TEST_F(ListenerIconTest, ALongOrOddNameKeepsToOneShortMenuLine) {
  const ListenerIcon icon = DescribeListener({Button(std::u16string(300, u'x') + u"\n", 0x7C, true, false),
                                              Button(u"A\tB", 0x7D, true, false)},
                                             false);
  EXPECT_EQ(icon.menu[0].text, std::u16string(40, u'x') + u"\u2026 (F13)");
  EXPECT_EQ(icon.menu[1].text, u"A B (F14)");
}

}  // namespace
