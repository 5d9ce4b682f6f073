// Where a key down goes on the emulated device: hot keys as device state
// held by a running program, keys for the foreground window's program, the
// device's own keys and their names, and the shell's StartUp folder.
#include <signal.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/host/device/device.h"
#include "platform/platform.h"
#include "platform/ui.h"
#include "tests/platform_host/host_support.h"
#include "tests/support/journal_expect.h"
#include "tests/support/test_device.h"

using namespace plat;

namespace {

constexpr int kSideKey = 0xC7;

std::vector<std::string> events;
int quit_after = -1;  // ends the loop once this many events came

intptr_t Record(Window, WindowEvent event, uintptr_t first, intptr_t second) {
  std::string name = event == WindowEvent::kKeyDown  ? "down"
                     : event == WindowEvent::kKeyUp  ? "up"
                     : event == WindowEvent::kHotKey ? "hotkey"
                     : event == WindowEvent::kAppMessage ? "app"
                                                         : "other";
  events.push_back(name + " " + std::to_string(first) + " " + std::to_string(second));
  if (static_cast<int>(events.size()) == quit_after) PostQuit(0);
  return 0;
}

class HostKeys : public DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    events.clear();
    quit_after = -1;
  }
  void TearDown() override {
    for (int pid : helpers_) kill(pid, SIGKILL);
    host_test::WaitAll(helpers_);
    DeviceTest::TearDown();
  }
  // A helper program holding `key` as a hot key; its pid once it does.
  int StartHotKeyHolder(int key) {
    host_test::InstallHelper(u"\\Windows\\helper.exe");
    DeleteFile(u"\\held.txt");
    EXPECT_TRUE(CreateProcess(u"\\Windows\\helper.exe", u"hotkey " + device::FromUtf8(std::to_string(key))));
    const int pid = device::StartedProcesses().back();
    helpers_.push_back(pid);
    for (int i = 0; i < 2000 && GetFileAttributes(u"\\held.txt") == kInvalidFileAttributes; ++i) Sleep(5);
    EXPECT_NE(GetFileAttributes(u"\\held.txt"), kInvalidFileAttributes) << "the helper never took its hot key";
    return pid;
  }
  std::vector<int> helpers_;
};

TEST_F(HostKeys, ADeviceThatNeverHadAHotKeyReadsAsHavingNone) {
  std::vector<device::HotKey> keys = {device::HotKey{}};
  std::vector<device::HotKeyRefusal> refusals = {device::HotKeyRefusal{}};
  std::vector<device::DeviceKey> device_keys = {{1, u"x"}};
  device::HotKey found;
  bool held = true;
  SetLastError(0);
  EXPECT_TRUE(device::HotKeys(&keys));
  EXPECT_TRUE(device::HotKeyRefusals(&refusals));
  EXPECT_TRUE(device::DeviceKeys(&device_keys));
  EXPECT_TRUE(device::FindHotKey(kSideKey, 0, &found, &held));
  EXPECT_TRUE(keys.empty() && refusals.empty() && device_keys.empty());
  EXPECT_FALSE(held);
  EXPECT_EQ(GetLastError(), 0u);
  EXPECT_EQ(FindMessageWindow(u"QkNobody"), 0u);
  EXPECT_EQ(GetKeyName(0x75), u"F6");
}

TEST_F(HostKeys, AHotKeyBelongsToItsProgramUntilThatProgramEnds) {
  const int holder = StartHotKeyHolder(kSideKey);
  std::vector<device::HotKey> keys;
  ASSERT_TRUE(device::HotKeys(&keys));
  ASSERT_EQ(keys.size(), 1u);
  EXPECT_EQ(keys[0].virtual_key, kSideKey);
  EXPECT_EQ(keys[0].pid, holder);
  EXPECT_EQ(keys[0].program, "helper.exe");
  EXPECT_EQ(FindMessageWindow(u"QkHelperKeys"), keys[0].window);

  // Asking for a held key is refused, and the device remembers who asked.
  const Window mine = CreateMessageWindow(u"QkHostKeys", Record);
  ASSERT_NE(mine, 0u);
  EXPECT_FALSE(RegisterHotKey(mine, 5, 0, kSideKey));
  EXPECT_EQ(GetLastError(), kErrorHotKeyAlreadyRegistered);
  std::vector<device::HotKeyRefusal> refusals;
  ASSERT_TRUE(device::HotKeyRefusals(&refusals));
  ASSERT_EQ(refusals.size(), 1u);
  EXPECT_EQ(refusals[0].asked.pid, getpid());
  EXPECT_EQ(refusals[0].asked.id, 5);
  EXPECT_EQ(refusals[0].error, kErrorHotKeyAlreadyRegistered);
  EXPECT_EQ(refusals[0].holder_pid, holder);

  // A key down reaches the holder as its hot key, once it has taken it.
  const int64_t mark = device::LastJournalId();
  device::HotKey found;
  bool held = false;
  ASSERT_TRUE(device::FindHotKey(kSideKey, 0, &found, &held));
  ASSERT_TRUE(held);
  ASSERT_TRUE(device::SendHotKey(found));
  ASSERT_TRUE(device::WaitForInputIdle(holder, 5000)) << GetLastError();
  EXPECT_EQ(host_test::GetFile(u"\\hotkeys.txt"), "1 " + std::to_string(kSideKey << 16) + "\n");
  EXPECT_TRUE(journal::Matches(journal::Read(mark), {{"hotkey", {{"vk", kSideKey}, {"id", 1}, {"owner", holder}}}}));

  // Killed, it holds nothing: the key is free and its hidden window gone.
  kill(holder, SIGKILL);
  host_test::WaitAll({holder});
  helpers_.clear();
  ASSERT_TRUE(device::FindHotKey(kSideKey, 0, &found, &held));
  EXPECT_FALSE(held);
  EXPECT_EQ(FindMessageWindow(u"QkHelperKeys"), 0u);
  EXPECT_FALSE(device::WaitForInputIdle(holder, 1000));
  EXPECT_EQ(GetLastError(), kErrorInvalidWindowHandle);
  EXPECT_TRUE(RegisterHotKey(mine, 5, 0, kSideKey)) << GetLastError();
  ASSERT_TRUE(device::HotKeyRefusals(&refusals));
  EXPECT_TRUE(refusals.empty()) << "registering it forgets the refusal";
  ASSERT_TRUE(device::HotKeys(&keys));
  ASSERT_EQ(keys.size(), 1u);
  EXPECT_EQ(keys[0].pid, getpid());
}

