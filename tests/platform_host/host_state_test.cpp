// Keys, input panel, display, windows and message boxes on the emulated
// device, and what each leaves in the journal.
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/host/device/device.h"
#include "tests/platform_host/host_support.h"
#include "tests/support/test_device.h"

using namespace plat;
using host_test::Events;

namespace {

class HostState : public DeviceTest {
 protected:
  static std::vector<int> KeysDown() {
    std::vector<int> keys;
    EXPECT_TRUE(device::KeysDown(&keys)) << GetLastError();
    return keys;
  }
  static device::DisplayState Display() {
    device::DisplayState state{99, true};
    EXPECT_TRUE(device::GetDisplay(&state)) << GetLastError();
    return state;
  }
};

TEST_F(HostState, KeysFollowTheTableAndKeyEvents) {
  EXPECT_EQ(GetAsyncKeyState(0xC1), 0);
  ASSERT_TRUE(device::SetKeyDown(0xC1, true));
  EXPECT_EQ(GetAsyncKeyState(0xC1), 0x8000);
  EXPECT_EQ(KeysDown(), std::vector<int>{0xC1});
  KeybdEvent(0xC1, 0, kKeyEventKeyUp | kKeyEventSilent, 0);
  EXPECT_EQ(GetAsyncKeyState(0xC1), 0);
  KeybdEvent(0x0D, 0, kKeyEventSilent, 0);
  bool down = false;
  EXPECT_TRUE(device::IsKeyDown(0x0D, &down) && down);
  EXPECT_EQ(GetAsyncKeyState(-1), 0);
  EXPECT_EQ(GetAsyncKeyState(4096), 0);

  auto keys = Events("key");
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_EQ(keys[0].fields, "\"vk\":193,\"up\":true,\"flags\":6");
  EXPECT_EQ(keys[1].fields, "\"vk\":13,\"up\":false,\"flags\":4");
  EXPECT_LT(keys[0].id, keys[1].id);
  EXPECT_GT(keys[0].t_ms, 1600000000000);
}

// The process's pid is kept, but a forked child journals and holds keys as
// itself: held under its parent's pid, a key would stay down after it ends.
TEST_F(HostState, AForkedChildIsItselfInTheJournalAndAsAKeysHolder) {
  KeybdEvent(0x41, 0, kKeyEventSilent, 0);  // the parent's pid is known now
  device::SetFolder(device_name_);  // no connection is carried into the child
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const bool ok = device::SetKeyDown(0xC3, true) && device::Journal("child", "");
    _exit(ok ? 0 : 1);
  }
  int status = -1;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  const auto said = Events("child");
  ASSERT_EQ(said.size(), 1u);
  EXPECT_EQ(said[0].pid, child);
  EXPECT_EQ(Events("key")[0].pid, getpid());
  EXPECT_EQ(GetAsyncKeyState(0xC3), 0) << "held by the parent, it would read as down";
}

// A launcher handed a press finds it among the device's key events: when
// its key went down, went up, and went down again for the next press;
// auto-repeat is no event. The dates are in the launcher's own clock.
TEST_F(HostState, AHandedPressIsFoundWithWhatFollowedIt) {
  OwnPress press;
  unsetenv(device::kPressVariable);
  EXPECT_FALSE(GetOwnPress(&press)) << "started by hand: no press";

  ASSERT_TRUE(device::SetKeyDown(0xC1, true));
  int64_t down_at = 0;
  ASSERT_TRUE(device::KeyDownAt(0xC1, &down_at));
  const std::string handed = std::to_string(0xC1) + ":" + std::to_string(down_at);
  setenv(device::kPressVariable, handed.c_str(), 1);
  ASSERT_TRUE(GetOwnPress(&press));
  EXPECT_EQ(press.virtual_key, 0xC1);
  EXPECT_TRUE(press.recorded);
  const uint64_t age = TickCount() - press.dates.down;
  EXPECT_LT(age, 60000u);
  EXPECT_EQ(press.dates.up, 0u);
  EXPECT_EQ(press.dates.next_down, 0u);

  Sleep(5);
  ASSERT_TRUE(device::SetKeyDown(0xC1, true));  // auto-repeat
  KeybdEvent(0xC2, 0, 0, 0);                    // another key
  ASSERT_TRUE(GetOwnPress(&press));
  EXPECT_EQ(press.dates.up, 0u) << "auto-repeat or another key is no key up";
  int64_t still = 0;
  ASSERT_TRUE(device::KeyDownAt(0xC1, &still));
  EXPECT_EQ(still, down_at) << "auto-repeat keeps the press's date";

  Sleep(5);
  KeybdEvent(0xC1, 0, kKeyEventKeyUp, 0);
  Sleep(5);
  ASSERT_TRUE(device::SetKeyDown(0xC1, true));
  ASSERT_TRUE(GetOwnPress(&press));
  // 5 ms apart or more, as whole milliseconds each cut down: 4 or more.
  EXPECT_GE(press.dates.up, press.dates.down + 4);
  EXPECT_GE(press.dates.next_down, press.dates.up + 4);
  EXPECT_LE(press.dates.next_down, TickCount());
  EXPECT_EQ(press.earlier_count, 0) << "the record holds nothing before it";

  // The next press knows the one before it: its down, up and the next down.
  int64_t next_at = 0;
  ASSERT_TRUE(device::KeyDownAt(0xC1, &next_at));
  const OwnPress first = press;
  setenv(device::kPressVariable, (std::to_string(0xC1) + ":" + std::to_string(next_at)).c_str(), 1);
  ASSERT_TRUE(GetOwnPress(&press));
  ASSERT_TRUE(press.recorded);
  ASSERT_EQ(press.earlier_count, 1);
  // (Each look maps the device's times to ticks afresh: within a tick.)
  EXPECT_NEAR(press.earlier[0].down, first.dates.down, 2);
  EXPECT_NEAR(press.earlier[0].up, first.dates.up, 2);
  EXPECT_EQ(press.earlier[0].next_down, press.dates.down);
  EXPECT_NEAR(press.dates.down, first.dates.next_down, 2);

  // A press the record no longer holds keeps its down, unrecorded.
  setenv(device::kPressVariable, (std::to_string(0xC1) + ":" + std::to_string(down_at - 1)).c_str(), 1);
  ASSERT_TRUE(GetOwnPress(&press));
  EXPECT_FALSE(press.recorded);
  EXPECT_NE(press.dates.down, 0u);
  EXPECT_EQ(press.dates.up, 0u);
  // Anything but "vk:time" hands nothing.
  for (const char* odd : {"", "193", "193:", "0:5", "255:5", "193:5x", "193:-4", "x:5"}) {
    setenv(device::kPressVariable, odd, 1);
    EXPECT_FALSE(GetOwnPress(&press)) << odd;
  }
  unsetenv(device::kPressVariable);
}

