// Hot keys, hidden windows with their messages and timers, key names and
// sign-in entries, as both backends must give them.
#include <string>
#include <vector>

#include "platform/faults.h"
#include "platform/platform.h"
#include "platform/ui.h"
#include "tests/support/test_device.h"

using namespace plat;

namespace {

constexpr uint32_t kF12 = 0x7B;

std::vector<std::string> events;
std::vector<intptr_t> stamps;  // of the key events, in order

std::string Describe(WindowEvent event, uintptr_t first, intptr_t second) {
  switch (event) {
    case WindowEvent::kHotKey: return "hotkey " + std::to_string(first) + " " + std::to_string(second);
    case WindowEvent::kTimer: return "timer " + std::to_string(first);
    case WindowEvent::kAppMessage: return "app " + std::to_string(first) + " " + std::to_string(second);
    case WindowEvent::kKeyDown: return "down " + std::to_string(first);
    case WindowEvent::kKeyUp: return "up " + std::to_string(first);
    case WindowEvent::kDestroy: return "destroy";
    case WindowEvent::kKeyEvent: return "key " + std::to_string(first);
    case WindowEvent::kTrayCommand: return "tray " + std::to_string(first);
    case WindowEvent::kAppText: {
      std::string text;
      for (char16_t c : *reinterpret_cast<const std::u16string*>(second)) text += c < 0x80 ? static_cast<char>(c) : '?';
      return "text " + std::to_string(first) + " " + text;
    }
    case WindowEvent::kSessionEnd: return "sessionend";
  }
  return "?";
}

intptr_t Record(Window, WindowEvent event, uintptr_t first, intptr_t second) {
  events.push_back(Describe(event, first, second));
  return 0;
}

// Ends the loop at the first timer, whatever came before.
intptr_t EndAtTimer(Window window, WindowEvent event, uintptr_t first, intptr_t second) {
  events.push_back(Describe(event, first, second));
  if (event == WindowEvent::kKeyEvent) stamps.push_back(second);
  if (event == WindowEvent::kTimer) {
    KillTimer(window, first);
    PostQuit(static_cast<int>(first));
  }
  return 0;
}

class KeysContract : public DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    events.clear();
    stamps.clear();
  }
};

TEST_F(KeysContract, OneRegistrationHoldsAKeyUntilItIsGivenBack) {
  const Window first = CreateMessageWindow(u"QkContractHotKeysA", Record);
  const Window second = CreateMessageWindow(u"QkContractHotKeysB", Record);
  ASSERT_NE(first, 0u);
  ASSERT_NE(second, 0u);
  ASSERT_TRUE(RegisterHotKey(first, 1, 0, kF12)) << GetLastError();
  EXPECT_FALSE(RegisterHotKey(second, 2, 0, kF12));
  EXPECT_EQ(GetLastError(), kErrorHotKeyAlreadyRegistered);
  EXPECT_FALSE(RegisterHotKey(first, 3, 0, kF12)) << "the holder itself cannot take it twice";
  EXPECT_EQ(GetLastError(), kErrorHotKeyAlreadyRegistered);
  // The same key with a modifier is another hot key.
  EXPECT_TRUE(RegisterHotKey(second, 4, kModShift, kF12)) << GetLastError();

  EXPECT_TRUE(UnregisterHotKey(first, 1));
  EXPECT_FALSE(UnregisterHotKey(first, 1));
  EXPECT_EQ(GetLastError(), kErrorHotKeyNotRegistered);
  EXPECT_TRUE(RegisterHotKey(second, 2, 0, kF12)) << "a key given back is free";
  EXPECT_TRUE(UnregisterHotKey(second, 2));
  EXPECT_TRUE(UnregisterHotKey(second, 4));

  // What no registration can be.
  EXPECT_FALSE(RegisterHotKey(first, 1, 0, 0));
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  EXPECT_FALSE(RegisterHotKey(first, 1, 0, 0xFF));
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  EXPECT_FALSE(RegisterHotKey(first, 0xC000, 0, kF12));
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  EXPECT_FALSE(RegisterHotKey(0, 1, 0, kF12));
  EXPECT_EQ(GetLastError(), kErrorInvalidWindowHandle);

  faults::FailCall(faults::Op::HotKeyRegister, 1, kErrorHotKeyAlreadyRegistered);
  EXPECT_FALSE(RegisterHotKey(first, 1, 0, kF12));
  EXPECT_EQ(GetLastError(), kErrorHotKeyAlreadyRegistered);
  EXPECT_FALSE(UnregisterHotKey(first, 1)) << "a failed registration holds nothing";
}