TEST_F(HostKeys, TheForegroundWindowsProgramGetsKeysDownAndUp) {
  bool taken = true;
  ASSERT_TRUE(device::PostKeyToForeground(0x75, false, &taken));
  EXPECT_FALSE(taken) << "the desktop takes no key";

  const Window mine = CreateMessageWindow(u"QkHostForeground", Record);
  ASSERT_TRUE(SetForegroundWindow(mine));
  const int64_t mark = device::LastJournalId();
  ASSERT_TRUE(device::PostKeyToForeground(0x75, false, &taken));
  EXPECT_TRUE(taken);
  ASSERT_TRUE(device::PostKeyToForeground(0x75, true, &taken));
  ASSERT_TRUE(PostWindowMessage(mine, 9, 0));
  quit_after = 3;
  EXPECT_EQ(RunMessageLoop(), 0);
  EXPECT_EQ(events, (std::vector<std::string>{"down 117 1", "up 117 " + std::to_string(static_cast<intptr_t>(0xC0000001u)),
                                              "app 9 0"}));
  EXPECT_TRUE(journal::Matches(journal::Read(mark), {{"keymessage", {{"vk", 0x75}, {"up", false}, {"owner", getpid()}}},
                                                     {"keymessage", {{"vk", 0x75}, {"up", true}}}}));

  // A foreground window whose program has gone takes nothing.
  ASSERT_TRUE(SetForegroundWindow(static_cast<Window>(0x3FFFFF00001ull)));
  ASSERT_TRUE(device::PostKeyToForeground(0x75, false, &taken));
  EXPECT_FALSE(taken);
}

TEST_F(HostKeys, AFullQueueRefusesMoreAndLosesNothingItTook) {
  const Window mine = CreateMessageWindow(u"QkHostQueue", Record);
  int posted = 0;
  while (posted < 100000 && PostWindowMessage(mine, static_cast<uintptr_t>(posted), 0)) ++posted;
  ASSERT_LT(posted, 100000) << "the queue never filled";
  EXPECT_EQ(GetLastError(), kErrorNotEnoughQuota);
  ASSERT_GT(posted, 10);
  quit_after = posted;
  EXPECT_EQ(RunMessageLoop(), 0);
  ASSERT_EQ(static_cast<int>(events.size()), posted);
  EXPECT_EQ(events.front(), "app 0 0");
  EXPECT_EQ(events.back(), "app " + std::to_string(posted - 1) + " 0");
}

TEST_F(HostKeys, TheDevicesOwnKeysHaveNamesAPressCanUse) {
  ASSERT_TRUE(device::SetDeviceKeys({{0x75, u"Volume Up"}, {kSideKey, u"Side Key"}}));
  EXPECT_EQ(GetKeyName(0x75), u"Volume Up") << "the device's name, not the keyboard's F6";
  EXPECT_EQ(GetKeyName(kSideKey), u"Side Key");
  EXPECT_EQ(GetKeyName(0x76), u"F7");
  EXPECT_EQ(device::KeyCodeByName(u"side-key"), kSideKey);
  EXPECT_EQ(device::KeyCodeByName(u"SIDE KEY"), kSideKey);
  EXPECT_EQ(device::KeyCodeByName(u"volume_up"), 0x75);
  EXPECT_EQ(device::KeyCodeByName(u"f7"), 0x76);
  EXPECT_EQ(device::KeyCodeByName(u"Key 0xC8"), 0xC8);
  EXPECT_EQ(device::KeyCodeByName(u"Nothing"), -1);
  EXPECT_EQ(device::KeyCodeByName(u""), -1);

  EXPECT_FALSE(device::SetDeviceKeys({{0x75, u"Volume Up"}, {0x100, u"Too High"}}));
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  std::vector<device::DeviceKey> kept;
  ASSERT_TRUE(device::DeviceKeys(&kept));
  EXPECT_EQ(kept.size(), 2u) << "a refused change keeps the keys";
}

TEST_F(HostKeys, ASignInEntryIsAShortcutInTheStartUpFolder) {
  ASSERT_TRUE(SetSignInStart(u"Quadrakey Key Listener", u"\\Program Files\\Quadrakey\\TapdeckH.exe"));
  EXPECT_EQ(host_test::GetFile(u"\\Windows\\StartUp\\Quadrakey Key Listener.lnk"),
            "39#\"\\Program Files\\Quadrakey\\TapdeckH.exe\"");
  ASSERT_TRUE(RemoveSignInStart(u"Quadrakey Key Listener"));
  EXPECT_EQ(GetFileAttributes(u"\\Windows\\StartUp\\Quadrakey Key Listener.lnk"), kInvalidFileAttributes);
}

}  // namespace