// A launcher looks at its press again and again while it waits, and knows
// it as its own by its key down: that must read the same at every look, in
// whatever part of a millisecond each look falls, or the launcher keeps an
// old record without the key up and takes a next press's key for a hold.
TEST_F(HostState, APressReadsAtOneTimeAtEveryLook) {
  ASSERT_TRUE(device::SetKeyDown(0xC1, true));
  int64_t down_at = 0;
  ASSERT_TRUE(device::KeyDownAt(0xC1, &down_at));
  setenv(device::kPressVariable, (std::to_string(0xC1) + ":" + std::to_string(down_at)).c_str(), 1);
  Sleep(3);
  OwnPress first;
  ASSERT_TRUE(GetOwnPress(&first));
  ASSERT_TRUE(device::SetKeyDown(0xC1, false));
  Sleep(3);
  for (int look = 0; look < 400; ++look) {
    OwnPress again;
    ASSERT_TRUE(GetOwnPress(&again));
    ASSERT_EQ(again.dates.down, first.dates.down) << "look " << look;
    ASSERT_NE(again.dates.up, 0u);
    usleep(130);  // the looks fall all over the millisecond
  }
  unsetenv(device::kPressVariable);
}

// A device made before keys were dated gets what it lacks when a key next
// moves; keys held on it stay down, and go up.
TEST_F(HostState, AnOlderDeviceLearnsToDateItsKeys) {
  ASSERT_TRUE(device::SetKeyDown(0xC3, true));
  device::SetFolder(device_name_);  // closes this process's connection
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2((device_name_ + "/registry.db").c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db,
                         "ALTER TABLE keys_down DROP COLUMN up_at; ALTER TABLE keys_down DROP COLUMN down_at;"
                         "DROP TABLE IF EXISTS key_watchers",
                         nullptr, nullptr, nullptr),
            SQLITE_OK)
      << sqlite3_errmsg(db);
  sqlite3_close(db);
  EXPECT_EQ(GetAsyncKeyState(0xC3), 0x8000);
  ASSERT_TRUE(device::SetKeyDown(0xC3, false));
  EXPECT_EQ(GetAsyncKeyState(0xC3), 0);
  ASSERT_TRUE(device::SetKeyDown(0xC1, true));
  int64_t down_at = 0;
  ASSERT_TRUE(device::KeyDownAt(0xC1, &down_at));
  EXPECT_GT(down_at, 0);
  setenv(device::kPressVariable, (std::to_string(0xC1) + ":" + std::to_string(down_at)).c_str(), 1);
  OwnPress press;
  ASSERT_TRUE(GetOwnPress(&press));
  EXPECT_TRUE(press.recorded);
  unsetenv(device::kPressVariable);
}