TEST_F(KeysContract, AHiddenWindowTakesPostedMessagesThenItsTimer) {
  const Window window = CreateMessageWindow(u"QkContractPosts", EndAtTimer);
  ASSERT_NE(window, 0u);
  EXPECT_EQ(FindMessageWindow(u"qkcontractPOSTS"), window) << "class names ignore letter case";
  EXPECT_EQ(FindMessageWindow(u"QkContractNobody"), 0u);
  ASSERT_TRUE(PostWindowMessage(window, 7, 42));
  ASSERT_TRUE(PostWindowMessage(window, 8, -1));
  ASSERT_TRUE(SetTimer(window, 3, 100));
  ASSERT_TRUE(SetTimer(window, 3, 20)) << "setting it again restarts it";
  const uint64_t before = TickCount();
  EXPECT_EQ(RunMessageLoop(), 3);
  EXPECT_GE(TickCount() - before, 15u);
  EXPECT_EQ(events, (std::vector<std::string>{"app 7 42", "app 8 -1", "timer 3"}));

  // A window that does not exist takes nothing.
  EXPECT_FALSE(PostWindowMessage(static_cast<Window>(0x3FFFFF00000ull), 1, 0));
  EXPECT_EQ(GetLastError(), kErrorInvalidWindowHandle);
}

// A destroyed hidden window is gone for every program: no one finds it or
// posts to it, and its timers stop; the program's other windows go on.
TEST_F(KeysContract, ADestroyedHiddenWindowTakesNothingMore) {
  const Window doomed = CreateMessageWindow(u"QkContractDoomed", Record);
  const Window other = CreateMessageWindow(u"QkContractSurvivor", EndAtTimer);
  ASSERT_NE(doomed, 0u);
  ASSERT_NE(other, 0u);
  ASSERT_TRUE(SetTimer(doomed, 4, 10));
  ASSERT_TRUE(DestroyMessageWindow(doomed));
  EXPECT_EQ(events, (std::vector<std::string>{"destroy"})) << "it hears that it goes";
  events.clear();
  EXPECT_EQ(FindMessageWindow(u"QkContractDoomed"), 0u);
  EXPECT_FALSE(PostWindowMessage(doomed, 7, 1));
  EXPECT_EQ(GetLastError(), kErrorInvalidWindowHandle);
  EXPECT_FALSE(DestroyMessageWindow(doomed));
  EXPECT_EQ(FindMessageWindow(u"QkContractSurvivor"), other);
  ASSERT_TRUE(PostWindowMessage(other, 8, 2));
  ASSERT_TRUE(SetTimer(other, 5, 60));
  EXPECT_EQ(RunMessageLoop(), 5);
  EXPECT_EQ(events, (std::vector<std::string>{"app 8 2", "timer 5"}));
  // A window of the same class made again is found.
  const Window again = CreateMessageWindow(u"QkContractDoomed", Record);
  ASSERT_NE(again, 0u);
  EXPECT_EQ(FindMessageWindow(u"QkContractDoomed"), again);
  EXPECT_TRUE(DestroyMessageWindow(again));
  EXPECT_TRUE(DestroyMessageWindow(other));
}

