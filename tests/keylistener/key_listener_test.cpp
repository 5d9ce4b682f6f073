// The key listener's work on the emulated device, in-process: which stored
// entries it listens to and why not the others, what a press starts, and
// what it keeps of the settings store.
#include "keylistener/key_listener.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>
#include <string>
#include <vector>

#include "keylistener/listener_control.h"
#include "platform/faults.h"
#include "platform/ui.h"
#include "shared/button_model.h"
#include "shared/user_buttons.h"
#include "tests/config/config_test_support.h"
#include "tests/shared/device_file.h"
#include "tests/support/journal_expect.h"

namespace {

using namespace config_test;

const std::u16string kTapdeckX = u"\\Program Files\\Quadrakey\\TapdeckX.exe";
constexpr uint32_t kSideKey = 0xC7;

intptr_t Ignore(plat::Window, plat::WindowEvent, uintptr_t, intptr_t) { return 0; }

void Store(size_t position, const std::u16string& name, uint32_t key_code) {
  const std::u16string number = device::FromUtf8(std::to_string(position));
  ASSERT_TRUE(WriteRegString(kHklm, kUserButtonsKey, u"B" + number, name));
  ASSERT_TRUE(WriteRegDword(kHklm, kUserButtonsKey, u"H" + number, key_code));
}

class KeyListenerTest : public LoggedDeviceTest {
 protected:
  void SetUp() override {
    LoggedDeviceTest::SetUp();
    ASSERT_TRUE(WriteRegString(kHklm, kSettingsKey, u"AppFolder", u"\\Program Files\\Quadrakey"));
    // A stand-in launcher: the device journals its start and runs nothing.
    MakeDeviceFile(kTapdeckX, u"stand-in");
    // Two hardware buttons, whose keys tapdeck has stored.
    AddEntry(u"40C1", u"Button 1", u"\\Windows\\calendar.exe", nullptr);
    AddEntry(u"40C2", u"Button 2", u"\\Windows\\addrbook.exe", nullptr);
    SetVirtualKey(0, 0xC1);
    SetVirtualKey(1, 0xC2);
    window_ = plat::CreateMessageWindow(u"QkListenerTest" + device::FromUtf8(std::to_string(++windows_made_)),
                                        Ignore);
    ASSERT_NE(window_, 0u);
  }

  // The TapdeckX starts since `mark`, as their arguments.
  std::vector<std::string> Launches(int64_t mark) {
    std::vector<std::string> args;
    for (const journal::Entry& entry : journal::OfKind(journal::Read(mark), "start"))
      if (entry.Text("program") == device::ToUtf8(kTapdeckX)) args.push_back(entry.Text("args"));
    return args;
  }

  std::vector<uint32_t> HeldKeys() {
    std::vector<device::HotKey> keys;
    EXPECT_TRUE(device::HotKeys(&keys));
    std::vector<uint32_t> codes;
    for (const device::HotKey& key : keys) codes.push_back(static_cast<uint32_t>(key.virtual_key));
    return codes;
  }

  size_t EntryLines() {
    size_t count = 0;
    for (const std::string& line : LogLines())
      if (line.rfind("  ", 0) == 0 && line.find(": key ") != std::string::npos) ++count;
    return count;
  }