TEST_F(HostState, InputPanelInfoAndPreference) {
  SipInfo info{};
  info.size = sizeof info;
  info.flags = 0xFFFF;
  ASSERT_TRUE(ShSipInfo(kSpiGetSipInfo, 0, &info, 0));
  EXPECT_EQ(info.flags, 0u);
  ASSERT_TRUE(ShSipPreference(0x1234, kSipUp));
  ASSERT_TRUE(ShSipInfo(kSpiGetSipInfo, 0, &info, 0));
  EXPECT_EQ(info.flags, kSipfOn);
  ASSERT_TRUE(ShSipPreference(0x1234, kSipForceDown));
  bool shown = true;
  EXPECT_TRUE(device::IsSipShown(&shown) && !shown);

  info.size = 44;
  EXPECT_FALSE(ShSipInfo(kSpiGetSipInfo, 0, &info, 0));
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  info.size = sizeof info;
  EXPECT_FALSE(ShSipInfo(224, 0, &info, 0));
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  EXPECT_FALSE(ShSipInfo(kSpiGetSipInfo, 0, nullptr, 0));
  EXPECT_FALSE(ShSipPreference(0x1234, 7));

  auto sips = Events("sip");
  ASSERT_EQ(sips.size(), 2u);
  EXPECT_EQ(sips[0].fields, "\"request\":0,\"shown\":true");
  EXPECT_EQ(sips[1].fields, "\"request\":2,\"shown\":false");
}

TEST_F(HostState, DisplayTurnsOnlyWhenSupportedAndValid) {
  uint32_t orientation = 99;
  ASSERT_TRUE(QueryDisplayOrientation(&orientation));
  EXPECT_EQ(orientation, kDmdo0);
  EXPECT_EQ(SetDisplayOrientation(kDmdo270), kDispChangeSuccessful);
  ASSERT_TRUE(QueryDisplayOrientation(&orientation));
  EXPECT_EQ(orientation, kDmdo270);
  EXPECT_EQ(SetDisplayOrientation(3), kDispChangeBadParam);
  EXPECT_EQ(Display().orientation, kDmdo270);

  ASSERT_TRUE(device::SetDisplay({kDmdo0, false}));
  EXPECT_EQ(SetDisplayOrientation(kDmdo90), kDispChangeBadMode);
  EXPECT_FALSE(QueryDisplayOrientation(&orientation));
  EXPECT_EQ(Display().orientation, kDmdo0);

  auto displays = Events("display");
  ASSERT_EQ(displays.size(), 3u);
  EXPECT_EQ(displays[0].fields, "\"orientation\":270,\"ok\":true");
  EXPECT_EQ(displays[1].fields, "\"orientation\":-1,\"ok\":false");
  EXPECT_EQ(displays[2].fields, "\"orientation\":90,\"ok\":false");
}

TEST_F(HostState, WindowsAndTheDesktop) {
  Window desktop = GetDesktopWindow();
  ASSERT_NE(desktop, 0u);
  EXPECT_EQ(GetForegroundWindow(), desktop);
  ASSERT_TRUE(SetForegroundWindow(0x4242));
  EXPECT_EQ(GetForegroundWindow(), 0x4242u);
  EXPECT_FALSE(SetForegroundWindow(0));
  EXPECT_EQ(GetForegroundWindow(), 0x4242u);
  device::SetHasDesktopWindow(false);
  EXPECT_EQ(GetDesktopWindow(), 0u);
  auto fg = Events("foreground");
  ASSERT_EQ(fg.size(), 2u);
  EXPECT_EQ(fg[0].fields, "\"window\":16962");
}

TEST_F(HostState, MessageBoxesAnswerOkAndAreJournalled) {
  const std::u16string caption = u"Quadrakey";
  EXPECT_EQ(MessageBox(u"Line \"one\"\n\ttab \\ \u00e9", &caption, kMbOk | kMbTopmost), kIdOk);
  EXPECT_EQ(MessageBox(u"out of memory", nullptr, kMbOk), kIdOk);
  MessageBeep(kMbIconExclamation);
  auto messages = Events("message");
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].fields,
            "\"text\":\"Line \\\"one\\\"\\n\\ttab \\\\ \xc3\xa9\",\"caption\":\"Quadrakey\",\"flags\":" +
                std::to_string(kMbOk | kMbTopmost));
  EXPECT_EQ(messages[1].fields, "\"text\":\"out of memory\",\"caption\":\"Error\",\"flags\":0");
  EXPECT_EQ(Events("beep").at(0).fields, "\"type\":48");
  EXPECT_EQ(device::JsonString(std::u16string(1, u'\x01')), "\"\\u0001\"");
  // A pair is one character; a lone half, which no byte form may carry in
  // JSON, is its escape.
  EXPECT_EQ(device::JsonString(u"\U0001F600\xD800|\xDC00"), "\"\xF0\x9F\x98\x80\\ud800|\\udc00\"");

  int64_t last = device::LastJournalId();
  device::ClearJournal();
  EXPECT_TRUE(device::ReadJournal().empty());
  MessageBeep(0);
  EXPECT_GT(device::LastJournalId(), last);  // ids never go back after a clear
}

// What the journal records happened whatever becomes of the registry
// transaction it was written in: once, whether that commits or rolls back.
TEST_F(HostState, JournalEntriesOutliveTheTransactionTheyWereWrittenIn) {
  auto beep_then = [](void* commit) {
    MessageBeep(kMbIconExclamation);
    return *static_cast<bool*>(commit);
  };
  bool commit = false;
  EXPECT_FALSE(device::Transaction(beep_then, &commit));
  EXPECT_EQ(Events("beep").size(), 1u);
  commit = true;
  EXPECT_TRUE(device::Transaction(beep_then, &commit));
  EXPECT_EQ(Events("beep").size(), 2u);
}

}  // namespace