// A watched key's every down and up reaches the window, in order and dated,
// whatever else happens in between; auto-repeat and keys not watched do not.
TEST_F(KeysContract, AWatchedKeysMovesReachItsWindowInOrder) {
  constexpr uint32_t kF11 = 0x7A;
  const Window window = CreateMessageWindow(u"QkContractWatch", EndAtTimer);
  ASSERT_NE(window, 0u);
  ASSERT_TRUE(WatchKeys(window, {kF12})) << GetLastError();
  KeybdEvent(kF12, 0, 0, 0);
  KeybdEvent(kF12, 0, 0, 0);  // auto-repeat
  KeybdEvent(kF11, 0, 0, 0);
  KeybdEvent(kF11, 0, kKeyEventKeyUp, 0);
  Sleep(20);
  KeybdEvent(kF12, 0, kKeyEventKeyUp, 0);
  KeybdEvent(kF12, 0, 0, 0);
  KeybdEvent(kF12, 0, kKeyEventKeyUp, 0);
  ASSERT_TRUE(SetTimer(window, 9, 100));
  EXPECT_EQ(RunMessageLoop(), 9);
  const std::string down = "key " + std::to_string(kF12);
  const std::string up = "key " + std::to_string(kF12 | kKeyEventUp);
  EXPECT_EQ(events, (std::vector<std::string>{down, up, down, up, "timer 9"}));
  ASSERT_EQ(stamps.size(), 4u);
  // Stamps are times: the key up came at least the pause after its down.
  EXPECT_GE(static_cast<uint32_t>(stamps[1] - stamps[0]), 15u);
  EXPECT_LT(static_cast<uint32_t>(stamps[1] - stamps[0]), 60000u);

  // Watching nothing stops it; what is not a key is refused.
  events.clear();
  ASSERT_TRUE(WatchKeys(window, {}));
  KeybdEvent(kF12, 0, 0, 0);
  KeybdEvent(kF12, 0, kKeyEventKeyUp, 0);
  ASSERT_TRUE(SetTimer(window, 9, 50));
  EXPECT_EQ(RunMessageLoop(), 9);
  EXPECT_EQ(events, (std::vector<std::string>{"timer 9"}));
  EXPECT_FALSE(WatchKeys(window, {0xFF}));
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  EXPECT_FALSE(WatchKeys(0, {kF12}));
  EXPECT_EQ(GetLastError(), kErrorInvalidWindowHandle);
  faults::FailCall(faults::Op::KeyWatch, 1, kErrorNotSupported);
  EXPECT_FALSE(WatchKeys(window, {kF12}));
  EXPECT_EQ(GetLastError(), kErrorNotSupported);
}

TEST_F(KeysContract, KeysHaveTheNamesAPersonKnows) {
  EXPECT_EQ(GetKeyName(0x41), u"A");
  EXPECT_EQ(GetKeyName(0x39), u"9");
  EXPECT_EQ(GetKeyName(0x0D), u"Enter");
  EXPECT_EQ(GetKeyName(0x70), u"F1");
  EXPECT_EQ(GetKeyName(0x75), u"F6");
  EXPECT_EQ(GetKeyName(0x87), u"F24");
  EXPECT_EQ(GetKeyName(0x63), u"Num 3");
  EXPECT_EQ(GetKeyName(0xAF), u"Volume Up");
  EXPECT_EQ(GetKeyName(0xC7), u"Key 0xC7");
  EXPECT_EQ(GetKeyName(0x07), u"Key 0x07");
  EXPECT_EQ(GetKeyName(0x1FF), u"Key 0x1FF");
}

TEST_F(KeysContract, ASignInEntryIsWrittenReplacedAndRemoved) {
  const std::u16string name = u"Quadrakey Contract Entry";
  std::u16string program;
  RemoveSignInStart(name);  // left over from an interrupted run
  EXPECT_FALSE(GetSignInStart(name, &program));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);

  ASSERT_TRUE(SetSignInStart(name, u"\\Program Files\\Quadrakey\\TapdeckH.exe")) << GetLastError();
  ASSERT_TRUE(GetSignInStart(name, &program));
  // A PC names the drive too.
  EXPECT_TRUE(program.ends_with(u"\\Program Files\\Quadrakey\\TapdeckH.exe")) << std::string(program.begin(), program.end());
  ASSERT_TRUE(SetSignInStart(name, u"\\Other\\Listener.exe"));
  ASSERT_TRUE(GetSignInStart(name, &program));
  EXPECT_TRUE(program.ends_with(u"\\Other\\Listener.exe"));

  faults::FailCall(faults::Op::SignInEntry, 1, kErrorAccessDenied);
  EXPECT_FALSE(RemoveSignInStart(name));
  EXPECT_EQ(GetLastError(), kErrorAccessDenied);
  EXPECT_TRUE(GetSignInStart(name, &program)) << "a failed removal keeps the entry";

  EXPECT_TRUE(RemoveSignInStart(name));
  EXPECT_FALSE(GetSignInStart(name, &program));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
  EXPECT_TRUE(RemoveSignInStart(name)) << "an entry that is not there is no failure";

  for (const std::u16string& bad : {std::u16string(), std::u16string(u"a/b"), std::u16string(u"a:b"),
                                    std::u16string(u"line\nbreak"), std::u16string(65, u'x')}) {
    EXPECT_FALSE(SetSignInStart(bad, u"\\x.exe"));
    EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  }
  EXPECT_FALSE(SetSignInStart(name, u""));
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  EXPECT_FALSE(GetSignInStart(name, &program)) << "a refused entry writes nothing";
}

}  // namespace