  plat::Window window_ = 0;
  static inline int windows_made_ = 0;
};

TEST_F(KeyListenerTest, ListensToEveryUsableEntryAndLogsWhyNotToTheOthers) {
  Store(0, u"Side", kSideKey);
  Store(1, u"Nothing", 0);
  Store(2, u"Too high", 0x175);
  Store(3, u"Button 1 again", 0xC1);
  Store(4, u"Volume", 0x75);
  Store(5, u"Side again", kSideKey);  // replaces the first, at the end, as tapdeck reads it
  SetVirtualKey(2, 0x33);              // what position 2 held before stays
  ClearLog();

  KeyListener listener(window_);
  EXPECT_EQ(listener.Load(), 5u);
  const std::vector<ListenedButton>& buttons = listener.Buttons();
  ASSERT_EQ(buttons.size(), 5u);
  std::vector<std::pair<uint32_t, bool>> seen;
  for (const ListenedButton& button : buttons) seen.emplace_back(button.page_position, button.listening);
  EXPECT_EQ(seen, (std::vector<std::pair<uint32_t, bool>>{{2, false}, {3, false}, {4, false}, {5, true}, {6, true}}));
  EXPECT_EQ(buttons[4].name, u"Side again");
  EXPECT_EQ(HeldKeys(), (std::vector<uint32_t>{0x75, kSideKey}));

  // The launcher's key-state query asks for the right key.
  EXPECT_EQ(GetVirtualKey(5), 0x75u);
  EXPECT_EQ(GetVirtualKey(6), kSideKey);
  EXPECT_EQ(GetVirtualKey(2), 0x33u);
  EXPECT_EQ(GetVirtualKey(4), 0u) << "a hardware button's key is not written under another button";
  EXPECT_EQ(GetVirtualKey(0), 0xC1u);

  EXPECT_TRUE(Logged("Reading the list (hardware buttons: 2, user-defined buttons: 5)"));
  EXPECT_TRUE(Logged("  0: key 0 \"Nothing\" as button 2: not listened to, not a key (codes run from 1 to 254)"));
  EXPECT_TRUE(Logged("  1: key 373 \"Too high\" as button 3: not listened to, not a key (codes run from 1 to 254)"));
  EXPECT_TRUE(Logged("  2: key 193 \"Button 1 again\" as button 4: not listened to, the key is hardware button 0's"));
  EXPECT_TRUE(Logged("  3: key 117 \"Volume\" as button 5: listening"));
  EXPECT_TRUE(Logged("  4: key 199 \"Side again\" as button 6: listening"));
}

// Before tapdeck's first run no key code is stored for the hardware buttons:
// the table's entry names still say which keys the shell takes.
TEST_F(KeyListenerTest, BeforeTapdecksFirstRunTheHardwareKeysComeFromTheTable) {
  SetVirtualKey(0, 0);
  SetVirtualKey(1, 0);
  Store(0, u"Button 1 again", 0xC1);
  Store(1, u"Side", kSideKey);
  ClearLog();
  KeyListener listener(window_);
  ASSERT_EQ(listener.Load(), 2u);
  EXPECT_FALSE(listener.Buttons()[0].listening);
  EXPECT_TRUE(listener.Buttons()[1].listening);
  EXPECT_TRUE(Logged("  0: key 193 \"Button 1 again\" as button 2: not listened to, the key is hardware button 0's"));
  EXPECT_EQ(HeldKeys(), (std::vector<uint32_t>{kSideKey}));
  EXPECT_EQ(GetVirtualKey(0), 0u) << "what tapdeck stores is tapdeck's";
  EXPECT_EQ(GetVirtualKey(2), 0u);
}

// Watched, every key down of a listened key starts the launcher, and only a
// key down: its hot key and its key up start nothing.
TEST_F(KeyListenerTest, EachWatchedKeyDownStartsTheLauncherOnce) {
  Store(0, u"Side", kSideKey);
  Store(1, u"Volume", 0x75);
  KeyListener listener(window_);
  ASSERT_EQ(listener.Load(), 2u);
  const int64_t mark = device::LastJournalId();
  listener.OnKeyEvent(kSideKey, 1000);
  listener.OnHotKey(1);
  listener.OnKeyEvent(kSideKey | plat::kKeyEventUp, 1100);
  listener.OnKeyEvent(0x75, 1200);
  listener.OnKeyEvent(kSideKey, 1300);
  listener.OnKeyEvent(0x41, 1400);  // a key no button has
  EXPECT_EQ(Launches(mark), (std::vector<std::string>{"2", "3", "2"}));
  EXPECT_FALSE(listener.AnyKeyDown()) << "no key poll runs";
}

// Where keys cannot be watched, hot keys start the launcher (undated), once
// per press whatever the auto-repeat, and the log says why.
TEST_F(KeyListenerTest, UnwatchedHotKeysStartTheLauncherOnceWhateverItsAutoRepeat) {
  Store(0, u"Side", kSideKey);
  plat::faults::FailCallsFrom(plat::faults::Op::KeyWatch, 1, plat::kErrorNotSupported);
  KeyListener listener(window_);
  ASSERT_EQ(listener.Load(), 1u);
  EXPECT_TRUE(Logged("The keys' presses cannot be dated (error 50): each is timed from when its launcher starts"));
  const int64_t mark = device::LastJournalId();

  ASSERT_TRUE(device::SetKeyDown(kSideKey, true));
  listener.OnHotKey(1);
  listener.OnHotKey(1);  // auto-repeat: the same hot key while the key stays down
  listener.OnKeyPoll();
  listener.OnHotKey(1);
  listener.OnKeyEvent(kSideKey, 1000);  // none come; one that did would start nothing
  EXPECT_EQ(Launches(mark), (std::vector<std::string>{"2"}));
  EXPECT_TRUE(listener.AnyKeyDown());

  ASSERT_TRUE(device::SetKeyDown(kSideKey, false));
  listener.OnKeyPoll();
  EXPECT_FALSE(listener.AnyKeyDown());
  ASSERT_TRUE(device::SetKeyDown(kSideKey, true));
  listener.OnHotKey(1);
  EXPECT_EQ(Launches(mark), (std::vector<std::string>{"2", "2"})) << "a new press after the key went up";

  // Ids the listener never gave out start nothing.
  listener.OnHotKey(0);
  listener.OnHotKey(2);
  EXPECT_EQ(Launches(mark).size(), 2u);
  ASSERT_TRUE(device::SetKeyDown(kSideKey, false));
  plat::faults::Clear();
}

TEST_F(KeyListenerTest, AMissingLauncherIsLoggedAndTheNextPressTriesAgain) {
  Store(0, u"Side", kSideKey);
  KeyListener listener(window_);
  ASSERT_EQ(listener.Load(), 1u);
  ASSERT_TRUE(plat::DeleteFile(kTapdeckX));
  listener.OnKeyEvent(kSideKey, 1000);
  EXPECT_TRUE(Logged("Key 199: cannot start \\Program Files\\Quadrakey\\TapdeckX.exe (error 2)"));
  MakeDeviceFile(kTapdeckX, u"stand-in");
  const int64_t mark = device::LastJournalId();
  listener.OnKeyEvent(kSideKey, 1100);
  EXPECT_EQ(Launches(mark), (std::vector<std::string>{"2"}));
}

TEST_F(KeyListenerTest, FortyButtonsStopWhereTheLettersWouldNameAnotherButtonsSettings) {
  for (size_t i = 0; i < 40; ++i) Store(i, u"Key " + device::FromUtf8(std::to_string(i)), 0x30 + static_cast<uint32_t>(i));
  KeyListener listener(window_);
  EXPECT_EQ(listener.Load(), 40u);
  size_t listening = 0;
  for (const ListenedButton& button : listener.Buttons()) {
    EXPECT_EQ(button.listening, button.page_position < kButtonPositionLimit) << button.page_position;
    listening += button.listening ? 1 : 0;
  }
  EXPECT_EQ(listening, MaxUserButtons(2));
  EXPECT_EQ(listening, 30u);
  // Position 32's letter is 'a': "VirtualKeya" would be hardware button 0's value.
  EXPECT_EQ(GetVirtualKey(0), 0xC1u);
  EXPECT_EQ(GetVirtualKey(1), 0xC2u);
  EXPECT_EQ(GetVirtualKey(31), 0x30u + 29) << "the last position with settings of its own ('`')";
  EXPECT_EQ(GetVirtualKey(27), 0x30u + 25) << "letter '\\\\' is a value name like any other";
  EXPECT_TRUE(Logged("  30: key 78 \"Key 30\" as button 32: not listened to, button 32 has no settings of its own "
                     "(only buttons 0 to 31 do)"));
  EXPECT_EQ(MaxUserButtons(32), 0u);
  EXPECT_EQ(MaxUserButtons(40), 0u);
}

TEST_F(KeyListenerTest, NamesOfAnyLengthOrCharacterKeepToOneLogLine) {
  Store(0, std::u16string(1000, u'n'), 0x75);
  Store(1, u"two\nlines\r\tand\x01 bell", 0x76);
  ClearLog();
  KeyListener listener(window_);
  ASSERT_EQ(listener.Load(), 2u);
  EXPECT_EQ(listener.Buttons()[0].name.size(), 1000u) << "the name itself is kept whole";
  EXPECT_EQ(EntryLines(), 2u);
  EXPECT_TRUE(Logged("  0: key 117 \"" + std::string(60, 'n') + "...\" as button 2: listening"));
  EXPECT_TRUE(Logged("  1: key 118 \"two?lines??and? bell\" as button 3: listening"));
}

TEST_F(KeyListenerTest, AKeyAnotherProgramHoldsIsReportedInTheLogAndOnTheDevice) {
  const plat::Window other = plat::CreateMessageWindow(u"QkListenerOther", Ignore);
  ASSERT_TRUE(plat::RegisterHotKey(other, 77, 0, 0x75));
  Store(0, u"Volume", 0x75);
  Store(1, u"Side", kSideKey);
  KeyListener listener(window_);
  ASSERT_EQ(listener.Load(), 2u);
  EXPECT_FALSE(listener.Buttons()[0].listening);
  EXPECT_TRUE(listener.Buttons()[1].listening);
  EXPECT_TRUE(Logged("  0: key 117 \"Volume\" as button 2: not listened to, another program holds the key (error 1409): "
                     "tried again until it lets go"));
  EXPECT_EQ(GetVirtualKey(2), 0x75u) << "kept for the moment the key is free";
  std::vector<device::HotKeyRefusal> refusals;
  ASSERT_TRUE(device::HotKeyRefusals(&refusals));
  ASSERT_EQ(refusals.size(), 1u);
  EXPECT_EQ(refusals[0].asked.virtual_key, 0x75);
  EXPECT_EQ(refusals[0].asked.window, window_);

  // Tried again while held, nothing changes; once the key is free it is
  // listened to, and the refusal is gone.
  listener.RetryHeldKeys();
  EXPECT_FALSE(listener.Buttons()[0].listening);
  EXPECT_TRUE(listener.Buttons()[0].held_elsewhere);
  ASSERT_TRUE(plat::UnregisterHotKey(other, 77));
  listener.RetryHeldKeys();
  EXPECT_TRUE(listener.Buttons()[0].listening);
  EXPECT_FALSE(listener.Buttons()[0].held_elsewhere);
  EXPECT_TRUE(Logged("  0: key 117 \"Volume\" as button 2: listening, the other program has let it go"));
  EXPECT_EQ(HeldKeys(), (std::vector<uint32_t>{0x75, kSideKey}));
  ASSERT_TRUE(device::HotKeyRefusals(&refusals));
  EXPECT_TRUE(refusals.empty());
  // The key now goes to the listener: a press starts the launcher.
  const int64_t mark = device::LastJournalId();
  listener.OnKeyEvent(0x75, 0);
  EXPECT_EQ(Launches(mark), (std::vector<std::string>{"2"}));

  // Read again, a key another program took meanwhile is tried again too.
  ASSERT_EQ(listener.Load(), 2u);
  EXPECT_TRUE(listener.Buttons()[0].listening);
}

TEST_F(KeyListenerTest, ReadingTheListAgainFollowsItAndGivesBackWhatItNoLongerHolds) {
  Store(0, u"Volume", 0x75);
  Store(1, u"Side", kSideKey);
  {
    KeyListener listener(window_);
    ASSERT_EQ(listener.Load(), 2u);
    UserButtonList list;
    list.Load();
    list.Remove(0x75);
    ASSERT_TRUE(list.Save());
    ASSERT_EQ(listener.Load(), 1u);
    EXPECT_EQ(listener.Buttons()[0].page_position, 2u);
    EXPECT_EQ(HeldKeys(), (std::vector<uint32_t>{kSideKey}));
    EXPECT_EQ(GetVirtualKey(2), kSideKey) << "the position now belongs to the side key";
  }
  EXPECT_TRUE(HeldKeys().empty()) << "an ended listener holds no key";
}

// Every registry call of a reading of the list, failed once in turn (as a
// card or a lock can fail it): the reading changes nothing, or it is whole.
// A count of the hardware buttons read from part of their table would put
// the side key's code under Button 1 and move every added button.
TEST_F(KeyListenerTest, AFailedReadChangesNothingAndTheNextReadIsWhole) {
  using plat::faults::Op;
  Store(0, u"Side", kSideKey);
  Store(1, u"Volume", 0x75);
  const std::vector<uint32_t> keys = {0xC1, 0xC2, kSideKey, 0x75};
  const auto keys_as_stored = [&] {
    std::vector<uint32_t> stored;
    for (uint32_t position = 0; position < keys.size(); ++position) stored.push_back(GetVirtualKey(position));
    return stored;
  };
  KeyListener listener(window_);
  ASSERT_EQ(listener.Load(), 2u);
  ASSERT_EQ(keys_as_stored(), keys);
  int failed_reads = 0;
  for (const Op op : {Op::RegistryOpen, Op::RegistryRead, Op::RegistryEnum}) {
    plat::faults::Clear();
    listener.Load();
    const uint32_t calls = plat::faults::Calls(op);
    ASSERT_GT(calls, 0u) << plat::faults::Name(op);
    for (uint32_t k = 1; k <= calls; ++k) {
      SCOPED_TRACE(std::string(plat::faults::Name(op)) + " call " + std::to_string(k));
      plat::faults::Clear();
      plat::faults::FailCall(op, k, plat::kErrorAccessDenied);
      ClearLog();
      EXPECT_EQ(listener.Load(), 2u);
      plat::faults::Clear();
      if (listener.ReadError() != 0) {
        ++failed_reads;
        EXPECT_TRUE(Logged("The list cannot be read (error 5): the listener goes on with the buttons it had"));
      }
      EXPECT_EQ(keys_as_stored(), keys);
      EXPECT_EQ(HeldKeys(), (std::vector<uint32_t>{0x75, kSideKey}));
      ASSERT_EQ(listener.Buttons().size(), 2u);
      EXPECT_EQ(listener.Buttons()[0].page_position, 2u);
      EXPECT_TRUE(listener.Buttons()[0].listening && listener.Buttons()[1].listening);
    }
  }
  EXPECT_GT(failed_reads, 0) << "no fault reached a read that matters";
  EXPECT_EQ(listener.Load(), 2u);
  EXPECT_EQ(listener.ReadError(), 0u);
  EXPECT_EQ(keys_as_stored(), keys);
}

std::vector<std::string> told;
intptr_t Told(plat::Window, plat::WindowEvent event, uintptr_t first, intptr_t) {
  if (event == plat::WindowEvent::kAppMessage) {
    told.push_back(first == kListenerReadList ? "read the list" : first == kListenerEnd ? "end" : "?");
    plat::PostQuit(0);
  }
  return 0;
}

TEST_F(KeyListenerTest, TapdeckStartsTellsAndStopsTheListenerAndWritesItsSignInEntry) {
  // Not installed: nothing runs, and nothing can be told.
  EXPECT_FALSE(IsKeyListenerRunning());
  EXPECT_FALSE(TellKeyListenerListChanged());
  EXPECT_FALSE(StopKeyListener());
  EXPECT_FALSE(StartKeyListener());
  EXPECT_EQ(plat::GetLastError(), plat::kErrorFileNotFound);

  // The sign-in entry starts the application folder's listener.
  ASSERT_TRUE(WriteKeyListenerSignIn());
  std::u16string program;
  ASSERT_TRUE(plat::GetSignInStart(kKeyListenerSignInName, &program));
  EXPECT_EQ(program, u"\\Program Files\\Quadrakey\\TapdeckH.exe");
  ASSERT_TRUE(RemoveKeyListenerSignIn());
  EXPECT_FALSE(plat::GetSignInStart(kKeyListenerSignInName, &program));
  EXPECT_TRUE(RemoveKeyListenerSignIn());

  // The real listener: started once, told while it runs, asked to end.
  Store(0, u"Side", kSideKey);
  std::filesystem::copy_file(std::string(QK_BIN_DIR) + "/TapdeckH",
                             device::HostPath(u"\\Program Files\\Quadrakey\\TapdeckH.exe"));
  ASSERT_TRUE(StartKeyListener());
  const int listener = device::StartedProcesses().back();
  for (int waited = 0; waited < 5000 && HeldKeys().empty(); waited += 10) plat::Sleep(10);
  EXPECT_TRUE(IsKeyListenerRunning());
  EXPECT_EQ(HeldKeys(), (std::vector<uint32_t>{kSideKey}));
  const size_t started = device::StartedProcesses().size();
  EXPECT_TRUE(StartKeyListener()) << "a running listener is told, not started again";
  EXPECT_EQ(device::StartedProcesses().size(), started);
  EXPECT_TRUE(TellKeyListenerListChanged());
  EXPECT_TRUE(StopKeyListener());
  int status = -1;
  ASSERT_EQ(waitpid(listener, &status, 0), listener);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_FALSE(IsKeyListenerRunning());
  EXPECT_TRUE(HeldKeys().empty());
}

// Done empties the list (the listener ends) and at once lists a button again
// (a listener is started): whenever the start comes in the old listener's
// last moments, one listener listens afterwards.
TEST_F(KeyListenerTest, AStartWhileTheListenerEndsIsNeverLost) {
  std::filesystem::copy_file(std::string(QK_BIN_DIR) + "/TapdeckH",
                             device::HostPath(u"\\Program Files\\Quadrakey\\TapdeckH.exe"));
  // Slow locks, as a busy card gives, make each listener's start and end long.
  ASSERT_EQ(setenv("QUADRAKEY_FAULTS", "TapdeckH/mutex-delay:40", 1), 0);
  const auto wait_until = [](const auto& done) {
    for (int waited = 0; waited < 20000 && !done(); waited += 10) plat::Sleep(10);
    return done();
  };
  const auto holder = [] {
    std::vector<device::HotKey> keys;
    return device::HotKeys(&keys) && keys.size() == 1 && keys[0].virtual_key == kSideKey ? keys[0].pid : 0;
  };
  const auto readings = [] {
    const std::string log = shared_test::ReadDeviceFile(u"\\Program Files\\Quadrakey\\listener.log");
    size_t count = 0;
    for (size_t at = log.find("Reading the list"); at != std::string::npos; at = log.find("Reading the list", at + 1))
      ++count;
    const bool listening = log.ends_with(": listening\n");
    return listening ? count : 0;
  };
  for (const uint32_t gap_ms : {0u, 20u, 60u, 150u, 300u}) {
    SCOPED_TRACE("a start " + std::to_string(gap_ms) + " ms after the list emptied");
    const size_t started_before = device::StartedProcesses().size();
    Store(0, u"Side", kSideKey);
    ASSERT_TRUE(StartKeyListener());
    ASSERT_TRUE(wait_until([&] { return holder() != 0 && readings() == 1; }));
    const int64_t first = holder();
    UserButtonList list;
    list.Load();
    list.Remove(kSideKey);
    ASSERT_TRUE(list.Save());
    ASSERT_TRUE(TellKeyListenerListChanged());
    plat::Sleep(gap_ms);
    Store(0, u"Side", kSideKey);
    ASSERT_TRUE(StartKeyListener());
    // The first listener read the list again and listens, or a new one does.
    EXPECT_TRUE(wait_until([&] {
      const int64_t now = holder();
      return now != 0 && (now == first ? readings() >= 2 : readings() >= 1);
    })) << "no listener holds the key";
    // The other has ended, and this one ends when asked.
    ASSERT_TRUE(StopKeyListener());
    EXPECT_TRUE(wait_until([] { return !IsKeyListenerRunning(); }));
    const std::vector<int> started = device::StartedProcesses();
    for (size_t i = started_before; i < started.size(); ++i) {
      int status = 0;
      for (int waited = 0; waited < 20000 && waitpid(started[i], &status, WNOHANG) == 0; waited += 10) plat::Sleep(10);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "listener " << i - started_before << ": " << status;
    }
    EXPECT_TRUE(HeldKeys().empty());
  }
  unsetenv("QUADRAKEY_FAULTS");
}

// As an uninstaller needs: "/quit" comes back once the running listener has
// ended and given its keys back; with none running there is nothing to wait
// for; an argument the listener does not know is said so, and starts nothing.
TEST_F(KeyListenerTest, QuitComesBackOnceTheRunningListenerHasEnded) {
  const std::string program = std::string(QK_BIN_DIR) + "/TapdeckH";
  EXPECT_EQ(testing_device::RunDeviceProgram(program, "/quit", ""), 0) << "none runs";

  Store(0, u"Side", kSideKey);
  std::filesystem::copy_file(program, device::HostPath(u"\\Program Files\\Quadrakey\\TapdeckH.exe"));
  ASSERT_TRUE(StartKeyListener());
  const int listener = device::StartedProcesses().back();
  for (int waited = 0; waited < 5000 && HeldKeys().empty(); waited += 10) plat::Sleep(10);
  ASSERT_EQ(HeldKeys(), (std::vector<uint32_t>{kSideKey}));
  EXPECT_EQ(testing_device::RunDeviceProgram(program, " /QUIT ", ""), 0);
  EXPECT_FALSE(IsKeyListenerRunning());
  EXPECT_TRUE(HeldKeys().empty()) << "its keys are free once /quit is back";
  int status = -1;
  ASSERT_EQ(waitpid(listener, &status, 0), listener);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  const int64_t mark = device::LastJournalId();
  EXPECT_EQ(testing_device::RunDeviceProgram(program, "--stop", ""), 2);
  const std::vector<journal::Entry> messages = journal::OfKind(journal::Read(mark), "message");
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].Text("text").find("does not know \"--stop\""), std::string::npos) << messages[0].Text("text");
  EXPECT_TRUE(HeldKeys().empty()) << "it did not listen";
}

TEST_F(KeyListenerTest, TheListenersWindowIsWhatTapdeckTells) {
  told.clear();
  const plat::Window window = plat::CreateMessageWindow(kKeyListenerClass, Told);
  ASSERT_NE(window, 0u);
  EXPECT_TRUE(IsKeyListenerRunning());
  ASSERT_TRUE(StartKeyListener());
  EXPECT_EQ(plat::RunMessageLoop(), 0);
  ASSERT_TRUE(StopKeyListener());
  EXPECT_EQ(plat::RunMessageLoop(), 0);
  EXPECT_EQ(told, (std::vector<std::string>{"read the list", "end"}));
}

}  // namespace
